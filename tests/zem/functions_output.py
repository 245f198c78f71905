"""?? and probe through zem-run: what they print, and what they return."""
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []

cases = [
    # (name, script body, stdout)
    ("?? of a word", "x: [1 \"a\"]\n?? x\n", b'x: [1 "a"]\n'),
    ("?? of a word without a value", "?? no-such-word-here\n", b"no-such-word-here: unset!\n"),
    ("?? of an unset word", "y: 1 unset 'y ?? y\n", b"y: unset!\n"),
    ("?? of a path is fetched", "o: context [a: 2.5] ?? o/a\n", b"o/a: 2.5\n"),
    ("?? of a function word molds the function", "f: func [a] [a] ?? f\n", b"f: func [a][a]\n"),
    ("probe prints the molded value and returns it", "print 1 + probe 2\n", b"2\n3\n"),
    ("probe of a string", 'probe "a^/b"\n', b'"a^/b"\n'),
]
for name, body, out in cases:
    r = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\n" + body.encode(), capture_output=True,
                       timeout=60)
    if r.stdout != out or r.returncode != 0:
        failures.append(f"{name}: stdout {r.stdout!r}, expected {out!r}; status {r.returncode} "
                        f"stderr {r.stderr!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
