a = b = c = 0
for i in range(1, 1000001):
    k = i % 4
    if k == 0:
        a += 1
    elif k == 1:
        b += 1
    if k == 2:
        c += 1
    elif k == 3:
        c += 2
    else:
        c += 0
print(a, b, c)
