#include "player/playback/FrameWalker.h"

#include <algorithm>

namespace rd {

FrameWalker::FrameWalker(DeviceOpener opener) : loader_(std::move(opener)), chunk_(kChunkBytes) {}

bool FrameWalker::Start(const std::string& device_path, const RecordingRing& ring,
                        uint64_t position) {
  ring_ = ring;
  next_ = static_cast<int64_t>(position);
  loaded_ = false;
  chunks_ = 0;
  read_failed_ = false;
  error_.clear();
  decoders_.MissedAll();
  if (!loader_.OpenSource(device_path)) {
    error_ = "File Open Error: cannot open " + device_path;
    return false;
  }
  return true;
}

uint64_t FrameWalker::PositionOfPacket(std::size_t i) const {
  const uint64_t offset = i * kPacketSize;
  if (offset < current_.bytes) return current_.start + offset;
  return tail_.start + (offset - current_.bytes);
}

bool FrameWalker::LoadNext() {
  const StreamBuffer& buf = loader_.buffer(0);
  if (loaded_) {
    const ChunkRange last = tail_.empty() ? current_ : tail_;
    next_ = ring_.NextForward(last, true);
    // Go on at the packet that holds the frame left open, so that the frame
    // cut by the chunk boundary is the first of the next chunk.
    const std::size_t packets = (current_.bytes + tail_.bytes) / kPacketSize;
    if (next_ && packets == kChunkPackets && buf.open_frame_start >= 0) {
      const std::size_t at = buf.PacketOf(static_cast<uint32_t>(buf.open_frame_start));
      if (at > 0 && at < packets) next_ = static_cast<int64_t>(PositionOfPacket(at));
    } else if (buf.open_frame_start >= 0) {
      // The frame left open is not read again (the end of the recording).
      const uint8_t code = buf.OpenFrameChannel();
      if (code == 7) {
        decoders_.MissedAll();
      } else {
        decoders_.Missed(code);
      }
    }
  }
  if (!next_) return false;
  current_ = ring_.ForwardChunk(*next_, true);
  tail_ = {};
  if (current_.empty()) return false;
  // A chunk cut by the end of the area goes on at its start, so that no frame
  // is lost where the ring closes.
  if (current_.bytes < kChunkBytes) {
    if (const auto on = ring_.NextForward(current_, true); on && *on == 0) {
      tail_ = ring_.ForwardChunk(0, true);
      tail_.bytes = std::min<uint64_t>(tail_.bytes, kChunkBytes - current_.bytes);
    }
  }
  const std::size_t head = loader_.ReadChunk(current_.start, current_.end(), chunk_.data());
  const std::size_t rest =
      tail_.empty() ? 0 : loader_.ReadChunk(0, tail_.end(), chunk_.data() + current_.bytes);
  if (head != current_.bytes || rest != tail_.bytes) {
    read_failed_ = true;
    error_ =
        "READ HDD Error at byte " + std::to_string(head != current_.bytes ? current_.start : 0);
    return false;
  }
  const std::size_t bytes = head + rest;
  PairSwap(chunk_.data(), bytes);  // stream order, also for the packet walk above
  loader_.ParseChunk(chunk_.data(), bytes, 0);
  loader_.IndexFrames(0);
  loaded_ = true;
  index_ = 0;
  ++chunks_;
  return true;
}

bool FrameWalker::Next(Frame* frame) {
  for (;;) {
    if (loaded_ && index_ < loader_.buffer(0).frame_count) break;
    if (!LoadNext()) return false;
  }
  const StreamBuffer& buf = loader_.buffer(0);
  const FrameRecord& r = buf.frames[index_];
  frame->buffer = &buf;
  frame->index = index_;
  frame->chunk_position = current_.start;
  frame->chunk_number = chunks_;
  frame->packet_position = PositionOfPacket(buf.PacketOf(r.start));
  frame->bytes = buf.mjpeg.data() + r.start;
  frame->length = r.length;
  frame->time = r.time;
  frame->code = buf.ChannelOf(index_);
  frame->full = buf.IsFullFrame(index_);
  frame->audio = r.audio_flag != 0;
  ++index_;
  return true;
}

}  // namespace rd
