# Appends 100 MB to a binary in chunks of 64 KB (twin of binary_append_chunks.zem).
def main():
    chunk = b"\x5a" * 65536
    b = bytearray()
    for _ in range(1600):
        b += chunk
    print(len(b))


main()
