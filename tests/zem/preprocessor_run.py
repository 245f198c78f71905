"""Scripts run by zem-run are preprocessed first: directives and included files take effect, and
a failed preprocessing prints its message and exits with status 1."""
import os
import subprocess
import sys
import tempfile

# (script body, exit status, stdout)
CASES = [
    ('#if true [print "yes"] #if false [print "no"] print "end"', 0, "yes\nend\n"),
    ("#do [k: 3] print #do keep [k * 2]", 0, "6\n"),
    ('#macro twice: func [x] [reduce [x x]]\nunused: [#include %inc.zem]\nprint mold [twice 3 thrice 1]\nprint mold unused', 0,
     "[3 3 1 1 1]\n[do %inc.zem]\n"),
    ('print mold #include-binary %blob.bin\nprint mold #include-binary "blob.bin"', 0,
     "#{414200FF}\n#{414200FF}\n"),
    ('#if 1 2\nprint "ran"', 1, "*** Preprocessor Error: Syntax error\n*** Where: #if 1 2\n"),
    ('#do keep 5\nprint "ran"', 1, "*** Preprocessor Error: Syntax error\n*** Where: #do keep\n"),
    ('#macro bad: func [\'x] [x]\nprint "ran"', 1,
     "*** Macro Error: invalid specification\n*** Where: bad: func ['x]\n"),
    ('#macro [] func [s e] [s]\nprint "ran"', 1,
     "*** Macro Error: invalid specification\n*** Where: [] func [s e]\n"),
    ('#macro quiet: func [x] [print x]\nquiet 1\nprint "ran"', 1,
     "1\n*** Macro Error: no value returned by quiet macro\n"),
    ("#macro 'here func [[manual] s e] [42] here", 1,
     "*** Macro Error: [manual] macro not returning a position\n*** Where: "),
    ('#do [1 / 0]\nprint "ran"', 1,
     "*** Preprocessor Error in #do\n*** Math Error: attempt to divide by zero\n"),
    ('#trace on #do keep [1 + 2] #trace off', 0,
     "preproc: eval [1 + 2]\npreproc: == 3\n"),
]


def main():
    zem_run = os.path.abspath(sys.argv[1])
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "inc.zem"), "w", encoding="utf-8") as f:
            f.write("Zem []\n#macro thrice: func [x] [reduce [x x x]]\n")
        with open(os.path.join(tmp, "blob.bin"), "wb") as f:
            f.write(b"AB\x00\xff")
        for body, status, out in CASES:
            path = os.path.join(tmp, "case.zem")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Zem []\n" + body + "\n")
            r = subprocess.run([zem_run, path], capture_output=True, text=True, timeout=60, cwd=tmp)
            if r.returncode != status or not r.stdout.startswith(out) or "ran" in r.stdout:
                print(f"{body!r}: status {r.returncode} (want {status}), stdout {r.stdout!r} "
                      f"(want {out!r}), stderr {r.stderr!r}")
                failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
