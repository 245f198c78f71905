"""The image codecs of system/codecs against ImageMagick: load of each container (by every suffix
the codecs claim) gives the size identify reports; save by suffix writes files identify names
with the right format and size, pixel-equal to the source (compare -metric AE) for the lossless
formats; every decoder sniffs the container."""
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


def identify(path, fmt):
    r = subprocess.run(["identify", "-format", fmt, path + "[0]"], capture_output=True, timeout=60)
    return r.stdout.decode().strip()


def differing_pixels(a, b):
    r = subprocess.run(["compare", "-metric", "AE", a, b, "null:"], capture_output=True, timeout=60)
    return r.stderr.decode().strip()


# input name -> fixture; every suffix of every image codec
LOADS = {
    "a.png": "png_rgba.png", "b.png": "png_palette.png", "c.bmp": "bmp_8bit.bmp",
    "d.bmp": "bmp_24bit.bmp", "e.gif": "gif_plain.gif", "f.jpg": "jpeg_baseline.jpg",
    "g.jpeg": "jpeg_progressive.jpg", "h.jpe": "jpeg_baseline.jpg", "i.jfif": "jpeg_baseline.jpg",
    "j.tif": "tiff_rgb.tif", "k.tiff": "tiff_lzw.tif", "l.png": "png_grey_alpha.png",
}
# output name -> (source, format identify names, lossless)
SAVES = {
    "s.png": ("d.bmp", "PNG", True), "s.bmp": ("a.png", "BMP", False), "t.bmp": ("d.bmp", "BMP", True),
    "s.gif": ("d.bmp", "GIF", True), "s.tif": ("d.bmp", "TIFF", True), "t.tif": ("a.png", "TIFF", True),
    "t.png": ("a.png", "PNG", True), "s.tiff": ("c.bmp", "TIFF", True), "s.jpg": ("d.bmp", "JPEG", False),
    "s.jfif": ("d.bmp", "JPEG", False),
}

TABLE = r"""
; the registry, in its order, with the fields in order
words-of system/codecs ;== [png jpeg bmp gif tiff zembin json csv]
words-of system/codecs/jpeg ;== [title name mime-type suffixes encode decode]
c: system/codecs/tiff reduce [c/title c/name c/mime-type c/suffixes] ;== ["" TIFF [image/tiff] [%.tif %.tiff]]
system/codecs/jpeg/suffixes ;== [%.jpg %.jpeg %.jpe %.jfif]
; every decoder recognises the container from the bytes
i: system/codecs/png/decode read/binary %e.gif i/size ;== 7x5
(system/codecs/bmp/decode %a.png) = load %a.png ;== true
i: load/as read/binary %j.tif 'gif i/size ;== 7x5
; bytes of no image format give none
system/codecs/png/decode #{0001020304} ;== none
; the codec's bytes, unwritten: the destination is left to save
b: system/codecs/png/encode load %a.png %nowhere.png reduce [copy/part b 4 exists? %nowhere.png] ;== [#{89504E47} false]
(load/as save/as none load %a.png 'png 'png) = load %a.png ;== true
(load/as save/as none load %d.bmp 'bmp 'png) = load %d.bmp ;== true
save %bad.png [1 2] ;** script expect-arg
save/as none make image! 0x0 'png ;** access bad-media
"""


with tempfile.TemporaryDirectory() as tmp:
    for name, fixture in LOADS.items():
        shutil.copy(os.path.join(IMAGES, fixture), os.path.join(tmp, name))
    script = "".join(f'i: load %{n} print ["{n}" i/size]\n' for n in LOADS)
    script += "".join(f"save %{out} load %{src}\n" for out, (src, _, _) in SAVES.items())
    with open(f"{tmp}/run.zem", "w") as f:
        f.write("Zem []\n" + script)
    r = subprocess.run([ZEM_RUN, f"{tmp}/run.zem"], cwd=tmp, capture_output=True, timeout=120)
    check("run", r.returncode == 0, r.stdout.decode() + r.stderr.decode())
    sizes = dict(line.split(" ", 1) for line in r.stdout.decode().splitlines() if " " in line)
    for name in LOADS:
        want = identify(f"{tmp}/{name}", "%wx%h")
        check(f"load {name}", sizes.get(name) == want, f"{sizes.get(name)} != {want}")
    for out, (src, fmt, lossless) in SAVES.items():
        path = f"{tmp}/{out}"
        if not os.path.exists(path):
            check(f"save {out}", False, "not written")
            continue
        want = fmt + " " + identify(f"{tmp}/{src}", "%w %h")
        check(f"save {out}", identify(path, "%m %w %h") == want, f"{identify(path, '%m %w %h')} != {want}")
        if lossless:
            ae = differing_pixels(f"{tmp}/{src}", path)
            check(f"pixels {out}", ae == "0", ae)

    with open(f"{tmp}/table.zem", "w") as f:
        f.write("Zem []\n" + TABLE)
    r = subprocess.run([ZEM_RUN, "--check", f"{tmp}/table.zem"], cwd=tmp, capture_output=True, timeout=120)
    check("table", r.returncode == 0, r.stdout.decode() + r.stderr.decode())

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
