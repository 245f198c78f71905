# replace/all on a 10 MB string (twin of replace_all.zem): a longer, a shorter and a one-character
# pattern, each replaced everywhere.
def main():
    s = "lorem, ipsum; dolor " * 500000
    s = s.replace(", ", " - ")
    s = s.replace("ipsum", "IPS")
    s = s.replace(";", "!")
    print(len(s), s[:40])


main()
