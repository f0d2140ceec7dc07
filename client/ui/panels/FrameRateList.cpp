#include "client/ui/panels/FrameRateList.h"

#include <cstdio>

#include "client/ui/panels/ChannelPanel.h"

namespace rd::client::panels {
namespace {

constexpr uint8_t kNtscCodes[] = {0, 1, 2, 3, 5, 9, 14, 19, 29, 59, 149, 199, 239, 249};
constexpr uint8_t kPalCodes[] = {0, 1, 2, 3, 4, 9, 19, 24, 49, 124, 199, 249};
constexpr int kNtscBase[] = {30, 15, 10, 7, 5, 4, 3, 2, 1, 0, 0, 0};
constexpr int kPalBase[] = {25, 12, 8, 6, 4, 3, 2, 1, 1, 0, 0, 0};

static_assert(std::size(kNtscCodes) == 14 && std::size(kPalCodes) == 12);
static_assert(std::size(kNtscBase) == 12 && std::size(kPalBase) == 12);

}  // namespace

std::span<const uint8_t> IntervalCodes(uint8_t video_standard) {
  if (video_standard == 0) return kNtscCodes;
  return kPalCodes;
}

int BaseFrameRate(uint8_t video_standard, uint8_t record_rate_index) {
  const std::span<const int> base =
      video_standard == 0 ? std::span<const int>(kNtscBase) : std::span<const int>(kPalBase);
  return record_rate_index < base.size() ? base[record_rate_index] : 0;
}

std::optional<uint8_t> IntervalAt(uint8_t video_standard, int index) {
  const auto codes = IntervalCodes(video_standard);
  if (index < 0 || static_cast<std::size_t>(index) >= codes.size()) return std::nullopt;
  return codes[static_cast<std::size_t>(index)];
}

FrameRateList BuildFrameRateList(const FrameRateInputs& in) {
  const int shown = CountChannels(in.shown);
  int present = CountChannels(in.present);
  if (present == 0) present = shown;
  double factor = 1.0;
  if (in.dvr_mode != 1 && shown != 0) factor = static_cast<double>(shown) / present;
  const double base = BaseFrameRate(in.video_standard, in.record_rate_index);
  const char* format =
      in.video_standard == 0 ? "[NTSC] %6.3f frames/sec" : "[PAL] %6.3f frames/sec";

  FrameRateList list;
  const auto codes = IntervalCodes(in.video_standard);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    char text[48];
    std::snprintf(text, sizeof text, format, base / (codes[i] + 1) * factor);
    list.items.emplace_back(text);
    if (codes[i] == in.current_interval) list.selected = static_cast<int>(i);
  }
  return list;
}

}  // namespace rd::client::panels
