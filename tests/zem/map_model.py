"""The randomized map model test: 100,000 operations (put, put/case, select, select/case,
remove/key, find, length?, clear, and the whole map molded every 500 steps) replayed on one map!
and checked after each step against the results of the python3 model that
tests/data/map_model_gen.py wrote into tests/data/map_model.trace."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
DATA = os.environ.get("ZEM_TEST_DATA", os.path.join(os.path.dirname(__file__), "..", "data"))
TRACE = os.path.join(DATA, "map_model.trace")

SCRIPT = """Zem []
ops: transcode read to-file get-env "MAP_TRACE"
m: make map! []
n: 0 bad: 0
foreach [op key val want] ops [
    n: n + 1
    got: switch op [
        put [mold put m key val]
        put-case [mold put/case m key val]
        select [mold select m key]
        select-case [mold select/case m key]
        remove [remove/key m key mold length? m]
        find [mold find m key]
        length [mold length? m]
        clear [clear m mold length? m]
        body [mold/flat m]
    ]
    unless strict-equal? got want [
        bad: bad + 1
        if bad <= 5 [print ["step" n op mold key "want" want "got" got]]
    ]
]
print ["steps" n "failures" bad]
"""

with tempfile.NamedTemporaryFile("w", suffix=".zem", delete=False, encoding="utf-8") as f:
    f.write(SCRIPT)
    script = f.name
env = dict(os.environ, MAP_TRACE=TRACE)
# Under collector stress every collection moves the whole trace: a sparser stride keeps this long
# run within the time limit while still collecting thousands of times.
if env.get("ZEM_GC_STRESS"):
    env["ZEM_GC_STRESS"] = "997"
p = subprocess.run([ZEM_RUN, script], capture_output=True, env=env, timeout=580)
os.unlink(script)
out = p.stdout.decode("utf-8", errors="replace")
print(out.strip().splitlines()[-1] if out.strip() else "no output")
if p.returncode != 0 or "steps 100000 failures 0" not in out:
    print(out[-4000:], p.stderr.decode(errors="replace")[-2000:])
    sys.exit(1)
