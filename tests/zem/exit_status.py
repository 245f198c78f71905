"""zem-run exit statuses: 0 at the end of a script, the status of quit/return, 254 with the
message on stderr after an uncaught error, the out-of-memory report when start-up cannot reserve
its memory."""
import os
import resource
import subprocess
import sys
import tempfile

CASES = [
    ("1 + 2", 0, ""),
    ("quit", 0, ""),
    ("quit/return 3", 3, ""),
    ("quit/return 256", 255, ""),
    ("quit-return 7", 7, ""),
    ("1 / 0", 254, "*** Math Error: attempt to divide by zero\n*** Where: /"),
    # a redefined system changes neither quit nor the messages
    ("system: none quit/return 3", 3, ""),
    ("system: make object! [a: 1] quit/return 4", 4, ""),
    ("system: make object! [console: none] 1 / 0", 254, "*** Math Error: attempt to divide by zero"),
    # the messages come from the catalogue in system
    ("system/catalog/errors/math/zero-divide: \"no halves\" 1 / 0", 254, "*** Math Error: no halves"),
    ("f: func [] [quit/return 5] f print 1", 5, ""),
    # halt ends the script quietly with status 0
    ("halt 1 / 0", 0, ""),
    ("quit-return 0 1 / 0", 0, ""),
    # an action refusing its first argument names that argument, also when called as an op
    ("append 1 2", 254, "*** Script Error: append does not allow integer! for its series argument"),
    ("true + 1", 254, "*** Script Error: + does not allow logic! for its value1 argument"),
]


def main():
    zem_run = sys.argv[1]
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        for code, status, stderr_start in CASES:
            path = os.path.join(tmp, "case.zem")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Zem []\n" + code + "\n")
            r = subprocess.run([zem_run, path], capture_output=True, text=True, timeout=60)
            if r.returncode != status or not r.stderr.startswith(stderr_start):
                print(f"{code!r}: status {r.returncode} (want {status}), stderr {r.stderr!r}")
                failed += 1
        # An address-space limit below the node table's reservation: start-up fails cleanly.
        if "ASAN_OPTIONS" not in os.environ:  # the sanitizer's shadow memory needs far more
            limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (800 << 20, 800 << 20))
            r = subprocess.run([zem_run, path], capture_output=True, text=True, timeout=60, preexec_fn=limit)
            if r.returncode != 94 or not r.stderr.startswith("*** Runtime Error 94: out of memory"):
                print(f"tight address space: status {r.returncode}, stderr {r.stderr!r}")
                failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
