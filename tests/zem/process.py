"""call against real processes (sh, cat, printf, head, ps) in a temporary directory: exit codes and
signals, input and output both ways (text and bytes, 1 MB each, non-ASCII included), the case of a
child that fills both output pipes before it reads its input, appending to strings and files, the
shell fallback, refused output files, and no zombies after calls that do not wait."""
import os
import random
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def run(args, cwd):
    # The time-out guards against a call that hangs on a full pipe.
    return subprocess.run([ZEM_RUN] + args, cwd=cwd, capture_output=True, timeout=60, stdin=subprocess.DEVNULL)


def script(cwd, name, body):
    path = os.path.join(cwd, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + body + "\n")
    return path


with tempfile.TemporaryDirectory() as tmp:
    rng = random.Random(7)
    words = ["caf\u00e9", "\u20ac1", "x\U0001F600", "line\n", "tab\t", "plain"]
    text = "".join(rng.choice(words) for _ in range(1 << 17))
    while len(text.encode()) < 1 << 20:
        text += text[:1000]
    with open(f"{tmp}/big.txt", "w", encoding="utf-8", newline="") as f:
        f.write(text)
    with open(f"{tmp}/big.bin", "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(1 << 20)))
    with open(f"{tmp}/in.txt", "wb") as f:
        f.write(b"from a file\n")
    with open(f"{tmp}/err.txt", "wb") as f:
        f.write(b"old\n")

    table = r"""
; exit codes: the status, 128 + the signal, the shell's 127 for a missing program
call/wait {sh -c "exit 3"} ;== 3
call/wait {sh -c "kill -TERM $$"} ;== 143
call/wait "no-such-program-zem-test" ;== 127
call/wait/shell "exit 4" ;== 4
call/wait %no-such-file ;== 127
; output: appended to what the string holds, CR LF to LF, bytes kept in a binary
o: copy "pre:" call/output {printf "a\r\nb"} o ;== 0
o ;== "pre:a^/b"
b: copy #{01} call/output {printf "a\r\n"} b ;== 0
b ;== #{01610D0A}
o: copy "" call/output {printf "a\377b\303"} o o = "a^(FFFD)b^(FFFD)" ;== true
o: copy "" call/output "cd / && pwd" o o ;== "/^/"
o: copy "" call/shell/output {echo "$0"} o o ;== "/bin/sh^/"
o: copy "" call/output {printf "%s|" one "two three" ""} o o ;== "one|two three||"
; input from a string (UTF-8), a binary from its position, a file; a missing file cannot start
o: copy "" call/input/output "cat" "h^(E9)llo^(20AC)^/" o o = "h^(E9)llo^(20AC)^/" ;== true
o: copy #{} call/input/output "cat" next #{000102} o o ;== #{0102}
o: copy "" call/input/output "cat" %in.txt o o ;== "from a file^/"
call/input/wait "cat" %missing.txt ;== -1
; error output into a string and appended to a file; an output file that cannot be opened
e: copy "" call/error {sh -c "echo bad >&2"} e e ;== "bad^/"
call/error {sh -c "echo new >&2; echo out"} %err.txt ;== 0
read %err.txt ;== "old^/new^/"
call/output "true" %missing/out.txt ;** access cannot-open
call/error "true" %missing/err.txt ;** access cannot-open
call/console "true" ;** internal not-done
; 1 MB both ways, unchanged
s: read %big.txt o: copy "" call/input/output "cat" s o (length? o) = length? s ;== true
o = s ;== true
s: read/binary %big.bin o: copy #{} call/input/output "cat" s o o = s ;== true
; a child that fills output and error before reading its input
o: copy #{} e: copy #{} call/input/output/error {sh -c "head -c 204800 /dev/zero; head -c 204800 /dev/zero >&2; wc -c"} s o e ;== 0
length? o ;== 204808
length? e ;== 204800
to string! skip o 204800 ;== "1048576^/"
"""
    t = script(tmp, "table.zem", table)
    r = run(["--check", t], tmp)
    check("table", r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace"))

    # Without /wait or redirection: the process id, and the child is reaped once it ends.
    r = run([script(tmp, "nowait.zem", r"""
ids: collect [loop 5 [keep call "true"]]
print all [parse ids [5 integer!] ids/1 > 0]
wait 0.5
o: copy "" call/output {sh -c "ps -o stat= --ppid $PPID"} o
print o
""")], tmp)
    lines = r.stdout.decode().split("\n")
    check("no wait gives ids", lines[0] == "true", r.stdout + r.stderr)
    check("no zombies", not any(l.strip().startswith("Z") for l in lines[1:]), r.stdout)

    # browse hands a url! or a file! (its path, blanks kept) to xdg-open, found on PATH.
    os.makedirs(f"{tmp}/bin")
    with open(f"{tmp}/bin/xdg-open", "w") as f:
        f.write('#!/bin/sh\nprintf "%s\\n" "$1" >> "$(dirname "$0")/../opened.txt"\n')
    os.chmod(f"{tmp}/bin/xdg-open", 0o755)
    body = r"""
print mold browse http://127.0.0.1/a?b=1
print mold browse %"my file.txt"
wait 0.5
print read %opened.txt
"""
    env = dict(os.environ, PATH=f"{tmp}/bin:/usr/bin:/bin")
    r = subprocess.run([ZEM_RUN, script(tmp, "browse.zem", body)], cwd=tmp, capture_output=True, timeout=60,
                       stdin=subprocess.DEVNULL, env=env)
    # The two openers run side by side: their lines may come in either order.
    out = r.stdout.decode().splitlines()
    check("browse", out[:2] == ["unset", "unset"] and sorted(out[2:4]) == ["http://127.0.0.1/a?b=1", "my file.txt"],
          r.stdout + r.stderr)
    env = dict(os.environ, PATH=f"{tmp}/nothing")
    r = subprocess.run([ZEM_RUN, script(tmp, "browse2.zem", "browse %x.txt")], cwd=tmp, capture_output=True,
                       timeout=60, stdin=subprocess.DEVNULL, env=env)
    check("browse without xdg-open", r.returncode != 0 and b"cannot open: %x.txt" in r.stderr, r.stdout + r.stderr)

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
