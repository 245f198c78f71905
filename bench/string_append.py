# Appends one million characters to a string (twin of string_append.zem).
def main():
    s = ""
    for i in range(1, 1000001):
        s += "x"
    print(len(s))


main()
