#pragma once
// Calendar arithmetic of recording times: the proleptic Gregorian calendar
// without a time zone, counted in seconds since 1970-01-01 00:00:00. A
// RecTime holds its year as years since 2000; the recorder's clock and its
// two-digit year fields cover 2000..2099.

#include <cstdint>
#include <optional>

#include "shared/stream/StreamPacket.h"

namespace rd {

inline constexpr int kFirstRecYear = 2000;
inline constexpr int kLastRecYear = 2099;

constexpr bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of `month` (1..12) in `year`; 0 for a month outside 1..12.
constexpr int DaysInMonth(int64_t year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

// Whether the calendar has this day.
constexpr bool CalendarDayExists(int64_t year, int month, int day) {
  return day >= 1 && day <= DaysInMonth(year, month);
}

// Days from 1970-01-01 to a date (negative before it).
constexpr int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct CivilDate {
  int64_t year = 1970;
  unsigned month = 1;
  unsigned day = 1;
};

// The date `days` days after 1970-01-01.
constexpr CivilDate CivilFromDays(int64_t days) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return CivilDate{static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

// Seconds since 1970 of a calendar time; the fields are not checked.
constexpr int64_t CalendarSeconds(int64_t year, int month, int day, int hour, int minute,
                                  int second) {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
}

// The same, or nothing unless the time exists and lies in 2000..2099.
constexpr std::optional<int64_t> CheckedCalendarSeconds(int64_t year, int month, int day, int hour,
                                                        int minute, int second) {
  if (year < kFirstRecYear || year > kLastRecYear || !CalendarDayExists(year, month, day) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  return CalendarSeconds(year, month, day, hour, minute, second);
}

// Seconds since 1970 of a recording time (years 2000..2127, bit 7 of the year
// byte ignored; 64 bits, as 2106 and later do not fit in 32).
constexpr int64_t RecTimeSeconds(const RecTime& t) {
  return CalendarSeconds(kFirstRecYear + (t.year & 0x7F), t.month, t.day, t.hour, t.minute,
                         t.second);
}

// The same for a time the recorder can hold (2000..2099, a real date and
// time of day), else nothing.
constexpr std::optional<int64_t> CheckedRecTimeSeconds(const RecTime& t) {
  return CheckedCalendarSeconds(kFirstRecYear + int64_t{t.year}, t.month, t.day, t.hour, t.minute,
                                t.second);
}

struct CivilTime {
  CivilDate date;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The date and time of day of a second since 1970 (negative before it).
constexpr CivilTime CivilFromSeconds(int64_t s) {
  int64_t days = s / 86400;
  int64_t rest = s % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  return CivilTime{CivilFromDays(days), static_cast<int>(rest / 3600),
                   static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

// The recording time of a second since 1970. The year is held to 2000..2099
// (a clock outside that range shows year 00 or 99; the rest of the date and
// the time of day are kept).
constexpr RecTime RecTimeFromSeconds(int64_t s) {
  const CivilTime c = CivilFromSeconds(s);
  const int64_t year = c.date.year < kFirstRecYear  ? kFirstRecYear
                       : c.date.year > kLastRecYear ? kLastRecYear
                                                    : c.date.year;
  return RecTime{static_cast<uint8_t>(year - kFirstRecYear),
                 static_cast<uint8_t>(c.date.month),
                 static_cast<uint8_t>(c.date.day),
                 static_cast<uint8_t>(c.hour),
                 static_cast<uint8_t>(c.minute),
                 static_cast<uint8_t>(c.second)};
}

// The local wall-clock time as calendar seconds since 1970 (the zone's
// offset included, so that the date and time of day read as on a local
// clock), with the fraction of the second.
double LocalCalendarSeconds();

}  // namespace rd
