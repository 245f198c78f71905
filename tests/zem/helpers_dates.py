"""to-UTC-date and to-local-date under fixed TZ values against python3 zoneinfo.

Each instant is written with its own zone; the local date must be the wall-clock date, time and
offset that zoneinfo gives for that instant (daylight saving time follows the date, not today),
and the caller's date must be left as it was."""
import subprocess
import sys
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo

ZEM_RUN = sys.argv[1]
ZONES = ["Asia/Kolkata", "America/St_Johns", "UTC"]

# (year, month, day, hour, minute, second, zone minutes east of UTC)
INSTANTS = [
    (2020, 1, 1, 10, 0, 0, 330),
    (2020, 7, 1, 12, 0, 0, 0),
    (2021, 3, 14, 5, 29, 59, 0),     # St John's: the last second of standard time
    (2021, 3, 14, 5, 30, 0, 0),      # and the first of daylight saving time
    (2021, 11, 7, 4, 29, 59, 0),     # the hour that St John's lives twice
    (2021, 11, 7, 4, 30, 0, 0),
    (2021, 3, 15, 23, 45, 10, 345),  # a zone of quarters
    (2020, 2, 29, 23, 59, 59, -210),  # the leap day, across midnight
    (2019, 12, 31, 22, 0, 0, -600),   # across the year
    (1970, 1, 1, 0, 0, 0, 0),
    (1999, 12, 31, 23, 59, 59, 0),
    (2040, 6, 15, 6, 7, 8, 60),       # past 2038
    (1965, 8, 20, 3, 0, 0, 0),        # before the epoch
]


def zem_date(y, mo, d, h, mi, s, z):
    months = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
    sign = "-" if z < 0 else "+"
    return f"{d}-{months[mo - 1]}-{y}/{h}:{mi:02}:{s:02}{sign}{abs(z) // 60}:{abs(z) % 60:02}"


def zone_text(offset):
    minutes = int(offset.total_seconds()) // 60
    sign = "-" if minutes < 0 else ""
    return f"{sign}{abs(minutes) // 60}:{abs(minutes) % 60:02}:00"


def fields(dt):
    return (f"{dt.year} {dt.month} {dt.day} {dt.hour} {dt.minute} {float(dt.second)} "
            f"{zone_text(dt.utcoffset())}")


failures = []
for tz in ZONES:
    script = ["Zem []", "show: func [d] [print [d/year d/month d/day d/hour d/minute d/second d/zone]]"]
    expected = []
    for inst in INSTANTS:
        y, mo, d, h, mi, s, z = inst
        given = datetime(y, mo, d, h, mi, s, tzinfo=timezone(timedelta(minutes=z)))
        text = zem_date(*inst)
        script.append(f"d: {text} show to-UTC-date d show to-local-date d print d = {text}")
        script.append(f"print mold d")
        expected.append(fields(given.astimezone(timezone.utc)))
        expected.append(fields(given.astimezone(ZoneInfo(tz))))
        expected.append("true")
        expected.append(None)  # the caller's date, molded as given: checked by the line before
    run = subprocess.run([ZEM_RUN, "-"], input="\n".join(script).encode() + b"\n",
                         capture_output=True, timeout=60, env={"TZ": tz, "PATH": "/usr/bin:/bin"})
    got = run.stdout.decode().splitlines()
    if run.returncode != 0 or len(got) != len(expected):
        failures.append(f"TZ={tz}: status {run.returncode}, {len(got)} lines; {run.stderr.decode()!r}")
        continue
    for i, (want, line) in enumerate(zip(expected, got)):
        if want is not None and want != line:
            inst = zem_date(*INSTANTS[i // 4])
            which = ["to-UTC-date", "to-local-date", "unchanged"][i % 4]
            failures.append(f"TZ={tz} {which} {inst}: got {line!r}, zoneinfo {want!r}")

# Start-up gives the build date in the local zone.
for tz in ZONES:
    run = subprocess.run([ZEM_RUN, "-"], capture_output=True, timeout=60,
                         env={"TZ": tz, "PATH": "/usr/bin:/bin"},
                         input=b"Zem []\nd: to-UTC-date system/build/date\n"
                               b"print [d/year d/month d/day d/hour d/minute d/second]\n"
                               b"d: system/build/date print [d/year d/month d/day d/hour d/minute d/second d/zone]\n")
    lines = run.stdout.decode().splitlines()
    if len(lines) != 2:
        failures.append(f"TZ={tz} build date: {run.stdout!r} {run.stderr!r}")
        continue
    y, mo, d, h, mi, s = (int(float(v)) for v in lines[0].split())
    local = datetime(y, mo, d, h, mi, s, tzinfo=timezone.utc).astimezone(ZoneInfo(tz))
    if lines[1] != fields(local):
        failures.append(f"TZ={tz} build date: got {lines[1]!r}, zoneinfo {fields(local)!r}")

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
