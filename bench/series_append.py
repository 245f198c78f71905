# Appends one million integers to a list (twin of series_append.zem).
def main():
    b = []
    for i in range(1, 1000001):
        b.append(i)
    print(len(b))


main()
