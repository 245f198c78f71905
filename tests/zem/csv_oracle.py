"""load-csv and to-csv against python3's csv module: a table of texts (quotes, doubled quotes,
embedded delimiters and line ends, LF, CR LF, lone CR, empty lines, a trailing line end) read by
load-csv and by csv.reader(io.StringIO(text, newline='')) give the same rows; generated rows written
by to-csv are read back by csv.reader as the same fields; a file saved with `save %out.csv` and one
loaded with `load %data.csv` (and by `/as`) go through the csv codec."""
import csv
import io
import json
import os
import random
import sys
import tempfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from driver import check, finish, run_zem  # noqa: E402


def python_rows(text, **kw):
    # python3 gives an empty line as a row of no fields; load-csv as one empty field
    return [row if row else [""] for row in csv.reader(io.StringIO(text, newline=""), **kw)]


TEXTS = [
    "a,b\nc,d", "a,b\nc,d\n", "a,b\r\nc,d\r\n", "a,b\rc,d\r", "a,b\r\nc,d\ne,f\rg,h",
    '"x,y",z', '"x\ny",z\n1,2', '"x\r\ny",z', '"x\ry",z', 'a""b,c', '"a""b",c', '"""",""', '"",x',
    "a,,b", ",,", "a\n\nb", "a\n\n", "\n", "", "one", "é,ü\n€,😀", ' a , b ', '"a"', 'a"b,c',
    "x,y\n1,2\n3,4\n", '"multi\nline\nfield","second"\r\nq,"w""e"',
]

with tempfile.TemporaryDirectory() as tmp:
    # reading: the same rows as python3's reader
    with open(os.path.join(tmp, "texts.json"), "w", encoding="utf-8") as f:
        json.dump(TEXTS, f)
    # a delimiter given as a string takes the grammar's road, a character the one-pass reader's
    out = run_zem("""foreach t load %texts.json [
    print to-json/ascii load-csv t
    print to-json/ascii load-csv/with t ","
]""", tmp).splitlines()
    for i, text in enumerate(TEXTS):
        for j, road in enumerate(("reader", "grammar")):
            line = out[2 * i + j] if 2 * i + j < len(out) else "null"
            check(f"load-csv {text!r} ({road})", json.loads(line) == python_rows(text),
                  f"{line} against {python_rows(text)}")

    # other delimiters and quote characters
    cases = [("a;b\n\"c;d\";e", ";", '"'), ("'a,b',c\n'it''s',d", ",", "'"), ("a\tb\n\"c\td\"\te", "\t", '"')]
    with open(os.path.join(tmp, "dq.json"), "w", encoding="utf-8") as f:
        json.dump(cases, f)
    out = run_zem("""foreach c load %dq.json [
    print to-json/ascii load-csv/with/quote c/1 to char! c/2 to char! c/3
    print to-json/ascii to-csv/with/quote load-csv/with/quote c/1 to char! c/2 to char! c/3 to char! c/2 to char! c/3
]""", tmp).splitlines()
    for i, (text, d, q) in enumerate(cases):
        want = python_rows(text, delimiter=d, quotechar=q)
        check(f"load-csv/with/quote {text!r}", json.loads(out[2 * i]) == want, out[2 * i])
        written = json.loads(out[2 * i + 1])
        check(f"to-csv/with/quote {text!r}", python_rows(written, delimiter=d, quotechar=q) == want, written)

    # writing: generated rows (quotes, delimiters, CR, LF, CR LF, spaces, non-ASCII) read back alike
    rnd = random.Random(43)
    pieces = ['"', ",", "\r", "\n", "\r\n", " ", "a", "bc", "é", "😀", "''", ";", "x y"]
    tables = []
    for _ in range(30):
        width = rnd.randint(1, 5)
        tables.append([["".join(rnd.choice(pieces) for _ in range(rnd.randint(0, 4))) for _ in range(width)]
                       for _ in range(rnd.randint(1, 6))])
    tables.append([["lone\rCR", 'doubled ""quote""', "plain"]])
    with open(os.path.join(tmp, "tables.json"), "w", encoding="utf-8") as f:
        json.dump(tables, f)
    out = run_zem("""foreach t load %tables.json [
    print to-json/ascii to-csv t
    print to-json/ascii to-csv/with t ","
]""", tmp).splitlines()
    for i, table in enumerate(tables):
        written = [json.loads(line) for line in out[2 * i: 2 * i + 2]]
        check(f"to-csv {table!r}", python_rows(written[0]) == [r if r else [""] for r in table],
              f"{written[0]!r} read as {python_rows(written[0])!r}")
        check(f"to-csv {table!r} both roads", written[0] == written[1], written)
    check("to-csv count", len(out) == 2 * len(tables), len(out))

    # records and columns: python3's DictReader gives the same records
    text = "id,name,ID\n1,ann,x\n2,\"b,c\",y\n"
    with open(os.path.join(tmp, "data.csv"), "w", encoding="utf-8", newline="") as f:
        f.write(text)
    out = run_zem("""print to-json/ascii load-csv/header/as-records read %data.csv
print to-json/ascii load-csv/header read %data.csv
print to-json/ascii load %data.csv
print to-json/ascii load/as read/binary %data.csv 'csv
save %out.csv [["a b" "c"] ["1" {x"y}]]
save/as %out.txt [["p" "q"]] 'csv
print to-json/ascii to-csv load-csv/header/as-records read %data.csv
""", tmp).splitlines()
    records = [dict(r) for r in csv.DictReader(io.StringIO(text, newline=""))]
    check("as-records", [list(r.items()) for r in records] == [list(r.items()) for r in json.loads(out[0])], out[0])
    columns = json.loads(out[1])
    check("header columns", columns == {k: [r[k] for r in records] for k in ("id", "name", "ID")}, out[1])
    check("load by suffix", json.loads(out[2]) == python_rows(text), out[2])
    check("load/as csv", json.loads(out[3]) == python_rows(text), out[3])
    with open(os.path.join(tmp, "out.csv"), encoding="utf-8", newline="") as f:
        check("save by suffix", python_rows(f.read()) == [["a b", "c"], ["1", 'x"y']], "")
    with open(os.path.join(tmp, "out.txt"), encoding="utf-8", newline="") as f:
        check("save/as csv", f.read() == "p,q\n", "")
    check("records written", list(csv.DictReader(io.StringIO(json.loads(out[4]), newline=""))) == records, out[4])

finish()
