"""load-json and to-json against python3's json module: every document of tests/data/json_cases/ is
accepted or refused by both alike (the deliberate differences in differences.txt excepted, each
checked as stated), accepted ones decode to the same structure (objects as dicts with their key
order, integers and floats apart); to-json of a table of values is read by json.loads refusing
NaN and Infinity, and load-json of that output gives the values back."""
import json
import math
import os
import sys
import tempfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from driver import check, finish, run_zem  # noqa: E402

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "json_cases")


def refuse_constant(name):
    raise ValueError(f"not JSON: {name}")


def ordered(text):
    """Python's reading: dicts keep the first position of a key and its last value."""
    return json.loads(text, object_pairs_hook=lambda pairs: list(dict(pairs).items()),
                      parse_constant=refuse_constant)


def same(a, b):
    if isinstance(a, bool) or isinstance(b, bool) or a is None or b is None:
        return a is b
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, tuple):
        return same(a[0], b[0]) and same(a[1], b[1])
    return a == b


differences = {}
with open(os.path.join(CASES, "differences.txt"), encoding="utf-8") as f:
    for line in f:
        name, why = line.rstrip("\n").split("\t")
        differences[name] = why

names = sorted(n[:-5] for n in os.listdir(CASES) if n.endswith(".json"))
with tempfile.TemporaryDirectory() as tmp:
    script = f"dir: {json.dumps(CASES + '/')}\n" + """
foreach name [""" + " ".join(json.dumps(n) for n in names) + """][
    set/any 'v try [load-json to string! read/binary to file! rejoin [dir name ".json"]]
    prin [name tab]
    case [
        not error? :v [print ["OK" to-json/ascii :v]]
        v/type = 'user [print "REFUSED"]
        'else [print ["RAISED" v/type v/id]]
    ]
]
"""
    got = {}
    for line in run_zem(script, tmp).splitlines():
        name, _, rest = line.partition("\t")
        got[name.strip()] = rest
    for name in names:
        with open(os.path.join(CASES, name + ".json"), "rb") as f:
            text = f.read()
        try:
            want = json.loads(text, object_pairs_hook=lambda pairs: list(dict(pairs).items()))
            py_ok = True
        except (ValueError, RecursionError):
            py_ok = False
        ours = got.get(name, "MISSING")
        if name in differences:
            check(name, py_ok, "python3 was expected to accept it")
            if "32-bit" in differences[name]:
                check(name, ours.startswith("OK ") and same(ordered(ours[3:]), float(want)), ours)
            elif "surrogate" in differences[name]:
                check(name, ours == "RAISED script invalid-data", ours)
            else:
                check(name, ours == "REFUSED", ours)
            continue
        if not py_ok:
            check(name, ours == "REFUSED", f"python3 refuses it, load-json gave {ours}")
            continue
        check(name, ours.startswith("OK "), f"python3 accepts it, load-json gave {ours}")
        if ours.startswith("OK "):
            check(name, same(ordered(ours[3:]), want), f"{ours[3:]!r} against {want!r}")

    # to-json of values made in Zem, read by python3 (NaN and Infinity refused)
    values = {
        "none": ("none", None),
        "logic": ("reduce [true false]", [True, False]),
        "numbers": ("reduce [0 -7 2147483647 1.5 -0.25 1e300 5e-324 0.1]",
                    [0, -7, 2147483647, 1.5, -0.25, 1e300, 5e-324, 0.1]),
        "percent": ("reduce [50% 12.5%]", [0.5, 0.125]),
        "specials": ("reduce [0.0 / 0.0 1e400 -1e400]", [None, None, None]),
        "escapes": ('rejoin [{"\\/} "^H^L^/^M^-" #"^(01)" #"^(1F)" #"^(7F)"]', '"\\/\b\f\n\r\t\x01\x1f\x7f'),
        "astral": ('"a^(E9)^(20AC)^(1F600)^(10FFFF)"', "a\u00e9\u20ac\U0001F600\U0010FFFF"),
        "nested": ("make map! reduce ['a reduce [1 make map! reduce ['b reduce []]] \"c d\" make map! reduce ['e none]]",
                   [("a", [1, [("b", [])]]), ("c d", [("e", None)])]),
        "kinds": ("reduce [%f.txt http://h/x <t> a@b.c 'w quote (1 2) 1x2]",
                  ["f.txt", "http://h/x", "<t>", "a@b.c", "w", [1, 2], "1x2"]),
        "case_keys": ("m: make map! 2 put/case m 'a 1 put/case m 'A 2 m", [("a", 1), ("A", 2)]),
    }
    keys = list(values)
    script = "foreach v reduce [" + " ".join(f"({values[k][0]})" for k in keys) + """][
    print to-json :v
    print to-json/ascii :v
    print mold equal? :v load-json to-json :v
]
"""
    out = run_zem(script, tmp).split("\n")
    for i, k in enumerate(keys):
        plain, ascii_, round_trip = out[3 * i: 3 * i + 3]
        want = values[k][1]
        for form, text in (("plain", plain), ("ascii", ascii_)):
            try:
                check(f"to-json {k} {form}", same(ordered(text), want), f"{text!r}")
            except ValueError as e:
                check(f"to-json {k} {form}", False, f"{text!r}: {e}")
        check(f"to-json {k} ascii only", all(ord(c) < 128 for c in ascii_), ascii_)
        if k not in ("specials", "kinds"):
            check(f"load-json to-json {k}", round_trip == "true", round_trip)

    # /pretty output spans lines: read each whole
    script = """print to-json/pretty make map! reduce ['a reduce [1 2 make map! []] 'b "x"] "^-"
print "----"
print to-json/pretty/ascii reduce ["é" reduce [] make object! [k: 1]] "  "
"""
    first, second = run_zem(script, tmp).rstrip("\n").split("\n----\n")
    check("pretty map", same(ordered(first), [("a", [1, 2, []]), ("b", "x")]), first)
    check("pretty map layout", first == '{\n\t"a": [\n\t\t1,\n\t\t2,\n\t\t{}\n\t],\n\t"b": "x"\n}', repr(first))
    check("pretty ascii", same(ordered(second), ["é", [], [("k", 1)]]), second)
    check("pretty ascii layout", second == '[\n  "\\u00E9",\n  [],\n  {\n    "k": 1\n  }\n]', repr(second))

    # the json codec: load and save by suffix and by /as, a file, a binary and a string
    with open(os.path.join(tmp, "data.json"), "w", encoding="utf-8") as f:
        f.write('{"a": [1, 2.5, "\u00e9"], "b": {"c": null}}')
    out = run_zem("""print to-json load %data.json
print to-json load/as read/binary %data.json 'json
print to-json system/codecs/json/decode read %data.json
save %out.json load %data.json
save/as %out.txt [1 "x"] 'json
print mold save/as none #[k: 1] 'json
""", tmp).splitlines()
    want = [("a", [1, 2.5, "é"]), ("b", [("c", None)])]
    for i, how in enumerate(("load by suffix", "load/as", "codec decode")):
        check(how, i < len(out) and same(ordered(out[i]), want), out[i] if i < len(out) else out)
    with open(os.path.join(tmp, "out.json"), encoding="utf-8") as f:
        check("save by suffix", same(ordered(f.read()), want), "")
    with open(os.path.join(tmp, "out.txt"), encoding="utf-8") as f:
        check("save/as json", f.read() == '[1,"x"]', "")
    check("save/as none", out[3:] == ['{{"k":1}}'], out[3:])

finish()
