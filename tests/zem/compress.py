"""compress and decompress through zem-run against outside tools: our gzip read by `gzip -dc` and
`gzip -t`, our zlib and raw streams by python3 zlib; streams made by `gzip -c` (with the file
name) and python3 zlib read by ours; hand-built headers, every truncation of small streams, and a
gzip trailer that claims 4 GB and a stream of more than the series limit under an address-space
limit."""
import os
import random
import resource
import struct
import subprocess
import sys
import tempfile
import zlib

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


def hexlit(data):
    return "#{" + data.hex().upper() + "}"


def raw_deflate(data, level):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def gzip_header(flags, extra=b"", name=b"", comment=b""):
    h = b"\x1f\x8b\x08" + bytes([flags]) + b"\0\0\0\0\0\x03"
    if flags & 4:
        h += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        h += name + b"\0"
    if flags & 16:
        h += comment + b"\0"
    return h


rng = random.Random(39)
words = ["compress ", "décompresse ", "stream ", "☺ ", "block\n", "of ", "zem "]
text = "".join(rng.choice(words) for _ in range(30000)).encode()
noise = bytes(rng.randrange(256) for _ in range(200000))
files = {
    "text.txt": text,
    "noise.bin": noise,
    "empty.bin": b"",
    "gz-like.bin": b"\x1f\x8b\x08" + noise[:5000],  # looks like gzip data, is not
}

