#include "client/ui/models/DvrTimeChoice.h"

#include "shared/stream/RecTimeCalendar.h"

namespace rd::ui {

std::optional<DvrTime> TimeFromSelection(const TimeSelection& s) {
  if (s.year < 0 || s.month < 0 || s.day < 0 || s.hour < 0 || s.minute < 0 || s.second < 0)
    return std::nullopt;
  DvrTime t;
  t.second = static_cast<uint8_t>(s.second);
  t.minute = static_cast<uint8_t>(s.minute);
  t.hour = static_cast<uint8_t>(s.hour);
  t.day = static_cast<uint8_t>(s.day + 1);
  t.month = static_cast<uint8_t>(s.month + 1);
  t.year = static_cast<uint8_t>(s.year);
  return t;
}

TimeSelection SelectionOfTime(const DvrTime& t, int years) {
  auto index = [](int value, int count) { return value >= 0 && value < count ? value : -1; };
  TimeSelection s;
  s.year = index(t.year, years);
  s.month = index(t.month - 1, 12);
  s.day = index(t.day - 1, 31);
  s.hour = index(t.hour, 24);
  s.minute = index(t.minute, 60);
  s.second = index(t.second, 60);
  return s;
}

bool DateExists(const DvrTime& t) {
  return CalendarDayExists(kFirstRecYear + t.year, t.month, t.day);
}

uint64_t TimeKey(const DvrTime& t) {
  return uint64_t{t.year} * 32140800u + uint64_t{t.month} * 2678400u + uint64_t{t.day} * 86400u +
         uint64_t{t.hour} * 3600u + uint64_t{t.minute} * 60u + t.second;
}

}  // namespace rd::ui
