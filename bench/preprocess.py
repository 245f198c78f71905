# expand-directives of a generated 1 MB script (twin of preprocess.zem): the same text tokenized
# into nested lists, then rewritten in place: each "#if" condition looked up and its block spliced
# or removed (and rescanned), the word magic replaced by 42 at any depth.
import re

TOKEN = re.compile(r'"[^"]*"|[\[\]()]|[^\s\[\]()]+')


def tokenize(text):
    stack = [[]]
    for tok in TOKEN.findall(text):
        if tok in "[(":
            stack.append([])
        elif tok in "])":
            done = stack.pop()
            stack[-1].append(done)
        else:
            stack[-1].append(tok)
    return stack[0]


def expand(code):
    i = 0
    while i < len(code):
        v = code[i]
        if v == "magic":
            code[i] = 42
            i += 1
        elif v == "#if":
            # the condition: one word, or a three-value comparison
            if code[i + 2] == "=":
                cond = code[i + 1] == "config/OS" and code[i + 3] == "'Linux"
                end = i + 4
            else:
                cond = code[i + 1] != "false"
                end = i + 2
            code[i:end + 1] = code[end] if cond else []
        elif isinstance(v, list):
            expand(v)
            i += 1
        else:
            i += 1


def main():
    line = 'f: func [a b] [print [a b 12 "str" (a + b)]] '
    unit = "#if config/OS = 'Linux [x: magic + 1] #if false [never] " + line * 60
    text = unit * 400
    code = tokenize(text)
    expand(code)
    print(len(text), len(code))


main()
