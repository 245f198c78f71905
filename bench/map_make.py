# Makes a dict from two million values (twin of map_make.zem).
def main():
    b = []
    for i in range(1, 1000001):
        b.append(i)
        b.append(i * 2)
    m = dict(zip(b[::2], b[1::2]))
    print(len(m))


main()
