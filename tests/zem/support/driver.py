"""What the process-driving tests share: failures gathered by check, a script run through zem-run,
and the exit status that reports them."""
import os
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def run_zem(script, tmp):
    """Runs the script (a header is put before it) in tmp; its standard output as text."""
    path = os.path.join(tmp, "t.zem")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + script)
    r = subprocess.run([ZEM_RUN, path], cwd=tmp, capture_output=True, timeout=300, stdin=subprocess.DEVNULL)
    check("script", r.returncode == 0, r.stderr.decode(errors="replace"))
    return r.stdout.decode("utf-8")


def finish():
    for f in failures:
        print("FAIL", f)
    sys.exit(1 if failures else 0)
