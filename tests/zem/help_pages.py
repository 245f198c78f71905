"""Whole help pages as zem-run prints them: fixed pages against their expected text, and the
listings of the global context (what, name search, datatype listing) against lines computed here
from a plain dump of the globals, at the 120-column width without a console and at a stand-in
console's width."""
import base64
import difflib
import os
import subprocess
import sys
import tempfile

ZEM_RUN = sys.argv[1]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failures = []
TMP = tempfile.mkdtemp()
ENV = dict(os.environ, HOME=TMP)


def run(body):
    r = subprocess.run([ZEM_RUN, "-"], input=b"Zem []\n" + body.encode(), capture_output=True,
                       timeout=120, cwd=TMP, env=ENV)
    if r.returncode != 0 or r.stderr:
        failures.append(f"status {r.returncode} for {body[:200]!r}: {r.stderr.decode()[:500]!r}")
    return r.stdout.decode()


def expect(name, got, want):
    if got == want:
        return
    if got.count("\n") > 30:
        diff = difflib.unified_diff(want.splitlines(True), got.splitlines(True), "expected", "got")
        failures.append(f"{name}:\n{''.join(list(diff)[:40])}")
    else:
        failures.append(f"{name}:\n--- got\n{got}--- expected\n{want}---")


USAGE = "".join(line + "\n" for line in [
    "",
    "\tUse HELP or ? to view built-in docs for functions, values ",
    "\tfor contexts, or all values of a given datatype:",
    "",
    "\t\thelp append",
    "\t\t? system",
    "\t\t? function!",
    "",
    "\tTo search for values by name, use a word:",
    "",
    "\t\t? pri",
    "\t\t? to-",
    "",
    "\tTo also search in function specs, use a string:",
    "",
    '\t\t? "pri"',
    '\t\t? "issue!"',
    "",
    "\tTo buffer and return output, rather than printing results, ",
    "\tuse help-string:",
    "",
    "\t\thelp-string append",
    "",
    "\tOther useful functions:",
    "",
    "\t\t??     - Display a word and the value it references",
    "\t\tprobe  - Print a molded value",
    "\t\tsource - Show a function's source code",
    "\t\twhat   - Show a list of known functions or words",
    "\t\tabout  - Display version number and build date",
    "\t\tquit   - Leave the Zem console",
]) + "\t"

