#!/usr/bin/env python3
"""Printer query latency of a running service on 127.0.0.1:12380.

Each round: connection A sends "PrinterStatus"; 2 ms later connection B (already open) sends
"InfoData". Prints the median and the worst latency of both.
Usage: latency.py ROUNDS [PER_REQUEST_TIMEOUT_S]
"""
import socket
import statistics
import sys
import threading
import time


def post(body):
    return (b"POST / HTTP/1.1\r\nHost: 127.0.0.1:12380\r\nContent-Type: text/plain\r\n"
            b"Content-Length: %d\r\n\r\n%s" % (len(body), body))


def read_reply(sock, deadline):
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            length = int(data.split(b"Content-Length:", 1)[1].split(b"\r\n", 1)[0])
            if len(data) >= head_end + 4 + length:
                return data[head_end + 4:head_end + 4 + length]
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return None
        sock.settimeout(remaining)
        try:
            chunk = sock.recv(65536)
        except socket.timeout:
            return None
        if not chunk:
            return None
        data += chunk


def connect():
    sock = socket.create_connection(("127.0.0.1", 12380))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def one_round(timeout_s):
    conn_a, conn_b = connect(), connect()
    result_a = {}

    def await_a():
        result_a["reply"] = read_reply(conn_a, start_a + timeout_s)
        result_a["end"] = time.monotonic()

    try:
        start_a = time.monotonic()
        conn_a.sendall(post(b'{"Msg":"PrinterStatus"}'))
        reader_a = threading.Thread(target=await_a)
        reader_a.start()
        time.sleep(0.002)
        start_b = time.monotonic()
        conn_b.sendall(post(b'{"Msg":"InfoData"}'))
        reply_b = read_reply(conn_b, start_b + timeout_s)
        end_b = time.monotonic()
        reader_a.join()
    finally:
        conn_a.close()
        conn_b.close()
    reply_a = result_a["reply"]
    status_ms = (result_a["end"] - start_a) * 1000 if reply_a is not None else None
    info_ms = (end_b - start_b) * 1000 if reply_b is not None else None
    return status_ms, info_ms, reply_a


def describe(values, timeout_s):
    done = [v for v in values if v is not None]
    text = "median %8.1f ms   max %8.1f ms" % (statistics.median(done), max(done)) if done else "no reply"
    if len(done) < len(values):
        text += "   (%d of %d not answered within %g s)" % (len(values) - len(done), len(values), timeout_s)
    return text


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    timeout_s = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    one_round(timeout_s)  # warm-up: the first query loads libcups' configuration
    status, info = [], []
    reply = None
    for _ in range(rounds):
        status_ms, info_ms, reply_a = one_round(timeout_s)
        status.append(status_ms)
        info.append(info_ms)
        reply = reply_a if reply_a is not None else reply
        time.sleep(0.05)
    print("  PrinterStatus                   %s" % describe(status, timeout_s))
    print("  InfoData during PrinterStatus   %s" % describe(info, timeout_s))
    if reply is not None:
        print("  printers: %s" % " ".join(reply.decode("utf-8").split()))


if __name__ == "__main__":
    main()
