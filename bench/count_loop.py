n = 0
i = 0
while i < 5000000:
    i = i + 1
    n = n + 2
print(n)
