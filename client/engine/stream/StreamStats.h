#pragma once
// Streaming statistics of the stream connection: packets and bytes per second,
// frames per second, frame sizes, frame restarts, time spent waiting for video
// data and frames queued for display. Fed from the stream receiver's callbacks
// (stream socket thread) and the image handler, rolled over once per second and
// read on the user-interface thread.
//
// Five groups, each guarded by its own lock; no operation ever holds two.
// Counters are 32-bit unsigned, averages 32-bit floats; every minimum starts at
// 0xFFFFFFFF, meaning "no value yet".

#include <cstdint>
#include <mutex>

namespace rd {

class StreamStats {
 public:
  // Result of a getter when one of its output pointers is null.
  static constexpr int kNullOutput = 145;
  static constexpr uint32_t kNoMinimum = 0xFFFFFFFFu;

  StreamStats() = default;
  StreamStats(const StreamStats&) = delete;
  StreamStats& operator=(const StreamStats&) = delete;

  // Inputs; each takes its group's lock.
  void Reset();
  void AddPacket(uint32_t bytes);
  void AddGap(uint32_t ms);
  void AddFrame(uint32_t size);
  void AddRestart();
  void AddQueued();
  // Once per second: "this second" becomes "last second", maxima, minima and
  // running averages over all seconds since the reset are updated.
  void Roll();

  // Getters: copy under the group's lock; 145 when any pointer is null, else 0.
  int GetConnectionTime(uint32_t* seconds) const;
  int GetSpeed(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const;
  int GetPackets(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const;
  int GetPacketSize(uint32_t* max, uint32_t* min) const;
  int GetFrames(uint32_t* total) const;
  int GetFrameRate(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const;
  int GetFrameSize(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const;

  // Direct reads of the frame-interval adjuster and the image handler.
  uint32_t FramesLastSecond() const;
  // Frame restarts of the last second; sets the count back to 0.
  uint32_t TakeRestartsLastSecond();
  uint32_t IdlePercent() const;
  uint32_t QueuedLastSecond() const;

 private:
  struct PerSecond {
    uint32_t current = 0;  // this second
    uint32_t last = 0;     // last second
    uint32_t max = 0;
    uint32_t min = kNoMinimum;
    float average = 0.0f;
    void Roll(uint32_t n);
  };

  mutable std::mutex traffic_lock_;
  uint32_t seconds_ = 0;
  PerSecond packets_;
  PerSecond bytes_;
  uint32_t max_packet_size_ = 0;
  uint32_t min_packet_size_ = kNoMinimum;

  mutable std::mutex frames_lock_;
  uint32_t frames_total_ = 0;
  PerSecond frames_;
  uint32_t last_frame_size_ = 0;
  uint32_t max_frame_size_ = 0;
  uint32_t min_frame_size_ = kNoMinimum;
  float average_frame_size_ = 0.0f;

  mutable std::mutex restarts_lock_;
  uint32_t restarts_current_ = 0;
  uint32_t restarts_last_ = 0;

  mutable std::mutex gaps_lock_;
  uint32_t gap_ms_ = 0;
  uint32_t idle_percent_ = 0;

  mutable std::mutex queued_lock_;
  uint32_t queued_current_ = 0;
  uint32_t queued_last_ = 0;
};

}  // namespace rd
