# Sorts 200,000 strings (twin of string_sort.zem); Zem's sort of text ignores case, so the key folds.
import random


def main():
    random.seed(1)
    b = ["item-" + str(random.randint(1, 1000000000)) for _ in range(200000)]
    b.sort(key=str.upper)
    print(len(b))


main()
