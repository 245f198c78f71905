# A binary tree of lists, depth 18, built and walked by recursive functions (twin of
# tree_walk.zem).
def make_tree(depth):
    return [] if depth == 0 else [make_tree(depth - 1), make_tree(depth - 1)]


def count(tree):
    n = 1
    for t in tree:
        n = n + count(t)
    return n


print(count(make_tree(18)))
