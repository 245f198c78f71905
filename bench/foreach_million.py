blk = []
for i in range(1, 1000001):
    blk.append(i)
total = 0
for x in blk:
    total = total + x
print(total)
