#!/usr/bin/env python3
"""Writes cases.txt: Zembin buffers built by hand with `struct`, each with what decoding it must give.

Each line: name<TAB>expectation<TAB>buffer in hex. The expectation is "= MOLD" (the mold of the block
the values were appended to), "! ID OFFSET" (script or access error ID whose first argument is
OFFSET, the failing byte's offset + 1; "?" when the offset is not checked) or "! invalid-data".

usage: gen_cases.py > cases.txt
"""
import os
import struct
import sys

# The byte helpers of the encoder's fixtures.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "zembin"))
from gen_fixtures import symtab, u32, varint  # noqa: E402

MAGIC = b"ZEMBIN"


def compact(records, names=()):
    """The buffer and the offset of its first record byte."""
    flags = 1 | (4 if names else 0)
    pre = MAGIC + bytes([2, flags]) + varint(1) + varint(len(records)) + (symtab(names, True) if names else b"")
    return pre + records, len(pre)


def plain(records, names=()):
    pre = MAGIC + bytes([2, 4 if names else 0]) + u32(1, len(records)) + (symtab(names, False) if names else b"")
    return pre + records, len(pre)


def date_word(year, month, day, zone=0, timed=False):
    return (year << 17) | (0x10000 if timed else 0) | (month << 12) | (day << 7) | zone


class Literals:
    """An LZ77 stream of literals only (0 and 8 bits per byte, least significant bit first)."""

    @staticmethod
    def pack(data, unpacked=None, first_match=False):
        bits, count = 0, 0
        out = bytearray()
        codes = [(1, 1)] if first_match else []
        for b in data:
            codes += [(0, 1), (b, 8)]
        if first_match:
            codes += [(1, 1), (0, 2), (0, 4), (0, 3)]  # a match at position 0
        for v, n in codes:
            bits |= v << count
            count += n
        while count > 0:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
        body = u32(len(data) + (3 if first_match else 0)) + bytes(out)
        return u32(len(body), len(data) if unpacked is None else unpacked) + body


rows = []


def ok(name, buf, mold):
    rows.append((name, "= " + mold, buf[0]))


def bad(name, buf, error, at=None):
    """`at`: the failing byte's offset within the records (None: not checked)."""
    where = "?" if at is None else str(buf[1] + at + 1)
    rows.append((name, f"! {error} {where}", buf[0]))


# The format's checkable bytes.
ok("empty", compact(b""), "[]")
ok("small-int", compact(b"\x85"), "[5]")
ok("new-line-small-int", compact(b"\x05\x02\x81\xC0\x85"), "[[1\n5]]")
bad("reference-small-int", compact(b"\xC1\x85"), "zb-invalid-record", 1)
ok("varint-0F", compact(b"\x0B\x80\x80\x80\x80\x0F"), "[2013265920]")
bad("varint-10", compact(b"\x0B\x80\x80\x80\x80\x10"), "zb-invalid-record", 5)
ok("tuple-v0", compact(b"\x27\x01\x02\x03"), "[1.2.3]")
ok("tuple-v1", compact(b"\x67\x04\x01\x02\x03\x04"), "[1.2.3.4]")
bad("tuple-v1-length-0", compact(b"\x67\x00"), "zb-invalid-record", 1)
bad("tuple-v1-length-13", compact(b"\x67\x0D" + bytes(13)), "zb-invalid-record", 1)
ok("date", compact(b"\x2F" + u32(date_word(2020, 1, 2))), "[2-Jan-2020]")
ok("date-time", compact(b"\x6F" + u32(date_word(2020, 1, 2, timed=True)) + struct.pack("<d", 3600.0)),
   "[2-Jan-2020/1:00:00]")
bad("date-flag-without-v", compact(b"\x2F" + u32(date_word(2020, 1, 2, timed=True)) + bytes(8)),
    "zb-invalid-record", 1)
