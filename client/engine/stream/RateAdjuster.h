#pragma once
// Automatic stream frame interval. Once per second it looks at the streaming
// statistics and moves the DVR's stream frame interval (the DVR sends one frame
// out of every interval + 1) along a fixed ladder: coarser when frames are lost
// or none arrive, finer when the connection has been mostly idle for the last
// 16 seconds. It only decides; the owner sends the request when
// OnFrameIntervalChosen arrives.

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace rd {

class EngineEvents;
class StreamStats;

class RateAdjuster {
 public:
  static constexpr uint8_t kModePlayPause = 2;
  static constexpr int kHistorySize = 16;

  RateAdjuster() = default;
  RateAdjuster(const RateAdjuster&) = delete;
  RateAdjuster& operator=(const RateAdjuster&) = delete;

  void SetEnabled(bool enabled) { enabled_ = enabled ? 1 : 0; }
  bool IsEnabled() const { return enabled_ != 0; }
  // 1 when `owner` is null (and the owner is left as it was), else 0.
  int SetOwner(EngineEvents* owner);
  // Forgets the idle history and the silent seconds. Called from the control
  // socket thread after the DVR acknowledged a change that alters the stream.
  void ResetHistory();

  // The one-second step. `mode` is the DVR mode (2 = PLAY PAUSE freezes the
  // adjuster), `video_standard` 0 = NTSC, else PAL; `current` is the stream
  // frame interval now in force, `record_interval` the DVR's record interval
  // (see RecordInterval).
  void Run(StreamStats& stats, uint8_t mode, uint8_t video_standard, uint8_t current,
           uint8_t record_interval);

  // The record interval for a record frame rate index (0..8; larger indexes
  // read as 8).
  static uint8_t RecordInterval(uint8_t video_standard, uint8_t record_frame_rate);
  static std::span<const uint8_t> Ladder(uint8_t video_standard);
  // Next coarser interval: the rung after the first rung >= `current`; false
  // when `current` is above the second-highest rung (nothing to do).
  static bool Coarser(uint8_t video_standard, uint8_t current, uint8_t* next);
  // Next finer interval: the last rung below `current`; false when it is 0.
  static bool Finer(uint8_t video_standard, uint8_t current, uint8_t* next);
  // Seconds without a frame after which the adjuster degrades: 8-bit limit of
  // (current + 1) * (record_interval + 1) / 30 + 20.
  static uint8_t SilentLimit(uint8_t current, uint8_t record_interval);

  // State, for the statistics display and tests.
  uint8_t chosen() const { return chosen_; }
  uint8_t fps_snapshot() const { return fps_snapshot_; }
  uint8_t silent_seconds() const { return silent_seconds_; }
  uint8_t frames_since_change() const { return frames_since_change_; }
  uint32_t trouble() const { return trouble_; }
  uint32_t idle_average() const { return idle_average_; }
  bool history_full() const { return history_full_ != 0; }

 private:
  void Choose(uint8_t interval);

  std::atomic<uint8_t> enabled_{1};
  EngineEvents* owner_ = nullptr;
  uint8_t chosen_ = 0;
  uint8_t fps_snapshot_ = 0;
  // Written by ResetHistory on the control socket thread as well.
  std::atomic<uint8_t> silent_seconds_{0};
  uint8_t frames_since_change_ = 0;
  uint32_t trouble_ = 0;
  std::array<uint32_t, kHistorySize> idle_history_{};
  std::atomic<uint8_t> history_index_{0};
  std::atomic<uint8_t> history_full_{0};
  uint32_t idle_average_ = 0;
};

}  // namespace rd
