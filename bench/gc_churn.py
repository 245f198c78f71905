# Builds and drops lists and strings of one million values (twin of gc_churn.zem).
def main():
    b = s = None
    for _ in range(10):
        b = []
        for i in range(1, 1000001):
            b.append(i)
        s = ""
        for i in range(1, 1000001):
            s += "x"
    print(len(b), len(s))


main()
