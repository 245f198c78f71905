"""Files and directories on real files in a temporary directory: a table of reads, writes,
listings, deletes and renames run with `zem-run --check`, then the bytes written checked by
python3; /proc files, a FIFO, /dev/full and a pipe whose reader has gone; dates against `stat`
and os.stat; sizes against `stat -c %s`; checksums of a file against sha256sum and md5sum."""
import datetime
import hashlib
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def run(args, cwd, **kw):
    return subprocess.run([ZEM_RUN] + args, cwd=cwd, capture_output=True, timeout=120, **kw)


def script(cwd, name, body):
    path = os.path.join(cwd, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + body + "\n")
    return path


def shell(cmd, cwd):
    return subprocess.run(cmd, cwd=cwd, shell=True, check=True, capture_output=True, text=True).stdout.strip()


def put(path, data):
    with open(path, "wb") as f:
        f.write(data)


def get(path):
    with open(path, "rb") as f:
        return f.read()


with tempfile.TemporaryDirectory() as tmp:
    put(f"{tmp}/lf.txt", b"a\nb\n")
    put(f"{tmp}/crlf.txt", b"a\r\nb\r\n\r\nc")
    put(f"{tmp}/cr.txt", b"a\rb\r\n")
    put(f"{tmp}/bad.txt", b"ok\xc3(")
    put(f"{tmp}/bom.txt", b"\xef\xbb\xbfhi")
    put(f"{tmp}/empty.txt", b"")
    big = bytes((i * 7 + i // 251) % 256 for i in range(3 * 1024 * 1024))
    put(f"{tmp}/big.bin", big)
    os.makedirs(f"{tmp}/dir/sub")
    os.makedirs(f"{tmp}/dir/empty")
    put(f"{tmp}/dir/with blank.txt", b"1")
    put(f"{tmp}/dir/\u00e9t\u00e9.txt", b"2")
    shell("ln -s sub dir/link-dir && ln -s 'with blank.txt' dir/link-file && ln -s nowhere dir/dangling", tmp)
    os.makedirs(f"{tmp}/gone/inner")
    put(f"{tmp}/old.txt", b"old")
    put(f"{tmp}/new.txt", b"new")

    size_big = shell("stat -c %s big.bin", tmp)
    sha = shell("sha256sum big.bin", tmp).split()[0].upper()
    md5 = shell("md5sum lf.txt", tmp).split()[0].upper()

    table = f"""
; reading text: CR LF becomes LF, a lone CR stays; lines both ways; bytes as they are
read %lf.txt ;== "a^/b^/"
read %crlf.txt ;== {{a^/b^/^/c}}
read %cr.txt ;== "a^Mb^/"
read/binary %crlf.txt ;== #{{610D0A620D0A0D0A63}}
read/lines %crlf.txt ;== ["a" "b" "" "c"]
read/lines %lf.txt ;== ["a" "b"]
read/lines %empty.txt ;== []
read %bom.txt ;== "hi"
read %empty.txt ;== ""
read/binary %empty.txt ;== #{{}}
read %bad.txt ;** access invalid-utf8
e: try [read %bad.txt]
e/arg1 ;== #{{C328}}
read/binary %bad.txt ;== #{{6F6BC328}}
length? read/binary %big.bin ;== {size_big}
#{{{sha}}} = checksum %big.bin 'sha256 ;== true
checksum %lf.txt 'md5 ;== #{{{md5}}}
; writing: LF stays LF, UTF-8 of every unit size, lines, append, binary
write %w-lf.txt "a^/b"
write %w-u1.txt "caf^(E9)"
write %w-u2.txt "^(20AC)1"
write %w-u4.txt "x^(1F600)"
read %w-u4.txt ;== "x\U0001F600"
write/lines %w-lines.txt ["one" "two" 3]
read/lines %w-lines.txt ;== ["one" "two" "3"]
write/lines %w-line.txt "single"
write %w-app.txt "ab"
write/append %w-app.txt #{{0A63}}
read %w-app.txt ;== "ab^/c"
write/binary %w-bin.bin #{{000D0AFF}}
write %w-mold.txt [1 "two" %three]
read %w-mold.txt ;== {{[1 "two" %three]}}
write %w-empty.txt ""
size? %w-empty.txt ;== 0
write/binary %w-big.bin read/binary %big.bin
write %w-crlf.txt read %crlf.txt
; directories: sorted, subdirectories and links to them end in "/", the argument unchanged
read %dir/ ;== [%dangling %empty/ %link-dir/ %link-file %sub/ %"with blank.txt" %"été.txt"]
d: %dir/sub/. read d ;== []
d ;== %dir/sub/.
(read %dir/sub/..) = read %dir/ ;== true
to logic! find read %/ %tmp/ ;== true
read %dir ;** access cannot-open
read %missing/ ;** access cannot-open
read %missing.txt ;** access cannot-open
; queries, existence and sizes
size? %dir/ ;== none
size? %dir ;== none
size? %missing ;== none
size? %lf.txt ;== 4
query %lf.txt/ ;== none
query %missing ;== none
date? query %dir/ ;== true
exists? %dir/sub ;== true
exists? %dir/dangling ;== false
exists? %missing ;== false
create-dir %made
exists? %made/ ;== true
create-dir %made ;** access no-create
; delete and rename: no target is ever replaced
delete %dir/empty/ ;== true
delete %gone/ ;== false
delete %gone/inner/ ;== true
delete %lf.txt/ ;== false
delete %w-line.txt ;== true
delete %w-line.txt ;== false
rename %old.txt %new.txt ;== false
read %old.txt ;== "old"
read %new.txt ;== "new"
rename %old.txt %renamed.txt ;== true
exists? %old.txt ;== false
read %renamed.txt ;== "old"
rename %gone/ %made/ ;== false
rename %gone/ %moved/ ;== true
; a full device takes nothing: no write reports success
write %/dev/full "x" ;** access cannot-write
write/binary %/dev/full read/binary %big.bin ;** access cannot-write
write %no-such-dir/x.txt "x" ;** access cannot-open
; offsets and lengths of the actions wait for ports
read/part %crlf.txt 2 ;** internal not-done
read/seek %crlf.txt 2 ;** internal not-done
write/seek %w-app.txt "x" 1 ;** internal not-done
"""
    t = script(tmp, "table.zem", table.replace("été", "\u00e9t\u00e9"))
    r = run(["--check", t], tmp)
    check("table", r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace"))

    expected = {
        "w-lf.txt": b"a\nb",
        "w-u1.txt": "caf\u00e9".encode(),
        "w-u2.txt": "\u20ac1".encode(),
        "w-u4.txt": "x\U0001F600".encode(),
        "w-lines.txt": b"one\ntwo\n3\n",
        "w-app.txt": b"ab\nc",
        "w-bin.bin": b"\x00\r\n\xff",
        "w-mold.txt": b'[1 "two" %three]',
        "w-empty.txt": b"",
        "w-big.bin": big,
        "w-crlf.txt": b"a\nb\n\nc",
    }
    for name, data in expected.items():
        got = get(f"{tmp}/{name}") if os.path.exists(f"{tmp}/{name}") else None
        check(f"bytes of {name}", got == data, repr(got[:60] if got else got))
    check("rename of a directory", os.path.isdir(f"{tmp}/moved") and not os.path.exists(f"{tmp}/gone"))

    # Files that report no size: /proc text read whole; a FIFO fed by a shell gives every byte.
    r = run([script(tmp, "proc.zem", """
s: read %/proc/self/status
print [size? %/proc/self/status length? s]
print #"^/" = pick s length? s
print to logic! find/match s "Name:"
print mold/flat read/binary %/proc/self/cmdline
""")], tmp)
    out = r.stdout.decode().splitlines() + ["", "", "", ""]
    check("/proc size", len(out) >= 2 and out[0].split()[0] == "0" and int(out[0].split()[1]) > 500, out)
    check("/proc whole text", out[1:3] == ["true", "true"], out)
    cmdline = (ZEM_RUN + "\0" + os.path.join(tmp, "proc.zem") + "\0").encode()
    check("/proc/self/cmdline", out[3] == "#{" + cmdline.hex().upper() + "}", (out[3], cmdline))

    fifo_data = bytes(range(256)) * 1000  # more than one 64 KB chunk
    put(f"{tmp}/fifo-src", fifo_data)
    os.mkfifo(f"{tmp}/fifo")
    feeder = subprocess.Popen(["sh", "-c", "cat fifo-src > fifo"], cwd=tmp)
    r = run([script(tmp, "fifo.zem", "b: read/binary %fifo print length? b print mold/flat checksum b 'sha256")], tmp)
    feeder.wait(timeout=60)
    check("fifo", r.stdout.decode().split() == [str(len(fifo_data)), "#{" + hashlib.sha256(fifo_data).hexdigest().upper() + "}"],
          r.stdout + r.stderr)

    # A pipe whose reader has closed: the write fails, never reports success.
    rd, wr = os.pipe()
    os.close(rd)
    r = run([script(tmp, "pipe.zem", f"""
e: try [write %/proc/self/fd/{wr} "lost"]
print e/id
e: try [write/lines %/proc/self/fd/{wr} ["a" "b"]]
print e/id
""")], tmp, pass_fds=(wr,))
    os.close(wr)
    check("closed pipe", r.stdout.decode().split() == ["cannot-write", "cannot-write"], r.stdout + r.stderr)

    # Dates: UTC, with the nanoseconds of the last write.
    put(f"{tmp}/dated.txt", b"x")
    os.utime(f"{tmp}/dated.txt", ns=(1_700_000_000_123_456_789, 1_700_000_000_123_456_789))
    put(f"{tmp}/old-date.txt", b"x")
    shell("touch -m -d '1999-12-31 23:59:59.5 UTC' old-date.txt", tmp)
    r = run([script(tmp, "dates.zem", """
foreach f [%dated.txt %old-date.txt %dir/sub/] [
	d: query f
	print [d/year d/month d/day d/hour d/minute d/zone]
	print mold d/second
]
""")], tmp)
    out = r.stdout.decode().splitlines()
    for i, name in enumerate(["dated.txt", "old-date.txt", "dir/sub"]):
        st = os.stat(f"{tmp}/{name}")
        whole = int(shell(f"stat -c %Y {name}", tmp))
        dt = datetime.datetime.fromtimestamp(whole, datetime.timezone.utc)
        want = f"{dt.year} {dt.month} {dt.day} {dt.hour} {dt.minute} 0:00:00"
        got = out[2 * i: 2 * i + 2]
        check(f"query {name}", len(got) == 2 and got[0] == want, (got, want))
        if len(got) == 2:
            second = float(got[1])
            exact = dt.second + (st.st_mtime_ns % 1_000_000_000) / 1e9
            check(f"query {name} seconds", abs(second - exact) < 1e-6, (got[1], exact))

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
