# The plain-text help of every builtin, then the listing of the builtins module
# (twin of help_pages.zem).
import builtins
import pydoc


def main():
    total = 0
    for name in dir(builtins):
        value = getattr(builtins, name)
        if callable(value):
            total += len(pydoc.render_doc(value, renderer=pydoc.plaintext))
    total += len(pydoc.render_doc(builtins, renderer=pydoc.plaintext))
    print(total)


main()
