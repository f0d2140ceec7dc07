#pragma once
// A DVR time chosen in six drop-down lists (year, month, day, hour, minute,
// second), as the DVR management and DVR play dialogs offer it, and the checks
// made before such a time is sent.

#include <cstdint>
#include <optional>

#include "client/engine/rdcp/RdcpWire.h"

namespace rd::ui {

// Selected indexes of the six lists, -1 where nothing is selected. The lists
// hold years 2000.., months 1.., days 1.., hours, minutes and seconds from 0.
struct TimeSelection {
  int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
};

// The selection as a DvrTime (day and month = index + 1), or nothing when a
// list has no selection.
std::optional<DvrTime> TimeFromSelection(const TimeSelection& s);
// The list indexes that show `t`; -1 for a value outside a list of
// `years` years, 12 months, 31 days, 24 hours and 60 minutes and seconds.
TimeSelection SelectionOfTime(const DvrTime& t, int years = 100);

// Whether the calendar has this day (year = 2000 + t.year, Gregorian leap years).
bool DateExists(const DvrTime& t);

// A key that orders times: 31-day months and 372-day years, computed in 64 bits
// so that no year byte makes it wrap.
uint64_t TimeKey(const DvrTime& t);

}  // namespace rd::ui
