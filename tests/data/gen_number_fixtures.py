#!/usr/bin/env python3
"""Writes the number fixtures (integer arithmetic, integer round, float round) from Python's exact
integers and decimal module. Run from tests/data/; the outputs are committed."""
import math
from decimal import Decimal, getcontext, ROUND_HALF_UP, ROUND_HALF_EVEN, ROUND_DOWN, \
    ROUND_HALF_DOWN, ROUND_FLOOR, ROUND_CEILING
from fractions import Fraction

getcontext().prec = 1000
INT_MIN, INT_MAX = -2**31, 2**31 - 1
EDGES = [0, 1, -1, 2, -2, 3, -7, 7, 10, 46341, -46341, 65536, 2147483646, 2147483647,
         -2147483647, -2147483648]


def fits(v):
    return INT_MIN <= v <= INT_MAX


def trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def fmt_float(d):
    return repr(float(d))


def int_op(op, a, b):
    if op in ('add', 'subtract', 'multiply'):
        exact = {'add': a + b, 'subtract': a - b, 'multiply': a * b}[op]
        if fits(exact):
            return f'int {exact}'
        fa, fb = float(a), float(b)
        return 'float ' + fmt_float({'add': fa + fb, 'subtract': fa - fb, 'multiply': fa * fb}[op])
    if b == 0:
        return 'zero-divide'
    if a == INT_MIN and b == -1:
        return 'overflow'
    if op == 'divide':
        if a % b == 0:
            return f'int {trunc_div(a, b)}'
        return 'float ' + fmt_float(float(a) / float(b))
    if op == 'remainder':
        return f'int {a - b * trunc_div(a, b)}'
    raise ValueError(op)


def c_pow(a, e):
    if a == 0 and e < 0:
        return math.inf  # C pow: a pole at zero (the base is +0)
    return math.pow(float(a), float(e))


def power(a, e):
    if e < 0:
        return 'float ' + fmt_float(c_pow(a, e))
    exact = a ** e
    if fits(exact):
        return f'int {exact}'
    return 'float ' + fmt_float(c_pow(a, e))


def write_integer_arith():
    with open('integer_arith.txt', 'w') as f:
        f.write('# op left right -> int N | float D | zero-divide | overflow\n')
        for op in ('add', 'subtract', 'multiply', 'divide', 'remainder'):
            for a in EDGES:
                for b in EDGES:
                    f.write(f'{op} {a} {b} {int_op(op, a, b)}\n')
        for a in [0, 1, -1, 2, -2, 3, -3, 10, 46340, 46341, 65536, -2147483648, 2147483647]:
            for e in [0, 1, 2, 3, 9, 19, 30, 31, 32, -1, -2]:
                f.write(f'power {a} {e} {power(a, e)}\n')


MODES = {
    'none': ROUND_HALF_UP, 'even': ROUND_HALF_EVEN, 'down': ROUND_DOWN,
    'half-down': ROUND_HALF_DOWN, 'floor': ROUND_FLOOR, 'ceiling': ROUND_CEILING,
    'half-ceiling': None,
}


def round_exact(q, mode):
    """Rounds the exact Fraction q to an integer under a mode name."""
    d = Decimal(q.numerator) / Decimal(q.denominator)
    if mode == 'half-ceiling':
        tie = (q - math.floor(q)) == Fraction(1, 2)
        return int(d.quantize(Decimal(1), rounding=ROUND_CEILING if tie else ROUND_HALF_UP))
    return int(d.quantize(Decimal(1), rounding=MODES[mode]))


def write_integer_round():
    values = sorted(set(EDGES + [15, -15, 17, 19, 25, 35, -25, -11, 11, 5, -5, 2147483640,
                                 2147483645, -2147483645, -2147483640, 1234567]))
    scales = [1, 2, 3, 4, 5, 10, 100, -10, 0, 2147483647, -2147483648, 1000000000]
    with open('integer_round.txt', 'w') as f:
        f.write('# value scale mode -> int N | overflow   (scale 1 is round without /to)\n')
        for v in values:
            for s in scales:
                for mode in MODES:
                    if s == 0:
                        res = v
                    else:
                        m = abs(s)
                        res = round_exact(Fraction(v, m), mode) * m
                    out = f'int {res}' if fits(res) else 'overflow'
                    f.write(f'{v} {s} {mode} {out}\n')


def write_float_round():
    values = [0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 2.4, 2.6, -2.6, -2.7, -2.1, 2.675, 0.49999999999999994,
              4503599627370495.5, -4503599627370495.5, 4503599627370497.0, 1e300, -1e-300, 0.0,
              12.5, 125.0, 135.0, -135.0, 1234.5, 7.0, 1.75, -1.25, 3.0000000000000004]
    scales = [1.0, 2.0, 10.0, 100.0, 0.5, 0.25, 0.125]
    with open('float_round.txt', 'w') as f:
        f.write('# value scale mode -> float D | overflow (only exact quotients and products)\n')
        for v in values:
            for s in scales:
                q = Fraction(v) / Fraction(s)
                if Fraction(v / s) != q:
                    continue
                for mode in MODES:
                    r = round_exact(q, mode)
                    prod = Fraction(r) * Fraction(s)
                    res = float(prod)
                    if Fraction(res) != prod:
                        continue
                    f.write(f'{v!r} {s!r} {mode} float {res!r}\n')


write_integer_arith()
write_integer_round()
write_float_round()
