#!/usr/bin/env python3
"""Scripted HTTP server on 127.0.0.1 for the download faults nginx cannot
make. Paths:
  /status/<code>       that status, a short body
  /bytes/<n>           200 with n bytes of the test pattern (byte i is i mod 251)
  /drop/<n>/<m>        promises n bytes, sends m of them, then resets the connection
  /short/<n>/<m>       promises n bytes, sends m of them, then closes normally
  /chunked-short/<m>   chunked body: one chunk of m bytes, then closes without the last chunk
  /hang                accepts and never answers
  /stall/<n>/<m>       promises n bytes, sends m of them, then stays silent
Usage: fault-server.py PORT PIDFILE
"""
import os
import socket
import socketserver
import struct
import sys
import time


def body(n):
    # A period that divides no read size, so a lost or repeated read shows.
    return (bytes(range(251)) * (n // 251 + 1))[:n]


class Handler(socketserver.StreamRequestHandler):
    def read_request(self):
        line = self.rfile.readline(65536).decode("latin-1")
        while True:
            header = self.rfile.readline(65536)
            if header in (b"\r\n", b"\n", b""):
                break
        parts = line.split()
        return parts[1] if len(parts) > 1 else "/"

    def send_head(self, status, length):
        reason = {200: "OK", 401: "Unauthorized", 404: "Not Found", 500: "Internal Server Error"}.get(status, "X")
        self.wfile.write((f"HTTP/1.1 {status} {reason}\r\nContent-Length: {length}\r\n"
                          "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n").encode())

    def handle(self):
        path = self.read_request()
        parts = [p for p in path.split("/") if p]
        kind, args = (parts[0], [int(a) for a in parts[1:]]) if parts else ("", [])
        if kind == "status":
            text = b"status page\n"
            self.send_head(args[0], len(text))
            self.wfile.write(text)
        elif kind == "bytes":
            self.send_head(200, args[0])
            self.wfile.write(body(args[0]))
        elif kind in ("drop", "short", "stall"):
            self.send_head(200, args[0])
            self.wfile.write(body(args[0])[: args[1]])
            self.wfile.flush()
            if kind == "drop":
                # The client must have read the head first: a reset throws
                # away what the peer has received but not yet read, and the
                # download would then fail while opening, not in the body.
                time.sleep(0.5)
                # A reset, not an orderly close: with linger 0 the close
                # sends RST, and closing here keeps the server from sending
                # its FIN first.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.connection.close()
            elif kind == "stall":
                time.sleep(120)
        elif kind == "chunked-short":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
            self.wfile.write(b"%x\r\n" % args[0] + body(args[0]) + b"\r\n")
        elif kind == "hang":
            time.sleep(120)
        else:
            self.send_head(404, 0)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port, pidfile = int(sys.argv[1]), sys.argv[2]
    server = Server(("127.0.0.1", port), Handler)
    with open(pidfile, "w") as f:
        f.write(str(os.getpid()))
    server.serve_forever()


if __name__ == "__main__":
    main()
