#pragma once
// Cutting the MJPEG elementary stream and the audio into the units the DVR
// sends and records:
//  - StreamChunker: 2048-byte stream chunks. A video chunk is the 12-byte
//    network header (F7 7D, a sequence number in bytes 2-3, the frame-restart
//    bit in byte 10), the 8-byte 4K video header (time, RateCode, ChannelSet) of
//    the frame it carries, and 2028 bytes of the elementary stream. Every frame
//    starts at the beginning of a chunk payload and is padded with zero bytes to
//    the end of its last chunk, so a chunk never holds two start codes and a
//    frame goes out as soon as it is complete. An audio packet goes out as two
//    chunks (its bytes 0-2047 and 2048-4095).
// (4K packets for the disk are cut by tools/common/PacketStreamBuilder.)

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "shared/stream/StreamPacket.h"

namespace rd::sim {

inline constexpr std::size_t kChunkSize = 2048;
inline constexpr std::size_t kChunkNetHeader = 12;
inline constexpr std::size_t kChunkPayload =
    kChunkSize - kChunkNetHeader - kPacketHeaderSize;  // 2028

// The 8-byte 4K video header fields of a frame.
struct FrameInfo {
  RecTime time;
  uint8_t rate_code = 0;
  uint8_t channel_set = 0;
};

// Writes the 8-byte video header.
void WriteVideoHeader(const FrameInfo& info, uint8_t* header);

class StreamChunker {
 public:
  // kind: true = video chunk, false = audio chunk.
  using Sink = std::function<void(const uint8_t* chunk, bool video)>;

  explicit StreamChunker(Sink sink) : sink_(std::move(sink)) {}

  // Appends one frame. When split_tail > 0 the frame is padded so that it ends
  // split_tail bytes before the end of a chunk payload, which makes the NEXT
  // frame's start code straddle two chunks. Returns the number of bytes the
  // frame occupies on the wire (frame + padding) and its FNV-1a hash in *hash.
  std::size_t AppendFrame(const uint8_t* frame, std::size_t len, const FrameInfo& info,
                          std::size_t split_tail, uint32_t* hash);
  // Sends one audio packet (two chunks). A partly filled video chunk stays
  // pending and continues after it.
  void AppendAudio(const RecTime& time, const uint8_t* samples4000);
  // Sets the frame-restart bit on the next video chunk sent.
  void MarkRestart() { restart_ = true; }
  // Drops a partly filled chunk (new connection).
  void Reset();
  uint16_t sequence() const { return seq_; }
  // Bytes waiting in the partly filled video chunk.
  std::size_t pending() const { return fill_; }

 private:
  void Put(const uint8_t* data, std::size_t len, uint32_t* hash);
  void FlushChunk();

  Sink sink_;
  std::array<uint8_t, kChunkSize> chunk_{};
  std::size_t fill_ = 0;  // payload bytes in chunk_
  FrameInfo info_{};
  bool restart_ = false;
  uint16_t seq_ = 0;
  std::array<uint8_t, kPacketSize> audio_{};
};

}  // namespace rd::sim
