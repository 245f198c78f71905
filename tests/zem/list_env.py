"""list-env under a controlled environment (env -i): every variable comes back as a string key and
value, names differing only in case both survive, a value keeps every "=" after the first, and the
map answers case-sensitive and case-insensitive look-ups as maps do."""
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []

SCRIPT = """Zem []
env: list-env
out: func [values] [foreach v reduce values [write-stdout form v] write-stdout "^/"]
foreach [k v] env [out [k "^-" v]]
out ["length " length? env]
out ["case " select/case env "a"]
out ["key " mold find env "b"]
"""

VARS = [("A", "1"), ("a", "2"), ("B", "x=y"), ("E", ""), ("U", "héllo wörld"), ("PATH_X", "/a:/b")]

with tempfile.NamedTemporaryFile("w", suffix=".zem", delete=False, encoding="utf-8") as f:
    f.write(SCRIPT)
    script = f.name

cmd = ["env", "-i"] + [f"{k}={v}" for k, v in VARS] + [ZEM_RUN, script]
p = subprocess.run(cmd, capture_output=True)
if p.returncode != 0:
    failures.append(f"exit {p.returncode}: {p.stderr.decode(errors='replace')}")
lines = p.stdout.decode("utf-8").split("\n")
got = [tuple(line.split("\t", 1)) for line in lines if "\t" in line]
# The runtime may add variables of its own (named ZEM_...) before the script runs.
got_user = [kv for kv in got if not kv[0].startswith("ZEM_")]
if got_user != VARS:
    failures.append(f"entries: got {got_user}, want {VARS}")
want_len = f"length {len(got)}"
if want_len not in lines:
    failures.append(f"length line missing ({want_len}): {lines}")
if "case 2" not in lines:
    failures.append(f"select/case of \"a\": {lines}")
if 'key "B"' not in lines:
    failures.append(f"find of \"b\": {lines}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
