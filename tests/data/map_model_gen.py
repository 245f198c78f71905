#!/usr/bin/env python3
"""Writes map_model.trace: 100,000 random map operations with the results a python3 dict model
gives, one record a line (op key value expected-mold), read by tests/zem/map_model.py.

The model keeps the map's entry block: entries in insertion order, a removed entry stays as a
tombstone that putting its key again revives in place, and tombstones are purged (live entries
keeping their order) once they outnumber the live entries. Default look-up folds case
(str.casefold) for words and strings; among several keys that fold alike (put/case made them) the
live one first in the block answers, else the first tombstone. Floats match by exact value, 0.0
and -0.0 being one key. Run again to regenerate (the seed is fixed):
    python3 tests/data/map_model_gen.py > tests/data/map_model.trace
"""
import random

STEPS = 100_000
rng = random.Random(20261211)

NAMES = ["a", "A", "b", "B", "ab", "Ab", "aB", "AB", "key", "KEY", "Key", "x1", "X1", "zz"]
KEYS = ([("w", n) for n in NAMES] + [("s", n) for n in NAMES + ["é", "É", "ÿ", "Ÿ"]]
        + [("i", i) for i in range(-4, 16)]
        + [("c", c) for c in "aAbBzZ"]
        + [("f", x) for x in (0.0, -0.0, 0.5, 1.5, 2.25, -3.75, 10.0, 0.1, 0.001)])


def text(key):
    kind, v = key
    if kind == "w":
        return "'" + v
    if kind == "s":
        return '"' + v + '"'
    if kind == "c":
        return '#"' + v + '"'
    return repr(v) if kind == "f" else str(v)


def stored_text(key):
    """The key as mold shows it in the map (words as set-words)."""
    return key[1] + ":" if key[0] == "w" else text(key)


def found_text(key):
    """The key find answers (set-words as words)."""
    return key[1] if key[0] == "w" else text(key)


def equal(a, b, strict):
    if a[0] != b[0]:
        return False
    if a[0] in "ws" and not strict:
        return a[1].casefold() == b[1].casefold()
    return a[1] == b[1]


class Model:
    def __init__(self):
        self.entries = []  # [key, value, live]

    def live(self):
        return sum(1 for e in self.entries if e[2])

    def locate(self, key, strict):
        best = None
        for i, e in enumerate(self.entries):
            if equal(e[0], key, strict) and (best is None or (e[2] and not self.entries[best][2])):
                best = i
        return best

    def put(self, key, value, strict):
        i = self.locate(key, strict)
        if i is None:
            self.entries.append([key, value, True])
        else:
            self.entries[i][1] = value
            self.entries[i][2] = True
        return str(value)

    def select(self, key, strict):
        i = self.locate(key, strict)
        return str(self.entries[i][1]) if i is not None and self.entries[i][2] else "none"

    def find(self, key):
        i = self.locate(key, False)
        return found_text(self.entries[i][0]) if i is not None and self.entries[i][2] else "none"

    def remove(self, key):
        i = self.locate(key, False)
        if i is not None and self.entries[i][2]:
            self.entries[i][2] = False
            if len(self.entries) - self.live() > self.live():
                self.entries = [e for e in self.entries if e[2]]
        return str(self.live())

    def mold(self):
        return "#[" + " ".join(f"{stored_text(e[0])} {e[1]}" for e in self.entries if e[2]) + "]"


def quoted(s):
    return "{" + s + "}" if '"' in s else '"' + s + '"'


def main():
    m = Model()
    ops = [("put", 30), ("put-case", 10), ("select", 15), ("select-case", 8), ("remove", 22),
           ("find", 8), ("length", 5), ("clear", 0.05)]
    names, weights = zip(*ops)
    out = []
    for step in range(1, STEPS + 1):
        if step % 500 == 0:
            out.append(f"body _ _ {quoted(m.mold())}")
            continue
        op = rng.choices(names, weights)[0]
        key = rng.choice(KEYS)
        value = rng.randrange(1000)
        if op == "put":
            want = m.put(key, value, False)
        elif op == "put-case":
            want = m.put(key, value, True)
        elif op == "select":
            want = m.select(key, False)
        elif op == "select-case":
            want = m.select(key, True)
        elif op == "remove":
            want = m.remove(key)
        elif op == "find":
            want = m.find(key)
        elif op == "length":
            want = str(m.live())
        else:
            m.entries = []
            want = "0"
        out.append(f"{op} {text(key)} {value} {quoted(want)}")
    print("\n".join(out))


main()
