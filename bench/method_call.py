# A method called through an object one million times (twin of method_call.zem).
class Counter:
    def __init__(self):
        self.total = 0

    def add(self, n):
        self.total = self.total + n


counter = Counter()
for i in range(1, 1000001):
    counter.add(i % 7)
print(counter.total)
