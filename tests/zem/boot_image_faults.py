"""Programs built with a boot image start-up must refuse (tools/embed_boot_image.py --damage): a bad
magic, a byte of the records flipped, and an image written from other library sources. Each ends
start-up with its message on stderr and status 65 (not success, not a crash report), prints
nothing on stdout, and still starts from the source when ZEM_BOOT=source asks for it."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
BUILD = os.path.dirname(os.path.abspath(ZEM_RUN))
IMAGE_FAULT = 65
CASES = [
    ("magic", "Error: Not a Zembin file!\n"),
    ("payload", "*** boot: the boot image is damaged (its checksum does not match)\n"),
    ("stale", "*** boot: the boot image was written from other library sources than this program's\n"),
]
failures = []

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "s.zem")
    with open(script, "w") as f:
        f.write('Zem []\nprint "ran"\n')
    base = {k: v for k, v in os.environ.items() if k not in ("ZEM_BOOT", "ZEM_BOOT_TIMES")}
    for damage, message in CASES:
        program = os.path.join(BUILD, f"zem-run-{damage}")
        for boot in [None, "image"]:
            env = dict(base, **({"ZEM_BOOT": boot} if boot else {}))
            r = subprocess.run([program, script], capture_output=True, env=env, timeout=120)
            err = r.stderr.decode(errors="replace")
            if (r.returncode, r.stdout, err) != (IMAGE_FAULT, b"", message):
                failures.append(f"{damage}, ZEM_BOOT={boot}: status {r.returncode}, stdout {r.stdout!r}, "
                                f"stderr {err!r}; want {IMAGE_FAULT} and {message!r}")
        r = subprocess.run([program, script], capture_output=True, env=dict(base, ZEM_BOOT="source"),
                           timeout=120)
        if (r.returncode, r.stdout) != (0, b"ran\n"):
            failures.append(f"{damage}, ZEM_BOOT=source: status {r.returncode}, {r.stdout!r} {r.stderr!r}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
