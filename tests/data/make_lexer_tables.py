#!/usr/bin/env python3
"""Writes lexer_tables.txt: the lexer's class, transition, state-type and kind-type tables expanded
from their written form below (kept exactly as documented), so that the C++ tables, typed in
separately, can be checked against it by tests/unit/lexer_tables.cpp.

Run from anywhere: python3 tests/data/make_lexer_tables.py > tests/data/lexer_tables.txt
"""
import re
import sys

CLASSES = r'''
| class | bytes |
|---|---|
| 0 blank | tab, carriage return, space |
| 1 line feed | line feed |
| 2 | "1"-"9" |
| 3 | "0" |
| 4 | "[" |
| 5 | "]" |
| 6 | "(" |
| 7 | ")" |
| 8 | "{" |
| 9 | "}" |
| 10 | double quote |
| 11 | "#" |
| 12 | apostrophe |
| 13 | ":" |
| 14 | "x" and "X" |
| 15 | "T" |
| 16 | "h" |
| 17 | "e" |
| 18 | "E" |
| 19 | "a"-"d", "f" |
| 20 | "A"-"D", "F" |
| 21 | "/" |
| 22 | backslash |
| 23 | "<" |
| 24 | ">" |
| 25 | "=" |
| 26 | "%" |
| 27 | "," |
| 28 | ";" |
| 29 | "@" |
| 30 | "." |
| 31 | "$" |
| 32 | "+" |
| 33 | "-" |
| 34 | "^" |
| 35 control | bytes 0x01-0x08, 0x0B, 0x0C, 0x0E-0x1F |
| 36 continuation | bytes 0x7F-0xBF |
| 37 word | "!", "&", "*", "?", "G"-"S", "U"-"W", "Y", "Z", "_", backquote, "g", "i"-"w", "y", "z", "|", "~", and the UTF-8 lead bytes 0xC2-0xF7 |
| 38 invalid | bytes 0xC0, 0xC1, 0xF8-0xFF |
| 39 end | byte 0x00, and the end of the input |
'''

FLAGS = r'''
Class flags, or-ed over all bytes of a token and handed to its scanner and loader: 0x00040000 "%"; 0x00080000 ">"; 0x00100000 "<"; 0x00200000 "+" or "-"; 0x00400000 byte 0x00; 0x00800000 "#"; 0x01000000 "e" or "E"; 0x02000000 apostrophe; 0x04000000 ":"; 0x08000000 ","; 0x10000000 "."; 0x20000000 "^"; 0x40000000 a lead byte 0xC2-0xEF; 0x80000000 a lead byte 0xF0-0xF7. Bits 30-31 thus give the widest code point in a token (a string loader picks its unit from them: 1 shifted left by the top two bits, at most 4).
'''

