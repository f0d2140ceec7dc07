#pragma once
// The recording area as playback walks it, chunk by chunk. The area is a ring
// of packets: a wrapped recording runs from the write position W (its oldest
// packet) to the end of the area and on from 0 to W - 1 (its newest); a
// recording that has not wrapped runs from 0 to W - 1, and what lies at or
// beyond W is old data that is no part of it.
//
// Chunks are read forward from a position (at most 2 MiB, never past the end
// of the area, and for an unwrapped recording never at or past W); the short
// chunk at the end of the area is read like any other. Reverse play takes the
// 2 MiB before a position, down to the start of the area (a short chunk
// there too). Positions are signed: a reverse position may lie up to one chunk
// before 0.

#include <cstdint>
#include <optional>

#include "shared/stream/StreamPacket.h"

namespace rd {

// Bytes [start, start + bytes) of the area.
struct ChunkRange {
  uint64_t start = 0;
  uint64_t bytes = 0;
  uint64_t end() const { return start + bytes; }
  bool empty() const { return bytes == 0; }
  friend bool operator==(const ChunkRange&, const ChunkRange&) = default;
};

class RecordingRing {
 public:
  static constexpr int64_t kChunk = static_cast<int64_t>(kChunkBytes);

  RecordingRing() = default;
  // `area_bytes` and `write_position` (W x 4096) are whole packets; W is
  // limited to the area.
  RecordingRing(uint64_t area_bytes, uint64_t write_position, bool wrapped);

  uint64_t area_bytes() const { return area_; }
  uint64_t write_position() const { return write_; }
  bool wrapped() const { return wrapped_; }
  // The oldest recorded byte: W when wrapped, else 0.
  uint64_t first_position() const { return wrapped_ ? write_ % area_or_one() : 0; }

  // The chunk forward play reads at `position`. With `stop_at_newest` a
  // wrapped recording ends at W - 1 as well (the export); without it, forward
  // play of a wrapped recording goes on over the ring. Empty when nothing of
  // the recording lies there.
  ChunkRange ForwardChunk(int64_t position, bool stop_at_newest = false) const;
  // Where forward play goes on after reading `read`: its end, at the end of
  // the area 0 for a wrapped recording; nothing at the end of the recording.
  std::optional<int64_t> NextForward(const ChunkRange& read, bool stop_at_newest = false) const;

  // The chunk reverse play reads for `position`: the bytes
  // [max(position, 0), position + 2 MiB), limited like ForwardChunk.
  ChunkRange ReverseChunk(int64_t position) const;
  // The reverse position after `position`: 2 MiB earlier; below the start of
  // the area the last chunk of the area (wrapped) or nothing (the start of
  // an unwrapped recording).
  std::optional<int64_t> NextBackward(int64_t position) const;

  // The reverse position whose chunk ends where `walked` begins (a turn from
  // forward to reverse), or nothing at the start of an unwrapped recording.
  std::optional<int64_t> Before(const ChunkRange& walked) const;

 private:
  uint64_t area_or_one() const { return area_ == 0 ? 1 : area_; }
  uint64_t Limit(uint64_t position, bool stop_at_newest) const;

  uint64_t area_ = 0;
  uint64_t write_ = 0;
  bool wrapped_ = false;
};

}  // namespace rd
