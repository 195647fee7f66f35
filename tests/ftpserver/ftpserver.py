#!/usr/bin/python3
"""Loopback FTP server for the update engine's tests.

Usage: ftpserver.py ROOT [USER PASSWORD [PORT]] [options]

Serves ROOT to USER/PASSWORD (default: the update library's built-in
account) on 127.0.0.1:PORT (0 or absent: a free port). The chosen port is
printed as the first line on stdout. Runs until killed or until stdin is
closed (so it never outlives its parent).

Options:
  --drop-after-bytes NAME:N   while sending a file whose path below ROOT
                              (or bare name) is NAME, close the data
                              connection after N bytes and answer 426.
                              May be repeated.
  --lie-after-bytes NAME:N    send only N bytes of NAME, then report the
                              transfer complete (226).
  --announce-size NAME:N      announce N bytes as the size of NAME (SIZE and
                              the 150 reply) while sending the whole file.
  --read-only                 no uploads, deletions or renames.
  --anonymous                 also accept anonymous logins (read-only).
  --max-connections N         refuse more than N control connections at once.
"""

import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

DEFAULT_USER = "vaskolt"
DEFAULT_PASSWORD = "tovrask27"


def parse_limits(values):
    limits = {}
    for value in values or []:
        name, _, count = value.rpartition(":")
        if not name:
            raise SystemExit("expected NAME:N, got %r" % value)
        limits[name] = int(count)
    return limits


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("user", nargs="?", default=DEFAULT_USER)
    parser.add_argument("password", nargs="?", default=DEFAULT_PASSWORD)
    parser.add_argument("port", nargs="?", type=int, default=0)
    parser.add_argument("--drop-after-bytes", action="append", default=[])
    parser.add_argument("--lie-after-bytes", action="append", default=[])
    parser.add_argument("--announce-size", action="append", default=[])
    parser.add_argument("--read-only", action="store_true")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--max-connections", type=int, default=0)
    args = parser.parse_args()

    root = os.path.realpath(args.root)
    drops = parse_limits(args.drop_after_bytes)
    lies = parse_limits(args.lie_after_bytes)
    announced = parse_limits(args.announce_size)

    def limit_for(table, path):
        if not table or not path:
            return None
        relative = os.path.relpath(os.path.realpath(path), root)
        for key in (relative, os.path.basename(path)):
            if key in table:
                return table[key]
        return None

    class TestDTPHandler(DTPHandler):
        def send(self, data):
            name = getattr(self.file_obj, "name", None)
            drop = limit_for(drops, name)
            lie = limit_for(lies, name)
            limit = drop if drop is not None else lie
            if limit is None or self.receive:
                return DTPHandler.send(self, data)
            left = limit - self.tot_bytes_sent
            if left > 0:
                return DTPHandler.send(self, data[:left])
            if drop is not None:
                self._resp = ("426 Connection closed; transfer aborted.",
                              logging.getLogger("ftpserver").info)
            else:
                self.discard_buffers()
                self.transfer_finished = True
                self._resp = ("226 Transfer complete.",
                              logging.getLogger("ftpserver").info)
            self.close()
            return 0

    class TestHandler(FTPHandler):
        dtp_handler = TestDTPHandler
        # Transfers go through send() so the limits above apply.
        use_sendfile = False
        permit_foreign_addresses = False
        banner = "ORBO update test server ready."
        timeout = 600
        announced_size = None

        def ftp_SIZE(self, path):
            size = limit_for(announced, path)
            if size is None:
                return FTPHandler.ftp_SIZE(self, path)
            self.respond("213 %d" % size)

        def ftp_RETR(self, file):
            self.announced_size = limit_for(announced, file)
            return FTPHandler.ftp_RETR(self, file)

        def respond(self, resp, logfun=logging.debug):
            if resp.startswith("150 ") and self.announced_size is not None:
                resp = "150 Opening BINARY mode data connection (%d bytes)." % self.announced_size
                self.announced_size = None
            return FTPHandler.respond(self, resp, logfun)

    authorizer = DummyAuthorizer()
    perm = "elr" if args.read_only else "elradfmwMT"
    authorizer.add_user(args.user, args.password, root, perm=perm)
    if args.anonymous:
        authorizer.add_anonymous(root)
    TestHandler.authorizer = authorizer

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer(("127.0.0.1", args.port), TestHandler)
    if args.max_connections > 0:
        server.max_cons_per_ip = args.max_connections
    port = server.socket.getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except Exception:
            pass
        os._exit(0)

    if not sys.stdin.isatty():
        threading.Thread(target=watch_stdin, daemon=True).start()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
