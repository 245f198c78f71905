"""Twin of bench_parse_records: the same generated text split into [id, name, score] records with re."""
import re
import sys
import time


def make_text(size):
    parts = []
    total = 0
    seed = 12345

    def nxt():
        nonlocal seed
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        return seed >> 8

    while total < size:
        rec = str(nxt() % 1000000) + ","
        n = 3 + nxt() % 8
        rec += "".join(chr(97 + nxt() % 26) for _ in range(n))
        rec += "," + str(nxt() % 100) + "\n"
        parts.append(rec)
        total += len(rec)
    return "".join(parts)


def main():
    mb = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    text = make_text(mb << 20)
    pattern = re.compile(r"([0-9]+),([a-z]+),([0-9]+)\n")
    best = None
    for _ in range(3):
        t0 = time.perf_counter()
        records = [list(m.groups()) for m in pattern.finditer(text)]
        s = time.perf_counter() - t0
        best = s if best is None else min(best, s)
    print(f"python3 re over {len(text) / (1 << 20):.1f} MB into {len(records)} records, best of 3: "
          f"{best:.3f} s ({len(text) / (1 << 20) / best:.1f} MB/s)")


if __name__ == "__main__":
    main()
