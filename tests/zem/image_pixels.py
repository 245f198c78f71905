"""image! pixels against a python3 model: the bytes of each get-pixels mode, set-pixels with short
binaries, tuples and integers, and the generated copy/part and paste rectangles of
tests/data/image_rects.zem (regenerate with tests/data/gen_image_rects.py)."""
import os
import random
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
failures = []
rng = random.Random(160)


def hexs(bs):
    return "#{" + bytes(bs).hex().upper() + "}"


class Model:
    """Pixels as [r, g, b, opacity] lists."""

    def __init__(self, n, rgb, alpha):
        self.px = []
        for i in range(n):
            r, g, b = rgb[3 * i:3 * i + 3] if 3 * i + 3 <= len(rgb) else (255, 255, 255)
            a = 255 - alpha[i] if i < len(alpha) else 255
            self.px.append([r, g, b, a])

    def get(self, mode):
        if mode == 0:
            return [255 - p[3] for p in self.px]
        if mode == 1:
            return [c for p in self.px for c in p[:3]]
        return [c for p in self.px for c in (p[2], p[1], p[0], p[3])]

    def set_binary(self, mode, data):
        if mode == 2:
            flat = self.get(2)
            flat[:len(data)] = data[:len(flat)]
            self.px = [[flat[i + 2], flat[i + 1], flat[i], flat[i + 3]] for i in range(0, len(flat), 4)]
        elif mode == 1:
            for i in range(min(len(self.px), len(data) // 3)):
                self.px[i][:3] = data[3 * i:3 * i + 3]
        else:
            for i in range(min(len(self.px), len(data))):
                self.px[i][3] = 255 - data[i]

    def set_word(self, mode, v):
        r, g, b, hi = v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF
        for p in self.px:
            if mode == 2:
                p[:] = [r, g, b, 255 - hi]
            elif mode == 1:
                p[:3] = [r, g, b]
            else:
                p[3] = 255 - r


MODES = {0: "alpha", 1: "rgb", 2: "argb"}
lines, expected = [], []
for _ in range(12):
    w, h = rng.randint(1, 6), rng.randint(1, 4)
    n = w * h
    rgb = [rng.randrange(256) for _ in range(3 * rng.randint(0, n) + rng.randint(0, 2))]
    alpha = [rng.randrange(256) for _ in range(rng.randint(0, n + 1))]
    model = Model(n, rgb, alpha)
    make = f"make image! [{w}x{h} {hexs(rgb)} {hexs(alpha)}]"
    for mode, word in MODES.items():
        lines.append(f"i: {make} print mold/flat i/{word}")
        expected.append(hexs(model.get(mode)))
    for mode, word in MODES.items():
        size = rng.randint(0, 4 * n + 3)
        data = [rng.randrange(256) for _ in range(size)]
        m = Model(n, rgb, alpha)
        m.set_binary(mode, data)
        lines.append(f"i: {make} i/{word}: {hexs(data)} print mold/flat i/argb")
        expected.append(hexs(m.get(2)))
        t = [rng.randrange(256) for _ in range(rng.choice([3, 4]))]
        m = Model(n, rgb, alpha)
        m.set_word(mode, t[0] | t[1] << 8 | t[2] << 16 | (t[3] << 24 if len(t) == 4 else 0))
        lines.append(f"i: {make} i/{word}: {'.'.join(map(str, t))} print mold/flat i/argb")
        expected.append(hexs(m.get(2)))
        v = rng.randint(-2**31, 2**31 - 1)
        m = Model(n, rgb, alpha)
        m.set_word(mode, v & 0xFFFFFFFF)
        lines.append(f"i: {make} i/{word}: {v} print mold/flat i/argb")
        expected.append(hexs(m.get(2)))
    # Each pixel as a tuple R.G.B.transparency, and mold then do giving an equal image.
    lines.append(f"i: {make} print mold/flat collect-pixels i")
    expected.append("[" + " ".join("%d.%d.%d.%d" % (p[0], p[1], p[2], 255 - p[3]) for p in model.px) + "]")
    lines.append(f"i: {make} print equal? i do mold skip i {rng.randint(0, n)}")
    expected.append("true")

prelude = "collect-pixels: func [i /local out] [out: copy [] foreach p i [append out p] out]"
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "pixels.zem")
    with open(path, "w") as f:
        f.write("Zem []\n" + prelude + "\n" + "\n".join(lines) + "\n")
    r = subprocess.run([ZEM_RUN, path], capture_output=True, timeout=120)
    out = r.stdout.decode().splitlines()
    if r.returncode != 0:
        failures.append(f"pixels script: status {r.returncode}: {r.stderr.decode()[:400]}")
    for i, (want, got) in enumerate(zip(expected, out)):
        if want != got:
            failures.append(f"{lines[i]}\n    expected {want}\n    got      {got}")
    if len(out) != len(expected):
        failures.append(f"{len(out)} lines for {len(expected)} expected")

r = subprocess.run([ZEM_RUN, "--check", os.path.join(DATA, "image_rects.zem")], capture_output=True, timeout=120)
if r.returncode != 0:
    failures.append("image_rects.zem:\n" + r.stdout.decode()[-3000:] + r.stderr.decode()[-1000:])

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
