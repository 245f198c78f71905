"""load and save on real files in a temporary directory: a table run with `zem-run --check`, the
bytes that save wrote checked by python3 (LF line ends, the header text, UTF-8), files written by
python3 with CR LF and LF line ends loaded to the same values, and directory listings against
os.listdir."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def put(path, data):
    with open(path, "wb") as f:
        f.write(data)


def get(path):
    with open(path, "rb") as f:
        return f.read()


TABLE = r"""
v: [1 -2.5 "two^/lines é" #"c" %f.txt word 'lit /ref [b [n]] (p) a/b 1.2.3 10:20 3x4 50% $1.5 2024-02-29 #{0102}]
save %vals.zem v
v = load %vals.zem ;== true
save %one.zem 42
save %lines.zem load "a^/[b^/c]"
equal? load %lines.zem [a [b c]] ;== true
load %one.zem ;== 42
load/all %one.zem ;== [42]
save/header %head.zem [x: 1] reduce [to set-word! 'title "T" to set-word! 'skip none]
save/length %len.zem [a "é"]
save/all %all.zem [a #(none)]
r: load/all %all.zem reduce [r/1 none? r/2] ;== [a true]
save %empty.zem []
load %empty.zem ;== []
; a file the codecs do not claim is scanned as text, whatever its suffix
load %python.txt ;== [1 "two" [3 4.5] word]
equal? load %crlf.zem [a: 1 b: "x^/y" c: [2]] ;== true
equal? load %crlf.zem load %lf.zem ;== true
load/part %lf.zem 4 ;== [a: 1]
load/next %lf.zem 'p ;== a:
load %bom.txt ;== hi
load %bad.zem ;** syntax missing
r: load/trap %bad.zem reduce [r/2 r/3/id] ;== [#{} missing]
load %nowhere.zem ;** access cannot-open
load %nowhere/ ;** access cannot-open
; a directory (by its final slash) gives its listing
sort load %dir/ ;== [%a.txt %sub/]
load %dir/sub/ ;== []
; appending to a file's text
s: read %one.zem save s [b] ;== "42b"
; the codec walk: by suffix for files, by name with /as; save goes through every matching codec
calls: copy []
codec: func [nm sfx enc][make object! [title: "" name: nm mime-type: [] suffixes: sfx encode: :enc decode: func [src][append/only calls reduce [name src] name]]]
add-codec: func [key c][put system/codecs key c]
add-codec 'one codec 'One [%.one %.both] func [v dst][append/only calls reduce ['One :v dst] #{01}]
add-codec 'two codec 'Two [%.two %.stop] func [v dst][append/only calls reduce ['Two :v dst] dst]
add-codec 'three codec 'Three [%.both %.stop] func [v dst][append/only calls reduce ['Three :v dst] #{03}]
load %x.one ;== One
load/as %x.one none ;== One
load %x.both ;== One
load/as "text" 'two ;== Two
load/as #{00} 'three ;== Three
calls ;== [[One %x.one] [One %x.one] [One %x.both] [Two "text"] [Three #{00}]]
clear calls save %x.one 7 read/binary %x.one ;== #{01}
unset? save %x.two 8 ;== true
exists? %x.two ;== false
clear calls save/header %x.both 9 [title: "ignored"] read/binary %x.both ;== #{03}
calls ;== [[One 9 %x.both] [Three 9 %x.both]]
; a codec that wrote the target itself ends the walk
clear calls save %x.stop 1 calls ;== [[Two 1 %x.stop]]
save/as none 5 'one ;== #{01}
s: "x" save/as s 5 'one ;== "x#{01}"
save/length/as %x.txt 5 'one read/binary %x.txt ;== #{01}
unset? save/as %x.any 5 'two ;== true
exists? %x.any ;== false
save/as none 5 'nope ;** script invalid-refine-arg
; the .zembin suffix goes to the Zembin codec
write %short.zembin #{5A454D42494E}
load %short.zembin ;** script invalid-data
e: try [load %short.zembin] e/arg1 ;== %short.zembin
save %x.zembin 1 read/binary %x.zembin ;== #{5A454D42494E0201010181}
; without a codec the suffix does not matter
save %x.three [a] read %x.three ;== "a"
"""

with tempfile.TemporaryDirectory() as tmp:
    put(f"{tmp}/python.txt", b'1 "two" [3 4.5] word\n')
    put(f"{tmp}/crlf.zem", b"a: 1\r\nb: {x\r\ny}\r\nc: [\r\n2]\r\n")
    put(f"{tmp}/lf.zem", b"a: 1\nb: {x\ny}\nc: [\n2]\n")
    put(f"{tmp}/bom.txt", b"\xef\xbb\xbfhi")
    put(f"{tmp}/bad.zem", b"1 [2")
    os.makedirs(f"{tmp}/dir/sub")
    put(f"{tmp}/dir/a.txt", b"1")
    path = f"{tmp}/table.zem"
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + TABLE)
    r = subprocess.run([ZEM_RUN, "--check", path], cwd=tmp, capture_output=True, timeout=120)
    check("table", r.returncode == 0, r.stdout.decode() + r.stderr.decode())

    vals = get(f"{tmp}/vals.zem")
    lines = get(f"{tmp}/lines.zem")
    check("LF only", b"\r" not in lines and lines.count(b"\n") == 2, repr(lines))
    check("UTF-8", "é".encode() in vals, repr(vals))
    check("no brackets", not vals.startswith(b"["), repr(vals))
    check("one value", get(f"{tmp}/one.zem") == b"42", repr(get(f"{tmp}/one.zem")))
    check("header", get(f"{tmp}/head.zem") == b'Zem [\n\ttitle: "T"\n]\n\nx: 1', repr(get(f"{tmp}/head.zem")))
    content = 'a "é"'.encode()
    want = b"Zem [\n\tlength: %d\n]\n\n" % len(content) + content
    check("length", get(f"{tmp}/len.zem") == want, repr(get(f"{tmp}/len.zem")))
    check("all", get(f"{tmp}/all.zem") == b"a #(none)\n", repr(get(f"{tmp}/all.zem")))
    check("empty", get(f"{tmp}/empty.zem") == b"", repr(get(f"{tmp}/empty.zem")))
    check("listing", sorted(os.listdir(f"{tmp}/dir")) == ["a.txt", "sub"], "")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
