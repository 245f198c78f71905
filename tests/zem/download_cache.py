"""The download cache against a local HTTP server: file names from md5sum, reads through the cache
after the server is gone, /update, a 404 that stores nothing, and a served script run by do-thru."""
import hashlib
import http.server
import os
import subprocess
import sys
import tempfile
import threading

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


class Handler(http.server.BaseHTTPRequestHandler):
    bodies = {"/a.txt": b"first", "/A.txt": b"upper", "/s.zem": b"Zem []\n6 * 7\n",
              "/v.zem": b"[1 2 3]"}

    def do_GET(self):
        body = self.bodies.get(self.path)
        self.send_response(200 if body is not None else 404)
        self.end_headers()
        self.wfile.write(body if body is not None else b"missing")

    def log_message(self, *args):
        pass


with tempfile.TemporaryDirectory() as home:
    env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, "xdg"))
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_port}"

    def zem(body):
        path = os.path.join(home, "t.zem")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Zem []\n" + body + "\n")
        p = subprocess.run([ZEM_RUN, path], cwd=home, env=env, capture_output=True, text=True, timeout=120)
        check("run", p.returncode == 0, p.stderr)
        return p.stdout.splitlines()

    def entry(url):
        h = hashlib.md5(url.encode()).hexdigest().upper()
        return os.path.join(home, ".zem", "cache", h[:2], h)

    out = zem("\n".join([
        f'print path-thru {base}/a.txt',
        f'print read-thru {base}/a.txt',
        f'print read-thru {base}/A.txt',
        f'print exists-thru? {base}/a.txt',
        f'print exists-thru? %t.zem',
        f'print none? load-thru {base}/gone.txt',
        f'print exists-thru? {base}/gone.txt',
        f'print do-thru {base}/s.zem',
        f'probe load-thru {base}/v.zem',
    ]))
    check("first run", out == [entry(f"{base}/a.txt"), "first", "upper", "true", "true", "true", "false",
                               "42", "[1 2 3]"], str(out))
    check("two entries", open(entry(f"{base}/A.txt"), "rb").read() == b"upper")
    check("no 404 entry", not os.path.exists(entry(f"{base}/gone.txt")))

    Handler.bodies["/a.txt"] = b"second"
    out = zem(f'print read-thru {base}/a.txt\nprint read-thru/update {base}/a.txt')
    check("update", out == ["first", "second"], str(out))

    server.shutdown()
    server.server_close()
    out = zem(f'print read-thru {base}/a.txt\nprobe load-thru {base}/v.zem\nprint do-thru {base}/s.zem')
    check("offline", out == ["second", "[1 2 3]", "42"], str(out))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
