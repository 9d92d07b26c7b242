#!/usr/bin/env python3
"""A small HTTP server for the alert tests.

Usage: alert_server.py PORT LOG MODE_FILE

Records every request (POST, or GET as heartbeat monitors send it) as one
JSON line in LOG (method, path, headers, body, the status it answered).
How it answers is read from MODE_FILE at each request: a status such as
"200", "500", "401", "301" (with a Location) or "silent" (accept, never
answer).
"""
import json
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PORT, LOG, MODE_FILE = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def mode():
    try:
        with open(MODE_FILE) as f:
            return f.read().strip() or "200"
    except OSError:
        return "200"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        # Healthchecks and Uptime Kuma take a ping as a plain GET.
        self.do_POST(method="GET")

    def do_POST(self, method="POST"):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        m = mode()
        status = 0 if m == "silent" else int(m)
        location = {"Location": "/elsewhere"} if status in (301, 302, 307, 308) else {}
        with open(LOG, "a") as f:
            f.write(json.dumps({"method": method, "path": self.path,
                                "headers": dict(self.headers.items()),
                                "body": body, "status": status}) + "\n")
        if m == "silent":
            time.sleep(120)
            return
        answer = json.dumps({"id": "test", "status": status}).encode()
        self.send_response(status)
        for key, value in location.items():
            self.send_header(key, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


Server(("127.0.0.1", PORT), Handler).serve_forever()