TRANSITIONS = r'''
| state | default | other classes |
|---|---|---|
| 0 | state 52 | 0, 1, 35: state 0; 28: state 1; 10: state 2; 26: state 6; 21: state 13; 11: state 16; 2, 3: state 23; 31: state 36; 18, 20: state 40; 23: state 43; 32, 33: state 47; 30: state 49; 12, 13: state 51; 29: state 57; 25: state 58; 39: token 0; 9, 22, 36, 38: token 1; 4: token 2; 5: token 3; 6: token 4; 7: token 5; 8: token 6; 27: token 12 |
| 1 | state 1 | 38: token 1; 1, 39: token 11 |
| 2 | state 2 | 34: state 3; 1, 38, 39: token 1; 10: token 13 |
| 3 | state 2 | 38, 39: token 1 |
| 4 | state 4 | 34: state 5; 38, 39: token 1; 8: token 6; 9: token 7 |
| 5 | state 4 | 38, 39: token 1 |
| 6 | state 7 | 10: state 8; 26: state 9; 8: state 10; 13: state 54; 38: token 1; 0, 1, 4, 5, 6, 7, 9, 28, 29, 35, 39: token 14 |
| 7 | state 7 | 10, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 13, 28, 29, 39: token 19 |
| 8 | state 8 | 1, 38, 39: token 1; 10: token 19 |
| 9 | state 7 | 26: state 9; 8: state 10; 38: token 1; 0, 1, 4, 5, 6, 7, 9, 10, 22, 28, 35, 39: token 14 |
| 10 | state 10 | 9: state 11; 38, 39: token 1 |
| 11 | state 10 | 9: state 11; 26: state 12; 38, 39: token 1 |
| 12 | token 1 | 26: state 12; 0, 1, 4, 5, 6, 7, 8, 10, 23, 28, 35, 39: token 34 |
| 13 | state 14 | 21: state 15; 13: state 53; 27, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 28, 29, 35, 39: token 14 |
| 14 | state 14 | 13, 27, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 28, 29, 35, 39: token 17 |
| 15 | state 52 | 21: state 15; 26, 27, 31, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 28, 29, 35, 39: token 14 |
| 16 | state 22 | 8: state 17; 10: state 19; 6: state 21; 0, 1, 5, 7, 9, 13, 23, 24, 27, 38: token 1; 4: token 8; 28, 29, 35, 39: token 15 |
| 17 | token 1 | 0, 1, 2, 3, 14, 15, 16, 17, 18, 19, 20, 21, 25, 32, 37: state 17; 28: state 18; 9: token 20 |
| 18 | state 18 | 1: state 17; 38, 39: token 1 |
| 19 | state 19 | 34: state 20; 38, 39: token 1; 10: token 18 |
| 20 | state 19 | 38, 39: token 1 |
| 21 | state 21 | 38, 39: token 1; 7: token 10 |
| 22 | state 22 | 13, 21, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 28, 29, 35, 39: token 15 |
| 23 | token 16 | 11: state 16; 2, 3, 12: state 23; 30: state 24; 17: state 26; 18: state 27; 15, 21, 33: state 30; 13: state 31; 14: state 33; 20: state 39; 16: state 42; 29: state 56; 19, 22, 24, 25, 31, 32, 34, 36, 37, 38: token 1; 26: token 21 |
| 24 | token 1 | 2, 3, 12: state 25; 17, 18: state 26; 11: state 28; 14: state 33; 26: token 21; 0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 23, 27, 28, 35, 39: token 22 |
| 25 | token 22 | 2, 3, 12: state 25; 17, 18: state 26; 30: state 29; 14: state 33; 29: state 56; 11, 15, 16, 19, 20, 22, 24, 25, 31, 32, 33, 34, 36, 37, 38: token 1; 26: token 21 |
| 26 | token 1 | 2, 3, 32, 33: state 26; 29: state 56; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 27, 28, 35, 39: token 22 |
| 27 | token 22 | 32, 33: state 26; 2, 3: state 27; 30: state 29; 18, 20: state 40; 16: state 42; 29: state 56; 11, 12, 14, 15, 17, 19, 22, 24, 25, 28, 31, 34, 36, 37, 38: token 1; 26: token 21 |
| 28 | token 23 | 14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 32, 33, 36, 37: state 28; 11, 12, 13, 26, 29, 31, 34, 38: token 1; 2: token 22 |
| 29 | token 1 | 2, 3, 30: state 29; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39: token 24 |
| 30 | state 30 | 26, 27, 29, 34, 36, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 23, 28, 31, 35, 39: token 25 |
| 31 | token 1 | 2, 3: state 32 |
| 32 | token 1 | 2, 3, 13, 30: state 32; 0, 1, 4, 5, 6, 7, 8, 9, 10, 21, 23, 28, 35, 39: token 28 |
| 33 | token 1 | 2, 3, 32, 33: state 34; 29: state 56 |
| 34 | token 1 | 2, 3, 17, 18, 30: state 34; 29: state 56; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39: token 26 |
| 35 | token 1 | 0, 2, 3, 5, 11, 17, 18, 19, 20, 27, 30, 32, 33, 37: state 35; 7: token 27 |
| 36 | token 1 | 2, 3: state 37 |
| 37 | token 1 | 2, 3, 12: state 37; 30: state 38; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 21, 23, 28, 35, 39: token 29 |
| 38 | token 1 | 2, 3, 12: state 38; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 21, 23, 28, 35, 39: token 29 |
| 39 | token 1 | 2, 3, 18, 20: state 39; 16: state 41; 29: state 56 |
| 40 | token 14 | 31: state 37; 2, 3, 18, 20: state 40; 16: state 41; 12, 14, 15, 17, 19, 23, 24, 25, 30, 32, 33, 34, 36, 37: state 52; 13: state 53; 29: state 56; 26, 27, 38: token 1; 21: token 9 |
| 41 | state 52 | 31: state 37; 13: state 53; 29: state 56; 11, 26, 27, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 28, 35, 39: token 33 |
| 42 | token 1 | 31: state 37; 29: state 56; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 23, 28, 35, 39: token 33 |
| 43 | state 44 | 23: state 43; 12: state 46; 24, 25, 33: state 52; 13: state 53; 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 28, 35, 39: token 14 |
| 44 | state 44 | 10: state 45; 12: state 46; 38, 39: token 1; 24: token 30 |
| 45 | state 45 | 10: state 44; 38, 39: token 1 |
| 46 | state 46 | 12: state 44; 38, 39: token 1 |
| 47 | state 52 | 2, 3: state 23; 31: state 37; 30: state 49; 12, 26, 34, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39: token 14 |
| 48 | state 52 | 12, 26, 31, 34, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39: token 14 |
| 49 | state 52 | 2, 3, 32, 33: state 50; 13: state 53; 29: state 56; 26, 27, 31, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 28, 35, 39: token 14 |
| 50 | token 1 | 14: state 33; 2, 3, 17, 18, 32, 33: state 50; 29: state 56; 26: token 21; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 35, 39: token 22 |
| 51 | token 1 | 21: state 13; 23: state 43; 32, 33: state 48; 14, 15, 16, 17, 18, 19, 20, 24, 30, 34, 36, 37: state 52; 26: state 54; 25: state 58 |
| 52 | state 52 | 31: state 36; 13: state 53; 29: state 56; 26, 27, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 11, 22, 23, 28, 35, 39: token 14 |
| 53 | state 55 | 23, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 28, 35, 39: token 14 |
| 54 | token 1 | 26: state 54; 0, 1, 4, 5, 6, 7, 8, 9, 22, 28, 35, 39: token 14 |
| 55 | state 55 | 24, 34, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 22, 23, 28, 35, 39: token 31 |
| 56 | token 32 | 2, 3, 14, 15, 16, 17, 18, 19, 20, 26, 30, 32, 33, 36, 37: state 56; 11, 12, 13, 24, 25, 27, 29, 31, 34, 38: token 1 |
| 57 | state 57 | 11, 12, 22, 24, 25, 27, 29, 31, 34, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 23, 28, 35, 39: token 35 |
| 58 | state 52 | 11, 26, 27, 29, 31, 38: token 1; 21: token 9; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 22, 28, 35, 39: token 14 |
| 59 | token 1 | 10: state 2; 31: state 36; 23: state 43; 29: state 57; 2, 3: state 60; 12, 13: state 61; 14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 36, 37: state 62; 11: state 63; 32, 33: state 64; 6: token 4; 7: token 5 |
| 60 | token 1 | 30: state 24; 17, 18: state 26; 14: state 33; 29: state 56; 2, 3, 12: state 60; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 23, 28, 35, 39: token 16; 26: token 21 |
| 61 | token 1 | 14, 15, 16, 17, 18, 19, 20, 23, 24, 25, 30, 32, 33, 36, 37: state 62 |
| 62 | state 62 | 31: state 36; 29: state 56; 11, 26, 27, 38: token 1; 0, 1, 4, 5, 6, 7, 8, 9, 10, 13, 21, 22, 28, 35, 39: token 14 |
| 63 | state 22 | 10: state 19; 4: state 21; 0, 1, 5, 6, 7, 8, 9, 13, 21, 23, 24, 25, 27, 28, 29, 35, 38, 39: token 1 |
| 64 | token 14 | 31: state 36; 29: state 56; 2, 3: state 60; 14, 15, 16, 17, 18, 19, 20, 24, 25, 30, 36, 37: state 62; 32, 33: state 64; 11, 12, 23, 26, 27, 34, 38: token 1 |
'''

