#!/usr/bin/env python3
"""Package server for the install-run tests, on 127.0.0.1: serves the files
below ROOT like a static server, and injects faults the tests ask for.

A fault is a file ROOT/.faults/<file name> holding one line:
  fail <status> <count>   answer <status> for the next <count> requests
  delay <ms>              wait that long before every answer
Every request is appended to ROOT/.requests as "<path>\n".
Usage: package-server.py PORT ROOT PIDFILE
"""
import http.server
import os
import socketserver
import sys
import threading
import time

lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        root = self.server.root
        path = self.path.split("?")[0]
        name = path.rsplit("/", 1)[-1]
        fault = os.path.join(root, ".faults", name)
        status = None
        delay = 0
        with lock:
            with open(os.path.join(root, ".requests"), "a") as f:
                f.write(path + "\n")
            if name and os.path.isfile(fault):
                words = open(fault).read().split()
                if words and words[0] == "fail" and int(words[2]) > 0:
                    status = int(words[1])
                    with open(fault, "w") as f:
                        f.write("fail %s %d\n" % (words[1], int(words[2]) - 1))
                elif words and words[0] == "delay":
                    delay = int(words[1])
        if delay:
            time.sleep(delay / 1000.0)
        if status:
            self.answer(status, b"injected fault\n")
            return
        local = os.path.normpath(os.path.join(root, path.lstrip("/")))
        if not local.startswith(root + os.sep) or not os.path.isfile(local):
            self.answer(404, b"not found\n")
            return
        with open(local, "rb") as f:
            self.answer(200, f.read())


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
