#!/usr/bin/env python3
"""Writes random_reference.txt: outputs of the generator with sign-propagating right shifts,
modelled here on Python integers independently of the C++ code.

Each line: `seq SEED FIRST COUNT v...` (outputs FIRST..FIRST+COUNT-1 after seeding) or
`upto SEED N v...` (ten draws of integer-upto N, non-secure, after seeding).
"""

MASK = 0xFFFFFFFF


def s32(v):
    v &= MASK
    return v - (1 << 32) if v & 0x80000000 else v


def sar(v, n):  # v is a signed 32-bit value; Python's >> on negatives is arithmetic
    return s32(v) >> n


class Gen:
    def __init__(self, seed):
        self.mt = [s32(seed)]
        for i in range(1, 624):
            p = self.mt[i - 1]
            self.mt.append(s32(1812433253 * ((p ^ sar(p, 30)) & MASK) + i))
        self.index = 0

    def regenerate(self):
        mt = self.mt
        for k in range(624):
            y = s32((mt[k] & 0x80000000) | (mt[(k + 1) % 624] & 0x7FFFFFFF))
            v = (mt[(k + 397) % 624] ^ sar(y, 1)) & MASK
            if y & 1:
                v ^= 0x9908B0DF
            mt[k] = s32(v)
        self.index = 0

    def next(self):
        if self.index == 624:
            self.regenerate()
        y = self.mt[self.index]
        self.index += 1
        y = s32(y ^ sar(y, 11))
        y = s32(y ^ ((y << 7) & 0x9D2C5680))
        y = s32(y ^ ((y << 15) & 0xEFC60000))
        y = s32(y ^ sar(y, 18))
        return y

    def upto(self, n):
        if n == 0:
            return 0
        if n == -(1 << 31):
            return -1 - self.next()
        m = abs(n)
        limit = (0x7FFFFFFF // m) * m
        while True:
            r = self.next()
            if r < limit:
                break
        res = r % m + 1
        return -res if n < 0 else res


SEEDS = [19650218, 0, 1, -1, 123456789, -(1 << 31), (1 << 31) - 1]
lines = []
for seed in SEEDS:
    for first, count in [(0, 12), (620, 10), (1245, 6)]:
        g = Gen(seed)
        out = [g.next() for _ in range(first + count)][first:]
        assert all(0 <= v <= 0x7FFFFFFF for v in out)
        lines.append(" ".join(map(str, ["seq", seed, first, count] + out)))
for n in [1, -1, 6, -6, 1000, 0x7FFFFFFF, -0x7FFFFFFF, -(1 << 31), 0x40000001]:
    g = Gen(42)
    lines.append(" ".join(map(str, ["upto", 42, n] + [g.upto(n) for _ in range(10)])))

with open(__file__.replace(".py", ".txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
