#!/usr/bin/env python3
"""Box side of the two-host test, run in the boxes' namespace: two set-top boxes (.30 unicast,
.31 through the status group) announce themselves, the cashier's commands go to the service
over HTTP, and every datagram to the room and sync ports is captured with its destination.
Usage: two_hosts_box.py <the service's directory>"""
import http.client, json, os, select, socket, sys, threading, time

SVC, BOX_A, BOX_B, BCAST = "192.168.77.20", "192.168.77.30", "192.168.77.31", "192.168.77.255"
ROOM_GROUP, STATUS_GROUP, ROOM_PORT, PEER_PORT = "224.0.0.19", "224.0.0.8", 18108, 19262
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
failures, records = [], []  # records: (seconds, port, destination, bytes)


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def capture():
    socks = []
    for port in (ROOM_PORT, PEER_PORT):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        s.bind(("", port))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(ROOM_GROUP) + socket.inet_aton(BOX_A))
        socks.append(s)
    while True:
        for s in select.select(socks, [], [])[0]:
            data, anc, _, _ = s.recvmsg(65535, socket.CMSG_SPACE(12))
            dst = [socket.inet_ntoa(p[8:12]) for lvl, kind, p in anc if kind == IP_PKTINFO]
            records.append((time.monotonic(), s.getsockname()[1], dst[0] if dst else "?", data))


def until(predicate, timeout=5):
    end = time.monotonic() + timeout
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


def captured(count, port, type_=None, timeout=5):
    def pick():
        return [r for r in list(records) if r[1] == port and (type_ is None or json.loads(r[3]).get("type") == type_)]
    until(lambda: len(pick()) >= count, timeout)
    return pick()


def command(obj):
    conn = http.client.HTTPConnection(SVC, 12380, timeout=3)
    try:
        conn.request("POST", "/", body=json.dumps(obj, ensure_ascii=False).encode())
        return conn.getresponse().read().decode()
    except (OSError, http.client.HTTPException) as exc:
        return "<no reply: %s>" % exc
    finally:
        conn.close()


def conf(directory):
    try:
        with open(os.path.join(directory, "subtitle.conf"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def scenario(directory):
    for ip, target in ((BOX_A, SVC), (BOX_B, STATUS_GROUP)):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((ip, 0))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ip))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        status = {"query": "stbInfo", "account": 3001 if ip == BOX_A else "3002", "roomName": "Room " + ip[-2:],
                  "isServer": int(ip == BOX_B)}
        s.sendto(json.dumps(status).encode(), (target, PEER_PORT))
    until(lambda: command({"Msg": "InfoData"}).count("unAccount") == 2, 3)
    reply = command({"Msg": "InfoData"})
    print("InfoData:", reply)
    data = json.loads(reply).get("data", []) if reply.startswith("{") else []
    check([(d["unAccount"], d["strIp"], d["roomName"]) for d in data] == [("3002", BOX_B, "Room31"), ("3001", BOX_A, "Room30")],
          "InfoData: the server box (heard through the status group) first, the unicast box next, no blanks")

    check(command({"Msg": "CloseRoom", "query": "close", "ip": BOX_A}) == '{"code":200}', "CloseRoom replies 200")
    got = captured(2, ROOM_PORT, "4")
    check([(r[2], json.loads(r[3])) for r in got] == [(BOX_A, {"clientIP": SVC, "content": "", "times": "0", "type": "4"})] * 2,
          "CloseRoom reaches the box twice, from the service's own address")
    command({"Msg": "FireAlarm", "query": "open"})
    check([r[2] for r in captured(2, ROOM_PORT, "5")] == [BCAST, ROOM_GROUP], "FireAlarm: subnet broadcast, then room group")

    command({"Msg": "SendMessage", "data": {"remark": "生日 快乐", "count": 2, "cashier_push_id": 501, "time": 7}})
    got = captured(4, ROOM_PORT, "26", timeout=10)
    check([r[2] for r in got] == [BCAST, ROOM_GROUP] * 2 and 2.0 <= got[2][0] - got[0][0] <= 4.5,
          "a count-2 subtitle goes to every room at two ticks, 3 s apart")
    check(until(lambda: conf(directory) == {"list": []}), "the used-up subtitle leaves subtitle.conf")

    delete = {"delete": 2, "note": "kept as sent"}
    command({"Msg": "SendMessage", "data": delete})
    got = captured(2, PEER_PORT)
    check([(r[2], json.loads(r[3])) for r in got] == [(d, {"data": delete, "query": "subtitle"}) for d in (BCAST, ROOM_GROUP)],
          "a cashier's delete goes to the other print controls by broadcast and group, unchanged")


def main():
    threading.Thread(target=capture, daemon=True).start()
    check(until(lambda: command({"Msg": "InfoData"}).startswith("{"), 20), "the service answers")
    if not failures:
        scenario(sys.argv[1])
    for t, port, dst, data in list(records):
        print("%7.3f %5d -> %s %r" % (t - records[0][0], port, dst, data.decode("utf-8", "replace")))
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
