#!/usr/bin/env python3
"""Writes tests/zem/math_table.zem: random integer expressions with + - * ** / % and parens,
each evaluated by python3 as the oracle of `math`.

Python's grammar has the same precedence levels as `math` (** binding tightest and to the right,
then * / %, then + -, the last two groups left to right); the integers are wrapped in a class whose
% truncates towards zero as the integer remainder does, and which refuses results beyond 32 bits
and inexact divisions (an integer division with a remainder gives a float), so that every case
stays in integer range. Run once; the table is kept in the tree.
"""
import os
import random

LIMIT = 2**31


class Z:
    def __init__(self, n):
        if not -LIMIT <= n < LIMIT:
            raise OverflowError(n)
        self.n = n

    def __add__(self, o): return Z(self.n + o.n)
    def __sub__(self, o): return Z(self.n - o.n)
    def __mul__(self, o): return Z(self.n * o.n)

    def __truediv__(self, o):
        if o.n == 0:
            raise ZeroDivisionError
        if self.n % o.n:
            raise ArithmeticError("inexact")  # the integer division gives a float then
        return Z(self.n // o.n)

    def __mod__(self, o):
        if o.n == 0:
            raise ZeroDivisionError
        q = abs(self.n) // abs(o.n)
        return Z(self.n - (q if (self.n < 0) == (o.n < 0) else -q) * o.n)

    def __pow__(self, o):
        if o.n < 0 or o.n > 31:
            raise OverflowError(o.n)  # stays an integer power
        return Z(self.n ** o.n)


def expression(rng, depth):
    """A token list: operands joined by operators, some of them parenthesised sub-expressions."""
    tokens = []
    for i in range(rng.randint(2, 5)):
        if i:
            tokens.append(rng.choice(["+", "-", "*", "*", "/", "%", "**", "**"]))
        if depth and rng.random() < 0.3:
            tokens += ["("] + expression(rng, depth - 1) + [")"]
        else:
            tokens.append(str(rng.randint(0, 9) if tokens and tokens[-1] == "**" and rng.random() < 0.5
                              else rng.randint(0, 12)))
    return tokens


def python_value(tokens):
    text = " ".join(f"Z({t})" if t.isdigit() else t for t in tokens)
    try:
        return str(eval(text).n)
    except ZeroDivisionError:
        return None
    except (OverflowError, ArithmeticError):
        return "skip"


def main():
    rng = random.Random(20261211)
    rows = []
    zero_divides = 0
    while len(rows) < 300:
        tokens = expression(rng, 2)
        value = python_value(tokens)
        if value == "skip" or (value is None and zero_divides == 10):
            continue
        zero_divides += value is None
        # Zem needs spaces around parens only for readability; keep them tight like user code.
        text = " ".join(tokens).replace("( ", "(").replace(" )", ")")
        rows.append(f"math [{text}] " + (f";== {value}" if value is not None else ";** math zero-divide"))
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with open(os.path.join(root, "zem", "math_table.zem"), "w") as f:
        f.write('Zem [title: "math against python3: written by tests/data/make_math_table.py"]\n')
        f.write("\n".join(rows) + "\n")


main()
