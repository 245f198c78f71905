"""Image files decoded and encoded from Zem against ImageMagick: a codec's decode of a file value
gives the pixels `convert x rgba:-` reads, alpha straight (JPEG within PSNR 40 dB); a picture with
partial alpha saved as PNG, BMP, TIFF and GIF reads back through convert with the same pixels;
copy/part rectangles equal `convert -crop`; files and bytes that cannot be decoded raise their
errors."""
import math
import os
import shutil
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
IMAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "images")
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def convert_rgba(path, *ops):
    r = subprocess.run(["convert", path + "[0]", *ops, "-depth", "8", "rgba:-"], capture_output=True, timeout=60)
    return r.stdout


def ours_rgba(stored):
    """Our stored B, G, R, opacity bytes as R, G, B, A."""
    out = bytearray()
    for i in range(0, len(stored), 4):
        b, g, r, a = stored[i:i + 4]
        out += bytes((r, g, b, a))
    return bytes(out)


def psnr(a, b):
    if len(a) != len(b) or not a:
        return 0
    mse = sum((x - y) ** 2 for x, y in zip(a, b)) / len(a)
    return 99 if mse == 0 else 10 * math.log10(255 * 255 / mse)


# fixture -> the codec whose decode reads it (any codec decodes any container)
DECODES = {
    "png_rgba_half.png": "png", "png_rgba.png": "png", "png_palette.png": "bmp", "png_grey_alpha.png": "gif",
    "png_16bit.png": "tiff", "gif_interlaced.gif": "gif", "gif_transparent.gif": "png",
    "tiff_pages.tif": "tiff", "tiff_rgba.tif": "jpeg", "bmp_1bit.bmp": "bmp", "bmp_4bit.bmp": "bmp",
    "bmp_rle8.bmp": "png", "bmp_24bit_topdown.bmp": "bmp", "bmp_32bit_alpha.bmp": "bmp",
    "jpeg_progressive.jpg": "jpeg", "jpeg_baseline.jpg": "png",
}
# A 3x2 picture with partial alpha, and how each format keeps it.
PICTURE = "make image! [3x2 #{FF000000FF000000FF808080102030F0E0D0} #{0080FF40C000}]"
SAVES = {"p.png": "exact", "p.bmp": "exact", "p.tif": "exact", "p.gif": "gif"}
CROPS = [("2x2", 1, 1), ("3x1", 0, 4), ("9x9", 5, 3), ("1x5", 6, 0)]  # copy/part size, x, y

TABLE = r"""
; files and bytes that cannot be decoded
system/codecs/png/decode %missing.png ;** access cannot-open
load %missing.png ;** access cannot-open
system/codecs/bmp/decode %text.png ;** access cannot-open
load %text.png ;** access cannot-open
system/codecs/gif/decode %cut.png ;** access cannot-open
system/codecs/png/decode read/binary %cut.png ;** access bad-media
system/codecs/png/decode #{FFD8FF00} ;** access bad-media
; the first frame or page, and the file road of load by suffix
i: load %tiff_pages.tif i/size ;== 7x5
(load %jpeg_baseline.jpg) = system/codecs/jpeg/decode read/binary %jpeg_baseline.jpg ;== true
"""

with tempfile.TemporaryDirectory() as tmp:
    for name in DECODES:
        shutil.copy(os.path.join(IMAGES, name), tmp)
    with open(os.path.join(tmp, "text.png"), "w") as f:
        f.write("not a picture\n")
    with open(os.path.join(IMAGES, "png_rgba.png"), "rb") as f:
        whole = f.read()
    with open(os.path.join(tmp, "cut.png"), "wb") as f:
        f.write(whole[: len(whole) // 2])

    script = "".join(f"write %{n}.out to binary! system/codecs/{c}/decode %{n}\n" for n, c in DECODES.items())
    script += f"p: {PICTURE}\n" + "".join(f"save %{n} p\n" for n in SAVES)
    script += "".join(f"write %crop{i}.out to binary! copy/part at load %png_rgba.png {x + 1}x{y + 1} {size}\n"
                      for i, (size, x, y) in enumerate(CROPS))
    with open(f"{tmp}/run.zem", "w") as f:
        f.write("Zem []\n" + script)
    r = subprocess.run([ZEM_RUN, f"{tmp}/run.zem"], cwd=tmp, capture_output=True, timeout=120)
    check("run", r.returncode == 0, r.stdout.decode() + r.stderr.decode())

    def ours(name):
        path = os.path.join(tmp, name)
        return ours_rgba(open(path, "rb").read()) if os.path.exists(path) else b""

    for name in DECODES:
        want = convert_rgba(os.path.join(tmp, name))
        got = ours(name + ".out")
        if name.endswith(".jpg"):
            check(f"decode {name}", psnr(got, want) > 40, f"PSNR {psnr(got, want):.1f}")
        elif name == "png_16bit.png":  # libpng rounds 16-bit samples its own way: one step at most
            check(f"decode {name}", len(got) == len(want) and all(abs(a - b) <= 1 for a, b in zip(got, want)))
        else:
            check(f"decode {name}", got == want, f"{got.hex()} != {want.hex()}")

    picture = bytes((0xFF, 0, 0, 255, 0, 0xFF, 0, 0x7F, 0, 0, 0xFF, 0, 0x80, 0x80, 0x80, 0xBF,
                     0x10, 0x20, 0x30, 0x3F, 0xF0, 0xE0, 0xD0, 255))
    for name, kind in SAVES.items():
        got = convert_rgba(os.path.join(tmp, name))
        if kind == "gif":  # one transparent index for alpha below 128, the rest opaque
            picture_gif = bytearray(picture)
            for i in range(3, len(picture_gif), 4):
                if picture_gif[i] < 128:
                    picture_gif[i - 3:i + 1] = bytes(4)
                else:
                    picture_gif[i] = 255
            got = bytes(b if got[i - i % 4 + 3] else 0 for i, b in enumerate(got))
            check(f"save {name}", got == bytes(picture_gif), f"{got.hex()} != {bytes(picture_gif).hex()}")
        else:
            check(f"save {name}", got == picture, f"{got.hex()} != {picture.hex()}")

    for i, (size, x, y) in enumerate(CROPS):
        w, h = (int(v) for v in size.split("x"))
        want = convert_rgba(os.path.join(tmp, "png_rgba.png"), "-crop", f"{w}x{h}+{x}+{y}", "+repage")
        check(f"crop {size}+{x}+{y}", ours(f"crop{i}.out") == want)

    with open(f"{tmp}/table.zem", "w") as f:
        f.write("Zem []\n" + TABLE)
    r = subprocess.run([ZEM_RUN, "--check", f"{tmp}/table.zem"], cwd=tmp, capture_output=True, timeout=120)
    check("table", r.returncode == 0, r.stdout.decode() + r.stderr.decode())

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
