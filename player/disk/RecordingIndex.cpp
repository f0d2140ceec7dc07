#include "player/disk/RecordingIndex.h"

#include <algorithm>
#include <cstdio>

#include "shared/stream/RecTimeCalendar.h"

namespace rd {

uint32_t TimeToSeconds(const RecTime& time) {
  return static_cast<uint32_t>(RecTimeSeconds(time));
}

std::optional<RecTime> ParseSearchTime(const std::string& text) {
  int v[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), " %d/%d/%d %d:%d:%d %c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                  &tail) != 6) {
    return std::nullopt;
  }
  const int low[6] = {0, 1, 1, 0, 0, 0};
  const int high[6] = {99, 12, 31, 23, 59, 59};
  for (int i = 0; i < 6; ++i) {
    if (v[i] < low[i] || v[i] > high[i]) return std::nullopt;
  }
  return RecTime{static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                 static_cast<uint8_t>(v[2]), static_cast<uint8_t>(v[3]),
                 static_cast<uint8_t>(v[4]), static_cast<uint8_t>(v[5])};
}

std::string FormatDiskTime(const RecTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d  %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::optional<DiskEvent> ReadEventRecord(const uint8_t* record) {
  if (record[kEventStartOffset + kEvYear] == 0) return std::nullopt;
  DiskEvent e;
  e.start = ReadEventTime(record, kEventStartOffset);
  e.end = ReadEventTime(record, kEventEndOffset);
  e.timer = record[kEventTypeOffset] == kEventTypeTimer;
  e.line = FormatDiskTime(e.start);
  e.line += " - ";
  e.line += FormatDiskTime(e.end);
  e.line += "  ";
  e.line += e.timer ? "TIME" : "ALARM";
  return e;
}

std::optional<std::string> FormatEventLine(const uint8_t* record) {
  auto e = ReadEventRecord(record);
  if (!e) return std::nullopt;
  return std::move(e->line);
}

RecordingIndex::RecordingIndex(DvrDisk& disk, uint64_t marker, uint64_t area_sectors)
    : disk_(disk), marker_(marker), area_sectors_(area_sectors) {}

std::optional<DiskStatus> RecordingIndex::ReadStatus() {
  if (marker_ < kEventSectorsBelowMarker) return std::nullopt;
  const uint8_t* sector = disk_.ReadIndexSectors(StatusSectorOf(marker_), 1);
  if (!sector) return std::nullopt;
  return DecodeDiskStatus(sector);
}

std::optional<RecTime> RecordingIndex::PacketTime(uint64_t packet) {
  if (packet >= packet_count()) return std::nullopt;  // never outside the area
  const uint8_t* sector = disk_.ReadIndexSectors(packet * kSectorsPerPacket, 1);
  if (!sector) return std::nullopt;
  return RecTimeFromDiskSector(sector);
}

SpanResult RecordingIndex::ReadSpan(RecordingSpan* span) {
  const auto present = disk_.DataPresent(marker_);
  if (!present) return SpanResult::kReadError;
  if (!*present) return SpanResult::kNoData;

  const uint64_t ap = packet_count();
  auto status = ReadStatus();
  if (!status) return SpanResult::kReadError;
  uint64_t w = status->next_packet;
  // A wrapped ring whose next packet is one past the end starts again at 0.
  if (status->wrapped && w == ap) w = 0;
  // No recorded packet (or a status that points outside the ring): nothing
  // to play or search.
  if (ap == 0 || w > ap || (!status->wrapped && w == 0)) return SpanResult::kNoData;

  RecordingSpan s;
  s.status = DiskStatus{static_cast<uint32_t>(w), status->wrapped};
  s.packet_count = ap;
  if (!status->wrapped) {
    s.first_packet = 0;
    s.last_packet = w - 1;
  } else {
    s.first_packet = w;
    s.last_packet = w == 0 ? ap - 1 : w - 1;
  }
  const auto start = PacketTime(s.first_packet);
  const auto end = PacketTime(s.last_packet);
  const auto default_search = PacketTime(ap > 1 ? 1 : 0);
  if (!start || !end || !default_search) return SpanResult::kReadError;
  s.start = *start;
  s.end = *end;
  s.default_search = *default_search;

  // Newest data first: from the last packet down through packets 0 .. W-1
  // (only the last packet when W = 0), then the older part W .. AP-1.
  s.first_segment.start_probe = s.last_packet;
  s.first_segment.step = w / 2;
  s.first_segment.low = w == 0 ? s.last_packet : 0;
  s.first_segment.high = s.last_packet;
  if (status->wrapped && w < ap) {
    s.second_segment = SearchSegment{w, (ap - w) / 2, w, ap - 1};
  }
  *span = s;
  return SpanResult::kOk;
}

std::optional<std::vector<DiskEvent>> RecordingIndex::ListEventRecords() {
  if (marker_ < kEventSectorsBelowMarker) return std::nullopt;
  const uint8_t* sectors =
      disk_.ReadIndexSectors(FirstEventSector(marker_), static_cast<uint32_t>(kEventSectorCount));
  if (!sectors) return std::nullopt;
  std::vector<DiskEvent> events;
  if (sectors[kDataFlagOffset] == 0) return events;
  for (std::size_t r = 0; r < kEventRecordCount; ++r) {
    if (auto e = ReadEventRecord(sectors + r * kDiskEventRecordSize)) events.push_back(*e);
  }
  return events;
}

std::optional<std::vector<std::string>> RecordingIndex::ListEvents() {
  auto events = ListEventRecords();
  if (!events) return std::nullopt;
  std::vector<std::string> lines;
  lines.reserve(events->size());
  for (DiskEvent& e : *events) lines.push_back(std::move(e.line));
  return lines;
}

bool RecordingIndex::FindTime(const RecTime& target, const RecordingSpan& span,
                              uint64_t* position) {
  probes_ = 0;
  const int64_t goal = RecTimeSeconds(target);
  auto search = [&](const SearchSegment& seg) -> std::optional<uint64_t> {
    if (seg.low > seg.high || seg.high >= packet_count()) return std::nullopt;
    uint64_t p = std::clamp(seg.start_probe, seg.low, seg.high);
    uint64_t s = seg.step;
    for (;;) {
      ++probes_;
      const auto time = PacketTime(p);
      // A probe that cannot be read ends the segment: nothing stale is compared.
      if (!time) return std::nullopt;
      const int64_t t = RecTimeSeconds(*time);
      if (t - goal <= 1 && goal - t <= 1) return p;
      // Probes stay within the recorded packets of the segment, so no read
      // leaves the area and a target outside the recording is not found.
      if (t < goal) {
        p = (seg.high - p >= s) ? p + s : seg.high;
      } else {
        p = (p - seg.low >= s) ? p - s : seg.low;
      }
      s /= 2;
      if (s == 0) return std::nullopt;
    }
  };
  auto hit = search(span.first_segment);
  if (!hit && span.status.wrapped && span.second_segment) hit = search(*span.second_segment);
  if (!hit) return false;
  *position = *hit * kPacketSize;
  return true;
}

}  // namespace rd
