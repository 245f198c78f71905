"""What reactivity prints, through zem-run: dump-reactions for an empty and a small table and cut to
the console's width, the debug? trace lines, and errors inside reactions printed with their
"*** Near: " line while the code that changed the field goes on. Each script runs twice: once
plainly and once with a collection at every safe point."""
import os
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []

FIXTURE = """a: reactor [x: 1 y: 2] b: reactor [x: 0]
react [b/x: a/x + 1]
f: func [p q] [q/x: p/y]
react/link :f [a b]
c: reactor [v: 1 w: none]
do bind [relate w: [v * 2]] c
"""

SMALL_TABLE = """1:---
  Source: object [x y]
   Field: x
  Action: [b/x: a/x + 1]
2:---
  Source: object [x y]
   Field: y
  Action: func [p q][q/x: p/y]
    Args: [object [x: 1 y: 2] object [x: 2]]
3:---
  Source: object [v w]
   Field: v
  Action: [v * 2]
  Target: w
"""

cases = [
    # (name, script body, stdout)
    ("an empty table", "dump-reactions\n", "-- no reactions --\n"),
    ("an emptied table", FIXTURE + "clear-reactions\ndump-reactions\n", "-- no reactions --\n"),
    ("a small table", FIXTURE + "dump-reactions\n", SMALL_TABLE),
    ("lines cut to the console's width less ten",
     FIXTURE + "system/console: make object! [size: 40x10]\n"
     "react/later [b/x: a/x + 1000000000 + 2000000000]\ndump-reactions\n",
     SMALL_TABLE.replace("object [x: 2]]", "make")
     + "4:---\n  Source: object [x y]\n   Field: x\n  Action: [b/x: a/x + 1000000000 + 20000\n"),
    ("dump-reactions returns unset", "print mold reduce [dump-reactions]\n",
     "-- no reactions --\n[unset]\n"),
    ("the trace of on-change*, stop-reactor and clear-reactions",
     "a: reactor [x: 1] d: deep-reactor [s: [1]]\n"
     "system/reactivity/debug?: true\n"
     "a/x: \"s\"\nd/s: none\nstop-reactor a\n"
     "stop-reactor/deep make object! [type: 'window pane: []]\nclear-reactions\n"
     "system/reactivity/debug?: false\na/x: 3\n",
     "-- on-change event -- \n\tword : x \n\told  : integer \n\tnew  : string\n"
     "-- on-change event -- \n\tword : s \n\told  : block \n\tnew  : none\n"
     "-- reactivity: stopping, face: none /deep: false\n"
     "-- reactivity: stopping, face: window /deep: true\n"
     "-- reactivity: clear all\n"),
    ("an error inside a reaction is printed and the setter goes on",
     "e: reactor [v: 1]\nreact/later [print \"running\" 10 / e/v]\n"
     "e/v: 0\nprint \"after the change\"\ne/v: 2\nprint empty? system/reactivity/queue\n",
     "running\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : [10 / e/v]\n"
     "*** Near: [print \"running\" 10 / e/v]\nafter the change\nrunning\ntrue\n"),
    ("the Near line is cut to 80 characters",
     "e: reactor [v: 1]\nreact/later [e/v / 0 " + "a" * 100 + "]\ne/v: 3\n",
     "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : [e/v / 0 "
     + "a" * 31 + "\n*** Near: [e/v / 0 " + "a" * 71 + "\n"),
    ("an error inside no-react is printed and the table comes back",
     "e: reactor [v: 1] n: 0 react [n: e/v]\n"
     "print mold no-react [e/v: 5 1 / 0]\n"
     "print [n head? system/reactivity/relations]\ne/v: 6 print n\n",
     "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : [1 / 0]\n"
     "*** Near: [e/v: 5 1 / 0]\nnone\n1 true\n6\n"),
]

for stress in ("", "1"):
    env = dict(os.environ)
    env.pop("ZEM_GC_STRESS", None)
    if stress:
        env["ZEM_GC_STRESS"] = stress
    for name, body, out in cases:
        r = subprocess.run([ZEM_RUN, "-"], input=("Zem []\n" + body).encode(), capture_output=True,
                           timeout=120, env=env)
        got = r.stdout.decode("utf-8", "replace")
        if got != out or r.returncode != 0:
            failures.append(f"{name} (stress {stress or 'off'}): stdout {got!r}, expected {out!r}; "
                            f"status {r.returncode} stderr {r.stderr!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
