"""read and write of http url! values against a python3 server on 127.0.0.1 (a free port) started
and stopped here: what is sent (method, headers in order, body bytes) is checked from the server's
log, what comes back by a table run with `zem-run --check`: default headers, HEAD without a body,
POST of bytes and of non-ASCII text, custom methods and headers, the info block with a repeated
header as a block and a header without a blank after the colon, redirects keeping the final
headers only, 404 bodies, and no-connect for a refused connection and a server that never answers."""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

ZEM_RUN = sys.argv[1]
failures = []
log = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self):
        n = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(n) if n else b""
        log.append((self.command, self.path, list(self.headers.items()), body))
        return body

    def answer(self, status, body, extra=()):
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        body = self.record()
        if self.path == "/hang":
            time.sleep(8)
            return
        if self.path == "/redirect":
            return self.answer(302, b"", [("Location", "/final"), ("X-First", "1")])
        if self.path == "/final":
            return self.answer(200, b"final", [("X-Final", "yes")])
        if self.path == "/missing":
            return self.answer(404, b"nope")
        if self.path == "/lines":
            return self.answer(200, b"a\r\nb\n\xc3\xa9")
        self.send_response(200)
        self.send_header("Set-Cookie", "a=1")
        self.send_header("Set-Cookie", "b=2")
        self.send_header("Content-Length", str(len(body)))
        self._headers_buffer.append(b"X-Tight:tight\r\n")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    do_GET = do_POST = do_PUT = do_HEAD = handle_any


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
port = server.server_address[1]
threading.Thread(target=server.serve_forever, daemon=True).start()
closed = socket.socket()
closed.bind(("127.0.0.1", 0))
closed_port = closed.getsockname()[1]  # bound, never listening: connections are refused

H = f"http://127.0.0.1:{port}"
table = f"""
read {H}/final ;== "final"
read/binary {H}/lines ;== #{{610D0A620AC3A9}}
read/lines {H}/lines ;== ["a" "b" "é"]
read {H}/echo ;== ""
r: read/info {H}/echo
r/1 ;== 200
r/2/Set-Cookie ;== ["a=1" "b=2"]
r/2/X-Tight ;== "tight"
r/3 ;== ""
r: read/info {H}/redirect
r/1 ;== 200
r/3 ;== "final"
r/2/X-Final ;== "yes"
select r/2 'X-First ;== none
r: read/info {H}/missing
r/1 ;== 404
r/3 ;== "nope"
r: write/info {H}/echo [head]
r/1 ;== 200
r/3 ;== ""
write {H}/echo #{{00FF0A0D}} ;** access invalid-utf8
write/binary {H}/echo #{{00FF0A0D}} ;== #{{00FF0A0D}}
write {H}/echo "h^(E9)^(20AC)" ;== "hé€"
write {H}/echo [put [X-One: "1" Two 2 "x-three" 3.5] "data"] ;== "data"
write {H}/echo [get [] "ignored"] ;== ""
read/part {H}/final 1 ;** internal not-done
read http://127.0.0.1:{closed_port}/ ;** access no-connect
read {H}/hang ;** access no-connect
"""
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "http.zem")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + table)
    env = dict(os.environ, ZEM_HTTP_TEST_TIMEOUT="2")
    r = subprocess.run([ZEM_RUN, "--check", path], capture_output=True, timeout=120, env=env,
                       stdin=subprocess.DEVNULL)
    check("table", r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace"))
server.shutdown()
closed.close()

defaults = [("Content-Type", "application/x-www-form-urlencoded"), ("Accept-Charset", "UTF-8"),
            ("User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)")]


def sent(method, path, nth=0):
    found = [e for e in log if e[0] == method and e[1] == path]
    return found[nth] if len(found) > nth else None


def ours(headers):
    return [(k, v) for k, v in headers if k not in ("Host", "Accept", "Content-Length")]


g = sent("GET", "/echo")
check("plain read", g is not None and ours(g[2]) == defaults and g[3] == b"", g)
h = sent("HEAD", "/echo")
check("head", h is not None and h[3] == b"" and not any(k == "Content-Length" for k, _ in h[2]), h)
p = sent("POST", "/echo")
check("post binary", p is not None and p[3] == b"\x00\xff\x0a\x0d" and ours(p[2]) == defaults, p)
p = sent("POST", "/echo", 2)
check("post text", p is not None and p[3] == "h\u00e9\u20ac".encode(), p)
u = sent("PUT", "/echo")
check("put with headers", u is not None and u[3] == b"data"
      and ours(u[2]) == [("X-One", "1"), ("Two", "2"), ("x-three", "3.5")], u)
g2 = sent("GET", "/echo", 2)
check("get sends no body, only the headers given", g2 is not None and g2[3] == b"" and ours(g2[2]) == [], g2)
check("redirect followed", sent("GET", "/final", 1) is not None, log)

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
