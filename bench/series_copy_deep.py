# Copies a nested list deeply, every occurrence on its own (twin of series_copy_deep.zem).
def deep(x):
    return [deep(v) if isinstance(v, list) else v for v in x]


def main():
    leaf = list(range(1, 11))
    mid = [list(leaf) for _ in range(100)]
    top = [list(mid) for _ in range(100)]
    total = 0
    for _ in range(20):
        c = deep(top)
        total += len(c)
    print(total)


main()
