# rejoin of 100,000 mixed values (twin of rejoin_mixed.zem): integers, strings, floats and
# characters formed and joined, once from the first value and once, formed as one block (blanks
# between its values), after a leading string.
def main():
    values = []
    for i in range(1, 25001):
        values += [i, "text", 1.5, "c"]
    s = "".join(str(v) for v in values)
    t = "start " + " ".join(str(v) for v in values)
    print(len(s), len(t), s[:20])


main()
