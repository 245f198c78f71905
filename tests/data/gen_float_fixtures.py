# Generates float_digits.txt and float_read.txt (run once here; python3 is the oracle).
import random, struct, math
from decimal import Decimal, getcontext
getcontext().prec = 2000
random.seed(20261210)
def bits(x): return struct.unpack('<Q', struct.pack('<d', x))[0]
def frombits(b): return struct.unpack('<d', struct.pack('<Q', b))[0]
vals = []
while len(vals) < 1500:
    x = frombits(random.getrandbits(64))
    if math.isfinite(x): vals.append(x)
for _ in range(500):
    vals.append(round(random.uniform(-1000, 1000), random.randint(0, 6)))
for e in range(-324, 309):
    for m in (1, 5):
        try: vals.append(float('%de%d' % (m, e)))
        except: pass
for _ in range(300): vals.append(frombits(random.getrandbits(52)))  # subnormals
vals += [5e-324, 2.2250738585072014e-308, 2.225073858507201e-308, 1.7976931348623157e308,
         0.1, 0.2, 0.3, 0.1 + 0.2, 1e16, 1e17, 1e-7, 1e-8, 123456789012345680.0, 9007199254740993.0]
vals = [v for v in vals if v != 0 and math.isfinite(v)]
with open('float_digits.txt', 'w') as f:
    f.write('# bits repr 6-digits 17-digits (python3 repr and %.5e / %.16e)\n')
    for v in vals:
        f.write('%016x %r %.5e %.16e\n' % (bits(v), v, v, v))
rows = []
def add(text, extra=0):
    d = Decimal(text).scaleb(extra)
    rows.append((text, extra, bits(float(d))))
for v in vals[:1500:8]:
    a = abs(v)
    nxt = math.nextafter(a, math.inf)
    if not math.isfinite(nxt): continue
    mid = (Decimal(a) + Decimal(nxt)) / 2
    add(str(mid))                                  # exact tie: to even
    tiny = Decimal(1).scaleb(mid.as_tuple().exponent - 1)
    add(str(mid + tiny))         # just above the tie
    add(str(mid - tiny))
for _ in range(600):
    t = '%s%s.%se%d' % (random.choice(['', '-']), str(random.randint(0, 10**random.randint(1, 25))),
                        str(random.randint(0, 10**random.randint(0, 25))), random.randint(-340, 320))
    add(t)
for _ in range(200):
    add(str(random.randint(0, 10**random.randint(1, 12))), -2)
for t in ['3e-324', '2.4703282292062327e-324', '2.4703282292062328e-324', '1e309', '1.7976931348623158e308',
          '1.7976931348623159e308', '0.30000000000000004', '1e-400', '-0.0', '4.9406564584124654e-324']:
    add(t)
with open('float_read.txt', 'w') as f:
    f.write('# text extra-exponent bits (python3 float(Decimal(text) * 10**extra))\n')
    for t, e, b in rows:
        f.write('%s %d %016x\n' % (t, e, b))
