#include "player/playback/RecordingRing.h"

#include <algorithm>

namespace rd {

RecordingRing::RecordingRing(uint64_t area_bytes, uint64_t write_position, bool wrapped)
    : area_(area_bytes - area_bytes % kPacketSize),
      write_(std::min(write_position - write_position % kPacketSize, area_)),
      wrapped_(wrapped) {
  // A wrapped ring whose next packet is past the end goes on at 0.
  if (wrapped_ && write_ == area_) write_ = 0;
}

uint64_t RecordingRing::Limit(uint64_t position, bool stop_at_newest) const {
  if (!wrapped_) return write_;
  if (stop_at_newest && position < write_) return write_;
  return area_;
}

ChunkRange RecordingRing::ForwardChunk(int64_t position, bool stop_at_newest) const {
  if (position < 0) return {};
  const auto start = static_cast<uint64_t>(position);
  const uint64_t limit = Limit(start, stop_at_newest);
  if (start >= limit) return {};
  return {start, std::min<uint64_t>(kChunkBytes, limit - start)};
}

std::optional<int64_t> RecordingRing::NextForward(const ChunkRange& read,
                                                  bool stop_at_newest) const {
  if (read.empty()) return std::nullopt;
  const uint64_t next = read.end();
  if (!wrapped_) {
    if (next >= write_) return std::nullopt;
    return static_cast<int64_t>(next);
  }
  if (stop_at_newest && read.start < write_ && next >= write_) return std::nullopt;
  if (next >= area_) {
    // On over the end of the ring; the export stops when there is no newer part.
    if (stop_at_newest && write_ == 0) return std::nullopt;
    return 0;
  }
  return static_cast<int64_t>(next);
}

ChunkRange RecordingRing::ReverseChunk(int64_t position) const {
  const int64_t end = position + kChunk;
  if (end <= 0) return {};
  const auto start = static_cast<uint64_t>(std::max<int64_t>(position, 0));
  const uint64_t limit = std::min<uint64_t>(static_cast<uint64_t>(end), wrapped_ ? area_ : write_);
  if (start >= limit) return {};
  return {start, limit - start};
}

std::optional<int64_t> RecordingRing::NextBackward(int64_t position) const {
  if (position > 0) return position - kChunk;
  if (!wrapped_ || area_ == 0) return std::nullopt;
  return static_cast<int64_t>(area_) - kChunk;
}

std::optional<int64_t> RecordingRing::Before(const ChunkRange& walked) const {
  if (walked.start > 0) return static_cast<int64_t>(walked.start) - kChunk;
  if (!wrapped_ || area_ == 0) return std::nullopt;
  return static_cast<int64_t>(area_) - kChunk;
}

}  // namespace rd
