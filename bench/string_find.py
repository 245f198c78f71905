# Finds text in a 10 MB string (twin of string_find.zem): case-insensitively, then exactly.
import re


def main():
    s = "abcdefghij" * 1000000 + "needle"
    pattern = re.compile("needle", re.IGNORECASE)
    n = 0
    for _ in range(20):
        if pattern.search(s):
            n += 1
        if s.find("needle") >= 0:
            n += 1
    print(n)


main()
