# load of a 10 MB script text and save of a 1-million-value block (twin of load_text.zem): the same
# data written as a Python list, parsed with ast.parse; the block printed with repr.
import ast


def main():
    chunk = '12345, -678, 3.25, "some text", word, other_word, [4, 5, "x", [y]], "c", 1.5e10, '
    text = "[" + chunk * 130000 + "]"
    data = ast.parse(text, mode="eval").body.elts
    block = [42, 2.5, "str", "word"] * 250000
    saved = repr(block).encode()
    print(len(text), len(data), len(block), len(saved))


main()
