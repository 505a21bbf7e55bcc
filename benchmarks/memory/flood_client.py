#!/usr/bin/env python3
"""The two clients of flood.sh, on 127.0.0.1:12380.

One connection pipelines "GetRoomArea" as fast as the kernel takes it and never reads a reply; a
second one sends "InfoData" every 200 ms and times the reply. Not wrk: wrk reads every reply it is
sent, and a request that is never answered does not show in its report at all (no error, only fewer
requests), while here an answer later than 5 s must fail the run.
Usage: flood_client.py MAX_REQUESTS SECONDS
"""
import socket
import sys
import time

PROBE_LIMIT_S = 5.0


def post(body):
    return (b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
            b"Content-Length: %d\r\n\r\n%s" % (len(body), body))


def connect():
    sock = socket.create_connection(("127.0.0.1", 12380))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def read_reply(sock):
    """Reads one reply; False when the service closed the connection first."""
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            length = int(data.split(b"Content-Length:", 1)[1].split(b"\r\n", 1)[0])
            if len(data) >= head_end + 4 + length:
                return True
        chunk = sock.recv(65536)
        if not chunk:
            return False
        data += chunk


def probe_ms(sock):
    """Milliseconds until one InfoData is answered; None when not within the limit."""
    start = time.monotonic()
    sock.sendall(post(b'{"Msg":"InfoData"}'))
    try:
        answered = read_reply(sock)
    except socket.timeout:
        return None
    return (time.monotonic() - start) * 1000 if answered else None


def main():
    max_requests, seconds = int(sys.argv[1]), int(sys.argv[2])
    flood, probe = connect(), connect()
    flood.setblocking(False)
    probe.settimeout(PROBE_LIMIT_S)
    request = post(b'{"Msg":"GetRoomArea"}')
    sent = sent_bytes = partial = probes = 0
    slowest = 0.0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while sent < max_requests:  # as much as the kernel takes now
            try:
                n = flood.send(request[partial:])
            except OSError:  # full (or closed by the service): nothing more now
                break
            sent_bytes += n
            partial += n
            if partial == len(request):
                partial, sent = 0, sent + 1
        ms = probe_ms(probe)
        if ms is None:
            print("flood: probe %d not answered within %.0f s" % (probes + 1, PROBE_LIMIT_S))
            return 1
        slowest, probes = max(slowest, ms), probes + 1
        time.sleep(0.2)
    print("flood: %d requests (%d bytes) sent in %d s on one connection that never read; "
          "%d InfoData on another, slowest answered in %.1f ms" % (sent, sent_bytes, seconds, probes, slowest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
