#include "client/engine/stream/RateAdjuster.h"

#include "client/events/EngineEvents.h"
#include "client/engine/stream/StreamStats.h"

namespace rd {
namespace {

constexpr uint8_t kNtscLadder[] = {0, 1, 2, 3, 5, 9, 14, 19, 29, 59, 149, 199, 239};
constexpr uint8_t kPalLadder[] = {0, 1, 2, 3, 4, 9, 19, 24, 49, 124, 199};

constexpr uint8_t kNtscRecordIntervals[] = {0, 1, 2, 3, 5, 6, 9, 14, 29};
constexpr uint8_t kPalRecordIntervals[] = {0, 1, 2, 3, 5, 7, 11, 24, 24};

}  // namespace

std::span<const uint8_t> RateAdjuster::Ladder(uint8_t video_standard) {
  if (video_standard == 0) return kNtscLadder;
  return kPalLadder;
}

uint8_t RateAdjuster::RecordInterval(uint8_t video_standard, uint8_t record_frame_rate) {
  const uint8_t* table = video_standard == 0 ? kNtscRecordIntervals : kPalRecordIntervals;
  return table[record_frame_rate > 8 ? 8 : record_frame_rate];
}

bool RateAdjuster::Coarser(uint8_t video_standard, uint8_t current, uint8_t* next) {
  const auto ladder = Ladder(video_standard);
  // Above the second-highest rung there is no coarser step to take.
  if (current > ladder[ladder.size() - 2]) return false;
  // The rung after the first rung at or above `current`: from a rung the next
  // one up, from between two rungs one rung past the upper of the two (NTSC
  // 4 and 5 both give 9).
  for (std::size_t i = 0; i + 1 < ladder.size(); ++i) {
    if (ladder[i] >= current) {
      *next = ladder[i + 1];
      return true;
    }
  }
  return false;
}

bool RateAdjuster::Finer(uint8_t video_standard, uint8_t current, uint8_t* next) {
  if (current == 0) return false;
  const auto ladder = Ladder(video_standard);
  for (auto it = ladder.rbegin(); it != ladder.rend(); ++it) {
    if (*it < current) {
      *next = *it;
      return true;
    }
  }
  return false;
}

uint8_t RateAdjuster::SilentLimit(uint8_t current, uint8_t record_interval) {
  // The factor is 1/30 as a 32-bit float.
  const double limit = (current + 1.0) * (record_interval + 1.0) * 0.0333333351 + 20.0;
  return static_cast<uint8_t>(static_cast<uint32_t>(limit) & 0xFFu);
}

int RateAdjuster::SetOwner(EngineEvents* owner) {
  if (owner == nullptr) return 1;
  owner_ = owner;
  return 0;
}

void RateAdjuster::ResetHistory() {
  history_index_ = 0;
  history_full_ = 0;
  silent_seconds_ = 0;
}

void RateAdjuster::Choose(uint8_t interval) {
  chosen_ = interval;
  frames_since_change_ = 0;
  if (owner_ != nullptr) owner_->OnFrameIntervalChosen(interval);
}

void RateAdjuster::Run(StreamStats& stats, uint8_t mode, uint8_t video_standard, uint8_t current,
                       uint8_t record_interval) {
  if (enabled_ == 0 || mode == kModePlayPause) return;

  fps_snapshot_ = static_cast<uint8_t>(stats.FramesLastSecond());
  if (fps_snapshot_ == 0) {
    silent_seconds_ = static_cast<uint8_t>(silent_seconds_ + 1);
  } else {
    silent_seconds_ = 0;
  }

  trouble_ = stats.TakeRestartsLastSecond();
  if (silent_seconds_ >= SilentLimit(current, record_interval)) trouble_ = 2;

  uint8_t next = 0;
  if (trouble_ != 0) {
    if (Coarser(video_standard, current, &next)) Choose(next);
    return;
  }

  if (current == 0) return;
  frames_since_change_ = static_cast<uint8_t>(frames_since_change_ + fps_snapshot_);

  uint8_t index = history_index_;
  if (index >= kHistorySize) index = 0;  // ResetHistory may race with this step
  idle_history_[index] = stats.IdlePercent();
  if (++index == kHistorySize) {
    index = 0;
    history_full_ = 1;
  }
  history_index_ = index;

  idle_average_ = 0;
  if (history_full_ != 0) {
    uint64_t sum = 0;  // a long gap can report far more than 100 %
    for (const uint32_t idle : idle_history_) sum += idle;
    const uint64_t average = sum / kHistorySize;
    idle_average_ = average > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(average);
  }

  if (idle_average_ > 30 && silent_seconds_ == 0 && frames_since_change_ > 10 &&
      Finer(video_standard, current, &next)) {
    Choose(next);
  }
}

}  // namespace rd
