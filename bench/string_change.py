# Changes text in a loop (twin of string_change.zem): overwrite in place, shrink and grow.
def main():
    s = bytearray(b"abcdefghij" * 10000)
    n = 0
    for _ in range(10):
        for old, new in ((b"def", b"DEF"), (b"DEF", b"de"), (b"de", b"def")):
            p = s.find(old)
            while p >= 0:
                s[p:p + len(old)] = new
                n += 1
                p = s.find(old, p + len(new))
    print(n, len(s))


main()
