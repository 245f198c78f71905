# A 100,000-line text built by appending formed values (twin of form_lines.zem).
def main():
    out = ""
    for i in range(1, 100001):
        out += " ".join([str(i), str(i * 2), "items"])
        out += "\n"
    print(len(out))


main()
