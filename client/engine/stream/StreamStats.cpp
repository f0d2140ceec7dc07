#include "client/engine/stream/StreamStats.h"

namespace rd {

void StreamStats::PerSecond::Roll(uint32_t n) {
  last = current;
  if (last > max) max = last;
  if (last < min) min = last;
  // n counts seconds since the reset and is at least 1 here.
  const float fn = static_cast<float>(n);
  average = static_cast<float>(n - 1) * average / fn + static_cast<float>(last) / fn;
  current = 0;
}

void StreamStats::Reset() {
  {
    std::lock_guard lock(traffic_lock_);
    seconds_ = 0;
    packets_ = PerSecond{};
    bytes_ = PerSecond{};
    max_packet_size_ = 0;
    min_packet_size_ = kNoMinimum;
  }
  {
    std::lock_guard lock(frames_lock_);
    frames_total_ = 0;
    frames_ = PerSecond{};
    last_frame_size_ = 0;
    max_frame_size_ = 0;
    min_frame_size_ = kNoMinimum;
    average_frame_size_ = 0.0f;
  }
  {
    std::lock_guard lock(restarts_lock_);
    restarts_current_ = 0;
    restarts_last_ = 0;
  }
  {
    std::lock_guard lock(gaps_lock_);
    gap_ms_ = 0;
    idle_percent_ = 0;
  }
  {
    std::lock_guard lock(queued_lock_);
    queued_current_ = 0;
    queued_last_ = 0;
  }
}

void StreamStats::AddPacket(uint32_t bytes) {
  std::lock_guard lock(traffic_lock_);
  ++packets_.current;
  bytes_.current += bytes;
  if (bytes > max_packet_size_) max_packet_size_ = bytes;
  if (bytes < min_packet_size_) min_packet_size_ = bytes;
}

void StreamStats::AddGap(uint32_t ms) {
  std::lock_guard lock(gaps_lock_);
  gap_ms_ += ms;
}

void StreamStats::AddFrame(uint32_t size) {
  std::lock_guard lock(frames_lock_);
  ++frames_total_;
  ++frames_.current;
  last_frame_size_ = size;
  if (size > max_frame_size_) max_frame_size_ = size;
  if (size < min_frame_size_) min_frame_size_ = size;
  const float n = static_cast<float>(frames_total_);
  average_frame_size_ = static_cast<float>(frames_total_ - 1) * average_frame_size_ / n +
                        static_cast<float>(size) / n;
}

void StreamStats::AddRestart() {
  std::lock_guard lock(restarts_lock_);
  ++restarts_current_;
}

void StreamStats::AddQueued() {
  std::lock_guard lock(queued_lock_);
  ++queued_current_;
}

void StreamStats::Roll() {
  uint32_t n;
  {
    std::lock_guard lock(traffic_lock_);
    n = ++seconds_;
    bytes_.Roll(n);
    packets_.Roll(n);
  }
  {
    std::lock_guard lock(frames_lock_);
    frames_.Roll(n);
  }
  {
    std::lock_guard lock(restarts_lock_);
    restarts_last_ = restarts_current_;
    restarts_current_ = 0;
  }
  {
    std::lock_guard lock(queued_lock_);
    queued_last_ = queued_current_;
    queued_current_ = 0;
  }
  {
    std::lock_guard lock(gaps_lock_);
    const uint64_t gap = gap_ms_ == 0 ? 1000u : gap_ms_;
    // 64-bit product: a gap of many hours must not wrap to a small percentage.
    const uint64_t idle = gap * 100u / 1000u;
    idle_percent_ = idle > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(idle);
    gap_ms_ = 0;
  }
}

int StreamStats::GetConnectionTime(uint32_t* seconds) const {
  if (seconds == nullptr) return kNullOutput;
  std::lock_guard lock(traffic_lock_);
  *seconds = seconds_;
  return 0;
}

int StreamStats::GetSpeed(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const {
  if (!last || !max || !min || !average) return kNullOutput;
  std::lock_guard lock(traffic_lock_);
  *last = bytes_.last;
  *max = bytes_.max;
  *min = bytes_.min;
  *average = bytes_.average;
  return 0;
}

int StreamStats::GetPackets(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const {
  if (!last || !max || !min || !average) return kNullOutput;
  std::lock_guard lock(traffic_lock_);
  *last = packets_.last;
  *max = packets_.max;
  *min = packets_.min;
  *average = packets_.average;
  return 0;
}

int StreamStats::GetPacketSize(uint32_t* max, uint32_t* min) const {
  if (!max || !min) return kNullOutput;
  std::lock_guard lock(traffic_lock_);
  *max = max_packet_size_;
  *min = min_packet_size_;
  return 0;
}

int StreamStats::GetFrames(uint32_t* total) const {
  if (total == nullptr) return kNullOutput;
  std::lock_guard lock(frames_lock_);
  *total = frames_total_;
  return 0;
}

int StreamStats::GetFrameRate(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const {
  if (!last || !max || !min || !average) return kNullOutput;
  std::lock_guard lock(frames_lock_);
  *last = frames_.last;
  *max = frames_.max;
  *min = frames_.min;
  *average = frames_.average;
  return 0;
}

int StreamStats::GetFrameSize(uint32_t* last, uint32_t* max, uint32_t* min, float* average) const {
  if (!last || !max || !min || !average) return kNullOutput;
  std::lock_guard lock(frames_lock_);
  *last = last_frame_size_;
  *max = max_frame_size_;
  *min = min_frame_size_;
  *average = average_frame_size_;
  return 0;
}

uint32_t StreamStats::FramesLastSecond() const {
  std::lock_guard lock(frames_lock_);
  return frames_.last;
}

uint32_t StreamStats::TakeRestartsLastSecond() {
  std::lock_guard lock(restarts_lock_);
  const uint32_t restarts = restarts_last_;
  restarts_last_ = 0;
  return restarts;
}

uint32_t StreamStats::IdlePercent() const {
  std::lock_guard lock(gaps_lock_);
  return idle_percent_;
}

uint32_t StreamStats::QueuedLastSecond() const {
  std::lock_guard lock(queued_lock_);
  return queued_last_;
}

}  // namespace rd
