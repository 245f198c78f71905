# A 1 MB text split at each space, a function called for each word (twin of parse_paren.zem).
words = 0
letters = 0


def note(w):
    global words, letters
    words = words + 1
    letters = letters + len(w)


text = "alpha beta gamma delta " * 50000
pos = 0
while pos < len(text):
    end = text.find(" ", pos)
    note(text[pos:end])
    pos = end + 1
print(words, letters)
