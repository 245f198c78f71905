"""What clock, show-memory-stats, stats/show and transcode-trace print, through zem-run."""
import re
import subprocess
import sys

ZEM_RUN = sys.argv[1]
failures = []


def run(body):
    r = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\n" + body.encode(), capture_output=True,
                       timeout=60)
    if r.returncode != 0:
        failures.append(f"status {r.returncode} for {body!r}: {r.stderr.decode()!r}")
    return r.stdout.decode()


def expect(name, got, want):
    if got != want:
        failures.append(f"{name}:\n--- got\n{got}--- expected\n{want}---")


# clock: the time per run shortened to three figures (never into the integer part), in ms, or in
# μs below 1 ms; the timing itself is a fixed figure here.
CLOCK = [
    ("0:00:00.123456", "", "123 ms"),
    ("0:00:12.3456", "", "12345 ms"),
    ("0:00:00.00123456", "", "1.23 ms"),
    ("0:00:00.001", "", "1.0 ms"),
    ("0:00:05", "", "5000 ms"),
    ("0:00:00.000250", "", "250 μs"),
    ("0:00:00.0000005", "", "0.5 μs"),
    ("0:00:00.0001", "", "100 μs"),
    ("0:00:01", "/times 4", "250 ms"),
    ("0:00:01", "/times 2.5", "400 ms"),
    ("0:00:01", "/times 0", "1000 ms"),
    ("0:00:01", "/times -3", "1000 ms"),
]
for figure, refinement, text in CLOCK:
    n = "" if not refinement else " " + refinement.split()[1]
    out = run(f"time-it: func [body] [do body  {figure}]\n"
              f"print mold clock{refinement.split()[0] if refinement else ''} [1 + 1]{n}\n")
    expect(f"clock {figure} {refinement}", out, f"{text}\t[1 + 1]\n2\n")

# The code runs n times, at least once; the label is the code molded flat, cut to 70 characters.
out = run("n: 0 clock/times [n: n + 1] 3 print n\n"
          "n: 0 clock/times [n: n + 1] 0 print n\n"
          "n: 0 clock/times [n: n + 1] -2 print n\n")
lines = out.splitlines()
counts = [l for l in lines if "\t" not in l]
expect("clock runs", counts, ["3", "1", "1"])
out = run("clock [\n  1 + 1\n  \"" + "x" * 80 + "\"\n]\n")
m = re.fullmatch(r"(\d+(?:\.\d+)?) (ms|μs)\t(.*)\n", out)
if not m or len(m.group(3)) != 70 or not re.fullmatch(r"\[1 \+ 1 .x+", m.group(3)):
    failures.append(f"clock label: {out!r}")
elif "." in m.group(1) and len(m.group(1)) > 4:
    failures.append(f"clock figure: {out!r}")

# show-memory-stats: the exact layout from a fixed block.
STATS = """
[ Nodes  ] -- Free ----- Used ----- Total --
   1:           10         20          30
   2:            5          6          11
  --
  Used     :  26 nodes
  Allocated:  41 nodes

[ Series ] -- Free ----- Used ----- Total --
   1:          100        900        1000
  --
  Used     :  900 bytes
  Allocated:  1000 bytes

[ Big    ]
   1:         4096
   2:       123456
  --
  Allocated:  127552 bytes
--
Total allocated from OS (virtual):    987654 
Total allocated on heap (malloc):     12345 

"""
out = run("show-memory-stats [[[10 20 30] [5 6 11]] [[100 900 1000]] [4096 123456] 987654 12345]\n")
expect("show-memory-stats", out, STATS)

EMPTY = """
[ Nodes  ] -- Free ----- Used ----- Total --
               -          -           -
  --
  Used     :  0 nodes
  Allocated:  0 nodes

[ Series ] -- Free ----- Used ----- Total --
               -          -           -
  --
  Used     :  0 bytes
  Allocated:  0 bytes

[ Big    ]
  --
  Allocated:  0 bytes
--
Total allocated from OS (virtual):         0 
Total allocated on heap (malloc):         0 

"""
out = run("show-memory-stats [[] [] [] 0 0]\n")
expect("show-memory-stats without frames", out, EMPTY)

# stats/show feeds it the block of the memory manager, and gives unset.
out = run("print unset? stats/show\n")
report = re.compile(
    r"\n\[ Nodes  \] -- Free ----- Used ----- Total --\n(   \d+:  *\d+ +\d+ +\d+\n)+  --\n"
    r"  Used     :  \d+ nodes\n  Allocated:  \d+ nodes\n"
    r"\n\[ Series \] -- Free ----- Used ----- Total --\n(   \d+:  *\d+ +\d+ +\d+\n)+  --\n"
    r"  Used     :  \d+ bytes\n  Allocated:  \d+ bytes\n"
    r"\n\[ Big    \]\n(   \d+:  *\d+\n)*  --\n  Allocated:  \d+ bytes\n--\n"
    r"Total allocated from OS \(virtual\): +\d+ \nTotal allocated on heap \(malloc\): +\d+ \n\n"
    r"true\n")
if not report.fullmatch(out):
    failures.append(f"stats/show: {out!r}")

# transcode-trace: one line per lexer event; after an error the scan goes on one character later.
TRACE = """\
PRESCAN  word!        1x18         1    " 1x^/[b]"
SCAN     word!        1x18         1    " 1x^/[b]"
LOAD     word!        abcdefghijkl 1    " 1x^/[b]"
PRESCAN  error!       19x21        1    "1x^/[b]"
ERROR    error!       19x21        1    "^/[b]"
PRESCAN  block-open   22x23        1    "[b]"
OPEN     block!       22x23        1    "[b]"
PRESCAN  word!        23x24        1    "]"
SCAN     word!        23x24        1    "]"
LOAD     word!        b            1    "]"
PRESCAN  block-close  24x25        1    "]"
CLOSE    block!       24x25        1    "]"
[abcdefghijklmnopq [b]]
PRESCAN  error!       1x3          1    "1x 2^/c"
ERROR    error!       1x3          1    " 2^/c"
PRESCAN  integer!     4x5          1    "^/c"
SCAN     integer!     4x5          1    "^/c"
LOAD     integer!     2            1    "^/c"
PRESCAN  word!        6x7          2    ""
SCAN     word!        6x7          2    ""
LOAD     word!        c            2    ""
[2 c]
PRESCAN  error!       1x3          1    #{31782032}
ERROR    error!       1x3          1    #{2032}
PRESCAN  integer!     4x5          1    #{}
SCAN     integer!     4x5          1    #{}
LOAD     integer!     2            1    #{}
[2]
"""
out = run('print mold/flat transcode-trace "abcdefghijklmnopq 1x^/[b]"\n'
          'print mold/flat transcode-trace "1x 2^/c"\n'
          "print mold/flat transcode-trace #{31782032}\n")
expect("transcode-trace", out, TRACE)

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
