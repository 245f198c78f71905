#!/usr/bin/env python3
"""Writes calendar_tables.txt from Python's datetime: day numbers (days from 1 March of year 0),
weekdays, days of the year, Sunday-based and ISO weeks. Run from tests/data/; the output is committed.

Sections (one record a line, fields separated by blanks):
  month y m first_day_number length            every month of 1900-2100
  date y m d n weekday yearday isoweek sunweek  random dates of years 1-9999, and every 1 January
                                                and 31 December of 1990-2040
  early y m d n                                 every 1 January, 28/29 February, 1 March and
                                                31 December of years -400 to 0, and 1,000 random
                                                dates of years -9999 to 0
sunweek is strftime("%U"): Sundays passed, 0 before the first Sunday of the year.
"""
import calendar
import datetime
import random

OFFSET = 305  # toordinal() of 1 March of year 0 would be -305
CYCLE_DAYS = 146097  # days in 400 Gregorian years


def day_number(d):
    return d.toordinal() + OFFSET


def floor_model(y, m, d):
    """The day number by floor division on a March-based year."""
    b = (m + 9) % 12
    c = y - b // 10
    return 365 * c + c // 4 - c // 100 + c // 400 + (306 * b + 5) // 10 + d - 1


def cycle_model(y, m, d):
    """The day number by moving the date into years 1-9999 by whole 400-year cycles."""
    k = (1 - y) // 400 + 1 if y < 1 else 0
    return datetime.date(y + 400 * k, m, d).toordinal() + OFFSET - CYCLE_DAYS * k


def date_line(d):
    iso = d.isocalendar()
    return "date %d %d %d %d %d %d %d %s" % (
        d.year, d.month, d.day, day_number(d), d.isoweekday(), d.timetuple().tm_yday, iso[1],
        int(d.strftime("%U")))


def main():
    out = []
    for y in range(1900, 2101):
        for m in range(1, 13):
            first = datetime.date(y, m, 1)
            out.append("month %d %d %d %d" % (y, m, day_number(first), calendar.monthrange(y, m)[1]))
    rng = random.Random(20261211)
    lo, hi = datetime.date(1, 1, 1).toordinal(), datetime.date(9999, 12, 31).toordinal()
    for _ in range(2000):
        out.append(date_line(datetime.date.fromordinal(rng.randint(lo, hi))))
    for y in range(1990, 2041):
        out.append(date_line(datetime.date(y, 1, 1)))
        out.append(date_line(datetime.date(y, 12, 31)))
    early = []
    for y in range(-400, 1):
        early += [(y, 1, 1), (y, 2, 28), (y, 3, 1), (y, 12, 31)]
        if calendar.isleap(y + 400 * 30):
            early.append((y, 2, 29))
    for _ in range(1000):
        y, m = rng.randint(-9999, 0), rng.randint(1, 12)
        early.append((y, m, rng.randint(1, calendar.monthrange(y + 400 * 30, m)[1])))
    for y, m, d in early:
        n = cycle_model(y, m, d)
        assert n == floor_model(y, m, d), (y, m, d)
        out.append("early %d %d %d %d" % (y, m, d, n))
    with open("calendar_tables.txt", "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
