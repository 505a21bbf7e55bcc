"""Box side of the two-host test: boxes .30 (unicast) and .31 (status group) announce themselves, the
cashier's commands go to the service over HTTP, and every datagram to the room and sync ports is captured."""
import http.client, json, select, socket, sys, threading, time

SVC, BOX_A, BOX_B, BCAST = "192.168.77.20", "192.168.77.30", "192.168.77.31", "192.168.77.255"
ROOM_GROUP, STATUS_GROUP, ROOM_PORT, PEER_PORT = "224.0.0.19", "224.0.0.8", 18108, 19262
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
failures, records = [], []  # records: (seconds, port, destination, JSON)


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    failures.extend([] if ok else [what])


def capture():
    socks = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in (ROOM_PORT, PEER_PORT)]
    for s, port in zip(socks, (ROOM_PORT, PEER_PORT)):
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        s.bind(("", port))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(ROOM_GROUP) + socket.inet_aton(BOX_A))
    while True:
        for s in select.select(socks, [], [])[0]:
            data, anc, _, _ = s.recvmsg(65535, socket.CMSG_SPACE(12))
            dst = [socket.inet_ntoa(p[8:12]) for _, kind, p in anc if kind == IP_PKTINFO] + ["?"]
            records.append((time.monotonic(), s.getsockname()[1], dst[0], json.loads(data)))


def until(predicate, timeout=5):
    end = time.monotonic() + timeout
    while not predicate() and time.monotonic() < end: time.sleep(0.05)
    return predicate()


def captured(count, port, type_=None, timeout=5):
    pick = lambda: [r for r in list(records) if r[1] == port and (type_ is None or r[3].get("type") == type_)]
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
    for ip, target, account in ((BOX_A, SVC, 3001), (BOX_B, STATUS_GROUP, "3002")):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((ip, 0))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ip))
        s.sendto(json.dumps({"query": "stbInfo", "account": account, "roomName": "Room " + ip[-2:], "isServer": int(ip == BOX_B)}).encode(), (target, PEER_PORT))
    until(lambda: command({"Msg": "InfoData"}).count("unAccount") == 2, 3)
    reply = command({"Msg": "InfoData"})
    data = json.loads(reply).get("data", []) if reply.startswith("{") else reply
    check([(d["unAccount"], d["strIp"], d["roomName"]) for d in data] == [("3002", BOX_B, "Room31"), ("3001", BOX_A, "Room30")], "InfoData: the server box (heard through the status group) first, the unicast box next, no blanks: %s" % reply)
    check(command({"Msg": "CloseRoom", "query": "close", "ip": BOX_A}) == '{"code":200}', "CloseRoom replies 200")
    check([r[2:] for r in captured(2, ROOM_PORT, "4")] == [(BOX_A, {"clientIP": SVC, "content": "", "times": "0", "type": "4"})] * 2, "CloseRoom reaches the box twice, from the service's own address")
    command({"Msg": "FireAlarm", "query": "open"})
    check([r[2] for r in captured(2, ROOM_PORT, "5")] == [BCAST, ROOM_GROUP], "FireAlarm: subnet broadcast, then room group")
    command({"Msg": "SendMessage", "data": {"remark": "生日 快乐", "count": 2, "cashier_push_id": 501, "time": 7}})
    got = captured(4, ROOM_PORT, "26", timeout=10)
    check([r[2] for r in got] == [BCAST, ROOM_GROUP] * 2 and 2.0 <= got[2][0] - got[0][0] <= 4.5, "a count-2 subtitle goes to every room at two ticks, 3 s apart")
    delete = {"delete": 2, "note": "kept as sent"}
    command({"Msg": "SendMessage", "data": delete})
    check([r[2:] for r in captured(2, PEER_PORT)] == [(d, {"data": delete, "query": "subtitle"}) for d in (BCAST, ROOM_GROUP)], "a cashier's delete goes to the other print controls by broadcast and group, unchanged")


if __name__ == "__main__":
    threading.Thread(target=capture, daemon=True).start()
    check(until(lambda: command({"Msg": "InfoData"}).startswith("{"), 20), "the service answers")
    failures or scenario()
    sys.exit(1 if failures else 0)
