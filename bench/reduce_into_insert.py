# The same work: evaluate each element of a 50,000-element list and insert the results at the
# head of a growing list (reduce/into), then the parenthesised elements of another, inserted after
# its first element (compose/into), ten times each.
src = ["i"] * 50000
par = [("i",)] * 50000
env = {"i": 7}
target = list(range(1, 50001))
for _ in range(10):
    target[0:0] = [env[w] for w in src]
    target[1:1] = [env[p[0]] for p in par]
print(len(target))
