"""vector! element arithmetic against python3's struct: wrap-around of 8-, 16- and 32-bit integer
elements, the rounding of 4-byte float elements, and char elements at every width."""
import os
import random
import struct
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []
rng = random.Random(38)

INT_CODES = {8: "b", 16: "h", 32: "i"}
UNSIGNED = {8: "B", 16: "H", 32: "I"}


def wrap(x, bits):
    """The signed value of x's low bits, through struct as an independent reference."""
    mask = (1 << bits) - 1
    return struct.unpack("<" + INT_CODES[bits], struct.pack("<" + UNSIGNED[bits], x & mask))[0]


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def run(lines):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "v.zem")
        with open(path, "w", encoding="utf-8") as f:
            f.write("Zem []\n" + "\n".join(lines) + "\n")
        r = subprocess.run([ZEM_RUN, path], capture_output=True, timeout=120)
    if r.returncode != 0:
        failures.append(f"zem-run status {r.returncode}: {r.stderr.decode(errors='replace')[:400]}")
        return []
    return r.stdout.decode("utf-8").splitlines()


# Integer elements: element-wise with a scalar and with another vector, against wrapped python ints.
cases, expected = [], []
ops = [("+", lambda a, b: a + b), ("-", lambda a, b: a - b), ("*", lambda a, b: a * b)]
for bits in (8, 16, 32):
    lo, hi = -(1 << (bits - 1)), (1 << (bits - 1)) - 1
    for sym, fn in ops:
        for _ in range(6):
            xs = [rng.randint(lo, hi) for _ in range(5)]
            k = rng.choice([rng.randint(-2**31, 2**31 - 1), rng.randint(-300, 300), hi, lo])
            cases.append(f"v: make vector! [integer! {bits} [{' '.join(map(str, xs))}]] v {sym} {k} print mold/only v")
            expected.append(" ".join(str(wrap(fn(x, k), bits)) for x in xs))
            ys = [rng.randint(lo, hi) for _ in range(4)]
            cases.append(f"print mold/only (make vector! [integer! {bits} [{' '.join(map(str, xs))}]]) {sym} "
                         f"make vector! [integer! {bits} [{' '.join(map(str, ys))}]]")
            expected.append(" ".join(str(wrap(fn(x, y), bits)) for x, y in zip(xs, ys)))
# Mixed widths: the wider width and the shorter count.
for _ in range(6):
    a_bits, b_bits = rng.choice([(8, 16), (16, 32), (8, 32), (32, 8)])
    xs = [rng.randint(-(1 << (a_bits - 1)), (1 << (a_bits - 1)) - 1) for _ in range(rng.randint(1, 6))]
    ys = [rng.randint(-(1 << (b_bits - 1)), (1 << (b_bits - 1)) - 1) for _ in range(rng.randint(1, 6))]
    w = max(a_bits, b_bits)
    cases.append(f"r: (make vector! [integer! {a_bits} [{' '.join(map(str, xs))}]]) * "
                 f"make vector! [integer! {b_bits} [{' '.join(map(str, ys))}]] print mold/only r print length? r")
    expected.append(" ".join(str(wrap(x * y, w)) for x, y in zip(xs, ys)))
    expected.append(str(min(len(xs), len(ys))))
# 4-byte floats round as struct rounds them; the text is the shortest of 7 digits.
for _ in range(20):
    x = rng.uniform(-1e6, 1e6)
    cases.append(f"print equal? pick make vector! [float! 32 [{x!r}]] 1 {single(x)!r}")
    expected.append("true")
    cases.append(f"v: make vector! [float! 32 [{x!r}]] v * 2.5 print equal? pick v 1 {single(single(x) * 2.5)!r}")
    expected.append("true")
# char elements at every width: zero-extended, low bits kept.
for cp in (0x41, 0xE9, 0x20AC, 0x1F600):
    for bits in (8, 16, 32):
        kept = cp & ((1 << bits) - 1)
        cases.append(f"print to integer! pick make vector! [char! {bits} [#\"{chr(cp)}\"]] 1")
        expected.append(str(kept))

out = run(cases)
if out:
    for i, (want, got) in enumerate(zip(expected, out)):
        if want != got:
            failures.append(f"line {i}: expected {want!r}, got {got!r}")
    if len(out) != len(expected):
        failures.append(f"{len(out)} lines for {len(expected)} expected")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
