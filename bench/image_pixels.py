buf = bytearray(4000000)
for i in range(1000000):
    buf[4 * i:4 * i + 4] = b"\x03\x02\x01\xff"
for i in range(1000000):
    o = 4 * i
    p = (buf[o + 2], buf[o + 1], buf[o], 255 - buf[o + 3])
print(p)
