from array import array

a = array("i", [3]) * 1000000
b = array("i", [4]) * 1000000
for _ in range(50):
    c = array("i", [x + y for x, y in zip(a, b)])
print(c[999999])
