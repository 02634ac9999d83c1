#!/usr/bin/env python3
"""Holds many slow or silent connections open against fuelweb (directly or through the TLS proxy)
and measures how long /ping takes meanwhile. Loopback only; ends by itself.

  slow-clients.py --port 8080 [--tls --cafile FILE] [--clients 200] [--rounds 30]
                  [--apikey KEYS] [--column N] [--max-ms 100]

The clients are of four kinds, a quarter each: silent (connect, send nothing), partial head (the
request line and one field, never the end of the head), partial body (a whole head announcing 100
bytes, 10 of them sent), trickling (a partial head that grows by one byte per round). Exit status
0 when the median /ping took less than --max-ms and every /ping was answered, 1 otherwise.
"""
import argparse
import socket
import ssl
import statistics
import sys
import time


def connect(args, ctx):
    s = socket.create_connection(("127.0.0.1", args.port), timeout=10)
    if ctx is not None:
        s = ctx.wrap_socket(s, server_hostname="localhost")
    return s


def ping(args, ctx):
    start = time.monotonic()
    s = connect(args, ctx)
    path = "/api/fuelweb/ping?apikey=%s&columnId=%d" % (args.apikey, args.column)
    s.sendall(("GET %s HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n" % path).encode())
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    s.close()
    took = (time.monotonic() - start) * 1000
    status = int(data.split(b" ", 2)[1]) if data.startswith(b"HTTP/") else 0
    return took, status


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--tls", action="store_true")
    p.add_argument("--cafile")
    p.add_argument("--clients", type=int, default=200)
    p.add_argument("--rounds", type=int, default=30)
    p.add_argument("--apikey", default="demo-client,demo-server,demo-station")
    p.add_argument("--column", type=int, default=1)
    p.add_argument("--max-ms", type=float, default=100.0)
    p.add_argument("--label", default="")
    args = p.parse_args()

    ctx = None
    if args.tls:
        ctx = ssl.create_default_context(cafile=args.cafile)

    head = b"GET /api/fuelweb/ping?columnId=1 HTTP/1.1\r\nHost: localhost\r\nX-Slow: "
    body = b"POST /api/fuelweb/ping HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100\r\n\r\ncolumnId=1"
    slow, trickling = [], []
    for i in range(args.clients):
        try:
            if ctx is not None and i % 4 == 0:
                # Silent on TLS: not even the handshake.
                s = socket.create_connection(("127.0.0.1", args.port), timeout=10)
            else:
                s = connect(args, ctx)
            if i % 4 in (1, 3):
                s.sendall(head)
            elif i % 4 == 2:
                s.sendall(body)
            slow.append(s)
            if i % 4 == 3:
                trickling.append(s)
        except OSError as e:
            print("slow client %d could not connect: %s" % (i, e))

    took, failures = [], 0
    for _ in range(args.rounds):
        for s in trickling:
            try:
                s.sendall(b"a")
            except OSError:
                pass
        try:
            t, status = ping(args, ctx)
            took.append(t)
            if status == 0:
                failures += 1
        except OSError as e:
            failures += 1
            print("ping failed: %s" % e)
        time.sleep(0.01)

    for s in slow:
        s.close()
    if not took:
        print("%s: no /ping answered" % args.label)
        return 1
    median = statistics.median(took)
    print("%s%d slow clients held, /ping over %d rounds: median %.1f ms, max %.1f ms, failed %d"
          % (args.label + ": " if args.label else "", len(slow), args.rounds, median,
             max(took), failures))
    return 0 if median < args.max_ms and failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
