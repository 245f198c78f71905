from array import array

v = array("d", [1.0]) * 1000000
for _ in range(50):
    v = array("d", [x * 2.5 for x in v])
print(v[999999])
