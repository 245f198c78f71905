#!/usr/bin/env python3
"""Writes fixtures.txt: Zembin buffers built by hand from the format's tables with `struct`.

Each line: name, form (compact or plain), the Zem source of the value, and the expected buffer in
hex. "??" stands for one byte the test does not check (an object's class id, which depends on how
many classes were made before).

usage: gen_fixtures.py > fixtures.txt
"""
import struct

MAGIC = b"ZEMBIN"
ANY = None  # a wildcard byte


def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


def zz(n):
    return varint(((n << 1) ^ (n >> 31)) & 0xFFFFFFFF)


def u32(*words):
    return struct.pack("<%dI" % len(words), *[w & 0xFFFFFFFF for w in words])


def head(t, v=False):
    return bytes([t | (0x40 if v else 0)])


def symtab(names, compact):
    buf = b"".join(n.encode() + b"\0" for n in names)
    offs, at = [], 0
    for n in names:
        offs.append(at)
        at += len(n.encode()) + 1
    count = varint(len(names)) + varint(len(buf)) if compact else u32(len(names), len(buf))
    return count + u32(*offs) + buf if names else b""


def compact(records, names=()):
    flags = 1 | (4 if names else 0)
    return [*(MAGIC + bytes([2, flags]) + varint(1) + varint(len(bytes_of(records))) +
              symtab(names, True))] + list(records)


def plain(records, names=()):
    body = bytes_of(records)
    return [*(MAGIC + bytes([2, 4 if names else 0]) + u32(1, len(body)) + symtab(names, False))] \
        + list(records)


def bytes_of(records):
    return bytes(0 if b is ANY else b for b in records)


def seq(*parts):
    """Concatenates bytes objects and wildcards into one list of byte values."""
    out = []
    for p in parts:
        if p is ANY:
            out.append(ANY)
        else:
            out.extend(p)
    return out


def dbl_compact(d):
    return struct.pack("<d", d)  # low word first


def dbl_plain(d):
    low, high = struct.unpack("<II", struct.pack("<d", d))
    return u32(high, low)


BLOCK, STRING, INTEGER, FLOAT, CONTEXT, WORD, OBJECT = 5, 7, 11, 12, 14, 15, 32
PERCENT, TIME, PAIR, TUPLE, TYPESET, MAP, SET_WORD = 38, 43, 37, 39, 33, 40, 16
OBJ_FLAGS = 2 | 8  # object kind, self-bound

