#include "shared/stream/RecTimeCalendar.h"

#include <gtest/gtest.h>

#include <ctime>

namespace rd {
namespace {

TEST(RecTimeCalendar, LeapYearsAndMonthEnds) {
  struct Case {
    int year, month, days;
  };
  const Case cases[] = {
      {2000, 2, 29},  // divisible by 400
      {2100, 2, 28},  // by 100, not by 400
      {2004, 2, 29}, {2001, 2, 28},  {2099, 2, 28},  {2096, 2, 29}, {2024, 1, 31},
      {2024, 3, 31}, {2024, 4, 30},  {2024, 6, 30},  {2024, 7, 31}, {2024, 8, 31},
      {2024, 9, 30}, {2024, 11, 30}, {2024, 12, 31}, {2024, 0, 0},  {2024, 13, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month));
    EXPECT_EQ(DaysInMonth(c.year, c.month), c.days);
    EXPECT_EQ(CalendarDayExists(c.year, c.month, c.days), c.days > 0);
    EXPECT_FALSE(CalendarDayExists(c.year, c.month, c.days + 1));
    EXPECT_FALSE(CalendarDayExists(c.year, c.month, 0));
  }
}

TEST(RecTimeCalendar, KnownSeconds) {
  struct Case {
    RecTime t;
    int64_t seconds;
  };
  const Case cases[] = {
      {{0, 1, 1, 0, 0, 0}, 946'684'800},    // 2000-01-01
      {{0, 2, 29, 12, 0, 0}, 951'825'600},  // leap day of 2000
      {{0, 3, 1, 0, 0, 0}, 951'868'800},
      {{38, 1, 19, 3, 14, 8}, 2'147'483'648},     // first second past 31 signed bits
      {{99, 12, 31, 23, 59, 59}, 4'102'444'799},  // last second of the two-digit years
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.t.Format());
    EXPECT_EQ(RecTimeSeconds(c.t), c.seconds);
    EXPECT_EQ(CheckedRecTimeSeconds(c.t), c.seconds);
    EXPECT_EQ(RecTimeFromSeconds(c.seconds), c.t);
  }
  // 2106 and later do not fit in 32 bits; bit 7 of the year byte is ignored.
  EXPECT_EQ(RecTimeSeconds({106, 2, 7, 6, 28, 16}), int64_t{1} << 32);
  EXPECT_EQ(RecTimeSeconds({0x80 | 38, 1, 19, 3, 14, 8}), 2'147'483'648);
}

TEST(RecTimeCalendar, AgreesWithTheCLibraryOverTheTwoDigitYears) {
  // Every day of 2000..2099, at a second that also tests the time of day.
  const int64_t first = CalendarSeconds(2000, 1, 1, 0, 0, 0);
  const int64_t end = CalendarSeconds(2100, 1, 1, 0, 0, 0);
  int days = 0;
  for (int64_t s = first + 45'296; s < end; s += 86'400, ++days) {  // 12:34:56
    const time_t tt = static_cast<time_t>(s);
    std::tm tm{};
    ASSERT_NE(::gmtime_r(&tt, &tm), nullptr);
    const RecTime want{static_cast<uint8_t>(tm.tm_year - 100), static_cast<uint8_t>(tm.tm_mon + 1),
                       static_cast<uint8_t>(tm.tm_mday),       static_cast<uint8_t>(tm.tm_hour),
                       static_cast<uint8_t>(tm.tm_min),        static_cast<uint8_t>(tm.tm_sec)};
    ASSERT_EQ(RecTimeFromSeconds(s), want) << s;
    ASSERT_EQ(RecTimeSeconds(want), s);
    ASSERT_EQ(CalendarSeconds(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec),
              s);
  }
  EXPECT_EQ(days, 36'525);
}

TEST(RecTimeCalendar, ChecksAndClamps) {
  const std::optional<int64_t> none;
  EXPECT_EQ(CheckedCalendarSeconds(1999, 12, 31, 23, 59, 59), none);
  EXPECT_EQ(CheckedCalendarSeconds(2100, 1, 1, 0, 0, 0), none);
  EXPECT_EQ(CheckedCalendarSeconds(2001, 2, 29, 0, 0, 0), none);
  EXPECT_EQ(CheckedCalendarSeconds(2000, 2, 29, 0, 0, 0), 951'782'400);
  EXPECT_EQ(CheckedCalendarSeconds(2000, 1, 1, 24, 0, 0), none);
  EXPECT_EQ(CheckedCalendarSeconds(2000, 1, 1, 0, 60, 0), none);
  EXPECT_EQ(CheckedCalendarSeconds(2000, 1, 1, 0, 0, 60), none);
  EXPECT_EQ(CheckedCalendarSeconds(2000, 1, 1, -1, 0, 0), none);
  EXPECT_EQ(CheckedRecTimeSeconds({100, 1, 1, 0, 0, 0}), none);
  EXPECT_EQ(CheckedRecTimeSeconds({5, 0, 1, 0, 0, 0}), none);

  // A clock outside the two-digit years shows year 00 or 99 and keeps the rest.
  EXPECT_EQ(RecTimeFromSeconds(946'684'799), (RecTime{0, 12, 31, 23, 59, 59}));  // 1999
  EXPECT_EQ(RecTimeFromSeconds(-1), (RecTime{0, 12, 31, 23, 59, 59}));           // 1969
  EXPECT_EQ(RecTimeFromSeconds(4'102'444'800), (RecTime{99, 1, 1, 0, 0, 0}));    // 2100
}

TEST(RecTimeCalendar, LocalClockReadsAsTheZoneShowsIt) {
  const time_t now = ::time(nullptr);
  std::tm tm{};
  ASSERT_NE(::localtime_r(&now, &tm), nullptr);
  const double want = static_cast<double>(now) + static_cast<double>(tm.tm_gmtoff);
  EXPECT_NEAR(LocalCalendarSeconds(), want, 2.0);
}

}  // namespace
}  // namespace rd
