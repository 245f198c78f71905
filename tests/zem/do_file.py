"""do of a script file through zem-run processes: the header search, the preprocessor, the script
object, and the current directory, system/script and source-files put back after an error."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


with tempfile.TemporaryDirectory() as tmp:
    tmp = os.path.realpath(tmp)
    sub = os.path.join(tmp, "sub")
    os.mkdir(sub)
    write(os.path.join(sub, "shell.zem"),
          '#!/bin/sh\nexec zem "$0" "$@"\nZem [title: "shell" currencies: [XQZ]]\n'
          'print ["dir" what-dir]\nprint ["title" system/script/header/title]\n'
          'print ["parent" same? s0 system/script/parent]\n'
          'print ["files" mold system/state/source-files]\n'
          '#either 1 > 2 [print "wrong"][print "expanded"]\n'
          'try [1 / 0]\n')
    write(os.path.join(sub, "raise.zem"), "Zem []\nprint what-dir\n1 / 0\n")
    write(os.path.join(sub, "halt.zem"), "Zem []\nprint 1\nthrow/name 'halt-request 'console\nprint 2\n")
    write(os.path.join(sub, "unset.zem"), "Zem []\nprint 3\n")
    write(os.path.join(sub, "lower.zem"), "zem []\nprint 1\n")
    write(os.path.join(sub, "system.zem"), "Zem/System []\n")
    # words the main script never names: defined, used by a function and read back by the caller
    write(os.path.join(sub, "defs.zem"), "Zem []\nquux-double: func [x] [quux-base * x]\nquux-base: 2\nquux-result: quux-double 21\n")
    write(os.path.join(tmp, "main.zem"), "Zem []\n" + "\n".join([
        's0: system/script',
        'r: do %sub/shell.zem',
        'print ["result" type? :r  all [error? :r  r/id = \'zero-divide]]',
        'print ["back" what-dir]',
        'print ["currency" to logic! find system/locale/currencies/list \'XQZ]',
        'e: try [do %sub/raise.zem]',
        'print ["raised" e/id]',
        'print ["restored" what-dir  same? s0 system/script  mold system/state/source-files]',
        'print ["halt" unset? do %sub/halt.zem]',
        'print ["unset" unset? do %sub/unset.zem]',
        'print ["lower" select try [do %sub/lower.zem] \'id]',
        'print ["system" select try [do %sub/system.zem] \'id]',
        'do %sub/defs.zem',
        'print ["defs" get in system/words to word! "quux-result"]',
        'print ["cwd-after" get-current-dir]',
    ]) + "\n")
    p = subprocess.run([ZEM_RUN, "main.zem"], cwd=tmp, capture_output=True, text=True, timeout=120)
    out = p.stdout.splitlines()
    expected = [
        f"dir {sub}/",
        "title shell",
        "parent true",
        "files [%sub/shell.zem]",
        "expanded",
        "result error true",
        f"back {tmp}/",
        "currency true",
        f"{sub}/",
        "raised zero-divide",
        f"restored {tmp}/ true []",
        "1", "(halted)", "halt true", "3", "unset true",
        "lower no-header",
        "system zem-system",
        "defs 42",
    ]
    check("run", p.returncode == 0, p.stderr)
    check("lines", out[:len(expected)] == expected, f"\n got {out}\nwant {expected}")
    check("cwd", len(out) > len(expected) and out[len(expected)].startswith("cwd-after " + tmp), str(out))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