CASES = [
    # Small integers take one byte; 64 needs the typed record.
    ("int-63", "compact", "63", compact(b"\xBF")),
    ("int-64", "compact", "64", compact(b"\x0B\x80\x01")),
    ("int-negative", "compact", "-1", compact(head(INTEGER) + zz(-1))),
    # Whole floats as V=1 zz; -0.0 and fractions as two words, low first.
    ("float-zero", "compact", "0.0", compact(head(FLOAT, True) + zz(0))),
    ("float-negative-zero", "compact", "-0.0", compact(head(FLOAT) + dbl_compact(-0.0))),
    ("float-fraction", "compact", "1.5", compact(head(FLOAT) + dbl_compact(1.5))),
    ("float-large", "compact", "3e9", compact(head(FLOAT) + dbl_compact(3e9))),
    ("percent-whole", "compact", "50%", compact(head(PERCENT, True) + zz(50))),
    ("percent-fraction", "compact", "12.5%", compact(head(PERCENT) + dbl_compact(0.125))),
    ("time-whole", "compact", "1:00:00", compact(head(TIME, True) + zz(3600))),
    ("pair", "compact", "3x-4", compact(head(PAIR) + zz(3) + zz(-4))),
    ("tuple-3", "compact", "1.2.3", compact(head(TUPLE) + b"\x01\x02\x03")),
    ("tuple-4", "compact", "1.2.3.4", compact(head(TUPLE, True) + b"\x04\x01\x02\x03\x04")),
    ("typeset", "compact", "make typeset! [integer!]", compact(head(TYPESET) + b"\x02\x00\x10")),
    ("logic", "compact", "reduce [true false]", compact(head(BLOCK) + b"\x02\xC2\xC3")),
    # New-line marker before a value.
    ("new-line", "compact", "[1\n2]", compact(head(BLOCK) + b"\x02\x81\xC0\x82")),
    # A string met twice: the second time a reference by path (block position, string position).
    ("string-twice", "compact", "s: \"ab\" reduce [s s]",
     compact(head(BLOCK) + b"\x02" + head(STRING) + varint(2 << 2) + b"ab" +
             b"\xC1" + head(STRING) + varint(2) + b"\x00\x00")),
    # Globally bound words carry only their symbol.
    ("global-words", "compact", "[alpha beta alpha]",
     compact(head(BLOCK) + b"\x03" + head(WORD) + varint(0) + head(WORD) + varint(1) +
             head(WORD) + varint(0), ["alpha", "beta"])),
    # An object whose values are all unset!: no values, flag 16 clear.
    ("object-unset", "compact", "o: make object! [a: none] set/any in o 'a () o",
     compact(seq(head(OBJECT), ANY, head(CONTEXT), bytes([OBJ_FLAGS]), b"\x01\x00"), ["a"])),
    ("object-values", "compact", "make object! [a: 1]",
     compact(seq(head(OBJECT), ANY, head(CONTEXT), bytes([OBJ_FLAGS | 16]), b"\x01\x00\x81"),
             ["a"])),
    # A word bound to an object carries it inline the first time, a path afterwards.
    ("object-words", "compact", "o: make object! [a: 1] reduce [in o 'a in o 'a]",
     compact(seq(head(BLOCK), b"\x02", head(WORD, True), varint(0), zz(0),
                 head(OBJECT), ANY, head(CONTEXT), bytes([OBJ_FLAGS | 16]), b"\x01\x00\x81",
                 b"\xC1", head(WORD, True), varint(0), zz(0), b"\x02\x00\x00"), ["a"])),
    # A block holding itself: the inner occurrence is a path to the outer one.
    ("cycle", "compact", "b: copy [] append/only b b b",
     compact(head(BLOCK) + b"\x01" + b"\xC1" + head(BLOCK) + varint(1) + b"\x00")),
    # A removed key is skipped, and the count is that of the pairs written.
    ("map-removed-key", "compact", "m: #[a 1 b 2] remove/key m 'a m",
     compact(head(MAP) + varint(2) + head(SET_WORD) + varint(0) + b"\x82", ["b"])),
    # Plain form: u32 fields, doubles high word first at a multiple of 8 bytes of the records.
    ("plain-int", "plain", "63", plain(u32(INTEGER, 63))),
    ("plain-float-padded", "plain", "[1 1.5]",
     plain(u32(BLOCK, 0, 2) + u32(INTEGER, 1) + u32(0) + u32(FLOAT) + dbl_plain(1.5))),
    ("plain-string", "plain", "\"abc\"", plain(u32(STRING | 1 << 8, 0, 3) + b"abc\0")),
    ("plain-string-twice", "plain", "s: \"ab\" reduce [s s]",
     plain(u32(BLOCK, 0, 2) + u32(STRING | 1 << 8, 0, 2) + b"ab\0\0" +
           u32(STRING | 1 << 8 | 1 << 19, 0) + u32(0xFF, 2, 0, 0))),
    ("plain-global-word", "plain", "[alpha]",
     plain(seq(u32(BLOCK, 0, 1), u32(WORD, 0, 0xFFFFFFFF), [ANY] * 4), ["alpha"])),
]


def hexline(values):
    return " ".join("??" if b is ANY else "%02X" % b for b in values)


def main():
    print("# Generated by gen_fixtures.py: name<TAB>form<TAB>source<TAB>expected bytes")
    for name, form, source, expected in CASES:
        print("\t".join([name, form, source.replace("\n", "\\n"), hexline(expected)]))


if __name__ == "__main__":
    main()