STATE_TYPES = r'''
Datatype of each state (`LexerTypeTable`, used for the token's type in events and for the datatype named by a syntax error when scanning fails inside a state): 2-5 string!, 6-9 file!, 10-12 string!, 13 word!, 14 refinement!, 15 word!, 16 issue!, 17 binary!, 19-20 char!, 22 issue!, 23 integer!, 24-28 float!, 29 tuple!, 30 date!, 31-32 time!, 33-34 pair!, 35 point2D!, 36-38 money!, 40 integer!, 41 word!, 42 integer!, 43-46 tag!, 47-49 word!, 50 float!, 51-52 word!, 53 set-word!, 54 word!, 55 url!, 56 email!, 57 ref!, 58 word!, 59 path!, 60 integer!, 61-62 word!, 63 issue!, 64 word!; none for 0, 1, 18, 21, 39.
'''

KINDS = r'''
| kind | matches | datatype | scanner | loader |
|---|---|---|---|---|
| 0 | end of input (byte 0x00 or the end) | none | moves the cursor to the end | - |
| 1 | invalid byte sequence | error! | raises the syntax error (see Failure handling) | - |
| 2 | "[" | none | opens a block! container | - |
| 3 | "]" | none | closes a block! container, or a map! opened by "#[" | - |
| 4 | "(" | none | point lookahead: restarts in state 35; else opens a paren! container | - |
| 5 | ")" | none | closes a paren! container | - |
| 6 | "{" | none | opens (or nests) a braced string | - |
| 7 | "}" inside a braced string | string! | closes one nesting level; at level 0 loads the string | - |
| 8 | "#[" | none | opens a map! container | - |
| 9 | a word, lit-word or get-word followed by "/" | none | opens a path container and loads its head | - |
| 10 | "#(" ... ")" | none | construction literal | - |
| 11 | ";" to the end of the line | none | comment: only reported to the callback | - |
| 12 | "," | none | turns the open paren into a point | - |
| 13 | double-quoted string | string! | checks escapes and UTF-8 | string loader |
| 14 | word forms | word! | picks word!, set-word!, get-word! or lit-word! | word loader |
| 15 | "#" issue | issue! | refuses a lone "#" | word loader |
| 16 | decimal integer | integer! | - | integer loader |
| 17 | "/" refinement | refinement! | - | refinement loader |
| 18 | "#" followed by a double-quoted character | char! | - | char loader |
| 19 | "%" file | file! | - | file loader |
| 20 | "#{" ... "}", also with the base 2, 16 or 64 written before the "#" | binary! | - | binary loader |
| 21 | number followed by "%" | percent! | - | percent loader |
| 22 | decimal with fraction or exponent | float! | - | float loader |
| 23 | "1.#NaN", "1.#INF" forms | float! | - | special-float loader |
| 24 | three or more dot-separated numbers | tuple! | - | tuple loader |
| 25 | date forms | date! | - | date loader |
| 26 | two numbers joined by "x" or "X" | pair! | - | pair loader |
| 27 | two or three numbers between "(" and ")", separated by "," | point2D! | - | point loader |
| 28 | time forms | time! | - | time loader |
| 29 | "$" amounts with optional currency code | money! | - | money loader |
| 30 | "<" ... ">" | tag! | - | tag loader |
| 31 | "scheme:" forms | url! | - | url loader |
| 32 | a name, "@" and a host | email! | - | email loader |
| 33 | hexadecimal digits followed by "h" | integer! | - | hexadecimal loader |
| 34 | "%" signs, "{", text, "}" and as many "%" signs | string! | - | raw-string loader |
| 35 | "@" reference | ref! | - | ref loader |
'''