bad("date-v-without-flag", compact(b"\x6F" + u32(date_word(2020, 1, 2)) + bytes(8)), "zb-invalid-record", 1)
bad("date-month-13", compact(b"\x2F" + u32(date_word(2020, 13, 2))), "zb-invalid-record", 1)
bad("date-day-30-feb", compact(b"\x2F" + u32(date_word(2021, 2, 30))), "zb-invalid-record", 1)
bad("definition-in-codec-mode", compact(b"\xC4\x0F\x00\x81", ["a"]), "zb-invalid-record", 0)
bad("header-byte-C5", compact(b"\xC5"), "zb-invalid-record", 0)
bad("type-0", compact(b"\x00"), "zb-invalid-record", 0)
bad("symbol-type", compact(b"\x0D"), "zb-invalid-record", 0)
bad("logic-typed", compact(b"\x04"), "zb-invalid-record", 0)
bad("symbol-past-table", compact(b"\x0F\x01", ["a"]), "zb-invalid-record", 1)
bad("names-without-nul", (MAGIC + b"\x02\x05\x01\x02\x01\x01" + u32(0) + b"a\x0F\x00", 0), "zb-invalid-record")
bad("symbol-count-too-large", (MAGIC + b"\x02\x05\x01\x00\x40\x01" + u32(0), 0), "zb-invalid-record")
bad("payload-past-end", (MAGIC + b"\x02\x01\x01\x05\x81", 0), "zb-invalid-record")
bad("char-past-unicode", compact(b"\x0A" + varint(0x110000)), "zb-invalid-record", 1)
bad("string-unit-8", compact(b"\x07" + varint(1 << 2 | 3) + bytes(8)), "zb-invalid-record", 1)
bad("string-past-unicode", compact(b"\x07" + varint(1 << 2 | 2) + u32(0x110000)), "zb-invalid-record", 1)
ok("string-wide", compact(b"\x07" + varint(2 << 2 | 2) + u32(0x41, 0x20AC)), '["A\u20ac"]')
bad("string-longer-than-data", compact(b"\x07" + varint(100 << 2) + b"ab"), "zb-invalid-record", 1)
bad("block-count-past-data", compact(b"\x05\x05\x81"), "zb-invalid-record", 1)
bad("block-head-past-count", compact(b"\x45\x03\x01\x81"), "zb-invalid-record", 2)
bad("binary-count-past-data", compact(b"\x29\x10\x01"), "zb-invalid-record", 1)
bad("vector-of-blocks", compact(b"\x23" + bytes([5 << 2 | 2]) + b"\x01" + u32(1)), "zb-invalid-record", 1)
bad("vector-past-data", compact(b"\x23" + bytes([11 << 2 | 2]) + b"\x04" + u32(1)), "zb-invalid-record", 2)
ok("vector", compact(b"\x23" + bytes([11 << 2 | 1]) + b"\x02\x01\x00\xFF\xFF"), "[make vector! [integer! 16 [1 -1]]]")
bad("map-odd", compact(b"\x28\x01\x81"), "zb-invalid-record", 1)
bad("map-block-key", compact(b"\x28\x02\x05\x00\x81"), "zb-invalid-record", 2)
bad("money-digit-past-9", compact(b"\x31" + bytes([0, 0xA0]) + bytes(10)), "zb-invalid-record", 2)
bad("typeset-13-bytes", compact(b"\x21\x0D" + bytes(13)), "zb-invalid-record", 1)
bad("error-code-unknown", compact(b"\x22" + varint(399) + b"\x03" * 6), "zb-invalid-record", 1)
for name, t in (("triple", 31), ("routine", 29), ("handle", 46), ("port", 48), ("event", 54)):
    bad(f"no-codec-{name}", compact(bytes([t])), "no-codec")

# An image header asking for 65,535 x 65,535 pixels (17 GB) with 4 bytes behind it.
bad("image-17-gb", compact(b"\x35" + varint(65535) + varint(65535) + bytes(4)), "zb-invalid-record", 1)
ok("image", compact(b"\x35\x01\x01" + bytes([1, 2, 3, 255])), "[make image! [1x1 #{030201}]]")

# Natives and actions come back as the runtime's own; the buffer's spec is dropped.
ok("native-foreign-spec", compact(b"\x15\x01\x05\x02\x0F\x00\x0F\x01", ["x", "y"]),
   "[make native! [[cond [any-type!] then-blk [block!]]]]")
bad("native-entry-0", compact(b"\x15\x00\x05\x00"), "zb-invalid-record", 1)
bad("native-entry-200", compact(b"\x15" + varint(200) + b"\x05\x00"), "zb-invalid-record", 1)
bad("action-slot-without-word", compact(b"\x16\x07\x05\x00"), "zb-invalid-record", 1)
bad("action-63", compact(b"\x16\x3F\x05\x00"), "zb-invalid-record", 1)
bad("native-spec-not-block", compact(b"\x15\x01\x81"), "zb-invalid-record", 2)

# Functions: the context must hold the spec's words in order.
ctx_ab = b"\x0E\x05\x02\x00\x01"
ok("function", compact(b"\x18\x02\x01" + ctx_ab + b"\x05\x02\x0F\x00\x0F\x01" + b"\x05\x01\x0F\x00", ["a", "b"]),
   "[func [a b][a]]")
bad("function-context-too-small", compact(b"\x18\x02\x00\x0E\x05\x01\x00" + b"\x05\x02\x0F\x00\x0F\x01\x05\x00",
                                          ["a", "b"]), "zb-invalid-record", 0)
bad("function-context-reordered", compact(b"\x18\x02\x00\x0E\x05\x02\x01\x00" + b"\x05\x02\x0F\x00\x0F\x01\x05\x00",
                                          ["a", "b"]), "zb-invalid-record", 0)