# Each page: the script, and the text `help` prints (the page and print's own line end).
PAGES = [
    ("usage", "help", USAGE + "\n\n"),
    ("usage by ?", "?", USAGE + "\n\n"),
    ("integer value", "help 42", "42 is an integer! value.\n\n"),
    ("word of an integer", "x: 42 help x", "X is an integer! value: 42\n\n"),
    ("word of a string", 'x: "a^/b" help x', 'X is a string! value: "a^/b"\n\n'),
    ("word of a block", "b: next [1 2 3] help b", "B is a block! value.  length: 2 index: 2 [2 3]\n\n"),
    ("action", "help append", """USAGE:
     APPEND series value

DESCRIPTION: 
     APPEND is an action! value.

ARGUMENTS:
     series        
     value        [any-type!] 

REFINEMENTS:
     /part        => 
        length        
     /only        => 
     /dup         => 
        count        [integer!] 

"""),
    ("native", "help if", """USAGE:
     IF cond then-blk

DESCRIPTION: 
     IF is a native! value.

ARGUMENTS:
     cond         [any-type!] 
     then-blk     [block!] 

"""),
    ("op", "help +", """USAGE:
     value1 + value2

DESCRIPTION: 
     + is an op! value.

ARGUMENTS:
     value1        
     value2        

"""),
    ("library function", "help pad", """USAGE:
     PAD str n

DESCRIPTION: 
     Pad a FORMed value on right side with spaces. 
     PAD is a function! value.

ARGUMENTS:
     str           "Value to pad, FORM it if not a string."
     n            [integer!] "Total size (in characters) of the new string."

REFINEMENTS:
     /left        => Pad the string on left side.
     /with        => Pad with char.
        c            [char!] 

RETURNS:
     Modified input string at head.
     [string!]

"""),
    ("user function", """f: func [
    [catch]
    {Makes   a
        thing}
    'a [integer! block!] "First"
    :b
    /ref "Refined"
        n [integer!]
        m "Em"
    /flag
    return: [block!]
    /local z
] [z]
help f""", """USAGE:
     F 'a :b

ATTRIBUTES:
     [catch]

DESCRIPTION: 
     Makes a thing. 
     F is a function! value.

ARGUMENTS:
     'a           [integer! block!] "First."
     :b            

REFINEMENTS:
     /ref         => Refined.
        n            [integer!] 
        m             "Em."
     /flag        => 

RETURNS:
     [block!]

"""),
    ("function of a path", "o: make object! [f: func [\"Doc\"] []] help o/f", """USAGE:
     O/F 

DESCRIPTION: 
     Doc. 
     O/F is a function! value.

"""),
    ("malformed spec", 'f: func ["doc" "more" a] [a] help f',
     """Func spec couldn't be parsed, may be malformed.
func ["doc" "more" a][a]

"""),
    ("bad type block", 'not-a-type: func [] [print "CALLED"] f: func [a [integer!]] [a]\n'
     "change/only next spec-of :f [not-a-type]\nhelp f", """Looks like we have a bad type spec: [not-a-type]
USAGE:
     F a

DESCRIPTION: 
     F is a function! value.

ARGUMENTS:
     a            [not-a-type] 

"""),
    ("function value", 'help :pad', None),
    ("object by path", 'o: make object! [sub: make object! [a: 1 long-name: "x" blk: [1 2] fn: func ["Fn doc"] [] nothing: none]] help o/sub',
     """O/SUB is an object! with the following words and values:
     a          integer!      1
     long-name  string!       "x"
     blk        block!        length: 2  [1 2]
     fn         function!     Fn doc.
     nothing    none!         none

"""),
    ("object value", "help (make object! [k: 1])", "     k  integer!      1\n\n"),
    ("map", 'm: make map! [a 1 "key" [x y] 3x4 "s"] help m', """M is a map! with the following words and values:
     a    integer!      1
     key  block!        length: 2  [x y]
     3x4  string!       "s"

"""),
    ("map value", "help (make map! [k 1])", "     k  integer!      1\n\n"),
    ("datatype without values", "help tag!", "No tag values were found in the global context.\n\n"),
    ("options", "help system/options", f"""SYSTEM/OPTIONS is an object! with the following words and values:
     boot             string!       "{ZEM_RUN}"
     home             file!         %{TMP}/
     path             file!         %{TMP}/
     script           none!         none
     cache            file!         %{TMP}/.zem/
     thru-cache       none!         none
     args             block!        length: 0  []
     do-arg           none!         none
     debug            none!         none
     secure           none!         none
     quiet            logic!        false
     binary-base      integer!      16
     decimal-digits   integer!      15
     money-digits     integer!      2
     module-paths     block!        length: 0  []
     file-types       none!         none
     float            object!       [pretty? full? on-change*]
     on-change*       function!     [word old new /local err]
     on-deep-change*  function!     [owner word target action new index part]

"""),
    ("source of a library function", "source pad", None),
    ("source of a user function", "double: func [x] [x * 2] source double",
     "double: func [x][x * 2]\n"),
    ("source of a routine", "source exists?", """; EXISTS? is a routine! value; its body is Zem/System code.
exists?: routine [
    "Returns TRUE if the file exists"
    path [file!]
    return: [logic!]
] none
"""),
    ("source of a native", "source if", "IF is a native! value, so source is not available.\n"),
    ("source of an action", "source append", "APPEND is an action! value, so source is not available.\n"),
    ("source of an op", "source +", "+: make op! [[value1 value2]]\n"),
    ("source of a value", "x: 1 source x", "X is an integer! value, so source is not available.\n"),
    ("about/debug without a revision", "system/build/git: none about/debug", """Looks like this Zem binary has been built from source.
Please download latest build from our website:
https://zem-lang.org/download/
and try your code on it before submitting an issue.
"""),
]

for name, script, want in PAGES:
    got = run(script + "\n")
    if want is None:
        continue
    expect(name, got, want)

# A function value is molded; source gives the word and the same mold.
molded = run("print mold :pad")
expect("function value", run("help :pad"), molded + "\n")
expect("source of a library function", run("source pad"), "pad: " + molded)
if not molded.startswith('func [\n    "Pad a FORMed value on right side with spaces"\n'):
    failures.append(f"mold of pad: {molded!r}")

