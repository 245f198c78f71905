"""The report of an uncaught error whose message cannot be formed: a script can put a value too
deep to form into the error catalogue or into an error's arguments. The process still ends with
status 254 and a plain message naming the error's category and id on stderr."""
import os
import subprocess
import sys
import tempfile

# `deep`: a block nested deeper than mold and form may walk.
DEEP = "deep: [] x: deep loop 3000 [append/only x y: copy [] x: y]\n"
PLAIN = " (the message could not be formed)\n"

# script, stdout, whole stderr
CASES = [
    # syntax arguments are formed, not molded
    ("e: make error! [syntax invalid 1 2 3] e/arg1: deep do e", "",
     "*** Syntax Error: invalid" + PLAIN),
    # the catalogue's title of a category
    ("system/catalog/errors/script/type: deep do make error! [script invalid-arg 1]", "",
     "*** Script Error: invalid-arg" + PLAIN),
    ("system/catalog/errors/math/type: deep 1 / 0", "", "*** Math Error: zero-divide" + PLAIN),
    ("system/catalog/errors/throw/type: deep break", "", "*** Throw Error: break" + PLAIN),
    # forming the message in the script is an error the script can catch; the run goes on
    ("system/catalog/errors/math/type: deep print error? try [form try [1 / 0]] print 7 1 / 0",
     "true\n7\n", "*** Math Error: zero-divide" + PLAIN),
    # a category or id that is not in the catalogue is named by the error's own words
    ("e: make error! [script invalid-arg 1] e/id: 'no-such-id\n"
     "system/catalog/errors/internal/type: deep do e", "",
     "*** Error: script no-such-id" + PLAIN),
    ("e: make error! [script invalid-arg 1] e/type: 'nothing\n"
     "system/catalog/errors/internal/type: deep do e", "",
     "*** Error: nothing invalid-arg" + PLAIN),
]

# Messages that do form are written in full, a deep argument included (it is cut short).
FORMED = [
    ("e: make error! [script invalid-arg 1] e/arg1: deep do e",
     "*** Script Error: invalid argument: [[[["),
]


def run(zem_run, tmp, code):
    path = os.path.join(tmp, "case.zem")
    with open(path, "w", encoding="utf-8") as f:
        f.write("Zem []\n" + DEEP + code + "\n")
    return subprocess.run([zem_run, path], capture_output=True, text=True, timeout=60)


def main():
    zem_run = sys.argv[1]
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for code, stdout, stderr in CASES:
            r = run(zem_run, tmp, code)
            if r.returncode != 254 or r.stdout != stdout or r.stderr != stderr:
                print(f"{code!r}: status {r.returncode}, stdout {r.stdout!r}, stderr {r.stderr!r}")
                failed += 1
        for code, stderr_start in FORMED:
            r = run(zem_run, tmp, code)
            if r.returncode != 254 or not r.stderr.startswith(stderr_start):
                print(f"{code!r}: status {r.returncode}, stderr {r.stderr!r}")
                failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
