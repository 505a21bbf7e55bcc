#!/usr/bin/env python3
"""Box side of the two-host test; runs in the boxes' network namespace.

Plays two set-top boxes (192.168.77.30 and .31) and a second print control (192.168.77.30),
starts the service in its own namespace and sends the cashier's commands to it over
HTTP (port 12380). Prints every datagram it captured.
"""
import argparse
import datetime
import http.client
import json
import os
import select
import socket
import struct
import subprocess
import sys
import threading
import time

SVC_IP = "192.168.77.20"
BOX_A, BOX_B = "192.168.77.30", "192.168.77.31"
BROADCAST = "192.168.77.255"
ROOM_GROUP, STATUS_GROUP = "224.0.0.19", "224.0.0.8"
ROOM_PORT, PEER_PORT, HTTP_PORT = 18108, 19262, 12380
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


class Capture(threading.Thread):
    """Receives on the boxes' command port and the print controls' port, with each datagram's
    destination address (unicast, subnet broadcast or group)."""

    def __init__(self):
        super().__init__(daemon=True)
        self.lock = threading.Lock()
        self.records = []  # (seconds, port, src, dst, bytes)
        self.socks = [self.listener(ROOM_PORT), self.listener(PEER_PORT)]
        self.t0 = time.monotonic()

    @staticmethod
    def listener(port):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        s.bind(("", port))
        mreq = socket.inet_aton(ROOM_GROUP) + socket.inet_aton(BOX_A)
        s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, mreq)
        return s

    def run(self):
        while True:
            ready, _, _ = select.select(self.socks, [], [], 0.5)
            for s in ready:
                data, anc, _, src = s.recvmsg(65535, socket.CMSG_SPACE(12))
                dst = "?"
                for level, kind, payload in anc:
                    if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
                        dst = socket.inet_ntoa(payload[8:12])
                with self.lock:
                    self.records.append((time.monotonic() - self.t0, s.getsockname()[1], src[0], dst, data))

    def select(self, port=None, type_=None, content=None, dst=None):
        out = []
        with self.lock:
            records = list(self.records)
        for rec in records:
            if port is not None and rec[1] != port:
                continue
            if dst is not None and rec[3] != dst:
                continue
            if type_ is not None or content is not None:
                try:
                    obj = json.loads(rec[4])
                except ValueError:
                    continue
                if type_ is not None and obj.get("type") != type_:
                    continue
                if content is not None and obj.get("content") != content:
                    continue
            out.append(rec)
        return out

    def wait(self, count, timeout, **kw):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if len(self.select(**kw)) >= count:
                break
            time.sleep(0.05)
        return self.select(**kw)


class Box:
    """Sends status announcements from one box address, unicast or to the status group."""

    def __init__(self, ip, multicast):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((ip, 0))
        self.multicast = multicast
        if multicast:
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ip))
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)

    def send(self, obj):
        target = (STATUS_GROUP, PEER_PORT) if self.multicast else (SVC_IP, PEER_PORT)
        self.sock.sendto(json.dumps(obj, ensure_ascii=False).encode(), target)


