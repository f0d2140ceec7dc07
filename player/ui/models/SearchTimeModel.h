#pragma once
// The rules of the Search Time dialog without widgets: the six fields, the
// span of the recording, the event list and the check of the fields on OK.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "player/disk/RecordingIndex.h"

namespace rd::player {

inline constexpr int kSearchFields = 6;  // year, month, day, hour, minute, second

struct FieldRange {
  int low;
  int high;
};
inline constexpr std::array<FieldRange, kSearchFields> kSearchRanges{
    {{0, 99}, {1, 12}, {1, 31}, {0, 23}, {0, 59}, {0, 59}}};

// The outcome of OK: the time, or the first field that is refused with its prompt.
struct SearchCheck {
  std::optional<RecTime> time;
  int field = -1;
  std::string prompt;
};

class SearchTimeModel {
 public:
  using Fields = std::array<std::string, kSearchFields>;

  // The span of the chosen disk, or nothing when it holds no recording: the
  // fields take the default search time (else 0), the texts the start and
  // end time (else empty).
  explicit SearchTimeModel(const std::optional<RecordingSpan>& span);

  const Fields& fields() const { return fields_; }
  void SetField(int i, std::string text) { fields_[static_cast<std::size_t>(i)] = std::move(text); }
  const std::string& start_text() const { return start_text_; }
  const std::string& end_text() const { return end_text_; }

  // "Find Events": once per dialog; the lines are kept sorted by their text
  // (chronological within a century, the two-digit year first).
  bool find_events_enabled() const { return find_events_enabled_; }
  void FindEvents(std::vector<DiskEvent> events);
  const std::vector<DiskEvent>& events() const { return events_; }

  // A line chosen: the fields take that event's start time ("%02d" each),
  // from the record's own bytes.
  void SelectEvent(int index);

  // OK: each field against its range, first to last. "Please enter an
  // integer." for a value that is not an integer, "Please enter an integer
  // between LOW and HIGH." for one outside its range.
  SearchCheck Check() const;
  static SearchCheck Check(const Fields& fields);

 private:
  Fields fields_;
  std::string start_text_;
  std::string end_text_;
  bool find_events_enabled_ = true;
  std::vector<DiskEvent> events_;
};

// The six fields of a time, "%02d" each.
SearchTimeModel::Fields FieldsOf(const RecTime& time);

}  // namespace rd::player
