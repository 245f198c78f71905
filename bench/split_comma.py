# split of a 10 MB comma text (twin of split_comma.zem): by a character and by a one-character
# string.
def main():
    s = "alpha,beta,gamma,12345," * 434783
    parts = s.split(",")
    print(len(parts), parts[1], repr(parts[-1]))
    parts = s.split(",")
    print(len(parts))


main()
