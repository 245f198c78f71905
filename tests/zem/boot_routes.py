"""The start-up routes: ZEM_BOOT picks the route (a bad value ends start-up with status 65 and a
message; without it the programs start from their boot image), ZEM_BOOT_TIMES=1 reports the steps
on stderr, and the global environment dumped by zem-env-dump is the same whichever route built it,
each dump made by its own process with the same environment variables."""
import difflib
import os
import re
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
BUILD = os.path.dirname(os.path.abspath(ZEM_RUN))
ENV_DUMP = os.path.join(BUILD, "zem-env-dump")
ROUTES = ["source", "image"]
IMAGE_FAULT = 65
failures = []


def run(cmd, boot, times=False):
    env = {k: v for k, v in os.environ.items() if k not in ("ZEM_BOOT", "ZEM_BOOT_TIMES")}
    env["ZEM_BOOT"] = boot
    if times:
        env["ZEM_BOOT_TIMES"] = "1"
    return subprocess.run(cmd, capture_output=True, env=env, timeout=300)


def dump(boot):
    r = run([ENV_DUMP], boot)
    if r.returncode != 0:
        failures.append(f"dump with ZEM_BOOT={boot}: status {r.returncode}: {r.stderr.decode(errors='replace')}")
        return ""
    return r.stdout.decode("utf-8")


def first_difference(a, b, label):
    diff = list(difflib.unified_diff(a.splitlines(), b.splitlines(), lineterm="", n=1))
    return f"{label}:\n" + "\n".join(line[:300] for line in diff[:40])


first = dump("source")
# Enough of the environment to show the dump reads it: globals, functions and their bindings.
for want in ["\nsystem\tobject!\t-\tmake object! [", "\nprobe\tfunction!\tlib\t", "\nbind load ",
             "\nbind system/reactivity/check "]:
    if want not in first:
        failures.append(f"dump lacks {want!r}")
for boot in ROUTES:
    other = dump(boot)
    if other != first:
        failures.append(first_difference(first, other, f"ZEM_BOOT=source and ZEM_BOOT={boot} differ"))

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "s.zem")
    with open(script, "w") as f:
        f.write('Zem []\nprint "ran"\n')
    for boot in ["Source", "images", " "]:
        r = run([ZEM_RUN, script], boot)
        err = r.stderr.decode(errors="replace")
        if r.returncode != IMAGE_FAULT or "ZEM_BOOT is source or image" not in err or r.stdout:
            failures.append(f"ZEM_BOOT={boot!r}: status {r.returncode}, stdout {r.stdout!r}, stderr {err!r}")
    for boot in ROUTES + [""]:
        r = run([ZEM_RUN, script], boot, times=True)
        err = r.stderr.decode(errors="replace")
        want = boot or "image"  # the default: the programs carry an image
        line = re.fullmatch(rf"zem boot: {want} \(\d+ bytes\): (\w+ \d+\.\d{{3}} ms)(, \w+ \d+\.\d{{3}} ms)*\n",
                            err)
        if r.returncode != 0 or r.stdout != b"ran\n" or not line:
            failures.append(f"ZEM_BOOT_TIMES with ZEM_BOOT={boot!r}: status {r.returncode}, "
                            f"stdout {r.stdout!r}, stderr {err!r}")
        r = run([ZEM_RUN, script], boot)
        if r.stderr:
            failures.append(f"without ZEM_BOOT_TIMES, ZEM_BOOT={boot!r} wrote {r.stderr!r}")

if failures:
    print("\n\n".join(failures))
    sys.exit(1)