with tempfile.TemporaryDirectory() as tmp:
    for name, data in files.items():
        put(f"{tmp}/{name}", data)
    subprocess.run(f"gzip -c text.txt > tool.gz", shell=True, cwd=tmp, check=True)
    check("gzip -c stores the name", get(f"{tmp}/tool.gz")[3] & 8, "no FNAME")
    put(f"{tmp}/py9.zz", zlib.compress(text, 9))
    put(f"{tmp}/py6.raw", raw_deflate(text, 6))
    put(f"{tmp}/py0.raw", raw_deflate(noise, 0))

    small = b"a small text, a small text, small enough to cut at every byte"
    body = raw_deflate(small, 9)
    trailer = struct.pack("<II", zlib.crc32(small), len(small))
    head = gzip_header(4 | 8 | 16 | 2, extra=b"AB\x02\x00xy", name=b"f.txt", comment=b"note")
    hcrc = struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    bad_hcrc = struct.pack("<H", (zlib.crc32(head) + 1) & 0xFFFF)
    zsmall = zlib.compress(small)
    zlib_bad = {  # each one check fails
        "78 00": b"x\x00" + zsmall[2:],
        "79 9C": b"y\x9c" + zsmall[2:],
        "FDICT": b"x\xbb" + zsmall[2:],
        "Adler-32": zsmall[:-1] + bytes([zsmall[-1] ^ 1]),
    }
    small_streams = {
        "gzip": head + hcrc + body + trailer,
        "zlib": zlib.compress(small, 9),
        "deflate": body,
    }

    lines = []
    for name in files:
        for method, suffix in (("gzip", "gz"), ("zlib", "zz"), ("deflate", "raw")):
            lines.append(f"write/binary %{name}.{suffix} compress read/binary %{name} '{method}")
            lines.append(f"(decompress read/binary %{name}.{suffix} '{method}) = read/binary %{name} ;== true")
    lines += [
        "; streams made by others",
        "(decompress read/binary %tool.gz 'gzip) = read/binary %text.txt ;== true",
        "(decompress read/binary %py9.zz 'zlib) = read/binary %text.txt ;== true",
        "(decompress read/binary %py6.raw 'deflate) = read/binary %text.txt ;== true",
        "(decompress read/binary %py0.raw 'deflate) = read/binary %noise.bin ;== true",
        "; /size is a hint: too small, too large, negative",
        "(decompress/size read/binary %py6.raw 'deflate 10) = read/binary %text.txt ;== true",
        "(decompress/size read/binary %py9.zz 'zlib 2000000000) = read/binary %text.txt ;== true",
        "(decompress/size read/binary %tool.gz 'gzip -5) = read/binary %text.txt ;== true",
        "; text is compressed as UTF-8; a binary from its position; method words in any case",
        'to string! decompress compress "héllo ☺" \'gzip \'gzip ;== "héllo ☺"',
        'to string! decompress compress "héllo ☺" \'ZLIB \'Zlib ;== "héllo ☺"',
        "to string! decompress skip append #{FFFF} compress \"abc\" 'zlib 2 'zlib ;== \"abc\"",
        "compress #{} 'deflate ;== #{0300}",
        "compress #{} 'zlib ;== #{7801030000000001}",
        "compress #{} 'gzip ;== #{1F8B080000000000040403000000000000000000}",
        "decompress #{0300} 'deflate ;== #{}",
        "; hand-built headers: FEXTRA, FNAME, FCOMMENT and FHCRC",
        f"\"{small.decode()}\" = to string! decompress {hexlit(small_streams['gzip'])} 'gzip ;== true",
        f"decompress {hexlit(head + bad_hcrc + body + trailer)} 'gzip ;** script invalid-data",
        f"decompress {hexlit(gzip_header(0) + body + trailer[:4] + struct.pack('<I', len(small) + 1))} 'gzip ;** script invalid-data",
        f"decompress {hexlit(gzip_header(0) + body + struct.pack('<I', 1) + trailer[4:])} 'gzip ;** script invalid-data",
        f"decompress {hexlit(gzip_header(32) + body + trailer)} 'gzip ;** script invalid-data",
        "; zlib headers: 78 9C and 78 01 pass; 78 00, 79 .., a preset dictionary and short input fail",
        f"\"{small.decode()}\" = to string! decompress {hexlit(zlib.compress(small, 6))} 'zlib ;== true",
    ] + [f"decompress {hexlit(v)} 'zlib ;** script invalid-data" for v in zlib_bad.values()] + [
        "decompress #{7801030000} 'zlib ;** script invalid-data",
        "; methods that do not match the data, unknown methods",
        "decompress compress \"x\" 'zlib 'gzip ;** script invalid-data",
        "decompress compress \"x\" 'gzip 'zlib ;** script invalid-data",
        "decompress compress \"x\" 'gzip 'deflate ;** script invalid-data",
        "decompress #{} 'deflate ;** script invalid-data",
        "compress \"abc\" 'lzma ;** script invalid-arg",
        "decompress #{0300} 'bzip2 ;** script invalid-arg",
        "; every truncation of a small stream is an error",
    ]
    for method, stream in small_streams.items():
        for cut in range(len(stream)):
            lines.append(f"decompress {hexlit(stream[:cut])} '{method} ;** script invalid-data")
    put(f"{tmp}/table.zem", ("Zem []\n" + "\n".join(lines) + "\n").encode())
    r = subprocess.run([ZEM_RUN, "--check", "table.zem"], cwd=tmp, capture_output=True, timeout=300)
    check("table", r.returncode == 0, (r.stdout + r.stderr).decode(errors="replace")[:4000])

    # Ours read by the outside tools.
    for name, data in files.items():
        gz = subprocess.run(["gzip", "-dc", f"{name}.gz"], cwd=tmp, capture_output=True)
        check(f"gzip -dc {name}.gz", gz.returncode == 0 and gz.stdout == data, gz.stderr)
        t = subprocess.run(["gzip", "-t", f"{name}.gz"], cwd=tmp, capture_output=True)
        check(f"gzip -t {name}.gz", t.returncode == 0, t.stderr)
        zz = get(f"{tmp}/{name}.zz")
        check(f"zlib.decompress {name}.zz", zz[:2] == b"\x78\x01" and zlib.decompress(zz) == data)
        check(f"zlib.decompress -15 {name}.raw", zlib.decompress(get(f"{tmp}/{name}.raw"), -15) == data)
    check("gzip-like data is compressed", get(f"{tmp}/gz-like.bin.gz") != files["gz-like.bin"])

    # 20 bytes that claim 4 GB: refused without trying to allocate it. zem-run reserves about 1 GB
    # of address space for its node table; the cap leaves half a GB more (the sanitizer build's
    # shadow memory needs far more: no cap there).
    put(f"{tmp}/claims4g.gz", gzip_header(0) + b"\x03\x00" + struct.pack("<II", 0, 0xFFFFFFFF))
    put(f"{tmp}/claims4g.zem", b"Zem []\nprint either error? e: try [decompress read/binary %claims4g.gz 'gzip] [e/id] ['ok]\n")
    limit = None if "ASAN_OPTIONS" in os.environ else (lambda: resource.setrlimit(resource.RLIMIT_AS, (3 << 29, 3 << 29)))
    r = subprocess.run([ZEM_RUN, "claims4g.zem"], cwd=tmp, capture_output=True, timeout=120, preexec_fn=limit)
    check("ISIZE of 4 GB", r.returncode == 0 and r.stdout.decode().strip() == "invalid-data", r.stdout + r.stderr)
    # A 10 MB stream of 2.1 GB of zeros: past the series limit, no-memory, found without the memory.
    c = zlib.compressobj(1, zlib.DEFLATED, -15)
    zeros = bytes(1 << 26)
    put(f"{tmp}/bomb.raw", b"".join([c.compress(zeros) for _ in range(34)] + [c.flush()]))
    put(f"{tmp}/bomb.zem", b"Zem []\nprint either error? e: try [decompress read/binary %bomb.raw 'deflate] [e/id] ['ok]\n")
    r = subprocess.run([ZEM_RUN, "bomb.zem"], cwd=tmp, capture_output=True, timeout=120, preexec_fn=limit)
    check("2.1 GB of output", r.returncode == 0 and r.stdout.decode().strip() == "no-memory", r.stdout + r.stderr)

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
