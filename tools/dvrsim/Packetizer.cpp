#include "tools/dvrsim/Packetizer.h"

#include <algorithm>
#include <cstring>

#include "shared/stream/ByteOrder.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/dvrsim/SimLog.h"

namespace rd::sim {

void WriteVideoHeader(const FrameInfo& info, uint8_t* header) {
  info.time.ToHeader(header);
  header[6] = info.rate_code;
  header[7] = info.channel_set;
}

void StreamChunker::Reset() {
  fill_ = 0;
  restart_ = false;
}

void StreamChunker::FlushChunk() {
  chunk_[0] = 0xF7;
  chunk_[1] = 0x7D;
  StoreLe16(&chunk_[2], seq_);
  std::memset(&chunk_[4], 0, 6);
  chunk_[10] = restart_ ? 0x80 : 0x00;
  chunk_[11] = 0;
  WriteVideoHeader(info_, &chunk_[kChunkNetHeader]);
  restart_ = false;
  ++seq_;
  sink_(chunk_.data(), true);
  fill_ = 0;
}

void StreamChunker::Put(const uint8_t* data, std::size_t len, uint32_t* hash) {
  static const uint8_t kZeros[kChunkPayload] = {};
  while (len > 0) {
    std::size_t n = std::min(len, kChunkPayload - fill_);
    const uint8_t* src = data ? data : kZeros;
    std::memcpy(&chunk_[kChunkNetHeader + kPacketHeaderSize + fill_], src, n);
    *hash = Fnv1a32(src, n, *hash);
    fill_ += n;
    len -= n;
    if (data) data += n;
    if (fill_ == kChunkPayload) FlushChunk();
  }
}

std::size_t StreamChunker::AppendFrame(const uint8_t* frame, std::size_t len, const FrameInfo& info,
                                       std::size_t split_tail, uint32_t* hash) {
  uint32_t h = 2166136261u;
  // The chunk in which this frame starts carries its header; so do the chunks
  // that hold nothing but its continuation.
  info_ = info;
  Put(frame, len, &h);
  std::size_t target =
      split_tail > 0 && split_tail < kChunkPayload ? kChunkPayload - split_tail : kChunkPayload;
  std::size_t pad = 0;
  if (fill_ != 0 || split_tail > 0) {
    pad = fill_ <= target ? target - fill_ : kChunkPayload - fill_ + target;
    if (split_tail == 0 && fill_ == 0) pad = 0;
  }
  Put(nullptr, pad, &h);
  if (hash) *hash = h;
  return len + pad;
}

void StreamChunker::AppendAudio(const RecTime& time, const uint8_t* samples4000) {
  DvrDiskImage::MakeAudioPacket(time, samples4000, audio_.data());
  sink_(audio_.data(), false);
  sink_(audio_.data() + kChunkSize, false);
}

}  // namespace rd::sim
