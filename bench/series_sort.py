# Sorts one million pseudo-random integers (twin of series_sort.zem; the same generator).
def main():
    b = []
    x = 12345
    for _ in range(1000000):
        x = (x * 75 + 74) % 65537
        b.append(x)
    b.sort()
    print(b[0], b[-1])


main()
