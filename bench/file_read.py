# Reads a generated 100 MB file as binary and as text (CR LF into LF), and writes both back (twin of
# file_read.zem).
import os
import time

SOURCE = "/tmp/zem-bench-file-read.txt"
COPY_BINARY = "/tmp/zem-bench-file-read.bin.out"
COPY_TEXT = "/tmp/zem-bench-file-read.txt.out"


def main():
    lines = []
    for i in range(1, 15201):
        tail = (": the quick brown fox — déjà vu, naïve café, 日本語 ✓" if i % 8 == 0
                else ": the quick brown fox jumps over the lazy dog, 0123456789")
        lines.append(f"Line {i}{tail}\r\n")
    chunk = "".join(lines).encode("utf-8")
    size = 100 * len(chunk)
    if not os.path.exists(SOURCE) or os.path.getsize(SOURCE) != size:
        with open(SOURCE, "wb") as f:
            for _ in range(100):
                f.write(chunk)

    mb = size / 1048576.0

    def rate(label, start):
        print(label, int(mb / (time.perf_counter() - start)), "MB/s")

    t = time.perf_counter()
    with open(SOURCE, "rb") as f:
        data = f.read()
    rate("read binary:", t)
    t = time.perf_counter()
    with open(SOURCE, encoding="utf-8") as f:
        text = f.read()
    rate("read text:  ", t)
    t = time.perf_counter()
    with open(COPY_BINARY, "wb") as f:
        f.write(data)
    rate("write binary:", t)
    t = time.perf_counter()
    with open(COPY_TEXT, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    rate("write text: ", t)
    print(len(data), len(text))
    os.remove(COPY_BINARY)
    os.remove(COPY_TEXT)


main()
