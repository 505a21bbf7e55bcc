# Box side: .30 (unicast) and .31 (status group) announce themselves, commands go over HTTP, and every
# datagram to the room and sync ports is captured.
import http.client, json, select, socket, sys, threading, time

SVC, BOX_A, BOX_B, BCAST = "192.168.77.20", "192.168.77.30", "192.168.77.31", "192.168.77.255"
ROOM_GROUP, ROOM_PORT, PEER_PORT = "224.0.0.19", 18108, 19262
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
records = []  # (seconds, port, destination, JSON)


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        sys.exit(1)


def capture():
    socks = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
    for s, port in zip(socks, (ROOM_PORT, PEER_PORT)):
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        s.bind(("", port))
        group = socket.inet_aton(ROOM_GROUP) + socket.inet_aton(BOX_A)
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, group)
    while True:
        for s in select.select(socks, [], [])[0]:
            data, anc, _, _ = s.recvmsg(65535, socket.CMSG_SPACE(12))
            dst = [socket.inet_ntoa(p[8:12]) for _, kind, p in anc if kind == IP_PKTINFO][0]
            records.append((time.monotonic(), s.getsockname()[1], dst, json.loads(data)))


def until(predicate, timeout=5):
    end = time.monotonic() + timeout
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


def captured(count, port, type_=None, timeout=5):
    def pick():
        return [r for r in list(records) if r[1] == port and type_ in (None, r[3].get("type"))]
    until(lambda: len(pick()) >= count, timeout)
    return pick()


def command(obj):
    try:
        conn = http.client.HTTPConnection(SVC, 12380, timeout=3)
        conn.request("POST", "/", body=json.dumps(obj, ensure_ascii=False).encode())
        return conn.getresponse().read().decode()
    except (OSError, http.client.HTTPException) as exc:
        return "<no reply: %s>" % exc


def scenario():
    for ip, target in ((BOX_A, SVC), (BOX_B, "224.0.0.8")):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((ip, 0))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ip))
        status = {"query": "stbInfo", "account": int(ip[-2:]), "isServer": int(ip == BOX_B)}
        s.sendto(json.dumps(status).encode(), (target, PEER_PORT))
    until(lambda: command({"Msg": "InfoData"}).count("unAccount") == 2, 3)
    reply = command({"Msg": "InfoData"})
    check('"strIp":"%s"' % BOX_A in reply and '"strIp":"%s"' % BOX_B in reply, "InfoData lists both boxes: " + reply)
    check(command({"Msg": "CloseRoom", "query": "close", "ip": BOX_A}) == '{"code":200}', "CloseRoom replies 200")
    close = {"clientIP": SVC, "content": "", "times": "0", "type": "4"}
    got = [r[2:] for r in captured(2, ROOM_PORT, "4")]
    check(got == [(BOX_A, close)] * 2, "CloseRoom reaches the box twice, from the service's own address")
    command({"Msg": "FireAlarm", "query": "open"})
    check([r[2] for r in captured(2, ROOM_PORT, "5")] == [BCAST, ROOM_GROUP], "FireAlarm: broadcast, then room group")
    command({"Msg": "SendMessage", "data": {"remark": "生日 快乐", "count": 2, "cashier_push_id": 501, "time": 7}})
    got = captured(4, ROOM_PORT, "26", timeout=10)
    ticks = [r[2] for r in got] == [BCAST, ROOM_GROUP] * 2 and 2.0 <= got[2][0] - got[0][0] <= 4.5
    check(ticks, "a count-2 subtitle goes to every room at two ticks, 3 s apart")
    delete = {"delete": 2, "note": "kept as sent"}
    command({"Msg": "SendMessage", "data": delete})
    relayed = [(d, {"data": delete, "query": "subtitle"}) for d in (BCAST, ROOM_GROUP)]
    check([r[2:] for r in captured(2, PEER_PORT)] == relayed, "a delete goes to the other print controls, unchanged")


if __name__ == "__main__":
    threading.Thread(target=capture, daemon=True).start()
    check(until(lambda: command({"Msg": "InfoData"}).startswith("{"), 20), "the service answers")
    scenario()
