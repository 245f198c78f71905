"""The command line as one text and as the argument block, for zem-run started with argument
vectors holding blanks, tabs, empty arguments, non-ASCII text and double quotes."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []

SCRIPT = """Zem []
write-stdout get-command-line
write-stdout "^/"
foreach a get-command-args [write-stdout a write-stdout "^A"]
"""


def quote(arg):
    return f'"{arg}"' if arg == "" or any(c in arg for c in ' \t"') else arg


def split(line):
    """The start-up split of a command-line text: quotes toggle splitting and are dropped at the
    ends of an argument; empty arguments vanish unless quoted."""
    args, cur, split_mode, started = [], "", True, False
    for c in line + " ":
        if c == '"':
            split_mode, started = not split_mode, True
            cur += c
        elif c in " \t" and split_mode:
            if started:
                if len(cur) >= 2 and cur[0] == '"' and cur[-1] == '"':
                    cur = cur[1:-1]
                elif cur.startswith('"'):
                    cur = cur[1:]
                args.append(cur)
            cur, started = "", False
        else:
            cur += c
            started = True
    return args


CASES = [
    [],
    ["one", "two"],
    ["with blank", "with\ttab", ""],
    ["", "", "x"],
    ["héllo wörld", "日本語", "ünïcode"],
    ["--opt=1", "-", "a/b.zem", "%file"],
    ['say "hi"', 'a"b', '"'],
]

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "args.zem")
    with open(script, "w") as f:
        f.write(SCRIPT)
    for extra in CASES:
        argv = [ZEM_RUN, script] + extra
        r = subprocess.run(argv, capture_output=True, timeout=60)
        want_line = " ".join(quote(a) for a in argv)
        want = (want_line + "\n" + "".join(a + "\x01" for a in argv)).encode()
        if r.returncode != 0 or r.stdout != want:
            failures.append(f"{extra!r}: status {r.returncode}\n  stdout {r.stdout!r}\n  want   {want!r}\n"
                            f"  stderr {r.stderr!r}")
        # The text splits back into the arguments unless one holds a double quote.
        if not any('"' in a for a in argv) and split(want_line) != argv:
            failures.append(f"{extra!r}: the text does not split back: {split(want_line)!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
