// The calendar arithmetic against python3's datetime (tests/data/gen_calendar_tables.py writes
// tests/data/calendar_tables.txt).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/calendar.h"

namespace zem::calendar {
namespace {

std::vector<std::vector<long>> records(const std::string& kind) {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  std::ifstream in(std::string(dir ? dir : "tests/data") + "/calendar_tables.txt");
  EXPECT_TRUE(in);
  std::vector<std::vector<long>> out;
  std::string line, head;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    s >> head;
    if (head != kind) continue;
    std::vector<long> fields;
    for (long v; s >> v;) fields.push_back(v);
    out.push_back(fields);
  }
  EXPECT_FALSE(out.empty()) << kind;
  return out;
}

void expect_round_trip(long y, long m, long d, int64_t n) {
  Ymd back = from_days(n);
  EXPECT_EQ(back.year, y) << n;
  EXPECT_EQ(back.month, m) << n;
  EXPECT_EQ(back.day, d) << n;
}

TEST(Calendar, EveryDayOf1900To2100) {
  auto months = records("month");
  EXPECT_EQ(months.size(), 201u * 12);
  for (const auto& r : months) {
    long y = r[0], m = r[1], first = r[2], length = r[3];
    EXPECT_EQ(month_length(int32_t(y), int32_t(m)), length) << y << "-" << m;
    for (long d = 1; d <= length; d++) {
      int64_t n = to_days(int32_t(y), int32_t(m), int32_t(d));
      ASSERT_EQ(n, first + d - 1) << y << "-" << m << "-" << d;
      expect_round_trip(y, m, d, n);
    }
  }
  EXPECT_EQ(to_days(1970, 1, 1), kUnixEpochDay);
  EXPECT_EQ(to_days(2000, 1, 1), 730425);
}

TEST(Calendar, FieldsOfDates) {
  for (const auto& r : records("date")) {
    long y = r[0], m = r[1], d = r[2], n = r[3];
    std::string at = std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d);
    ASSERT_EQ(to_days(int32_t(y), int32_t(m), int32_t(d)), n) << at;
    expect_round_trip(y, m, d, n);
    EXPECT_EQ(weekday(n), r[4]) << at;
    EXPECT_EQ(year_day(n), r[5]) << at;
    EXPECT_EQ(iso_week(n), r[6]) << at;
    // %U counts the Sundays passed; the week of 1 January is week 1 whatever its weekday.
    bool starts_on_sunday = weekday(year_start(int32_t(y))) == 7;
    EXPECT_EQ(week(n), r[7] + (starts_on_sunday ? 0 : 1)) << at;
  }
}

TEST(Calendar, YearsZeroAndBefore) {
  for (const auto& r : records("early")) {
    long y = r[0], m = r[1], d = r[2], n = r[3];
    ASSERT_EQ(to_days(int32_t(y), int32_t(m), int32_t(d)), n) << y << "-" << m << "-" << d;
    expect_round_trip(y, m, d, n);
  }
  // Truncating divisions would make these pairs one day each.
  EXPECT_EQ(to_days(0, 2, 29) + 1, to_days(0, 3, 1));
  EXPECT_EQ(to_days(-4, 2, 29) + 1, to_days(-4, 3, 1));
}

TEST(Calendar, EveryDayFromMinus9999To9999RoundTrips) {
  int64_t n = to_days(-9999, 1, 1);
  for (int32_t y = -9999; y <= 9999; y++) {
    EXPECT_EQ(year_start(y), n) << y;
    for (int32_t m = 1; m <= 12; m++) {
      for (int32_t d = 1; d <= month_length(y, m); d++, n++) {
        Ymd back = from_days(n);
        if (back.year != y || back.month != m || back.day != d) {
          FAIL() << y << "-" << m << "-" << d << " came back as " << back.year << "-" << back.month << "-"
                 << back.day;
        }
      }
    }
  }
}

TEST(Calendar, RollOverOfOutOfRangeDays) {
  EXPECT_EQ(to_days(2021, 4, 31), to_days(2021, 5, 1));
  EXPECT_EQ(to_days(2021, 3, 0), to_days(2021, 2, 28));
  EXPECT_EQ(to_days(2020, 3, 0), to_days(2020, 2, 29));
}

TEST(Calendar, IsoWeeksAtYearEnds) {
  EXPECT_EQ(iso_week(to_days(2021, 1, 1)), 53);  // a Friday
  EXPECT_EQ(iso_week(to_days(2022, 1, 1)), 52);  // a Saturday after a common year
  EXPECT_EQ(iso_week(to_days(2024, 12, 31)), 1);
}

TEST(Calendar, Zones) {
  struct Case {
    int32_t hours, minutes;
    uint32_t bits;
    int32_t seconds;
  } cases[] = {
      {5, 45, 5 << 2 | 3, 5 * 3600 + 45 * 60},
      {-3, -30, 0x40 | 3 << 2 | 2, -(3 * 3600 + 30 * 60)},
      {-3, -15, 0x40 | 3 << 2 | 1, -(3 * 3600 + 15 * 60)},
      {-3, -45, 0x40 | 3 << 2 | 3, -(3 * 3600 + 45 * 60)},
      {0, -30, 0x40 | 2, -1800},  // west by less than an hour keeps its sign
      {0, 0, 0, 0},
      {12, 45, 12 << 2 | 3, 12 * 3600 + 45 * 60},
      {-15, 0, 0x40 | 15 << 2, -15 * 3600},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zone_bits(c.hours, c.minutes), c.bits) << c.hours << ":" << c.minutes;
    EXPECT_EQ(zone_seconds(c.bits), c.seconds) << c.hours << ":" << c.minutes;
  }
}

}  // namespace
}  // namespace zem::calendar
