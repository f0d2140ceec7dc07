#pragma once
// The recording index of a DVR disk: the status sector (next packet W and the
// wrapped flag), the span of the recording, the event list and the search for
// a recording time by bisection over the packet ring.
//
// All reads go through DvrDisk::ReadIndexSectors on the chosen drive (one open
// per operation, no pair exchange: byte offsets are disk order). Every read
// stays inside the recording area or the index sectors.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "shared/stream/DvrDiskLayout.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

// Seconds from 1970-01-01 00:00:00 to 20YY-MM-DD hh:mm:ss (no time zone).
uint32_t TimeToSeconds(const RecTime& time);

// "YY/MM/DD hh:mm:ss" (blanks between date and time free), with the ranges of
// the search dialog: year 0-99, month 1-12, day 1-31, hour 0-23, minute and
// second 0-59. Nothing for other text.
std::optional<RecTime> ParseSearchTime(const std::string& text);

// "%02d/%02d/%02d  %02d:%02d:%02d" (year, month, day, hour, minute, second).
std::string FormatDiskTime(const RecTime& time);

// The line of one event record (32 bytes, disk order), or nothing when its
// start year byte is 0: "YY/MM/DD  hh:mm:ss - YY/MM/DD  hh:mm:ss  TIME|ALARM".
std::optional<std::string> FormatEventLine(const uint8_t* record);

// One recorded event: its line and its own start and end times, so that a
// caller can take the times from the record rather than from the text (whose
// columns shift when a damaged byte prints with more than two digits).
struct DiskEvent {
  std::string line;
  RecTime start;
  RecTime end;
  bool timer = false;  // "TIME"; otherwise "ALARM"
};

// The event of one record (32 bytes, disk order), or nothing when its start
// year byte is 0.
std::optional<DiskEvent> ReadEventRecord(const uint8_t* record);

// One bisection segment: the probe starts at start_probe with step `step`;
// probes are kept within [low, high], the recorded packets of the segment.
struct SearchSegment {
  uint64_t start_probe = 0;
  uint64_t step = 0;
  uint64_t low = 0;
  uint64_t high = 0;
};

struct RecordingSpan {
  DiskStatus status;          // W and the wrapped flag
  uint64_t packet_count = 0;  // AP, packets the ring holds
  uint64_t first_packet = 0;
  uint64_t last_packet = 0;
  RecTime start;           // time of the first packet
  RecTime end;             // time of the last packet
  RecTime default_search;  // time of packet 1
  SearchSegment first_segment;
  std::optional<SearchSegment> second_segment;  // wrapped disks only
};

enum class SpanResult {
  kOk,
  kNoData,     // sector M - 5 starts with 0, or the status names no recorded packet
  kReadError,  // an index sector or packet could not be read
};

class RecordingIndex {
 public:
  // `disk` must have the chosen drive's path set; M and A of that drive.
  RecordingIndex(DvrDisk& disk, uint64_t marker, uint64_t area_sectors);

  uint64_t packet_count() const { return area_sectors_ / kSectorsPerPacket; }

  std::optional<DiskStatus> ReadStatus();
  // Time of packet p (p < packet_count()), read from its first sector.
  std::optional<RecTime> PacketTime(uint64_t packet);

  SpanResult ReadSpan(RecordingSpan* span);

  // The event lines in record order; empty when the disk holds no data.
  // Nothing when an event sector cannot be read.
  std::optional<std::vector<std::string>> ListEvents();
  // The same, each with its times.
  std::optional<std::vector<DiskEvent>> ListEventRecords();

  // Bisection for the packet within one second of `target`. True with the
  // byte offset of that packet in *position; false leaves *position alone.
  bool FindTime(const RecTime& target, const RecordingSpan& span, uint64_t* position);
  // Probes (packet time reads) made by the last FindTime.
  int last_probe_count() const { return probes_; }

 private:
  DvrDisk& disk_;
  uint64_t marker_;
  uint64_t area_sectors_;
  int probes_ = 0;
};

}  // namespace rd
