def f(a, twice=False, plus=False, b=None):
    if twice:
        a = a * 2
    if plus:
        a = a + b
    return a

s = 0
for i in range(1, 1000001):
    s = s + f(i, twice=True, plus=True, b=1)
print(s)
