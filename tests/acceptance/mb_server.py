#!/usr/bin/env python3
"""A stand-in for MusicBrainz's web service, for the tests.

    mb_server.py DIR

Serves GET /ws/2/discid/<id> from DIR: the answer is DIR/<id>.json when
it exists, else MusicBrainz's own 404 answer.  DIR/mode, read on every
request, turns the server hostile: "slow" (one byte a second), "huge"
(10 MB of JSON), "malformed" (cut-off JSON), "503" (rate limited), "404",
or only late: "late" (the answer after a second and a half), or
"redirect" (every disc ID request is first sent on with a 307).
It stands in for the Cover Art Archive too: GET /release/<mbid>/front
answers, as the archive does, with a 307 to where the picture is kept
(/images/<mbid>), which serves DIR/<mbid>.jpg or .png; no picture is a
404.  Mode "cover-loop" makes the archive redirect to itself for ever.
Each request is logged to DIR/requests as "<path> <User-Agent> <time>".
The port goes to DIR/port once the server listens.
"""
import http.server
import os
import socketserver
import sys
import time

DIR = sys.argv[1]


def mode():
    try:
        with open(os.path.join(DIR, "mode")) as f:
            return f.read().strip()
    except OSError:
        return "ok"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body, ctype="application/json; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        with open(os.path.join(DIR, "requests"), "a") as log:
            log.write("%s %s %.3f\n" % (self.path, self.headers.get("User-Agent", "-").replace(" ", "_"),
                                        time.time()))
        m = mode()
        path = self.path.split("?")[0]
        if path.startswith("/release/") or path.startswith("/images/"):
            return self.cover(path, m)
        if m == "redirect" and "moved=1" not in self.path:
            return self.redirect(self.path + "&moved=1")
        disc_id = path.rsplit("/", 1)[-1]
        answer = os.path.join(DIR, disc_id + ".json")
        if m == "503":
            return self.send(503, b'{"error": "Your requests are exceeding the allowable rate limit."}')
        if m == "404" or not path.startswith("/ws/2/discid/") or not os.path.exists(answer):
            return self.send(404, b'{"error": "Not Found", "help": "For usage, please see: '
                                  b'https://musicbrainz.org/development/mmd"}')
        if m == "huge":
            body = b'{"releases": [' + b'{"title": "x"},' * (10 * 1024 * 1024 // 15) + b'{}]}'
            return self.send(200, body)
        with open(answer, "rb") as f:
            body = f.read()
        if m == "late":
            time.sleep(1.5)
        if m == "malformed":
            return self.send(200, body[: len(body) // 2])
        if m == "slow":
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            try:
                for b in body:
                    self.wfile.write(bytes([b]))
                    self.wfile.flush()
                    time.sleep(1)
            except OSError:
                pass
            return
        self.send(200, body)

    def redirect(self, where):
        self.send_response(307)
        self.send_header("Location", "http://%s:%d%s" % (self.server.server_address + (where,)))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def cover(self, path, m):
        parts = path.split("/")
        if path.startswith("/release/") and len(parts) == 4 and parts[3] == "front":
            if m == "cover-loop":
                return self.redirect(path)
            return self.redirect("/images/" + parts[2])
        for ext, ctype in (("jpg", "image/jpeg"), ("png", "image/png")):
            picture = os.path.join(DIR, "%s.%s" % (parts[-1], ext))
            if path.startswith("/images/") and os.path.exists(picture):
                with open(picture, "rb") as f:
                    return self.send(200, f.read(), ctype)
        self.send(404, b"Not Found", "text/plain")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def server_bind(self):
        # HTTPServer's own asks the resolver for the host's name, which
        # stalls where the resolver does not answer.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def handle_error(self, request, client_address):
        pass  # a client that hangs up on a hostile answer is the point


server = Server(("127.0.0.1", 0), Handler)
with open(os.path.join(DIR, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(DIR, "port.tmp"), os.path.join(DIR, "port"))
server.serve_forever()
