#!/usr/bin/python3
"""Loopback FTP server for the update tests: ftpserver.py ROOT [options]

Serves ROOT to the update library's built-in account on a free port of
127.0.0.1, printed as the first line on stdout; ends when stdin closes.
NAME is a file's path below ROOT or its bare name; options may repeat.
  --drop-after-bytes NAME:N  send N bytes of NAME, then close and answer 426
  --replace-at-drop NAME:SOURCE
                             at the first drop of NAME, rename SOURCE over it
  --lie-after-bytes NAME:N   send N bytes of NAME, then report success (226)
  --announce-size NAME:N     announce N bytes for NAME (SIZE and 150), send it whole
  --endless NAME             send bytes for NAME as fast as possible, never ending
  --drip NAME:N              send NAME's bytes one at a time, N a second, then endless ones
  --stall-after NAME:N       send N bytes of NAME, then nothing more, keeping the connection
  --page NAME:KIND:N         send a generated page for NAME: KIND is tables, lists, divs
                             (N nested), word (N bytes of one word) or links (N links)
A mode's NAME must exist below ROOT (it is listed as it is).
"""

import argparse
import logging
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FileProducer, FTPHandler
from pyftpdlib.servers import FTPServer


def make_page(kind, count):
    """A hostile release-notes page of one kind."""
    if kind == "tables":
        return b"<html><body>" + b"<table><tr><td>" * count + b"deep" + b"</td></tr></table>" * count + b"</body></html>"
    if kind == "lists":
        return b"<html><body>" + b"<ul><li>" * count + b"deep" + b"</li></ul>" * count + b"</body></html>"
    if kind == "divs":
        return b"<html><body>" + b"<div>" * count + b"deep" + b"</div>" * count + b"</body></html>"
    if kind == "word":
        return b"<html><body>" + b"w" * count + b"</body></html>"
    if kind == "links":
        return b"<html><body>" + b"<a href=\"https://example.org/\">x</a> " * count + b"</body></html>"
    raise SystemExit("unknown page kind " + kind)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    for option in ("--drop-after-bytes", "--lie-after-bytes", "--announce-size", "--endless",
                   "--drip", "--stall-after", "--page", "--replace-at-drop"):
        parser.add_argument(option, action="append", default=[])
    args = parser.parse_args()
    root = os.path.realpath(args.root)
    drops, lies, announced = [{name: int(count) for name, _, count in (v.rpartition(":") for v in values)}
                              for values in (args.drop_after_bytes, args.lie_after_bytes, args.announce_size)]

    replacements = dict(v.split(":", 1) for v in args.replace_at_drop)
    endless = {name: 0 for name in args.endless}
    drips = {name: int(count) for name, _, count in (v.rpartition(":") for v in args.drip)}
    stalls = {name: int(count) for name, _, count in (v.rpartition(":") for v in args.stall_after)}
    pages = {}
    for value in args.page:
        name, kind, count = value.rsplit(":", 2)
        pages[name] = make_page(kind, int(count))

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
            source = limit_for(replacements, getattr(self.file_obj, "name", None))
            if drop is not None and source is not None and os.path.exists(source):
                os.replace(source, os.path.realpath(self.file_obj.name))
            if drop is None:
                self.discard_buffers()
                self.transfer_finished = True
                answer = "226 Transfer complete."
            self._resp = (answer, logging.getLogger("ftpserver").info)
            self.close()
            return 0

    class HostileFile(object):
        """What RETR reads instead of a file's bytes."""

        def __init__(self, real, path):
            self.real = real
            self.name = real.name
            self.sent = 0
            self.endless = limit_for(endless, path) is not None
            self.drip = limit_for(drips, path)
            self.stall = limit_for(stalls, path)
            self.page = limit_for(pages, path)

        def hostile(self):
            return self.endless or self.drip is not None or self.stall is not None \
                or self.page is not None

        def read(self, size):
            if self.endless:
                return b"x" * size
            if self.drip is not None:
                time.sleep(1.0 / self.drip)  # the whole server waits: one client per test
                return self.real.read(1) or b"x"
            if self.stall is not None:
                if self.sent >= self.stall:
                    while True:
                        time.sleep(3600)
                chunk = self.real.read(min(size, self.stall - self.sent)) or b"x" * min(size, self.stall - self.sent)
                self.sent += len(chunk)
                return chunk
            chunk = self.page[self.sent:self.sent + size]
            self.sent += len(chunk)
            return chunk

        def seek(self, position):
            self.real.seek(position)

        def close(self):
            self.real.close()

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
            probe = HostileFile(open(file, "rb"), file) if os.path.isfile(file) else None
            if probe is None or not probe.hostile():
                if probe is not None:
                    probe.close()
                return FTPHandler.ftp_RETR(self, file)
            self.push_dtp_data(FileProducer(probe, self._current_type), isproducer=True,
                               file=probe, cmd="RETR")
            return file

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
