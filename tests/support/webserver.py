#!/usr/bin/python3
"""Loopback HTTP(S) server with misbehaving modes: webserver.py ROOT [options]

Serves the files below ROOT over HTTP/1.1 on a free port of 127.0.0.1,
printed as the first line on stdout; ends when stdin closes. Files carry an
ETag and a Last-Modified date; a request that names either validator of the
current file gets 304 without a body; "Range: bytes=N-[M]" gets 206.
NAME is a file's path below ROOT or its bare name; options may repeat.
  --certificate PEM         HTTPS with the key and certificate in PEM
  --log FILE                one line per answer: "STATUS BODYBYTES PATH"
  --page NAME:STATUS        an HTML error page with STATUS (200, 500...) for NAME
  --redirect NAME:URL       302 to URL ("{port}" is this server's port)
  --missing NAME            404 for NAME, though it exists
  --length NAME:DELTA       announce size+DELTA bytes, send the file, close
  --gzip NAME               "Content-Encoding: gzip" on NAME's plain bytes
  --whole NAME              Range ignored for NAME: always 200 and the whole file
  --stall NAME:N            announce NAME whole, send N bytes of it, then nothing
                            more, keeping the connection
  --long-header NAME:N      answer NAME with a header line of N bytes
  --no-validators NAME      neither ETag nor Last-Modified for NAME
  --wrong-range NAME        each part of NAME one byte later than asked, named so
  --single-range NAME       several ranges for NAME get 200 and the whole file
Several ranges in one request get multipart/byteranges.
"""

import argparse
import email.utils
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--certificate")
    parser.add_argument("--log")
    for option in ("--page", "--redirect", "--missing", "--length", "--gzip", "--whole", "--stall",
                   "--long-header", "--no-validators", "--wrong-range", "--single-range"):
        parser.add_argument(option, action="append", default=[])
    args = parser.parse_args()
    root = os.path.realpath(args.root)
    pages = dict(v.rsplit(":", 1) for v in args.page)
    redirects = dict(v.split(":", 1) for v in args.redirect)
    lengths = {name: int(delta) for name, _, delta in (v.rpartition(":") for v in args.length)}
    stalls = {name: int(count) for name, _, count in (v.rpartition(":") for v in args.stall)}
    paddings = {name: int(count) for name, _, count in (v.rpartition(":") for v in args.long_header)}
    log_lock = threading.Lock()

    def mode(table, relative):
        for key in (relative, os.path.basename(relative)):
            if key in table:
                return table[key]
        return None

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *_):
            pass

        def answer(self, status, body=b"", headers=(), close=False):
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            if not any(name == "Content-Length" for name, _ in headers):
                self.send_header("Content-Length", str(len(body)))
            if close:
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            sent = 0
            if self.command != "HEAD" and body:
                self.wfile.write(body)
                sent = len(body)
            if args.log:
                with log_lock, open(args.log, "a") as log:
                    log.write("%d %d %s\n" % (status, sent, self.path))

        def do_HEAD(self):
            self.do_GET()

        def do_GET(self):
            relative = self.path.split("?", 1)[0].lstrip("/")
            path = os.path.realpath(os.path.join(root, relative))
            if not path.startswith(root + os.sep) or not os.path.isfile(path):
                return self.answer(404, b"<html><body>404 Not Found</body></html>",
                                   [("Content-Type", "text/html")])
            page = mode(pages, relative)
            if page is not None:
                return self.answer(int(page), b"<html><body><h1>Service unavailable</h1></body></html>",
                                   [("Content-Type", "text/html")])
            target = mode(redirects, relative)
            if target is not None:
                return self.answer(302, headers=[("Location", target.replace("{port}", str(port)))])
            if relative in args.missing or os.path.basename(relative) in args.missing:
                return self.answer(404, b"<html><body>404 Not Found</body></html>",
                                   [("Content-Type", "text/html")])
            with open(path, "rb") as f:
                data = f.read()
            info = os.stat(path)
            etag = '"%x-%x"' % (int(info.st_mtime), info.st_size)
            modified = email.utils.formatdate(info.st_mtime, usegmt=True)
            validators = [("ETag", etag), ("Last-Modified", modified)]
            if mode({name: True for name in args.no_validators}, relative):
                validators = []
            padding = mode(paddings, relative)
            if padding is not None:
                validators.append(("X-Padding", "p" * padding))
            asked = self.headers.get("If-None-Match")
            since = self.headers.get("If-Modified-Since")
            if (asked is not None and etag in [t.strip() for t in asked.split(",")]) or \
                    (asked is None and since is not None and since == modified):
                return self.answer(304, headers=validators + [("Content-Length", "0")])
            stall = mode(stalls, relative)
            if stall is not None and self.command == "GET":
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data[:stall])
                self.wfile.flush()
                while True:  # until the server ends
                    time.sleep(60)
            delta = mode(lengths, relative)
            if delta is not None:
                return self.answer(200, data, [("Content-Length", str(len(data) + delta))], close=True)
            if mode({name: True for name in args.gzip}, relative):
                return self.answer(200, data, [("Content-Encoding", "gzip")] + validators)
            wanted = "" if mode({name: True for name in args.whole}, relative) else self.headers.get("Range", "")
            spans = []
            for asked_range in wanted[6:].split(",") if wanted.startswith("bytes=") else []:
                first, _, last = asked_range.strip().partition("-")
                if not first.isdigit() or int(first) >= len(data):
                    spans = []
                    break
                end = min(int(last), len(data) - 1) if last.isdigit() else len(data) - 1
                spans.append((int(first), end))
            if len(spans) > 1 and mode({name: True for name in args.single_range}, relative):
                spans = []
            if mode({name: True for name in args.wrong_range}, relative):
                spans = [(first + 1, min(end + 1, len(data) - 1)) for first, end in spans]
            if len(spans) == 1:
                first, end = spans[0]
                return self.answer(206, data[first:end + 1], validators + [
                    ("Content-Range", "bytes %d-%d/%d" % (first, end, len(data)))])
            if spans:
                boundary = "00000000000000000042"
                body = b"".join(b"\r\n--%s\r\nContent-Type: application/octet-stream\r\n"
                                b"Content-Range: bytes %d-%d/%d\r\n\r\n" % (
                                    boundary.encode(), first, end, len(data)) + data[first:end + 1]
                                for first, end in spans) + b"\r\n--%s--\r\n" % boundary.encode()
                return self.answer(206, body, validators + [
                    ("Content-Type", "multipart/byteranges; boundary=" + boundary)])
            self.answer(200, data, validators)

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.certificate:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.certificate)
        context.set_alpn_protocols(["http/1.1"])
        # The handshake happens on the answering thread, not in accept().
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    print(port)
    sys.stdout.flush()
    if not sys.stdin.isatty():
        threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)), daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
