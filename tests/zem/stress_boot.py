"""Start-up under collector stress: every safe point of start-up collects and moves every buffer."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]

with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "empty.zem")
    with open(script, "w") as f:
        f.write("Zem []\n")
    env = dict(os.environ, ZEM_GC_STRESS="1", ZEM_GC_STRESS_BOOT="1")
    r = subprocess.run([ZEM_RUN, script], capture_output=True, timeout=600, env=env)
    if r.returncode != 0:
        sys.exit(f"status {r.returncode}: {r.stderr.decode(errors='replace')[-2000:]}")