# help prints exactly what help-string returns, followed by print's line end.
for arg in ["append", "system/options", "integer!", "\"app\"", "42", "pad", "help-ctx"]:
    out = run(f'prin "<1>" help {arg} prin "<2>" prin help-string {arg} prin "<3>"\n')
    first, second = out[3:].split("<2>")
    second = second.split("<3>")[0]
    expect(f"help and help-string of {arg}", first, second + "\n")

# The revision: the build's own, and the two texts of about with a fixed one.
os_fields = run("o: os-info print o/name print o/arch print mold o/version print o/build").splitlines()
REV = ('system/build/git: make object! [branch: "main" tag: #v1.2 ahead: 3 '
       'date: 10-Dec-2026/12:00:00+01:00 commit: #0123456789abcdef message: "M"]\n')
expect("about with a revision", run(REV + "about"),
       "Zem 0.1.0 for Linux built 10-Dec-2026/12:00:00+01:00  commit #0123456\n")
expect("about/debug with a revision", run(REV + "about/debug"),
       "-----------ZEM & PLATFORM VERSION-----------\n"
       'ZEM: [ branch: "main" tag: #v1.2 ahead: 3 date: 10-Dec-2026/11:00:00 '
       "commit: #0123456789abcdef ]\n"
       f'PLATFORM: [ name: "{os_fields[0]}" OS: \'Linux arch: \'{os_fields[1]} '
       f"version: {os_fields[2]} build: {os_fields[3]} ]\n" + "-" * 44 + "\n")
expect("about/cc prints", run(REV + "about/cc"),
       "Zem 0.1.0 for Linux built 10-Dec-2026/12:00:00+01:00  commit #0123456\n")
build_date = run("print system/build/date").strip()
expect("about without a revision", run("system/build/git: none about"),
       f"Zem 0.1.0 for Linux built {build_date}\n")

head = subprocess.run(["git", "-C", SOURCE, "rev-parse", "HEAD"], capture_output=True, text=True)
recorded = run("print either object? system/build/git [system/build/git/commit]['none]").strip()
if head.returncode == 0:
    expect("recorded commit", recorded, head.stdout.strip())
    branch = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--abbrev-ref", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    expect("recorded branch", run("print system/build/git/branch").strip(), branch)

# ---- Listings of the global context, computed here from a dump -----------------------------

DUMP = """
b64: func [s] [enbase to binary! s]
foreach w words-of system/words [
    set/any 'v get/any w
    unless unset? :v [
        print rejoin [
            b64 form w tab mold type? :v tab
            either any-function? :v [
                rejoin [
                    "F" tab
                    either string? first spec-of :v [b64 first spec-of :v][""] tab
                    b64 mold/flat spec-of :v
                ]
            ][
                rejoin ["V" tab b64 mold/flat :v]
            ]
        ]
    ]
]
"""


def b64(s):
    return base64.b64decode(s).decode("utf-8") if s else ""


def dump(prefix=""):
    rows = []
    for line in run(prefix + DUMP).splitlines():
        f = line.split("\t")
        row = {"name": b64(f[0]), "type": f[1], "function": f[2] == "F"}
        if row["function"]:
            row["doc"], row["spec"] = b64(f[3]), b64(f[4])
        else:
            row["mold"] = b64(f[3])
        rows.append(row)
    return rows


def cut(line, width):
    """The last line of a text cut to the width, ending in "..." when it was longer."""
    start = line.rfind("\n") + 1
    if len(line) - start > width:
        line = line[:start + width - 3] + "..."
    return line


def description(row, limit):
    if row["function"]:
        if row["doc"]:
            return row["doc"] if row["doc"].endswith(".") else row["doc"] + "."
        return row["spec"][:limit + 1]
    return row["mold"][:limit + 1]


def listing(rows, width, limit):
    out = ""
    for row in sorted(rows, key=lambda r: r["name"].lower()):
        out += cut(f"     {row['name']:<15} {row['type']:<12}  {description(row, limit)}", width) + "\n"
    return out


PLAIN_TYPES = ("integer!", "tuple!", "logic!", "char!", "float!", "string!", "none!", "issue!",
               "word!", "pair!", "date!", "datatype!", "file!")
