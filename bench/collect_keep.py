# collect with keep in a loop of one million (twin of collect_keep.zem): one kept value per odd
# count and one kept list each time round.
def main():
    b = []
    for i in range(1, 1000001):
        if i % 2 == 1:
            b.append(i)
        b.append(["x"])
    print(len(b), b[0], b[-1])


main()
