"""Tracing overhead: a loop of 100,000 function calls untraced, under sys.setprofile and under
sys.settrace (the output of the tracer discarded)."""
import sys
import time


def f(x):
    return x + 1


def run():
    for _ in range(100000):
        f(1)


def profiler(frame, event, arg):
    return None


def tracer(frame, event, arg):
    str(event)  # the line a tracer would print, discarded
    return tracer


t0 = time.perf_counter()
run()
t1 = time.perf_counter()
sys.setprofile(profiler)
run()
sys.setprofile(None)
t2 = time.perf_counter()
sys.settrace(tracer)
run()
sys.settrace(None)
t3 = time.perf_counter()
base = t1 - t0
print("profile ratio", (t2 - t1) / base)
print("trace ratio", (t3 - t2) / base)
