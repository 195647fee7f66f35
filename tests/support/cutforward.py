#!/usr/bin/python3
"""Loopback TCP forwarder that cuts connections: cutforward.py TARGET_PORT [options]

Listens on a free port of 127.0.0.1, printed as the first line on stdout,
and forwards every connection to 127.0.0.1:TARGET_PORT; ends when stdin
closes.
  --cut-after N   close a connection (both ways) once N bytes went from the
                  target to the client on it; 0 never cuts
  --count FILE    keep in FILE the bytes forwarded from targets to clients
                  so far, all connections together (a decimal number)
  --rate N        a link of N bytes a second from the targets to the
                  clients, all connections sharing it
  --replace SOURCE TARGET
                  at the first cut, before the connection closes, rename
                  SOURCE over TARGET (a file changed on the server mid-way)
"""

import argparse
import os
import socket
import sys
import threading
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target_port", type=int)
    parser.add_argument("--cut-after", type=int, default=0)
    parser.add_argument("--count")
    parser.add_argument("--replace", nargs=2)
    parser.add_argument("--rate", type=int, default=0)
    args = parser.parse_args()
    replace = list(args.replace or [])

    lock = threading.Lock()
    total = [0]
    count_fd = os.open(args.count, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644) if args.count else None

    def counted(n):
        with lock:
            total[0] += n
            if count_fd is not None:
                text = str(total[0]).encode()
                os.pwrite(count_fd, text, 0)
                os.ftruncate(count_fd, len(text))

    link_free = [0.0]

    def paced(n):
        # The moment the link has carried n more bytes.
        with lock:
            start = max(time.monotonic(), link_free[0])
            link_free[0] = start + n / args.rate
            done = link_free[0]
        time.sleep(max(0.0, done - time.monotonic()))

    def close(*sockets):
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def upstream(client, server):
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                server.sendall(data)
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def serve(client):
        try:
            server = socket.create_connection(("127.0.0.1", args.target_port))
        except OSError:
            client.close()
            return
        threading.Thread(target=upstream, args=(client, server), daemon=True).start()
        sent = 0
        try:
            while True:
                want = 16384 if args.rate else 65536
                if args.cut_after:
                    want = min(want, args.cut_after - sent)
                data = server.recv(want)
                if not data:
                    break
                if args.rate:
                    paced(len(data))
                client.sendall(data)
                sent += len(data)
                counted(len(data))
                if args.cut_after and sent >= args.cut_after:
                    with lock:
                        if replace:
                            os.replace(replace.pop(0), replace.pop(0))
                    break
        except OSError:
            pass
        close(client, server)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1])
    sys.stdout.flush()
    if not sys.stdin.isatty():
        threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
