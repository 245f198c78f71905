# Appends one million single bytes to a binary (twin of binary_append_bytes.zem).
def main():
    b = bytearray()
    for i in range(1, 1000001):
        b.append(120)
    print(len(b))


main()
