# load-csv and to-csv of a generated 10 MB text (twin of csv_codec.zem): csv.reader and csv.writer
# (LF line ends, quoting as needed).
import csv
import io
import time


def main():
    row = '12345,item name,"quoted, with comma",12.5,"say ""hi""",,last field\n'
    text = row * 150000
    t = time.perf_counter()
    rows = list(csv.reader(io.StringIO(text, newline="")))
    t1 = time.perf_counter()
    buf = io.StringIO()
    csv.writer(buf, lineterminator="\n").writerows(rows)
    out = buf.getvalue()
    t2 = time.perf_counter()
    print(len(text), len(rows), len(out))
    print("csv.reader", t1 - t, "csv.writer", t2 - t1)


main()
