"""Path functions on real files and processes: clean-path against `realpath -m --no-symlinks` on a
generated table, make-dir/deep and its rollback checked with `test -d`, change-dir against the
process's directory, the start-up values of system/options from argv and the environment, and
flip-exe-flag on PE images written with struct (checked with `file` and `sha256sum`)."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def run(args, cwd, env=None):
    return subprocess.run([ZEM_RUN] + args, cwd=cwd, capture_output=True, timeout=120, env=env)


def script(cwd, name, body):
    path = os.path.join(cwd, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + body + "\n")
    return path


def realpath(paths, cwd):
    r = subprocess.run(["realpath", "-m", "--no-symlinks", "--"] + paths, cwd=cwd,
                       capture_output=True, text=True, check=True)
    return r.stdout.split("\n")[:-1]


def sha256(path):
    return subprocess.run(["sha256sum", path], capture_output=True, text=True, check=True).stdout.split()[0]


def file_kind(path):
    return subprocess.run(["file", "-b", path], capture_output=True, text=True, check=True).stdout


def pe_image(subsystem, stub=b"", magic=0x10B):
    """A minimal PE: DOS header, stub, signature, file header and optional header."""
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64 + len(stub))
    file_header = struct.pack("<HHIIIHH", 0x14C, 0, 0, 0, 0, 0xE0, 0x0102)
    optional = bytearray(0xE0)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<H", optional, 68, subsystem)
    return bytes(dos) + stub + b"PE\0\0" + file_header + bytes(optional)


with tempfile.TemporaryDirectory() as tmp:
    tmp = os.path.realpath(tmp)

    # ---- clean-path against realpath: absolute paths, and relative ones under a current folder
    rng = random.Random(36)
    names = ["a", "bb", ".", "..", "", "...", ".x", "x y", "a:b", "c\\d", "é"]
    table = []
    for _ in range(400):
        parts = [rng.choice(names) for _ in range(rng.randint(0, 7))]
        path = "/".join(parts)
        if rng.random() < 0.75:
            path = "/" * rng.choice([1, 1, 1, 2, 3]) + path
        if path.startswith("/") or path:
            table.append(path)
    work = os.path.join(tmp, "cwd", "deep")
    os.makedirs(work)
    with open(os.path.join(tmp, "paths.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(table) + "\n")
    s = script(tmp, "clean.zem", f"""change-dir %cwd/deep/
foreach p read/lines %{tmp}/paths.txt [print clean-path to file! p]""")
    r = run([s], tmp)
    got = r.stdout.decode().split("\n")[:-1]
    check("clean-path run", r.returncode == 0, r.stderr)
    want = realpath(table, work)
    for p, g, w in zip(table, got, want):
        if p.endswith("/") and w != "/":
            w += "/"
        check("clean-path " + repr(p), g == w, f"got {g!r}, realpath {w!r}")
    check("clean-path count", len(got) == len(table), f"{len(got)} lines for {len(table)} paths")

    # ---- make-dir: levels in order, an existing folder, a plain file in the way, rollback
    base = os.path.join(tmp, "mk")
    os.makedirs(base)
    with open(os.path.join(base, "plain"), "w") as f:
        f.write("keep")
    long_name = "n" * 300  # longer than a name may be: that level fails
    s = script(base, "mk.zem", f"""print mold make-dir/deep %a/b/c
print mold make-dir %a
print mold make-dir %a/b/c/
print mold make-dir %one
print mold make-dir %""
print mold make-dir/deep %{base}/abs/x/
e: try [make-dir %plain] print [e/id mold e/arg1]
e: try [make-dir/deep %plain/sub/] print [e/id mold e/arg1]
e: try [make-dir/deep %r1/r2/{long_name}/r3/] print [e/id mold e/arg1 = %r1/r2/{long_name}/]
e: try [make-dir %no/such/] print [e/id]
""")
    r = run([s], base)
    lines = r.stdout.decode().split("\n")
    check("make-dir run", r.returncode == 0, r.stderr)
    check("make-dir results", lines[:10] == [
        "%a/b/c/", "%a/", "%a/b/c/", "%one/", '%""', f"%{base}/abs/x/",
        "cannot-open %plain/", "cannot-open %plain/", "cannot-open true", "no-create"],
        repr(lines))
    for d in ["a", "a/b", "a/b/c", "one", "abs", "abs/x"]:
        check("make-dir " + d, subprocess.run(["test", "-d", os.path.join(base, d)]).returncode == 0)
    check("rollback", not os.path.exists(os.path.join(base, "r1")), "r1 left behind")
    check("plain file kept", open(os.path.join(base, "plain")).read() == "keep")
    check("no folder beside", sorted(os.listdir(base)) == ["a", "abs", "mk.zem", "one", "plain"],
          repr(sorted(os.listdir(base))))

    # ---- change-dir: the process follows; a missing folder changes nothing
    s = script(base, "cd.zem", f"""print mold change-dir %a/b
