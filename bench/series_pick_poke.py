# Picks and pokes every element of a 1,000-value list, 1,000 times (twin of series_pick_poke.zem).
def main():
    b = list(range(1, 1001))
    total = 0
    for _ in range(1000):
        for i in range(1000):
            total += b[i]
            b[i] = b[i] + 1
    print(total)


main()