rows = [r for r in dump() if r["name"] != "b64"]
functions = [r for r in rows if r["function"]]
names = [r["name"] for r in functions]
if len(names) != len(set(names)) or "help" not in names or "a-an" not in names:
    failures.append(f"dump of the globals: {len(names)} functions")
what = run("what")
expect("what", what, listing(functions, 119, 120) + "\n")
if any(len(line) > 119 for line in what.splitlines()):
    failures.append("what: a line over 119 characters")
if not any(line.endswith("...") for line in what.splitlines()):
    failures.append("what: no line was cut")
expect("what/buffer", run("prin what/buffer"), what[:-1])

# Search by a word (names only) and by a string (names and specs).
found = [r for r in functions if "app" in r["name"].lower()]
expect("what/with", run("prin what/with/buffer 'app"), listing(found, 119, 120))
by_spec = [r for r in rows if "app" in r["name"].lower()
           or (r["function"] and "app" in r["spec"].lower())]
if any(not r["function"] and r["type"] not in PLAIN_TYPES for r in by_spec):
    failures.append("help \"app\": a global value whose description is not computed here")
else:
    expect("help \"app\"", run('help "app"'), listing(by_spec, 119, 120) + "\n")
expect("help of a word with no value", run("help appen"),
       listing([r for r in rows if "appen" in r["name"].lower()], 119, 120) + "\n")

# The datatype listing: the colours are tuples; integers of our own join the integer! listing.
def datatype_listing(values, width):
    out = ""
    for row in values:
        out += cut(f"    {row['name']:<15}  {row['mold']}", width) + "\n"
    return out


tuples = [r for r in rows if r["type"] == "tuple!"]
expect("help tuple!", run("help tuple!"), datatype_listing(tuples, 119) + "\n")
mine = "zz-int-a: 7 zz-int-b: -123456789 "
ints = [r for r in dump(mine) if r["type"] == "integer!"]
if [r["name"] for r in ints][-2:] != ["zz-int-a", "zz-int-b"]:
    failures.append(f"integers of the dump: {[r['name'] for r in ints]}")
expect("help integer!", run(mine + "help integer!"), datatype_listing(ints, 119) + "\n")
listed = run("help function!").splitlines()
doc_of = {r["name"]: r["doc"] for r in functions if r["type"] == "function!"}
if len(listed) != len(doc_of) + 1:
    failures.append(f"help function!: {len(listed)} lines for {len(doc_of)} functions")
for line in listed[:-1]:
    name = line[4:].split(" ")[0]
    doc = doc_of.get(name, "")
    want = cut(f"    {name:<15} => {doc + ('' if doc.endswith('.') or not doc else '.')}", 119)
    if line != want:
        failures.append(f"help function! line: {line!r}, expected {want!r}")
accessors = run("help datatype!").splitlines()
for want in ["    date!           => [date year month day zone time hour minute second weekday "
             "yearday timezone week isoweek]", "    pair!           => [x y]",
             "    integer!       "]:
    if want not in accessors:
        failures.append(f"help datatype!: no line {want!r}")

# A stand-in console of 60 columns: lines cut at 59, values cut at 60 - 16 + 1 characters.
CONSOLE = "system/console: make object! [size: 60x20]\n"
narrow = run(CONSOLE + "what")
expect("what on a 60-column console", narrow, listing(functions, 59, 44) + "\n")
if any(len(line) > 59 for line in narrow.splitlines()):
    failures.append("what on a 60-column console: a line over 59 characters")
block = "[" + " ".join(["abcd"] * 30) + "]"
expect("a value on a 60-column console", run(CONSOLE + "b: append/dup copy [] 'abcd 30 help b"),
       cut("B is a block! value.  length: 30  " + block[:45], 59) + "\n\n")
expect("a value without a console", run("b: append/dup copy [] 'abcd 30 help b"),
       cut("B is a block! value.  length: 30  " + block[:121], 119) + "\n\n")
expect("a console of one column", run("system/console: make object! [size: 1x1]\nhelp tuple!"),
       "\n" * len(tuples) + "\n")
expect("a console without a size", run("system/console: make object! []\nhelp (make object! [a: 1])"),
       "     a  integer!      1\n\n")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