# A spec that repeats a word, or that the function datatype refuses: faults of the record too.
bad("function-spec-twice-the-word", compact(b"\x18\x02\x00\x0E\x05\x01\x00" + b"\x05\x02\x0F\x00\x0F\x00\x05\x00",
                                           ["a"]), "zb-invalid-record", 0)
bad("function-spec-set-word", compact(b"\x18\x02\x00\x0E\x05\x00" + b"\x05\x02\x10\x00\x81\x05\x00", ["a"]),
    "zb-invalid-record", 0)
bad("function-context-with-values", compact(b"\x18\x00\x00\x0E\x15\x00\x05\x00\x05\x00"), "zb-invalid-record", 3)
bad("function-spec-not-block", compact(b"\x18\x00\x00\x0E\x05\x00\x06\x00\x05\x00"), "zb-invalid-record", 6)
bad("object-duplicate-word", compact(b"\x20\x00\x0E\x0A\x02\x00\x00", ["a"]), "zb-invalid-record", 6)
ok("object", compact(b"\x20\x00\x0E\x1A\x01\x00\x81", ["a"]), "[make object! [\n    a: 1\n]]")
# A word bound to an object inline: its index must name its own symbol.
bad("word-index-wrong-symbol", compact(b"\x4F\x01\x00\x20\x00\x0E\x1A\x01\x00\x81", ["a", "b"]),
    "zb-invalid-record", 2)
ok("word-bound-inline", compact(b"\x4F\x00\x00\x20\x00\x0E\x1A\x01\x00\x81", ["a"]), "[a]")

# Reference paths: every step checked.
ok("path", compact(b"\x05\x02\x81\x82\xFF\x02\x00\x01"), "[[1 2] 2]")
bad("path-index-past-series", compact(b"\x05\x02\x81\x82\xFF\x02\x00\x05"), "zb-invalid-record", 7)
bad("path-first-index-past-root", compact(b"\x81\xFF\x01\x05"), "zb-invalid-record", 3)
bad("path-through-integer", compact(b"\x81\xFF\x02\x00\x00"), "zb-invalid-record", 4)
bad("path-of-0-entries", compact(b"\x81\xFF\x00"), "zb-invalid-record", 2)
bad("path-longer-than-data", compact(b"\x81\xFF\x05\x00"), "zb-invalid-record", 2)
bad("string-sharing-a-block", compact(b"\x05\x01\x05\x00\xC1\x07\x02\x00\x00"), "zb-invalid-record", 6)
ok("string-shared", compact(b"\x05\x02\x07\x08\x61\x62\xC1\x07\x02\x00\x00"), '[["ab" "ab"]]')
ok("cycle", compact(b"\x05\x01\xC1\x05\x01\x00"), "[[[...]]]")

# Deep nesting is refused past 1,000 levels (the 100,000-level buffer is built by the test).
bad("nesting-1001", compact(b"\x05\x01" * 1001 + b"\x81"), "zb-invalid-record", 2000)
ok("nesting-900", compact(b"\x05\x01" * 899 + b"\x81"), "[" * 900 + "1" + "]" * 900)

# The plain form.
ok("plain-int", plain(b"\x0B\x00\x00\x00" + u32(63)), "[63]")
ok("plain-string-shared", plain(u32(5, 0, 2, 7 | 1 << 8, 0, 2) + b"ab\0\0" + u32(7 | 1 << 8 | 1 << 19, 0, 0xFF, 2, 0, 0)),
   '[["ab" "ab"]]')
bad("plain-path-past-series", plain(u32(5, 0, 1, 11, 1, 0xFF, 2, 0, 9)), "zb-invalid-record", 32)
bad("plain-definition", plain(u32(15 | 1 << 25, 0, 0xFFFFFFFF, 0), ["a"]), "zb-invalid-record", 0)

# Packed payloads.
records = b"\x05\x02\x85\x86"
body = varint(1) + varint(len(records)) + records
ok("packed", (MAGIC + b"\x02\x03" + Literals.pack(body), 0), "[[5 6]]")
bad("packed-claims-4-GB", (MAGIC + b"\x02\x03" + Literals.pack(body, unpacked=0xFFFFFFFF), 0), "invalid-data")
bad("packed-first-code-a-match", (MAGIC + b"\x02\x03" + Literals.pack(body, first_match=True), 0), "invalid-data")
bad("packed-truncated", (MAGIC + b"\x02\x03" + Literals.pack(body)[:-2], 0), "invalid-data")
bad("magic", (b"ZEMBIM\x02\x01\x00\x00", 0), "invalid-data")

print("# Generated by gen_cases.py: name<TAB>expectation<TAB>buffer")
for name, expect, buf in rows:
    sys.stdout.buffer.write(f"{name}\t{expect.replace(chr(10), '^/')}\t{buf.hex().upper()}\n".encode())
