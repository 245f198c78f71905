def f(a):
    a = a + 1
    return a

s = 0
for i in range(1, 1000001):
    s = s + f(i)
print(s)
