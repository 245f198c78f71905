# Finds values in a 100,000-value list (twin of series_find.zem).
def main():
    b = list(range(1, 100001))
    found = 0
    for i in range(1, 201):
        if (i * 500) in b:
            found += 1
    print(found)


main()
