"""Routines over the process run by zem-run in a temporary directory: the current directory, making
directories, existence, and standard output written around print."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []

SCRIPT = """Zem []
print get-current-dir
print form system/options/path
create-dir to file! "made"
print exists? to file! "made"
print exists? to file! "missing"
prin "a"
write-stdout "b^/c"
print "d"
write-stdout [1 "x"]
print ""
append system/options/path "made/"
print get-current-dir
system/options/path: to file! %..
print get-current-dir
"""

with tempfile.TemporaryDirectory() as tmp:
    tmp = os.path.realpath(tmp)
    script = os.path.join(tmp, "routines.zem")
    with open(script, "w") as f:
        f.write(SCRIPT)
    r = subprocess.run([ZEM_RUN, script], capture_output=True, timeout=60, cwd=tmp)
    want = (f"{tmp}/\n{tmp}/\ntrue\nfalse\nab\ncd\n[1 \"x\"]\n{tmp}/made/\n{tmp}/\n").encode()
    if r.returncode != 0 or r.stdout != want:
        failures.append(f"status {r.returncode}\nstdout {r.stdout!r}\nwant   {want!r}\nstderr {r.stderr!r}")
    if not os.path.isdir(os.path.join(tmp, "made")):
        failures.append("create-dir made nothing")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
