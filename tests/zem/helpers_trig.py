"""The radian trigonometry shorthands and sqrt against python3's math module.

Both sides end in the C library's functions, so the results must agree bit for bit: a difference
of even one ulp fails. Results are compared through their IEEE bytes (to-binary), not their text."""
import math
import struct
import subprocess
import sys

ZEM_RUN = sys.argv[1]

angles = [0.0, 0.1, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.14159, 4.0, 6.0, 6.283185307179586, 10.0, 100.0,
          12345.678, 1e-8, 1e10, math.pi / 6, math.pi / 4, math.pi / 3, math.pi, 2 * math.pi]
angles += [-a for a in angles if a != 0.0]
unit = [-1.0, -0.9, -0.5, -0.25, -1e-9, 0.0, 1e-9, 0.3, 0.5, 0.7071067811865476, 0.9, 0.999999, 1.0]
slopes = [-1e300, -1e6, -10.0, -1.0, -0.5, 0.0, 0.25, 1.0, 1.7320508075688772, 50.0, 1e6, 1e300]
pairs = [(1, 2), (2, 1), (-1, 2), (1, -2), (-1, -2), (0, 1), (0, -1), (1, 0), (-1, 0), (3.5, -7.25),
         (1e-300, 1.0), (1.0, 1e-300), (-2, 0.5)]
roots = [0, 1, 2, 3, 4, 16, 1000000, 2147483647, 0.0, 0.5, 2.0, 1e-300, 1e300, 12345.6789]


def zem_float(x):
    """A float literal that reads back as x exactly: repr gives the shortest round-trip digits."""
    r = repr(float(x))
    return r.replace("e+", "e")


def zem_number(x):
    return str(x) if isinstance(x, int) else zem_float(x)


def snapped(fn):
    """The sine and cosine natives give 0.0 for results smaller than the double epsilon."""
    return lambda a: 0.0 if abs(fn(a)) < 2.220446049250313e-16 else fn(a)


cases = []  # (zem expression, python value)
for a in angles:
    for name, fn in (("cos", snapped(math.cos)), ("sin", snapped(math.sin)), ("tan", math.tan)):
        cases.append((f"{name} {zem_float(a)}", fn(a)))
for u in unit:
    cases.append((f"acos {zem_float(u)}", math.acos(u)))
    cases.append((f"asin {zem_float(u)}", math.asin(u)))
for t in slopes:
    cases.append((f"atan {zem_float(t)}", math.atan(t)))
for y, x in pairs:
    cases.append((f"atan2 {zem_number(y)} {zem_number(x)}", math.atan2(y, x)))
for r in roots:
    cases.append((f"sqrt {zem_number(r)}", math.sqrt(r)))

script = "Zem []\n" + "".join(f"print enbase/base to-binary {expr} 16\n" for expr, _ in cases)
run = subprocess.run([ZEM_RUN, "-"], input=script.encode(), capture_output=True, timeout=120)
lines = run.stdout.decode().split()
failures = []
if run.returncode != 0 or len(lines) != len(cases):
    failures.append(f"status {run.returncode}, {len(lines)} lines for {len(cases)} cases; "
                    f"stderr {run.stderr.decode()!r}")
else:
    for (expr, want), got_hex in zip(cases, lines):
        want_hex = struct.pack(">d", want).hex().upper()
        if got_hex != want_hex:
            got = struct.unpack(">d", bytes.fromhex(got_hex))[0]
            failures.append(f"{expr}: got {got!r} ({got_hex}), python3 {want!r} ({want_hex})")

# Out of the domain the natives answer NaN where python3 raises: the shorthands pass it on.
edge = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\nprint [acos 1.5 asin -2.0 sqrt -1]\n",
                      capture_output=True, timeout=60)
if edge.stdout != b"1.#NaN 1.#NaN 1.#NaN\n":
    failures.append(f"out-of-domain results {edge.stdout!r} {edge.stderr!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
