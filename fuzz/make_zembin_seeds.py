#!/usr/bin/env python3
"""Writes the seeds of the zembin_decode and lz77_unpack fuzz targets: the Zembin encodings (compact
and plain) of the values the codec round-trip table checks, made by zem-run, the hand-built buffers
of the decoder's tests, and each of them packed with a small LZ77 packer written here.
usage: fuzz/make_zembin_seeds.py [ZEM_RUN]   (default build/zem-run; writes fuzz/seeds/{zembin_decode,lz77_unpack})"""
import os
import struct
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
zem_run = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "zem-run")


def pack(data):
    """Greedy LZ77 in the runtime's format: one block per 1 MiB, matches of 3 to 566 bytes."""
    out = bytearray()
    for start in range(0, len(data), 1 << 20):
        block = data[start:start + (1 << 20)]
        bits, count, body = 0, 0, bytearray()

        def put(v, n):
            nonlocal bits, count
            bits |= v << count
            count += n
            while count >= 8:
                body.append(bits & 0xFF)
                bits >>= 8
                count -= 8

        last, i = {}, 0
        while i < len(block):
            key = bytes(block[i:i + 3])
            cand = last.get(key) if len(key) == 3 else None
            n = 0
            if cand is not None and i - cand <= 0x40000:
                while n < 566 and i + n < len(block) and block[cand + n] == block[i + n]:
                    n += 1
            if len(key) == 3:
                last[key] = i
            if n < 3:
                put(0, 1)
                put(block[i], 8)
                i += 1
                continue
            put(1, 1)
            v = n - 3
            for z, (base, extra) in enumerate(((0, 2), (4, 2), (8, 2), (12, 3), (20, 5))):
                if v < base + (1 << extra):
                    put(1 << z, z + 1)
                    put(v - base, extra)
                    break
            else:
                put(0, 5)
                put(v - 52, 9)
            d = i - cand - 1
            if d < 8:
                put(0, 4)
                put(d, 3)
            else:
                j = d.bit_length() - 1
                put(j - 2, 4)
                put(d - (1 << j), j)
            i += n
        if count:
            body.append(bits & 0xFF)
        out += struct.pack("<I", len(block)) + body
    return struct.pack("<II", len(out), len(data)) + bytes(out)


def write(target, name, data):
    os.makedirs(os.path.join(here, "seeds", target), exist_ok=True)
    with open(os.path.join(here, "seeds", target, name), "wb") as f:
        f.write(data)


buffers = {}
with open(os.path.join(root, "tests", "zem", "zembin_codec.zem"), encoding="utf-8") as f:
    values = [line[len("same-back "):].split(" ;==")[0] for line in f if line.startswith("same-back ")]
values += ["func [x /y z] [either y [z] [x + 1]]", "make object! [n: 1 f: func [] [n]]",
           's: "ab" reduce [s s]', "b: copy [] append/only b b b", "reduce [:append :if :+]", "try [1 / 0]"]
with tempfile.TemporaryDirectory() as tmp:
    script = ["Zem []"]
    for i, v in enumerate(values):
        for form, compact in (("c", "true"), ("p", "false")):
            path = os.path.join(tmp, f"value-{i:02d}-{form}.zembin")
            script.append(f"system/codecs/zembin/compact?: {compact} write/binary %{path} save/as none do [{v}] 'zembin")
    with open(os.path.join(tmp, "seeds.zem"), "w", encoding="utf-8") as f:
        f.write("\n".join(script) + "\n")
    subprocess.run([zem_run, os.path.join(tmp, "seeds.zem")], check=True)
    for name in sorted(os.listdir(tmp)):
        if name.endswith(".zembin"):
            with open(os.path.join(tmp, name), "rb") as f:
                buffers[name[:-len(".zembin")]] = f.read()
with open(os.path.join(root, "tests", "data", "zembin_decode", "cases.txt"), encoding="utf-8") as f:
    for line in f:
        if not line.startswith("#") and line.count("\t") == 2:
            name, _, data = line.rstrip("\n").split("\t")
            if len(data) < 8192:
                buffers["case-" + name] = bytes.fromhex(data)
for name, data in buffers.items():
    write("zembin_decode", name, data)
    if data[:6] == b"ZEMBIN" and len(data) > 8 and not data[7] & 2:
        packed = pack(data[8:])
        write("zembin_decode", name + "-packed", data[:7] + bytes([data[7] | 2]) + packed)
        write("lz77_unpack", name, packed)
