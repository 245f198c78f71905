# The same work: evaluate each element of a 100,000-element list into a new list (reduce), and
# evaluate the parenthesised elements of another (compose), ten times each.
src = ["i"] * 100000
par = [("i",)] * 100000
env = {"i": 7}
n = 0
for _ in range(10):
    r = [env[w] for w in src]
    c = [env[p[0]] for p in par]
    n += len(r) + len(c)
print(n)
