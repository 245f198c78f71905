# zlib and gzip streams of a few MB of mixed code, data and text (the python3 executable), made
# and read back three times; level 1 is zlib's fastest.
import zlib

data = open("/usr/bin/python3", "rb").read()
for _ in range(3):
    z = zlib.compress(data, 1)
    c = zlib.compressobj(1, zlib.DEFLATED, 31)
    g = c.compress(data) + c.flush()
    assert zlib.decompress(z) == data and zlib.decompress(g, 31) == data
