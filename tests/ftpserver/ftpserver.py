#!/usr/bin/python3
"""Loopback FTP server for the update tests: ftpserver.py ROOT [options]

Serves ROOT to the update library's built-in account on a free port of
127.0.0.1, printed as the first line on stdout; ends when stdin closes.
NAME is a file's path below ROOT or its bare name; options may repeat.
  --drop-after-bytes NAME:N  send N bytes of NAME, then close and answer 426
  --lie-after-bytes NAME:N   send N bytes of NAME, then report success (226)
  --announce-size NAME:N     announce N bytes for NAME (SIZE and 150), send it whole
"""

import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    for option in ("--drop-after-bytes", "--lie-after-bytes", "--announce-size"):
        parser.add_argument(option, action="append", default=[])
    args = parser.parse_args()
    root = os.path.realpath(args.root)
    drops, lies, announced = [{name: int(count) for name, _, count in (v.rpartition(":") for v in values)}
                              for values in (args.drop_after_bytes, args.lie_after_bytes, args.announce_size)]

    def limit_for(table, path):
        if path:
            for key in (os.path.relpath(os.path.realpath(path), root), os.path.basename(path)):
                if key in table:
                    return table[key]
        return None

    class TestDTPHandler(DTPHandler):
        def send(self, data):
            drop = limit_for(drops, getattr(self.file_obj, "name", None))
            limit = drop if drop is not None else limit_for(lies, getattr(self.file_obj, "name", None))
            if limit is None or self.receive:
                return DTPHandler.send(self, data)
            left = limit - self.tot_bytes_sent
            if left > 0:
                return DTPHandler.send(self, data[:left])
            answer = "426 Connection closed; transfer aborted."
            if drop is None:
                self.discard_buffers()
                self.transfer_finished = True
                answer = "226 Transfer complete."
            self._resp = (answer, logging.getLogger("ftpserver").info)
            self.close()
            return 0

    class TestHandler(FTPHandler):
        dtp_handler = TestDTPHandler
        use_sendfile = False  # every transfer goes through send() above
        permit_foreign_addresses = False
        banner = "ORBO update test server ready."
        timeout = 600
        announced_size = None

        def ftp_SIZE(self, path):
            size = limit_for(announced, path)
            return FTPHandler.ftp_SIZE(self, path) if size is None else self.respond("213 %d" % size)

        def ftp_RETR(self, file):
            self.announced_size = limit_for(announced, file)
            return FTPHandler.ftp_RETR(self, file)

        def respond(self, resp, logfun=logging.debug):
            if resp.startswith("150 ") and self.announced_size is not None:
                resp = "150 Opening BINARY mode data connection (%d bytes)." % self.announced_size
                self.announced_size = None
            return FTPHandler.respond(self, resp, logfun)

    TestHandler.authorizer = DummyAuthorizer()
    TestHandler.authorizer.add_user("vaskolt", "tovrask27", root, perm="elradfmwMT")
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    server = FTPServer(("127.0.0.1", 0), TestHandler)
    sys.stdout.write("%d\n" % server.socket.getsockname()[1])
    sys.stdout.flush()

    if not sys.stdin.isatty():
        threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
