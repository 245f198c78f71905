"""ESC "[" sequences printed by a script: on a terminal (script(1) gives zem-run a pseudo-terminal
of 80 x 24) they are carried out as ANSI sequences of the terminal's own; through a pipe the
original bytes go out unchanged."""
import os
import shlex
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []

SCRIPT = """Zem []
print "a^[[31mred^[[0m plain"
print "^[[5;10Hat^[[2Jcleared^[[Kline^[[1Kleft"
print "^[[1;31;44mX^[[39mY^[[49mZ^[[38;5;196mW^[[2mV^[[0m"
print "^[[3A^[[0B^[[2C^[[4D^[[s^[[u^[[7H^[[m^[x^[[12"
prin "^[[?"
"""

# What the terminal receives (its LF to CR LF conversion included).
TRANSLATED = (
    "a\x1b[0;31mred\x1b[0m plain\n"
    "\x1b[11;6Hat\x1b[2J\x1b[1;1Hcleared\x1b[Kline\x1b[1K\rleft\n"
    "\x1b[0;91;104mX\x1b[0;104mY\x1b[0mZ\x1b[0mW\x1b[0mV\x1b[0m\n"
    "\x1b[3A\x1b[2C\x1b[4D\x1b[s\x1b[u\x1bx\x1b[12\n"
    "Screen buffer info:\n   size______ 80x24\n   cursor____ ?x?\n"
    "   attribute_ 00000007 00000007\n   left______ 0 top: 0\n   right_____ 79 bottom: 23\n"
    "   max_______ 80x24\n"
).replace("\n", "\r\n").encode()

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "escapes.zem")
    with open(script, "w") as f:
        f.write(SCRIPT)
    inner = f"stty cols 80 rows 24; exec {shlex.quote(ZEM_RUN)} {shlex.quote(script)}"
    r = subprocess.run(["script", "-q", "-e", "-c", inner, "/dev/null"], stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=120)
    if r.returncode != 0 or r.stdout != TRANSLATED:
        failures.append(f"terminal: status {r.returncode}\n  got  {r.stdout!r}\n  want {TRANSLATED!r}")

    r = subprocess.run([ZEM_RUN, script], capture_output=True, timeout=60)
    lines = [l.split('"')[1] for l in SCRIPT.splitlines()[1:]]
    original = ("\n".join(lines[:-1]) + "\n" + lines[-1]).replace("^[", "\x1b").encode()
    if r.returncode != 0 or r.stdout != original:
        failures.append(f"pipe: status {r.returncode}\n  got  {r.stdout!r}\n  want {original!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
