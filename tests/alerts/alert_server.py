#!/usr/bin/env python3
"""A small HTTP server for the alert tests.

Usage: alert_server.py PORT LOG MODE_FILE

Records every request (POST, PUT, or GET as heartbeat monitors send it) as
one JSON line in LOG (method, path, headers, body, its size, whether it is a
JPEG or an Ogg clip, the status and the answer it gave).
How it answers is read from MODE_FILE at each request: a status such as
"200", "500", "401", "301" (with a Location), "429:SECONDS" (with that
Retry-After), "429json:BODY" (429 with that body, as Telegram and Matrix tell
their wait), "silent" (accept, never answer), "trickle" (answer 200, then
one byte of the body every second), "endless" (answer 200 with a chunked
body that never ends), "slow:MS" (answer 200 after MS ms) or "kind:NAME"
(answer as that service would: see receivers.py).
"""
import json
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import receivers

PORT, LOG, MODE_FILE = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def mode():
    try:
        with open(MODE_FILE) as f:
            return f.read().strip() or "200"
    except OSError:
        return "200"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        raw = self.rfile.read(length)
        body = raw.decode("utf-8", "replace")
        m = mode()
        headers = {}
        if m.startswith("kind:"):
            status, answer = receivers.answer(m[5:], self.command, self.path,
                                              dict(self.headers.items()), body, raw)
        elif m.startswith("slow:"):
            status, answer = 200, None
        elif m.startswith("429json:"):
            status, answer = 429, m[8:]
        else:
            status = 0 if m in ("silent", "trickle", "endless") else int(m.split(":")[0])
            answer = {"id": "test", "status": status}
        if status in (301, 302, 307, 308):
            headers["Location"] = "/elsewhere"
        if m.startswith("429:"):
            headers["Retry-After"] = m[4:]
        with open(LOG, "a") as f:
            f.write(json.dumps({"method": self.command, "path": self.path,
                                "headers": dict(self.headers.items()),
                                "body": body, "size": len(raw), "jpeg": receivers.is_jpeg(raw),
                                "ogg": receivers.is_ogg(raw),
                                "status": status, "answer": answer,
                                "time": time.time()}) + "\n")
        if m == "silent":
            time.sleep(120)
            return
        if m.startswith("slow:"):
            time.sleep(int(m[5:]) / 1000)
        if m == "trickle":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            for _ in range(100):
                self.wfile.write(b"x")
                self.wfile.flush()
                time.sleep(1)
            return
        if m == "endless":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"x" * 65536
            try:
                while True:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
            except OSError:  # the client gave up
                return
        data = b"" if answer is None else (
            answer if isinstance(answer, str) else json.dumps(answer)).encode()
        self.send_response(status)
        for key, value in headers.items():
            self.send_header(key, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    do_PUT = do_POST
    do_GET = do_POST  # Healthchecks and Uptime Kuma take a ping as a plain GET

    def log_message(self, *args):
        pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", PORT), Handler)
# The port is this server's: the test talks to no other test's server.
print("listening", flush=True)
server.serve_forever()
