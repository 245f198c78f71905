"""Dates against outside references: epoch seconds both ways for random 32-bit values and the
limits against `date -u -d @N` and python3's datetime; date and time arithmetic against
python3's timedelta."""
import datetime
import os
import random
import subprocess
import sys
import tempfile

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
UTC = datetime.timezone.utc


def mold_date(d):
    year = "%04d" % d.year if d.year < 100 else str(d.year)
    return "%d-%s-%s" % (d.day, MONTHS[d.month - 1], year)


def mold_time(seconds):
    h, rest = divmod(int(seconds), 3600)
    m, s = divmod(rest, 60)
    return "%d:%02d:%02d" % (h, m, s)


def mold_datetime(dt):
    """d-Mon-yyyy/h:mm:ss[+hh:mm] in the datetime's own zone."""
    text = mold_date(dt) + "/" + mold_time(dt.hour * 3600 + dt.minute * 60 + dt.second)
    off = int(dt.utcoffset().total_seconds()) // 60
    if off:
        sign = "-" if off < 0 else "+"
        text += "%s%02d:%02d" % (sign, abs(off) // 60, abs(off) % 60)
    return text


def run(zem_run, lines):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "dates.zem")
        with open(path, "w") as f:
            f.write("Zem []\n" + "\n".join("print mold (%s)" % e for e in lines) + "\n")
        r = subprocess.run([zem_run, path], capture_output=True, text=True, timeout=120)
        return r.stdout.splitlines(), r.stderr


def main():
    zem_run = sys.argv[1]
    rng = random.Random(2026)
    cases = []  # (expression, expected text)

    # Epoch seconds: both directions, the limits, and `date` as a second reference for a few.
    epochs = [0, -1, 1, 86399, 86400, -86400, 2**31 - 1, -2**31] + [rng.randint(-2**31, 2**31 - 1) for _ in range(300)]
    for n in epochs:
        dt = datetime.datetime.fromtimestamp(n, UTC)
        cases.append(("to date! %d" % n, mold_datetime(dt)))
        cases.append(("to integer! to date! %d" % n, str(n)))
    for n in epochs[:8] + epochs[8:28]:
        out = subprocess.run(["date", "-u", "-d", "@%d" % n, "+%-d %m %Y %-H:%M:%S"], capture_output=True,
                             text=True, env=dict(os.environ, LC_ALL="C")).stdout.split()
        day, month, year, clock = out
        cases.append(("to date! %d" % n, "%s-%s-%s/%s" % (day, MONTHS[int(month) - 1], year, clock)))
    # An instant written in zones east and west gives the same epoch seconds.
    for _ in range(100):
        n = rng.randint(-2**31 + 86400, 2**31 - 1 - 86400)
        minutes = rng.choice([-720, -570, -210, -30, 0, 45, 330, 345, 765, 840])
        dt = datetime.datetime.fromtimestamp(n, datetime.timezone(datetime.timedelta(minutes=minutes)))
        cases.append(("to integer! %s" % mold_datetime(dt), str(n)))

    # Days added to dates, and differences of dates.
    lo, hi = datetime.date(1, 1, 1).toordinal(), datetime.date(9999, 12, 31).toordinal()
    for _ in range(300):
        a = datetime.date.fromordinal(rng.randint(lo, hi))
        k = rng.randint(-3000, 3000)
        if lo <= a.toordinal() + k <= hi:
            cases.append(("%s + %d" % (mold_date(a), k), mold_date(a + datetime.timedelta(days=k))))
        b = datetime.date.fromordinal(rng.randint(lo, hi))
        cases.append(("%s - %s" % (mold_date(a), mold_date(b)), str((a - b).days)))

    # Times added to zoned date-times: the local date and time that python gives in the same zone.
    for _ in range(300):
        minutes = rng.choice([-600, -210, -30, 0, 60, 345, 780])
        tz = datetime.timezone(datetime.timedelta(minutes=minutes))
        a = datetime.datetime(rng.randint(1900, 2100), rng.randint(1, 12), rng.randint(1, 28),
                              rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), tzinfo=tz)
        s = rng.randint(-400000, 400000)
        delta = mold_time(abs(s))
        expr = "%s %s %s" % (mold_datetime(a), "+" if s >= 0 else "-", delta)
        cases.append((expr, mold_datetime(a + datetime.timedelta(seconds=s))))
        b = datetime.datetime.fromtimestamp(a.timestamp() + rng.randint(-10**6, 10**6), UTC)
        cases.append(("difference %s %s" % (mold_datetime(a), mold_datetime(b)),
                      ("-" if a < b else "") + mold_time(abs((a - b).total_seconds()))))

    out, err = run(zem_run, [c[0] for c in cases])
    failed = 0
    if len(out) != len(cases):
        print("expected %d lines, got %d; stderr: %s" % (len(cases), len(out), err))
        failed = 1
    for (expr, want), got in zip(cases, out):
        if got != want:
            print("%s: got %s, want %s" % (expr, got, want))
            failed += 1
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
