"""load of http url! values against `python3 -m http.server` on 127.0.0.1 (a free port, started and
stopped here) serving fixture files, plus a small handler of its own for replies a file server does
not give (404, 500, a Content-Type with parameters, an unknown type): the codec is picked by the
reply's MIME type, a type no codec claims is scanned as text, a status other than 200 gives none."""
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ZEM_RUN = sys.argv[1]
IMAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "images")
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def read_file(name):
    with open(os.path.join(IMAGES, name), "rb") as f:
        return f.read()


GIF = read_file("gif_plain.gif")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        status, ctype, body = {
            "/missing": (404, "text/plain", b"1 2 3"),
            "/broken": (500, "text/plain", b"1 2 3"),
            "/pic": (200, "image/gif; charset=binary", GIF),
            "/untyped": (200, None, b"a [b]"),
            "/crlf": (200, "text/plain", b"a: 1\r\nb: {x\r\ny}\r\n"),
            "/lower": (200, "IMAGE/PNG", read_file("png_rgb.png")),
        }.get(self.path, (404, "text/plain", b""))
        self.send_response(status)
        if ctype:
            self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


own = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
own.daemon_threads = True
threading.Thread(target=own.serve_forever, daemon=True).start()
O = f"http://127.0.0.1:{own.server_address[1]}"

with tempfile.TemporaryDirectory() as tmp:
    www = os.path.join(tmp, "www")
    os.makedirs(www)
    with open(f"{www}/data.txt", "wb") as f:
        f.write(b'1 "two" [3 4.5] word\n')
    with open(f"{www}/data.json", "wb") as f:
        f.write(b'{"a": [1, 2]}')
    with open(f"{www}/rows.csv", "wb") as f:
        f.write(b'a,b\r\n"c,d",e\r\n')
    shutil.copy(os.path.join(IMAGES, "png_rgb.png"), f"{www}/pic.png")
    shutil.copy(os.path.join(IMAGES, "png_rgb.png"), f"{www}/pic.bin")
    with open(f"{www}/data.zembin", "wb") as f:  # [1 "ab"], compact
        f.write(b"ZEMBIN\x02\x01\x01\x07\x05\x02\x81\x07\x08ab")
    shutil.copy(os.path.join(IMAGES, "png_rgb.png"), f"{tmp}/pic.png")
    port = free_port()
    server = subprocess.Popen([sys.executable, "-m", "http.server", "--bind", "127.0.0.1", "--directory", www,
                               str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        H = f"http://127.0.0.1:{port}"
        table = f"""
load {H}/data.txt ;== [1 "two" [3 4.5] word]
load/all {H}/data.txt ;== [1 "two" [3 4.5] word]
load/next {H}/data.txt 'rest ;== 1
; image/png picks the png codec
i: load {H}/pic.png reduce [type? i i = load %pic.png] ;== [image! true]
; application/json picks the json codec
mold/flat load {H}/data.json ;== "#[a: [1 2]]"
; text/csv picks the csv codec
load {H}/rows.csv ;== [["a" "b"] ["c,d" "e"]]
; the type, not the name, decides: octet-stream bytes are scanned as text
load {H}/pic.bin ;** syntax bad-char
; by name, the bytes read go to the codec
i: load/as {H}/pic.bin 'png i = load %pic.png ;== true
load/as {H}/data.txt none ;== [1 "two" [3 4.5] word]
; the zembin codec reads a url itself
system/codecs/zembin/decode {H}/data.zembin ;== [1 "ab"]
load/as {H}/data.zembin 'zembin ;== [1 "ab"]
system/codecs/zembin/decode http://127.0.0.1:{free_port()}/x.zembin ;** access no-connect
load {H}/nothing-here.txt ;== none
load {O}/missing ;== none
load {O}/broken ;== none
i: load {O}/pic i/size ;== 7x5
load {O}/untyped ;== [a [b]]
equal? load {O}/crlf [a: 1 b: "x^/y"] ;== true
i: load {O}/lower i/size ;== 7x5
load http://127.0.0.1:{free_port()}/x.txt ;** access no-connect
"""
        path = os.path.join(tmp, "url.zem")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Zem []\n" + table)
        env = dict(os.environ, ZEM_HTTP_TEST_TIMEOUT="2")
        r = subprocess.run([ZEM_RUN, "--check", path], cwd=tmp, capture_output=True, timeout=120, env=env,
                           stdin=subprocess.DEVNULL)
        check("table", r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace"))
    finally:
        server.terminate()
        server.wait(timeout=10)
own.shutdown()

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