POINT_LOOKAHEAD = r'''
Point lookahead set: tab, space, "#", "+", "-", ".", "0"-"9", "A", "E", "F", "I", "N", "a", "e", "f", "i", "n".
'''

PATH_FOLLOWERS = r'''
Set-path follower classes: the classes that may follow the ":" that ends a path (blank, line feed, "[", "]", "(", ")", "{", double quote, ":", "<", ";", word, invalid, end).
'''

NAMED = {'tab': [0x09], 'carriage return': [0x0D], 'space': [0x20], 'line feed': [0x0A],
         'double quote': [0x22], 'apostrophe': [0x27], 'backslash': [0x5C], 'backquote': [0x60],
         'the end of the input': []}


def byte_items(text):
    """Expands a written list of bytes ('"a"-"d", "f"', 'bytes 0x01-0x08', 'tab, space') into bytes."""
    out = []
    pattern = r'"."-"."|"."|0x[0-9A-F]{2}-0x[0-9A-F]{2}|0x[0-9A-F]{2}|[A-Za-z][A-Za-z -]*[A-Za-z]'
    for item in re.findall(pattern, text.replace('the UTF-8 lead bytes', '')):
        item = re.sub(r'^and\s*', '', item)
        if item in ('', 'byte', 'bytes', 'the UTF-8 lead bytes'):
            continue
        m = re.fullmatch(r'"(.)"-"(.)"', item)
        if m:
            out += range(ord(m[1]), ord(m[2]) + 1)
            continue
        m = re.fullmatch(r'"(.)"', item)
        if m:
            out.append(ord(m[1]))
            continue
        m = re.fullmatch(r'0x([0-9A-F]{2})-0x([0-9A-F]{2})', item)
        if m:
            out += range(int(m[1], 16), int(m[2], 16) + 1)
            continue
        m = re.fullmatch(r'0x([0-9A-F]{2})', item)
        if m:
            out.append(int(m[1], 16))
            continue
        if item in NAMED:
            out += NAMED[item]
            continue
        sys.exit('cannot read byte item: %r' % item)
    return out