print mold what-dir
print get-current-dir
print mold change-dir %../..
e: try [change-dir %missing] print [e/id mold e/arg1]
print mold what-dir
print get-current-dir
print mold change-dir 'one
print mold read %.""")
    r = run([s], base)
    lines = r.stdout.decode().split("\n")
    check("change-dir", lines[:9] == [
        f"%{base}/a/b/", f"%{base}/a/b/", f"{base}/a/b/", f"%{base}/",
        f"cannot-open %{base}/missing/", f"%{base}/", f"{base}/", f"%{base}/one/", "[]"],
        repr(lines) + r.stderr.decode())

    # ---- start-up: argv as given, the script's raw argument text, the folders
    s = script(tmp, "args.zem", """print mold system/options/boot
print mold system/options/args
print mold system/script/args
print mold system/options/path
print mold system/options/home
print mold system/options/cache""")
    env = dict(os.environ, HOME=os.path.join(tmp, "home") + "//")
    r = run([s, "a b", "c", "", 'q"t'], work, env)
    check("start-up args", r.stdout.decode().split("\n")[:6] == [
        f'"{ZEM_RUN}"', '["a b" "c" "" {q"t}]', '{"a b" c "" "q"t"}', f"%{work}/",
        f"%{tmp}/home/", f"%{tmp}/home/.zem/"], r.stdout.decode() + r.stderr.decode())
    r = run([s], tmp, env)
    check("start-up no args", r.stdout.decode().split("\n")[1:3] == ["[]", '""'], r.stdout.decode())
    for home in [None, ""]:
        env = {k: v for k, v in os.environ.items() if k != "HOME"}
        if home is not None:
            env["HOME"] = home
        r = run([s], tmp, env)
        check(f"start-up HOME {home!r}", r.stdout.decode().split("\n")[4:6] == ["none", "%/tmp/.zem/"],
              r.stdout.decode() + r.stderr.decode())
    r = run(["--check", s, "x"], tmp)
    check("start-up --check", b'["x"]' in r.stdout, r.stdout)

    # ---- flip-exe-flag: console and GUI images switch and switch back; the byte found through
    # the header, not the first "PE" of the stub; whatever is not a PE image is refused untouched
    pe = os.path.join(tmp, "pe")
    os.makedirs(pe)
    images = {
        "console.exe": (pe_image(3), "(console)", "(GUI)"),
        "gui.exe": (pe_image(2), "(GUI)", "(console)"),
        "stub.exe": (pe_image(3, b"This PE stub says PE!"), "(console)", "(GUI)"),
        "plus.exe": (pe_image(2, magic=0x20B), "(GUI)", "(console)"),
    }
    for name, (data, _, _) in images.items():
        with open(os.path.join(pe, name), "wb") as f:
            f.write(data)
    refused = {"elf": open(ZEM_RUN, "rb").read(), "text.exe": b"PE text, not an image\n",
               "stubonly.exe": b"MZ" + b"\0" * 58 + struct.pack("<I", 200) + b"the PE stub" * 4,
               "short.exe": pe_image(3)[:64 + 4 + 20 + 60], "empty.exe": b""}
    for name, data in refused.items():
        with open(os.path.join(pe, name), "wb") as f:
            f.write(data)
    before = {name: sha256(os.path.join(pe, name)) for name in list(images) + list(refused)}
    flip = script(pe, "flip.zem", "flip-exe-flag to file! system/options/args/1")
    for name, (data, kind, other) in images.items():
        path = os.path.join(pe, name)
        check(name + " kind", kind in file_kind(path), file_kind(path))
        r = run([flip, name], pe)
        check(name + " flip", r.returncode == 0, r.stderr)
        check(name + " flipped", other in file_kind(path), file_kind(path))
        changed = [i for i, (a, b) in enumerate(zip(data, open(path, "rb").read())) if a != b]
        check(name + " one byte", len(changed) == 1 and os.path.getsize(path) == len(data), repr(changed))
        run([flip, name], pe)
        check(name + " twice", sha256(path) == before[name])
    for name in refused:
        r = run([flip, name], pe)
        check(name + " refused", r.returncode != 0 and
              f"data not in correct format: %{name}".encode() in r.stderr, r.stderr)
        check(name + " untouched", sha256(os.path.join(pe, name)) == before[name])
    # any other subsystem becomes GUI; a folder means the zem.exe in it
    odd = os.path.join(pe, "dir")
    os.makedirs(odd)
    with open(os.path.join(odd, "zem.exe"), "wb") as f:
        f.write(pe_image(9))
    r = run([flip, "dir/"], pe)
    check("folder and odd subsystem", r.returncode == 0 and "(GUI)" in file_kind(os.path.join(odd, "zem.exe")),
          r.stderr.decode() + file_kind(os.path.join(odd, "zem.exe")))

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
