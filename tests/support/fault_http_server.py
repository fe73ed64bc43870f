#!/usr/bin/env python3
"""A small HTTP server that misbehaves on purpose, for client tests (standard library only).

The request path picks the answer:
  /chunked               chunked body with chunk extensions and trailers
  /cut/N                 the first N bytes of CANONICAL, then an orderly close
  /whole                 CANONICAL in full
  /trickle               a chunked answer with trailers, one byte per send
  /close-delimited       a body without length or chunking, ended by closing
  /big-header            a header block over 64 KiB, never ended
  /long-cookie           a complete header block over 8 KiB (a long Set-Cookie), then "ok"
  /no-space              a header line without the space after the colon
  /redirect-https        a redirect to another scheme
  /redirect-relative/X   a redirect with "Location: X" (the rest of the path, verbatim)
  /echo                  200 with the request head as body (lets tests see what was sent)
Anything else is a 404 with a short body.

Usage: fault_http_server.py --port-file FILE   (binds 127.0.0.1 on a free port, writes it)
"""
import argparse
import os
import socket
import socketserver
import time

CANONICAL = (b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nX-Test: fault\r\n\r\n"
             b"0123456789")

CHUNKED = (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nServer: fault\r\n\r\n"
           b"4;a=\"b\"\r\nwxyz\r\n"
           b"5; flag ; k = v\r\n12345\r\n"
           b"0\r\nX-Trailer: yes\r\nX-Sum: 9\r\n\r\n")


def answer(status, body, extra=b""):
    return (b"HTTP/1.1 " + status + b"\r\nContent-Length: " + str(len(body)).encode() +
            b"\r\n" + extra + b"\r\n" + body)


class Handler(socketserver.BaseRequestHandler):
    def read_head(self):
        data = b""
        self.request.settimeout(30)
        while b"\r\n\r\n" not in data:
            part = self.request.recv(4096)
            if not part:
                return None
            data += part
        return data

    def finish_close(self):
        # Orderly close after everything the client sent was read (no reset).
        try:
            self.request.shutdown(socket.SHUT_WR)
            self.request.settimeout(5)
            while self.request.recv(4096):
                pass
        except OSError:
            pass

    def handle(self):
        head = self.read_head()
        if head is None:
            return
        line = head.split(b"\r\n", 1)[0].decode("latin-1")
        parts = line.split(" ")
        path = parts[1] if len(parts) > 1 else "/"
        route = path.split("?", 1)[0]
        s = self.request
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if route == "/chunked":
            s.sendall(CHUNKED)
        elif route.startswith("/cut/"):
            s.sendall(CANONICAL[:int(route[5:])])
        elif route == "/whole":
            s.sendall(CANONICAL)
        elif route == "/trickle":
            for i in range(len(CHUNKED)):
                s.sendall(CHUNKED[i:i + 1])
                time.sleep(0.002)
        elif route == "/close-delimited":
            s.sendall(b"HTTP/1.1 200 OK\r\nServer: fault\r\n\r\nuntil the end")
        elif route == "/big-header":
            s.sendall(b"HTTP/1.1 200 OK\r\nX-Big: " + b"b" * 70000 + b"\r\n\r\n")
        elif route == "/long-cookie":
            s.sendall(b"HTTP/1.1 200 OK\r\nSet-Cookie: sid=" + b"c" * 20000 +
                      b"\r\nContent-Length: 2\r\n\r\nok")
        elif route == "/no-space":
            s.sendall(b"HTTP/1.1 200 OK\r\nContent-Length:2\r\n\r\nok")
        elif route == "/redirect-https":
            s.sendall(answer(b"302 Found", b"", b"Location: https://127.0.0.1/x\r\n"))
        elif path.startswith("/redirect-relative/"):
            target = path[len("/redirect-relative/"):].encode()
            s.sendall(answer(b"302 Found", b"", b"Location: " + target + b"\r\n"))
        elif route == "/echo":
            s.sendall(answer(b"200 OK", head))
        else:
            s.sendall(answer(b"404 Not Found", b"no such thing: " + path.encode()))
        self.finish_close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    args = ap.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    tmp = args.port_file + ".part"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