class Service:
    def __init__(self, args):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QT_QUICK_BACKEND="software",
                   XDG_RUNTIME_DIR=os.path.join(args.dir, "runtime"))
        cmd = ["ip", "netns", "exec", args.svc_ns, "unshare", "--ipc", "--", args.service]
        self.log = open(os.path.join(args.dir, "service.out"), "wb")
        self.proc = subprocess.Popen(cmd, cwd=args.dir, env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.log, stderr=self.log)

    def wait_ready(self):
        end = time.monotonic() + 20
        while time.monotonic() < end and self.proc.poll() is None:
            try:
                socket.create_connection((SVC_IP, HTTP_PORT), timeout=0.5).close()
                return True
            except OSError:
                time.sleep(0.1)
        return False

    def command(self, obj):
        body = json.dumps(obj, ensure_ascii=False).encode()
        conn = http.client.HTTPConnection(SVC_IP, HTTP_PORT, timeout=3)
        try:
            conn.request("POST", "/", body=body, headers={"Content-Type": "application/json"})
            return conn.getresponse().read().decode()
        except (OSError, http.client.HTTPException) as exc:
            return "<no reply: %s>" % exc
        finally:
            conn.close()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def read_log(directory, prefix):
    name = "%s_%s.log" % (prefix, datetime.date.today().isoformat())
    try:
        with open(os.path.join(directory, "logs", name), encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def wait_for(predicate, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


def read_conf(directory):
    try:
        with open(os.path.join(directory, "subtitle.conf"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def conf_push_ids(directory):
    conf = read_conf(directory) or {}
    return [entry.get("cashier_push_id") for entry in conf.get("list", [])]


def scenario(svc, cap, box_a, box_b, peer, directory):
    status_a = {"query": "stbInfo", "account": "3001", "roomName": "Room A 1", "isServer": 0,
                "isCloseRoom": 0, "cprtQrCode": "qr-a", "cprtSigned": 1, "cprtPayStatus": 2, "cprtTime": 1700000000}
    status_b = {"query": "stbInfo", "account": 3002, "roomName": "VIP 2", "isServer": 1}
    box_a.send(status_a)
    box_b.send(status_b)
    b_last_status = time.monotonic()
    stop_a = threading.Event()

    def keep_a_online():
        while not stop_a.wait(2.0):
            box_a.send(status_a)

    threading.Thread(target=keep_a_online, daemon=True).start()

    # Registry through "InfoData": the server box first, blanks removed.
    reply = ""
    for _ in range(30):
        reply = svc.command({"Msg": "InfoData"})
        if reply.count("unAccount") == 2 or reply.startswith("<no reply"):
            break
        time.sleep(0.1)
    print("InfoData:", reply)
    if not check(not reply.startswith("<no reply"), "the service answers commands"):
        return
    listed = json.loads(reply) if reply.startswith("{") else {}
    check(listed.get("code") == 180 and " " not in reply, "InfoData answers code 180 without blanks")
    data = listed.get("data", [])
    check([d.get("unAccount") for d in data] == ["3002", "3001"], "server box listed first, both boxes online")
    check([d.get("strIp") for d in data] == [BOX_B, BOX_A], "addresses are the senders' (multicast and unicast)")
    check(len(data) == 2 and data[1].get("roomName") == "RoomA1" and data[1].get("cprtTime") == "1700000000",
          "room name without blanks, cprtTime as text")

    # CloseRoom to one box: twice, identical.
    check(svc.command({"Msg": "CloseRoom", "query": "close", "ip": BOX_A}) == '{"code":200}', "CloseRoom replies 200")
    got = cap.wait(2, 3, port=ROOM_PORT, type_="4", dst=BOX_A)
    check(len(got) == 2 and got[0][4] == got[1][4], "CloseRoom arrives twice at the box with identical bytes")
    if got:
        obj = json.loads(got[0][4])
        check(obj == {"clientIP": SVC_IP, "content": "", "times": "0", "type": "4"}, "CloseRoom datagram fields")
        check(got[0][4].startswith(b'{\n    "clientIP"'), "room command is indented JSON")

    # FireAlarm: once by subnet broadcast, once through the room group.
    check(svc.command({"Msg": "FireAlarm", "query": "open"}) == '{"code":200}', "FireAlarm replies 200")
    got = cap.wait(2, 3, port=ROOM_PORT, type_="5")
    check([r[3] for r in got] == [BROADCAST, ROOM_GROUP], "FireAlarm arrives once by broadcast, once by 224.0.0.19")
    check(all(json.loads(r[4])["times"] == "1" for r in got), "FireAlarm times is the text 1")

    check(svc.command({"Msg": "DrinkMsg", "type": 9, "content": "两瓶 啤酒", "ip": BOX_B}) == '{"code":200}',
          "DrinkMsg replies 200")
    got = cap.wait(2, 3, port=ROOM_PORT, type_="9", dst=BOX_B)
    check(len(got) == 2 and json.loads(got[0][4])["content"] == "两瓶 啤酒", "DrinkMsg reaches the named box twice")

    # Subtitle with count 2: type 26 at two successive ticks, then gone from the file.
    birthday = {"remark": "生日 快乐", "count": 2, "intervalTime": 0, "cashier_push_id": 501, "time": 7}
    check(svc.command({"Msg": "SendMessage", "data": birthday}) == '{"code":200}', "SendMessage replies 200")
    check("501" in conf_push_ids(directory), "pushed subtitle stored in subtitle.conf")
    # The same push relayed by another print control through the status group is a repeat.
    peer.sendto(json.dumps({"query": "subtitle", "data": birthday}, ensure_ascii=False).encode(),
                (STATUS_GROUP, PEER_PORT))
    targeted = {"remark": "to rooms", "count": 1, "accountIds": "3002,,3001", "cashier_push_id": 502, "time": 1}
    svc.command({"Msg": "SendMessage", "data": targeted})
    got = cap.wait(4, 12, port=ROOM_PORT, type_="26", content="生日 快乐")
    times = [r[0] for r in got]
    check([r[3] for r in got] == [BROADCAST, ROOM_GROUP] * 2,
          "count-2 subtitle sent as type 26 to every room at two ticks")
    if len(times) == 4:
        gap = times[2] - times[0]
        check(2.0 <= gap <= 4.5, "the two sends are one tick apart (%.2f s)" % gap)
        check(json.loads(got[0][4])["times"] == "7", "subtitle times is its push time")
    check(wait_for(lambda: "501" not in conf_push_ids(directory) and read_conf(directory) is not None, 5),
          "used-up subtitle leaves subtitle.conf")
    time.sleep(3.3)  # one more tick: nothing further may come
    check(len(cap.select(port=ROOM_PORT, type_="26", content="生日 快乐")) == 4,
          "no third send, relayed repeat ignored")
    check("字幕消息，从打印控件接收:" in read_log(directory, "PrinterLog"), "relayed subtitle logged")
    got = cap.select(port=ROOM_PORT, type_="26", content="to rooms")
    check([r[3] for r in got] == [BOX_B, BOX_B, BOX_A, BOX_A], "accountIds with an empty part: each box twice, in list order")

    # Cashier delete-all: the sync datagram goes to the other print controls, then the list empties.
    svc.command({"Msg": "SendMessage", "data": {"remark": "long", "count": 5, "intervalTime": 1000,
                                                "cashier_push_id": 503, "time": 2}})
    check(conf_push_ids(directory) == ["503"], "list holds one record before the delete")
    delete = {"delete": 2, "cashier_push_id": 0, "note": "kept as sent"}
    check(svc.command({"Msg": "SendMessage", "data": delete}) == '{"code":200}', "delete replies 200")
    got = cap.wait(2, 3, port=PEER_PORT)
    check([r[3] for r in got] == [BROADCAST, ROOM_GROUP], "sync datagram on 19262 by broadcast and 224.0.0.19")
    check(all(json.loads(r[4]) == {"data": delete, "query": "subtitle"} for r in got), "sync carries the command unchanged")
    check(wait_for(lambda: read_conf(directory) == {"list": []}, 3), "subtitle.conf holds an empty list")

    # Box B has been silent: after 15 s it leaves the list and the offline line is logged.
    remaining = b_last_status + 15.6 - time.monotonic()
    if remaining > 0:
        time.sleep(remaining)
    reply = svc.command({"Msg": "InfoData"})
    print("InfoData:", reply)
    check([d.get("unAccount") for d in json.loads(reply).get("data", [])] == ["3001"], "silent box left the list")
    check(wait_for(lambda: "机顶盒离线：ip:%s,room:VIP 2, 离线时间:" % BOX_B in read_log(directory, "VodLog"), 3),
          "offline line logged")
    check("机顶盒状态信息更新:ip:%s room:Room A 1 云账号:3001" % BOX_A in read_log(directory, "VodLog"),
          "status update line logged")
    stop_a.set()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--svc-ns", required=True)
    parser.add_argument("--service", required=True)
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()

    cap = Capture()
    cap.start()
    peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    peer.bind((BOX_A, 0))
    peer.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(BOX_A))
    peer.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    svc = Service(args)
    try:
        if not check(svc.wait_ready(), "service started"):
            return 1
        scenario(svc, cap, Box(BOX_A, False), Box(BOX_B, True), peer, args.dir)
    finally:
        svc.stop()
        print("--- captured datagrams (seconds, port, source -> destination, bytes) ---")
        for t, port, src, dst, data in cap.select():
            print("%7.3f %5d %s -> %s %r" % (t, port, src, dst, data.decode("utf-8", "replace")))
        if failures:
            print("--- service output ---")
            with open(os.path.join(args.dir, "service.out"), "rb") as f:
                sys.stdout.write(f.read().decode("utf-8", "replace")[-4000:])
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
