from array import array

v = array("i", [3]) * 1000000
total = 0
for x in v:
    total = total + x
print(total)
