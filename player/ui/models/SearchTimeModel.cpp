#include "player/ui/models/SearchTimeModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace rd::player {
namespace {

// An integer as the dialog's fields take it: blanks around it, an optional
// sign, decimal digits.
std::optional<long> ParseInteger(const std::string& text) {
  std::size_t a = 0, b = text.size();
  while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
  std::size_t i = a;
  if (i < b && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == b || b - i > 9) return std::nullopt;
  for (std::size_t k = i; k < b; ++k)
    if (!std::isdigit(static_cast<unsigned char>(text[k]))) return std::nullopt;
  return std::strtol(text.substr(a, b - a).c_str(), nullptr, 10);
}

std::string TwoDigits(int v) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", v);
  return text;
}

}  // namespace

SearchTimeModel::Fields FieldsOf(const RecTime& t) {
  return {TwoDigits(t.year), TwoDigits(t.month),  TwoDigits(t.day),
          TwoDigits(t.hour), TwoDigits(t.minute), TwoDigits(t.second)};
}

SearchTimeModel::SearchTimeModel(const std::optional<RecordingSpan>& span) {
  if (span) {
    fields_ = FieldsOf(span->default_search);
    start_text_ = FormatDiskTime(span->start);
    end_text_ = FormatDiskTime(span->end);
  } else {
    fields_.fill("0");
  }
}

void SearchTimeModel::FindEvents(std::vector<DiskEvent> events) {
  if (!find_events_enabled_) return;
  find_events_enabled_ = false;
  for (DiskEvent& e : events) events_.push_back(std::move(e));
  std::stable_sort(events_.begin(), events_.end(),
                   [](const DiskEvent& a, const DiskEvent& b) { return a.line < b.line; });
}

void SearchTimeModel::SelectEvent(int index) {
  if (index < 0 || index >= static_cast<int>(events_.size())) return;
  fields_ = FieldsOf(events_[static_cast<std::size_t>(index)].start);
}

SearchCheck SearchTimeModel::Check() const {
  return Check(fields_);
}

SearchCheck SearchTimeModel::Check(const Fields& fields) {
  int v[kSearchFields];
  for (int i = 0; i < kSearchFields; ++i) {
    const auto n = ParseInteger(fields[static_cast<std::size_t>(i)]);
    if (!n) return {std::nullopt, i, "Please enter an integer."};
    const FieldRange r = kSearchRanges[static_cast<std::size_t>(i)];
    if (*n < r.low || *n > r.high) {
      return {std::nullopt, i,
              "Please enter an integer between " + std::to_string(r.low) + " and " +
                  std::to_string(r.high) + "."};
    }
    v[i] = static_cast<int>(*n);
  }
  return {
      RecTime{static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]), static_cast<uint8_t>(v[2]),
              static_cast<uint8_t>(v[3]), static_cast<uint8_t>(v[4]), static_cast<uint8_t>(v[5])},
      -1,
      {}};
}

}  // namespace rd::player
