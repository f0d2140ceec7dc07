#pragma once
// The stream frame-rate list of the Frame Rate Control panel: the interval
// codes it offers for each video standard, the frames per second each one
// gives, and which entry is selected. The DVR sends one frame out of every
// interval + 1 of its base rate (the record frame rate's).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "shared/stream/ChannelDisplayState.h"

namespace rd::client::panels {

// Interval codes in list order: 14 for NTSC (standard 0), 12 for PAL.
std::span<const uint8_t> IntervalCodes(uint8_t video_standard);
// The base frame rate of a record frame rate index; 0 for an index outside
// the table (above 11).
int BaseFrameRate(uint8_t video_standard, uint8_t record_rate_index);
// The interval code of list entry `index`; nullopt for an entry the table
// does not have.
std::optional<uint8_t> IntervalAt(uint8_t video_standard, int index);

struct FrameRateInputs {
  uint8_t video_standard = 0;
  uint8_t record_rate_index = 0;
  uint8_t current_interval = 0;
  uint8_t dvr_mode = 0;
  ChannelDisplayState present;
  ChannelDisplayState shown;
};

struct FrameRateList {
  std::vector<std::string> items;  // "[NTSC] %6.3f frames/sec" / "[PAL] ..."
  int selected = 0;                // the entry of the current interval, else 0

  friend bool operator==(const FrameRateList&, const FrameRateList&) = default;
};

// In PLAY the stream carries every channel; otherwise the rate is shared by
// the channels present and only the shown ones count.
FrameRateList BuildFrameRateList(const FrameRateInputs& in);

}  // namespace rd::client::panels
