#!/usr/bin/env python3
"""Writes the seeds of the inflate, gunzip and zlib_decompress fuzz targets: python3 zlib streams
with stored, fixed and dynamic blocks, and `gzip -c` output with the file name.
usage: fuzz/make_deflate_seeds.py   (from anywhere; writes fuzz/seeds/{inflate,gunzip,zlib_decompress})"""
import os
import subprocess
import tempfile
import zlib

here = os.path.dirname(os.path.abspath(__file__))
text = b"".join(b"seed line %d of some text to compress, again and again\n" % (i * 37 % 101) for i in range(60))
samples = {"text": text, "short": b"abcabcabcabc", "empty": b"", "bytes": bytes(range(256)) * 2}
kinds = {"stored": (0, zlib.Z_DEFAULT_STRATEGY), "fixed": (6, zlib.Z_FIXED), "dynamic": (9, zlib.Z_DEFAULT_STRATEGY)}


def write(target, name, data):
    os.makedirs(os.path.join(here, "seeds", target), exist_ok=True)
    with open(os.path.join(here, "seeds", target, name), "wb") as f:
        f.write(data)


for sname, data in samples.items():
    for kname, (level, strategy) in kinds.items():
        for target, wbits in (("inflate", -15), ("zlib_decompress", 15), ("gunzip", 31)):
            c = zlib.compressobj(level, zlib.DEFLATED, wbits, 9, strategy)
            write(target, f"{sname}-{kname}", c.compress(data) + c.flush())
with tempfile.TemporaryDirectory() as tmp:
    for sname, data in samples.items():
        path = os.path.join(tmp, sname + ".txt")
        with open(path, "wb") as f:
            f.write(data)
        write("gunzip", f"{sname}-gzip-tool", subprocess.run(["gzip", "-c", path], capture_output=True, check=True).stdout)
