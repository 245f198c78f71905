# Puts then selects one million string keys in a dict (twin of map_string_keys.zem).
def main():
    keys = [str(i) for i in range(1, 1000001)]
    m = {}
    for k in keys:
        m[k] = k
    n = 0
    for k in keys:
        n += len(m[k])
    print(n)


main()
