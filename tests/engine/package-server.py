#!/usr/bin/env python3
"""Package server for the install-run tests, on 127.0.0.1: serves the files
below ROOT like a static server, and injects faults the tests ask for.

A fault is a file ROOT/.faults/<file name> holding one line:
  fail <status> <count>   answer <status> for the next <count> requests
  delay <ms>              wait that long before every answer
  truncate <bytes> <count> serve only the first <bytes> bytes, announced so
  html <count>            answer 200 with an HTML page instead of the file
  stall <count>           accept and send nothing until the client gives up
  drop <count>            announce the whole file, send half, close
  trickle <count>         announce the whole file, send half, then hold the
                          connection silent until the client gives up
  slow <bytes/s> <count>  serve the whole file at about that many bytes a
                          second, in tenths of a second's worth
Every request is appended to ROOT/.requests as "<path>\n". A file answers
with an ETag; a request for "Range: bytes=<n>-" whose If-Range names that
tag gets the rest from byte n as a 206 (the faults apply to that rest),
and is also appended to ROOT/.ranges as "<path> <n>\n".
Usage: package-server.py PORT ROOT PIDFILE
"""
import http.server
import os
import select
import socketserver
import sys
import threading
import time

lock = threading.Lock()
COUNTED = ("fail", "truncate", "html", "stall", "drop", "trickle", "slow")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, content_type="application/octet-stream"):
        self.send_head(status, len(body), content_type)
        self.wfile.write(body)

    def send_head(self, status, length, content_type="application/octet-stream", extra=()):
        self.send_response(status)
        self.send_header("Content-Length", str(length))
        self.send_header("Content-Type", content_type)
        for header in extra:
            self.send_header(*header)
        self.end_headers()

    def file_part(self, root, path, local, body):
        """The status, body and headers of a file's answer: the whole file,
        or the rest a range asks for while If-Range names its tag."""
        stat = os.stat(local)
        tag = '"%x-%x"' % (stat.st_size, stat.st_mtime_ns)
        extra = [("ETag", tag), ("Accept-Ranges", "bytes")]
        asked = self.headers.get("Range", "")
        if asked.startswith("bytes=") and asked.endswith("-") and self.headers.get("If-Range") == tag:
            start = int(asked[len("bytes="):-1])
            if 0 < start < len(body):
                with lock:
                    with open(os.path.join(root, ".ranges"), "a") as f:
                        f.write("%s %d\n" % (path, start))
                extra.append(("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body))))
                return 206, body[start:], extra
        return 200, body, extra

    def do_GET(self):
        root = self.server.root
        path = self.path.split("?")[0]
        name = path.rsplit("/", 1)[-1]
        fault = os.path.join(root, ".faults", name)
        kind = None
        arg = None
        delay = 0
        with lock:
            with open(os.path.join(root, ".requests"), "a") as f:
                f.write(path + "\n")
            if name and os.path.isfile(fault):
                words = open(fault).read().split()
                if words and words[0] == "delay":
                    delay = int(words[1])
                elif words and words[0] in COUNTED and int(words[-1]) > 0:
                    # The count is the last word; it goes down by one per request.
                    kind = words[0]
                    arg = words[1] if len(words) > 2 else None
                    with open(fault, "w") as f:
                        f.write(" ".join(words[:-1] + [str(int(words[-1]) - 1)]) + "\n")
        if delay:
            time.sleep(delay / 1000.0)
        if kind == "fail":
            self.answer(int(arg), b"injected fault\n")
            return
        if kind == "html":
            self.answer(200, b"<!DOCTYPE html><html><body><h1>Maintenance</h1></body></html>\n", "text/html")
            return
        if kind == "stall":
            # Holds the connection without a byte until the client closes it.
            select.select([self.connection], [], [], 120)
            self.close_connection = True
            return
        local = os.path.normpath(os.path.join(root, path.lstrip("/")))
        if not local.startswith(root + os.sep) or not os.path.isfile(local):
            self.answer(404, b"not found\n")
            return
        with open(local, "rb") as f:
            body = f.read()
        if kind == "truncate":
            body = body[:int(arg)]
        status, body, extra = self.file_part(root, path, local, body)
        if kind in ("drop", "trickle"):
            self.send_head(status, len(body), extra=extra)
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            if kind == "trickle":
                select.select([self.connection], [], [], 120)
            self.close_connection = True
            return
        if kind == "slow":
            self.send_slowly(status, body, extra, int(arg))
            return
        self.send_head(status, len(body), extra=extra)
        self.wfile.write(body)

    def send_slowly(self, status, body, extra, rate):
        self.send_head(status, len(body), extra=extra)
        step = max(1, rate // 10)
        start = time.monotonic()
        sent = 0
        try:
            while sent < len(body):
                self.wfile.write(body[sent:sent + step])
                sent = min(len(body), sent + step)
                # Paced by the whole so far, so the rate holds however long
                # each write took.
                wait = start + sent / rate - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
        except OSError:
            # The client gave up.
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port, root, pidfile = int(sys.argv[1]), os.path.realpath(sys.argv[2]), sys.argv[3]
    server = Server(("127.0.0.1", port), Handler)
    server.root = root
    with open(pidfile, "w") as f:
        f.write(str(os.getpid()))
    server.serve_forever()


if __name__ == "__main__":
    main()