def class_table():
    cls = [None] * 256
    for line in CLASSES.strip().splitlines()[2:]:
        # the byte list may hold a quoted "|": split off the first column only
        cells = [c.strip() for c in line.strip().strip('|').split('|', 1)]
        number = int(cells[0].split()[0])
        for b in byte_items(cells[1]):
            if cls[b] is not None:
                sys.exit('byte 0x%02X in two classes' % b)
            cls[b] = number
    missing = [b for b in range(256) if cls[b] is None]
    if missing:
        sys.exit('bytes without class: %r' % missing)
    flags = [0] * 256
    for part in FLAGS.strip().split(':', 1)[1].split('. Bits')[0].split(';'):
        m = re.fullmatch(r'\s*0x([0-9A-F]{8}) (.*?)\.?\s*', part)
        if not m:
            continue  # the closing sentence on bits 30-31
        bit = int(m[1], 16)
        what = m[2]
        m2 = re.fullmatch(r'a lead byte 0x([0-9A-F]{2})-0x([0-9A-F]{2})', what)
        if m2:
            bs = range(int(m2[1], 16), int(m2[2], 16) + 1)
        elif what.startswith('byte '):
            bs = [int(what[5:], 16)]
        else:
            bs = [ord(c) for c in re.findall(r'"(.)"', what)]
            if what == 'apostrophe':
                bs = [0x27]
        if not bs:
            sys.exit('cannot read flag: %r' % part)
        for b in bs:
            flags[b] |= bit
    return [cls[b] | flags[b] for b in range(256)]


def target(text):
    kind, number = text.split()
    return int(number) + (66 if kind == 'token' else 0)


def transition_table():
    rows = []
    for line in TRANSITIONS.strip().splitlines()[2:]:
        cells = [c.strip() for c in line.strip('|').split('|')]
        state = int(cells[0])
        if state != len(rows):
            sys.exit('row %d out of order' % state)
        row = [target(cells[1])] * 40
        seen = set()
        for group in cells[2].split(';'):
            classes, to = group.split(':')
            for c in classes.split(','):
                c = int(c)
                if c in seen:
                    sys.exit('state %d: class %d given twice' % (state, c))
                seen.add(c)
                row[c] = target(to.strip())
        rows.append(row)
    if len(rows) != 65:
        sys.exit('expected 65 rows')
    return rows


def state_types():
    body = STATE_TYPES.split(':', 1)[1]
    given, nones = body.split('; none for ')
    types = [None] * 65
    for item in given.split(','):
        span, name = item.split()
        lo, _, hi = span.partition('-')
        for s in range(int(lo), int(hi or lo) + 1):
            types[s] = name
    for s in nones.strip().rstrip('.').split(','):
        types[int(s)] = 'none'
    if None in types:
        sys.exit('states without type: %r' % [s for s, t in enumerate(types) if t is None])
    return types


def kind_types():
    out = []
    for line in KINDS.strip().splitlines()[2:]:
        cells = [c.strip() for c in line.strip('|').split('|')]
        if int(cells[0]) != len(out):
            sys.exit('kind %s out of order' % cells[0])
        out.append(cells[2])
    if len(out) != 36:
        sys.exit('expected 36 kinds')
    return out


def point_lookahead():
    return sorted(set(byte_items(POINT_LOOKAHEAD.split(':', 1)[1].strip().rstrip('.'))))


def path_followers():
    inner = re.search(r'\((.*)\)', PATH_FOLLOWERS)[1]
    # "word" stands for every class a word can begin with: the letter classes 14-20 and 37.
    names = {'blank': [0], 'line feed': [1], 'word': [14, 15, 16, 17, 18, 19, 20, 37],
             'invalid': [38], 'end': [39]}
    cls = class_table()
    out = []
    for item in [t.strip() for t in inner.split(',')]:
        if item in names:
            out.extend(names[item])
        else:
            out.append(cls[byte_items(item)[0]] & 0xFF)
    return sorted(out)


def main():
    print('# Expanded lexer tables; regenerate with make_lexer_tables.py.')
    print('classes')
    for b, e in enumerate(class_table()):
        print('%02X %08X' % (b, e))
    print('transitions')
    for s, row in enumerate(transition_table()):
        print('%d: %s' % (s, ' '.join(map(str, row))))
    print('state-types')
    for s, t in enumerate(state_types()):
        print('%d %s' % (s, t))
    print('kind-types')
    for k, t in enumerate(kind_types()):
        print('%d %s' % (k, t))
    print('point-lookahead %s' % ' '.join('%02X' % b for b in point_lookahead()))
    print('path-followers %s' % ' '.join(map(str, path_followers())))


if __name__ == '__main__':
    main()
