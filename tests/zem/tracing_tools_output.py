"""The printed output of the tracing tools run by zem-run: the debugger driven through standard
input (its `ask`), the profiler's report with a clock that ticks one second per reading, and
parse-trace."""
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
failures = []


def check(name, cond, detail=""):
    if not cond:
        failures.append(f"{name}: {detail}")


def run(tmp, name, text, stdin=""):
    path = os.path.join(tmp, name)
    with open(path, "w") as f:
        f.write("Zem []\n" + text)
    return subprocess.run([ZEM_RUN, path], input=stdin, capture_output=True, text=True,
                          timeout=120, cwd=tmp)


def expect(name, r, want, status=0):
    check(name, r.returncode == status, f"status {r.returncode}, stderr {r.stderr!r}")
    if r.stdout != want:
        got, exp = r.stdout.split("\n"), want.split("\n")
        line = next((i for i, (a, b) in enumerate(zip(got, exp)) if a != b), min(len(got), len(exp)))
        failures.append(f"{name}: output differs at line {line + 1}\n--- got\n{r.stdout}--- want\n{want}")


DEBUGGED = "x: 1 y: 2\nf: func [n] [x: n * 2 x + 1]\n"
F_STACK = "Stack: func [n][x: n * 2 x + 1]\n"

with tempfile.TemporaryDirectory() as tmp:
    # Stepping, watching, the stack, a value, an unknown command, a line that does not load, and
    # continue: the script goes on to its end.
    r = run(tmp, "debug.zem", DEBUGGED + 'debug [f 5]\nprint ["done" x]\n',
            "n\nw x y\n-w x\n-w z\nn\ns\n:x\nbogus\n[\n:1\nc\n")
    expect("debugger session", r, "".join([
        "-----> EVAL f\n", "Input: f 5\n", "\n", "-empty stack-\n",
        "debug> -----> OPEN none (function!)\n", "Input: f 5\n", "\n", F_STACK, "\n",
        "debug> debug> debug> debug> -----> EVAL 5\n", "Input: 5\n", "Watch: y: 2\n", "\n", F_STACK, "\n",
        "debug> \n", F_STACK, "\n",
        "debug> == 1\n",
        "debug> Unknown command!\n",
        "debug> *** Syntax Error: (line 1) missing ] at [\n",
        "*** Where: transcode\n", "*** Near : [out: transcode source]\n",
        "debug> *** Script Error: get does not allow integer! for its word argument\n",
        "*** Where: get\n", "*** Near : [mold get/any first bind load/all next l\n",
        "debug> done 10\n",
    ]))

    # quit: the halt ends the script quietly at top level, and as "(halted)" inside do-file
    r = run(tmp, "quit.zem", DEBUGGED + 'debug [f 5]\nprint "not reached"\n', "q\n")
    expect("quit at top level", r, "-----> EVAL f\nInput: f 5\n\n-empty stack-\ndebug> ")
    with open(os.path.join(tmp, "inner.zem"), "w") as f:
        f.write("Zem []\ndebug [f 5]\nprint \"not reached\"\n")
    r = run(tmp, "outer.zem", DEBUGGED + 'do %inner.zem\n'
            'print ["after" mold body-of system/tools/options/debug]\n', "q\n")
    expect("quit inside do-file", r, "-----> EVAL f\nInput: f 5\n\n-empty stack-\ndebug> (halted)\n"
           "after [active?: false show-stack?: true show-parents?: false show-locals?: false "
           "stack-indent?: false]\n")

    # Without ask: the steps, no prompt; an error stops at an ERROR step even when inactive, and
    # the options come back after the error and after a halt
    r = run(tmp, "noask.zem", 'unset \'ask\n'
            'debug [1]\n'
            'system/tools/options/debug/show-stack?: false\n'
            'e: try [debug/later [2 1 / 0]]\n'
            'print [e/id mold body-of system/tools/options/debug]\n')
    expect("no ask", r, "".join([
        "-----> EVAL 1\n", "Input: 1\n", "\n", "-empty stack-\n",
        "-----> PUSH 1\n", "Input: 1\n", "\n", "Stack: 1\n", "\n",
        "-----> ERROR make error! [code: 402 type: 'math id: 'zero-divide arg1: \n",
        "Input: 1 / 0\n",
        "zero-divide [active?: false show-stack?: false show-parents?: false show-locals?: false "
        "stack-indent?: false]\n",
    ]))
    r = run(tmp, "restore.zem", 'system/tools/options/debug/show-stack?: false\n'
            'catch/name [debug [1]] \'console\n'
            'print mold body-of system/tools/options/debug\n', "+s\nq\n")
    check("options after a halt", r.stdout.endswith(
        "[active?: false show-stack?: false show-parents?: false show-locals?: false "
        "stack-indent?: false]\n"), r.stdout)

    # With a console: the lines typed at the prompt leave its history when the run ends, and the
    # widths come from its size
    r = run(tmp, "console.zem", 'system/console: make object! [history: copy ["old"] size: 100x40]\n'
            'ask: func [q] [prin q insert system/console/history "n" "n"]\n'
            'system/tools/options/debug/show-stack?: false\n'
            'debug [1]\n'
            'print [mold system/console/history system/tools/calc-max 10]\n')
    expect("console history", r, "-----> EVAL 1\nInput: 1\ndebug> -----> PUSH 1\nInput: 1\n"
           "debug> [\"old\"] 90\n")

    # @stop and @go switch the steps on and off
    r = run(tmp, "later.zem", 'system/tools/options/debug/show-stack?: false\n'
            'unset \'ask\n'
            'debug/later [1 @stop 2 @go 3]\n')
    expect("@stop and @go", r, "-----> EVAL @stop\nInput: @stop 2 @go 3\n"
           "-----> PUSH @stop\nInput: @stop 2 @go 3\n-----> EVAL 2\nInput: 2 @go 3\n"
           "-----> PUSH 2\nInput: 2 @go 3\n")

    # The profiler with a clock that ticks one second per reading: counts, ranks, the durations
    # of calls that other calls (profiled or not) and errors and throws go through
    clock = ('tick: 0\nreal-now: :now\n'
             'now: func [/precise][tick: tick + 1  2000-01-01/0:00 + to time! tick]\n')
    r = run(tmp, "profile.zem", clock +
            'f: func [] [1]\ng: func [] [2]\n'
            'profile [f f g]\n'
            'profile/by [g f f] \'name\n'
            'h: func [] [block? 1 as-color 1 2 3 f]\n'
            'profile [h]\n'
            'e: func [] [f 1 / 0]\nk: func [] [try [e] 5]\n'
            'profile/by [k] \'time\n'
            'profile [exit]\n'
            'now: :real-now\n')
    expect("profiler report", r, "".join([
        "== 2\n", "\n",
        "#1   f                | 2          | 0:00:02   \n",
        "#2   g                | 1          | 0:00:01   \n",
        "== 1\n", "\n",
        "#1   f                | 2          | 0:00:02   \n",
        "#2   g                | 1          | 0:00:01   \n",
        "== 1\n", "\n",
        "#1   h                | 1          | 0:00:09   \n",
        "#2   f                | 1          | 0:00:01   \n",
        "== 5\n", "\n",
        "#1   k                | 1          | 0:00:11   \n",
        "#2   try              | 1          | 0:00:09   \n",
        "#3   e                | 1          | 0:00:06   \n",
        "#4   /                | 1          | 0:00:02   \n",
        "#5   f                | 1          | 0:00:01   \n",
        "#1   exit             | 1          | 0:00:01   \n",
    ]))

    # parse-trace: the events of parse, the nested rule indented, the result parse gives
    r = run(tmp, "parse.zem", 'print parse-trace "ab" [#"a" [#"b"]]\n'
            'print parse-trace/case "aB" [#"a" #"b"]\n')
    expect("parse-trace", r, "".join([
        " -->\n",
        "   input: \"ab\" \n", "   match: [#\"a\" [#\"b\"]] \n", "  \n",
        "   ==> matched\n",
        "   input: \"b\" \n", "   match: [[#\"b\"]] \n", "  \n",
        "   -->\n",
        "     input: \"b\" \n", "     match: [#\"b\"] \n", "    \n",
        "     ==> matched\n",
        "   <--\n",
        " <--\n",
        "return: true\n",
        "true\n",
        " -->\n",
        "   input: \"aB\" \n", "   match: [#\"a\" #\"b\"] \n", "  \n",
        "   ==> matched\n",
        "   input: \"B\" \n", "   match: [#\"b\"] \n", "  \n",
        "   ==> not matched\n",
        " <--\n",
        "return: false\n",
        "false\n",
    ]))

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
