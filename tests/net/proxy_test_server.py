#!/usr/bin/env python3
"""HTTP server for the proxy tests and benchmark.

Listens on 127.0.0.1 on a free port and prints the port on the first line of
standard output. Routes:
  /echo                      200, JSON: method, path, headers (in order), body (text), body_hex
  /respond?status=N&body=B   status N with the body B (percent-encoded bytes)
  /redirect?to=URL&code=N    redirect (default 302) to URL
  /loop                      redirects to itself
  /hang                      reads the request and never answers
  /close-early               promises 100 bytes, sends 10, closes
  /drop                      closes without an answer
"""
import json
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote_to_bytes, urlsplit


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def log_message(self, format, *args):
        pass

    def send_body(self, status, body, content_type="application/json", extra=()):
        self.send_response(status)
        if status not in (204, 304):
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if status not in (204, 304) and self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query, keep_blank_values=True).items()}
        route = url.path

        if route == "/echo":
            answer = {
                "method": self.command,
                "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()],
                "body": body.decode("utf-8", "replace"),
                "body_hex": body.hex(),
            }
            self.send_body(int(query.get("status", 200)), json.dumps(answer).encode())
        elif route == "/respond":
            raw = dict(p.partition("=")[::2] for p in url.query.split("&") if p)
            self.send_body(int(query.get("status", 200)), unquote_to_bytes(raw.get("body", "")),
                           query.get("type", "application/json"))
        elif route == "/redirect":
            self.send_body(int(query.get("code", 302)), b"", "text/plain", [("Location", query["to"])])
        elif route == "/loop":
            self.send_body(302, b"", "text/plain", [("Location", "/loop")])
        elif route == "/hang":
            while True:
                time.sleep(3600)
        elif route == "/close-early":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n0123456789")
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif route == "/drop":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        else:
            self.send_body(404, b'{"error":"no such route"}')

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = do_OPTIONS = handle_any


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 256


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
