"""now in several zones against python3's zoneinfo: date, time (within 2 s) and zone; zones west
of UTC by quarter hours keep their sign and quarters; the refinements agree with one another."""
import datetime
import os
import subprocess
import sys
import tempfile
import time
from zoneinfo import ZoneInfo

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]

SCRIPT = """Zem []
print mold now
print mold now/zone
print to integer! now
print mold now/utc
print mold now/date
print mold now/time
print now/year
print now/yearday
print now/weekday
e: try [now/year/day] print e/id
print mold now/time/precise
"""


def run(zem_run, tz):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "now.zem")
        with open(path, "w") as f:
            f.write(SCRIPT)
        env = dict(os.environ, TZ=tz)
        r = subprocess.run([zem_run, path], capture_output=True, text=True, timeout=60, env=env)
        return r.stdout.splitlines(), r.stderr


def parse_zone(text):
    """'5:45:00' or '-3:30:00' -> minutes."""
    negative = text.startswith("-")
    h, m, _ = text.lstrip("-").split(":")
    minutes = int(h) * 60 + int(m)
    return -minutes if negative else minutes


def parse_date(text):
    """'d-Mon-yyyy/h:mm:ss[.f][+hh:mm]' -> aware datetime."""
    day, mon, rest = text.split("-", 2)
    year, clock = rest.split("/")
    zone = 0
    for sign in "+-":
        if sign in clock:
            clock, z = clock.split(sign)
            zh, zm = z.split(":")
            zone = (int(zh) * 60 + int(zm)) * (1 if sign == "+" else -1)
    h, m, s = clock.split(":")
    tz = datetime.timezone(datetime.timedelta(minutes=zone))
    return datetime.datetime(int(year), MONTHS.index(mon) + 1, int(day), int(h), int(m), int(float(s)), tzinfo=tz)


def check(zem_run, tz, want_minutes, reference):
    out, err = run(zem_run, tz)
    problems = []
    if len(out) != 11:
        return [f"{tz}: output {out!r} {err!r}"]
    now = parse_date(out[0])
    if now.utcoffset() != datetime.timedelta(minutes=want_minutes):
        problems.append(f"{tz}: zone of {out[0]} is not {want_minutes} minutes")
    if parse_zone(out[1]) != want_minutes:
        problems.append(f"{tz}: now/zone {out[1]}")
    if abs(now.timestamp() - time.time()) > 2:
        problems.append(f"{tz}: now {out[0]} is not the current instant")
    if abs(int(out[2]) - time.time()) > 2:
        problems.append(f"{tz}: to integer! now gives {out[2]}")
    utc = parse_date(out[3])
    if utc.utcoffset() or abs(utc.timestamp() - time.time()) > 2:
        problems.append(f"{tz}: now/utc {out[3]}")
    if reference is not None:
        ref = datetime.datetime.now(reference)
        if ref.utcoffset() != datetime.timedelta(minutes=want_minutes):
            problems.append(f"{tz}: python's offset {ref.utcoffset()}")
        # The date and time of day seen in the zone (unless the day turned between the readings).
        if abs((now.replace(tzinfo=None) - ref.replace(tzinfo=None)).total_seconds()) > 2:
            problems.append(f"{tz}: local {out[0]} against python's {ref}")
        local_date = "%d-%s-%d" % (ref.day, MONTHS[ref.month - 1], ref.year)
        if out[4] != local_date and ref.hour * 3600 + ref.minute * 60 + ref.second > 2:
            problems.append(f"{tz}: now/date {out[4]} against {local_date}")
        if int(out[6]) != ref.year or int(out[7]) != ref.timetuple().tm_yday or int(out[8]) != ref.isoweekday():
            problems.append(f"{tz}: year/yearday/weekday {out[6:9]}")
    if out[9] != "bad-refines":
        problems.append(f"{tz}: now/year/day gave {out[9]}")
    precise = out[10].split(":")
    if len(precise) != 3 or abs(int(precise[0]) * 3600 + int(precise[1]) * 60 + float(precise[2])
                                - (now.hour * 3600 + now.minute * 60 + now.second)) > 2:
        problems.append(f"{tz}: now/time/precise {out[10]}")
    return problems


def main():
    zem_run = sys.argv[1]
    problems = []
    for tz in ["Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham", "America/New_York", "UTC"]:
        zone = ZoneInfo(tz)
        minutes = int(datetime.datetime.now(zone).utcoffset().total_seconds() // 60)
        problems += check(zem_run, tz, minutes, zone)
    # POSIX zone texts count west as positive: "X0:30" is 30 minutes west of UTC.
    for tz, minutes in [("XXX0:30", -30), ("XXX3:15", -195), ("XXX3:45", -225), ("XXX-5:45", 345)]:
        problems += check(zem_run, tz, minutes, None)
    for p in problems:
        print(p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
