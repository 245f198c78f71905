# Finds 100,000 values in a 100,000-value set (twin of hash_find.zem).
def main():
    h = set()
    for i in range(1, 100001):
        h.add(i * 7)
    found = 0
    for i in range(1, 100001):
        if i * 14 in h:
            found += 1
    print(found)


main()
