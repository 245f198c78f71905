"""zem-run as a process: exit statuses, streams and argument checking."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def run(args, stdin=b""):
    return subprocess.run([ZEM_RUN] + args, input=stdin, capture_output=True, timeout=60)


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "empty.zem")
    with open(script, "w") as f:
        f.write("Zem []\n")
    cases = [
        # (name, args, stdin, status, stderr fragment)
        ("script file", [script], b"", 0, b""),
        ("standard input", ["-"], b"Zem []\n", 0, b""),
        ("missing file", [os.path.join(tmp, "nope.zem")], b"", 254, b"*** "),
        ("no argument", [], b"", 2, b"usage"),
        ("argument not UTF-8", [script, b"\xff\xfe".decode("utf-8", "surrogateescape")], b"", 1,
         b"not valid UTF-8"),
    ]
    for name, args, stdin, status, err in cases:
        r = run(args, stdin)
        check(name, r.returncode == status, f"status {r.returncode}, stderr {r.stderr!r}")
        check(name, err in r.stderr, f"stderr {r.stderr!r}")
        if status == 0:
            check(name, r.stderr == b"", f"stderr {r.stderr!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
