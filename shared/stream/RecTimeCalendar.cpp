#include "shared/stream/RecTimeCalendar.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace rd {

double LocalCalendarSeconds() {
  const auto now = std::chrono::system_clock::now();
  const double secs = std::chrono::duration<double>(now.time_since_epoch()).count();
  const auto whole = static_cast<time_t>(std::floor(secs));
  std::tm tm{};
  ::localtime_r(&whole, &tm);
  return static_cast<double>(CalendarSeconds(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                                             tm.tm_hour, tm.tm_min, tm.tm_sec)) +
         (secs - static_cast<double>(whole));
}

}  // namespace rd
