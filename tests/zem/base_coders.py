"""enbase and debase against outside coders: coreutils base64 and basenc for bases 64, 16 and 2, a
short python3 reference for base 58; write-stdout of a binary gives its bytes as they are."""
import base64
import random
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []


def run(body, stdin_name):
    r = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\n" + body.encode(), capture_output=True,
                       timeout=300)
    if r.returncode != 0:
        failures.append(f"{stdin_name}: status {r.returncode}, stderr {r.stderr[:300]!r}")
    return r.stdout


def coreutils(args, data):
    return subprocess.run(args, input=data, capture_output=True, check=True).stdout


def base58(data):
    alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
    n = int.from_bytes(data, "big")
    out = ""
    while n:
        n, r = divmod(n, 58)
        out = alphabet[r] + out
    zeros = len(data) - len(data.lstrip(b"\0"))
    return "1" * zeros + out


def hexlit(data):
    return "#{" + data.hex().upper() + "}"


rng = random.Random(26)
samples = [bytes(rng.randrange(256) for _ in range(n)) for n in range(101)]
samples += [b"\0\0\1", b"\0" * 5, b"\xff" * 7]

# Every sample in each base: one line per encoding, then the decoded text of each line re-encoded
# in base 16 (checked against the sample's hex).
expected = []
lines = []
for data in samples:
    refs = {
        64: coreutils(["base64", "-w0"], data).decode(),
        16: coreutils(["basenc", "--base16", "-w0"], data).decode(),
        2: coreutils(["basenc", "--base2msbf", "-w0"], data).decode(),
        58: base58(data),
    }
    for base, text in refs.items():
        lines.append(f"print enbase/base {hexlit(data)} {base}")
        expected.append(text)
        lines.append(f'print enbase/base debase/base "{text}" {base} 16')
        expected.append(data.hex().upper())
out = run("\n".join(lines) + "\n", "samples").decode().split("\n")
for i, want in enumerate(expected):
    got = out[i] if i < len(out) else None
    if got != want:
        failures.append(f"line {i}: {lines[i][:80]}: got {got!r:.80}, expected {want!r:.80}")
        break

# One megabyte both ways in bases 64, 16 and 2; the decoded bytes written to stdout as they are.
big = bytes(rng.randrange(256) for _ in range(1 << 20))
literal = hexlit(big)
for base, args in ((64, ["base64", "-w0"]), (16, ["basenc", "--base16", "-w0"]),
                   (2, ["basenc", "--base2msbf", "-w0"])):
    text = coreutils(args, big)
    got = run(f"write-stdout enbase/base {literal} {base}\n", f"encode 1 MB base {base}")
    if got != text:
        failures.append(f"encode 1 MB base {base}: {len(got)} bytes, differs")
    wrapped = coreutils(args[:-1] + ["-w", "76"], big).decode()  # decoders skip line breaks
    got = run(f"write-stdout debase/base {{{wrapped}}} {base}\n", f"decode 1 MB base {base}")
    if got != big:
        failures.append(f"decode 1 MB base {base}: {len(got)} bytes, differs")
    if coreutils(args[:1] + ["-d"] + args[1:-1], text) != big:
        failures.append(f"coreutils round trip base {base}")

# Line breaks, blanks and ";" comments decode the same as without them; text outside the alphabet
# (a code point of 128 or more included) gives none; bases other than 2, 16, 58, 64 are refused.
cases = [
    ('debase "AQID AQID"', "#{010203010203}"),
    ('debase "AQ^/ID ;comment^/AQ^-ID"', "#{010203010203}"),
    ('debase "AQID ;é^/AQID"', "#{010203010203}"),  # a 2-byte text
    ('debase "AQID ;😀^/AQID"', "#{010203010203}"),  # a 4-byte text
    ('debase/base "0a 0B ;x^/ff" 16', "#{0A0BFF}"),
    ('debase/base "11 1" 58', "#{000000}"),
    ('debase/base "00000001^/ 11111111" 2', "#{01FF}"),
    ('debase/base "°" 16', "none"),
    ('debase/base "Á1" 16', "none"),
    ('debase/base "1é" 58', "none"),
    ('debase "AQé"', "none"),
    ('debase "AQ*D"', "none"),
    ('debase/base "0000000" 2', "none"),
    ('enbase "é"', '"w6k="'),
    ('enbase next #{010203}', '"AgM="'),
    ('enbase/base "" 58', '""'),
    ('e: try [debase/base "AQ" 32] reduce [e/id e/arg1]', "[invalid-arg 32]"),
    ('e: try [enbase/base #{01} 8] reduce [e/id e/arg1]', "[invalid-arg 8]"),
]
out = run("".join(f"print mold ({expr})\n" for expr, _ in cases), "cases").decode().split("\n")
for i, (expr, want) in enumerate(cases):
    got = out[i] if i < len(out) else None
    if got != want:
        failures.append(f"{expr}: got {got!r}, expected {want!r}")

raw = bytes([0, 255, 10, 0xC3])
got = run(f"write-stdout {hexlit(raw)}\n", "write-stdout")
if got != raw:
    failures.append(f"write-stdout of a binary: {got!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
