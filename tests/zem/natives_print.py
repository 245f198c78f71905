"""print and prin through zem-run: what reaches stdout, and how a script ends (status, stderr)."""
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []

cases = [
    # (name, script body, stdout, status, stderr fragment)
    ("print and prin", 'print 1\nprin "a" prin "b" print ""\n', b"1\nab\n", 0, b""),
    ("a block is reduced and formed", "print [1 equal? 1 1]\nx: [2 3] print x\n",
     b"1 true\n2 3\n", 0, b""),
    ("an inner print comes first", "print [1 print 2 3]\nprint []\n", b"2\n1  3\n\n", 0, b""),
    ("UTF-8 text", 'print "é"\n', "é\n".encode(), 0, b""),
    ("output before an error stays", "print 1\ncompose 1\nprint 2\n", b"1\n", 254,
     b"*** Script Error"),
    ("break outside a loop", "break\n", b"", 254, b"*** Throw Error"),
    ("throw without catch", "throw 1\n", b"", 254, b"*** Throw Error"),
    ("syntax error", "print [1\n", b"", 254, b"*** Syntax Error"),
    ("a traced error no try stops: the tracer sees it and the end of the run",
     "do/trace [1 / 0] func [e c o v r f] [[error end] print e]\n", b"error\nend\n", 254,
     b"*** Math Error"),
]
for name, body, out, status, err in cases:
    r = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\n" + body.encode(), capture_output=True,
                       timeout=60)
    if r.stdout != out:
        failures.append(f"{name}: stdout {r.stdout!r}, expected {out!r}")
    if r.returncode != status:
        failures.append(f"{name}: status {r.returncode}, stderr {r.stderr!r}")
    if err not in r.stderr or (not err and r.stderr):
        failures.append(f"{name}: stderr {r.stderr!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
