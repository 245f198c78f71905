# 1,000 objects, each observed by a callback that sets the next; one million field changes
# (twin of reactivity.zem). Changes set off by a callback wait in a queue until it returns.
from collections import deque


class Reactor:
    __slots__ = ("_v", "observers")

    def __init__(self):
        self._v = 0
        self.observers = []

    @property
    def v(self):
        return self._v

    @v.setter
    def v(self, value):
        self._v = value
        notify(self)


pending = deque()
running = False


def notify(obj):
    global running
    for callback in obj.observers:
        pending.append(callback)
    if running:
        return
    running = True
    try:
        while pending:
            pending.pop()()
    finally:
        running = False


def main():
    size = 1000
    chain = [Reactor() for _ in range(size)]
    for i in range(size - 1):
        a, b = chain[i], chain[i + 1]

        def step(a=a, b=b):
            b.v = a.v + 1

        a.observers.append(step)
    first, last = chain[0], chain[-1]
    for k in range(1, 1001):
        first.v = k
    print(last.v)


main()
