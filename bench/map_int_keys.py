# Puts then selects one million integer keys in a dict (twin of map_int_keys.zem).
def main():
    m = {}
    for i in range(1, 1000001):
        m[i] = i
    total = 0
    for i in range(1, 1000001):
        total += m[i]
    print(total)


main()
