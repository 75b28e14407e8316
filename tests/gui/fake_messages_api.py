#!/usr/bin/env python3
"""A fake Anthropic Messages API for the summary tests.

Listens on 127.0.0.1 on a free port and prints the port on the first line of
standard output. POST /v1/messages is checked like the real service checks
it (the method, the path, the x-api-key, anthropic-version and content-type
headers, a JSON body with model, max_tokens and messages); a request that
fails a check gets 400 with what was wrong. Otherwise the key and the model
choose the answer:
  key "refused-key"          401 authentication_error
  model "busy-model"         429 rate_limit_error, with a retry-after header
  model "overloaded-model"   529 overloaded_error
  model "unknown-model"      404 not_found_error naming the model
  model "broken-model"       200 with a body that is not JSON
  model "silent-model"       200 with no text in the content
  any other model            200 with a summary naming the article's title
GET /requests answers the requests received so far (method, path, headers, body).
"""
import json
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

received = []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def answer(self, status, body, headers=()):
        data = body if isinstance(body, bytes) else json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, kind, message, headers=()):
        self.answer(status, {"type": "error", "error": {"type": kind, "message": message}}, headers)

    def do_GET(self):
        if self.path == "/requests":
            self.answer(200, received)
        else:
            self.error(404, "not_found_error", "no such route")

    def do_POST(self):
        raw = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        received.append({"method": self.command, "path": self.path,
                         "headers": {k.lower(): v for k, v in self.headers.items()},
                         "body": raw.decode("utf-8", "replace")})
        if self.path != "/v1/messages":
            return self.error(404, "not_found_error", "only /v1/messages is served")
        if not self.headers.get("x-api-key"):
            return self.error(401, "authentication_error", "x-api-key header is required")
        if self.headers.get("anthropic-version") != "2023-06-01":
            return self.error(400, "invalid_request_error", "anthropic-version must be 2023-06-01")
        if not (self.headers.get("content-type") or "").startswith("application/json"):
            return self.error(400, "invalid_request_error", "content-type must be application/json")
        try:
            body = json.loads(raw)
        except ValueError:
            return self.error(400, "invalid_request_error", "the body is not JSON")
        model, tokens, messages = body.get("model"), body.get("max_tokens"), body.get("messages")
        if not isinstance(model, str) or not model:
            return self.error(400, "invalid_request_error", "model: field required")
        if not isinstance(tokens, int) or isinstance(tokens, bool) or tokens < 1:
            return self.error(400, "invalid_request_error", "max_tokens: must be a positive integer")
        if (not isinstance(messages, list) or not messages or not isinstance(messages[0], dict)
                or messages[0].get("role") != "user" or not isinstance(messages[0].get("content"), str)):
            return self.error(400, "invalid_request_error", "messages: a user message is required")

        if self.headers.get("x-api-key") == "refused-key":
            return self.error(401, "authentication_error", "invalid x-api-key")
        if model == "busy-model":
            return self.error(429, "rate_limit_error", "Number of requests has exceeded your rate limit",
                              [("retry-after", "17")])
        if model == "overloaded-model":
            return self.error(529, "overloaded_error", "Overloaded")
        if model == "unknown-model":
            return self.error(404, "not_found_error", "model: unknown-model")
        if model == "broken-model":
            return self.answer(200, b"{\"content\": [unfinished")
        content = [] if model == "silent-model" else [
            {"type": "text", "text": "Summary of " + self.title(messages[0]["content"]) + "."}]
        self.answer(200, {"id": "msg_fake", "type": "message", "role": "assistant", "model": model,
                          "content": content, "stop_reason": "end_turn",
                          "usage": {"input_tokens": 10, "output_tokens": 5}})

    @staticmethod
    def title(prompt):
        for line in prompt.splitlines():
            if line.startswith("Title: "):
                return line[len("Title: "):]
        return "an untitled article"


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
