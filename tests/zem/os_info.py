"""The OS description of os-info against uname(1): the system name and kernel release, the
architecture word of the machine name, and the build number of the kernel version text."""
import re
import subprocess
import sys
import tempfile
import os

ZEM_RUN = sys.argv[1]
failures = []

ARCH = {"x86_64": "x86-64", "amd64": "x86-64", "i386": "x86-32", "i686": "x86-32",
        "aarch64": "ARM64", "arm64": "ARM64", "ia64": "IA-64"}

system, release, machine = subprocess.run(["uname", "-srm"], capture_output=True, text=True,
                                          check=True).stdout.split()
kernel_version = subprocess.run(["uname", "-v"], capture_output=True, text=True, check=True).stdout
build = re.match(r"#(\d+)", kernel_version)
# The version tuple: the release's leading dotted numbers, at most three, each held at 255.
lead = re.match(r"\d+(?:\.\d+){0,2}", release)
parts = [min(255, int(n)) for n in lead.group(0).split(".")] if lead else []
version = ".".join(str(n) for n in parts + [0] * (3 - len(parts)))
arch = ARCH.get(machine, "ARM" if machine.startswith("arm") else "Unknown")

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "os.zem")
    with open(script, "w") as f:
        f.write("Zem []\ninfo: os-info\nprint info/name\nprint info/arch\nprint info/build\n"
                "print mold info/version\n")
    r = subprocess.run([ZEM_RUN, script], capture_output=True, text=True, timeout=60)
    want = [f"{system} {release}", arch, build.group(1) if build else "0", version]
    if r.returncode != 0 or r.stdout.splitlines() != want:
        failures.append(f"status {r.returncode}: got {r.stdout.splitlines()!r}, want {want!r}\n"
                        f"{r.stderr}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
