#include "client/engine/stream/StreamReceiver.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace rd {
namespace {

uint32_t SteadyTickMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Reports go here until the owner sets its sink; every slot is empty.
EngineEvents& NoSink() {
  static EngineEvents none;
  return none;
}

constexpr std::size_t kTailKept = 3;  // a start code may straddle two chunks

}  // namespace

std::ptrdiff_t FindFrameStartCode(const uint8_t* data, std::size_t size) {
  if (size < 4) return -1;
  // Look for the 01 of 00 00 01 F8: it sits at offsets 2 .. size - 2.
  const uint8_t* p = data + 2;
  const uint8_t* const end = data + size - 1;
  while (p < end) {
    p = static_cast<const uint8_t*>(std::memchr(p, 0x01, static_cast<std::size_t>(end - p)));
    if (p == nullptr) return -1;
    if (p[1] == 0xF8 && p[-1] == 0x00 && p[-2] == 0x00) return (p - 2) - data;
    ++p;
  }
  return -1;
}

StreamReceiver::StreamReceiver()
    : sink_(&NoSink()),
      tick_(&SteadyTickMs),
      assembly_(new uint8_t[kAssemblySize]),
      frame_memory_(new uint8_t[kFrameSlots * FrameSlot::kCapacity]) {
  for (int i = 0; i < kFrameSlots; ++i) {
    frames_[i].buffer = frame_memory_.get() + static_cast<std::size_t>(i) * FrameSlot::kCapacity;
  }
  last_tick_ = tick_();
}

StreamReceiver::~StreamReceiver() {
  // The socket thread calls into this object: end it before the members go.
  if (IsCreated()) Close();
}

EngineResult StreamReceiver::SetSink(EngineEvents* sink) {
  if (sink == nullptr) return engine::kNoSink;
  sink_ = sink;
  return engine::kOk;
}

EngineResult StreamReceiver::Start() {
  if (started_) return engine::kReceiverAlreadyStarted;
  if (!IsCreated()) {
    const EngineResult result = Create();
    if (result != engine::kOk) return result;
  }
  started_ = true;
  return engine::kOk;
}

EngineResult StreamReceiver::Stop() {
  if (!started_) return engine::kReceiverNotStarted;
  const EngineResult result = Close();
  if (result != engine::kOk) return result;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  started_ = false;
  return engine::kOk;
}

void StreamReceiver::ResetStream() {
  fill_ = 0;
  assembly_length_ = 0;
  in_frame_ = false;
  frame_index_ = 0;
  frame_info_ = ChunkInfo{};
  latest_info_ = ChunkInfo{};
  audio_index_ = 0;
  audio_pending_ = false;
  last_tick_ = tick_();
}

void StreamReceiver::OnConnect(int error) {
  if (error == 0) {
    in_frame_ = false;
    last_tick_ = tick_();
  }
  sink_->OnStreamConnect(error);
}

void StreamReceiver::OnClose(int error) {
  sink_->OnStreamClose(error);
}

void StreamReceiver::OnReceive(int error) {
  if (error != 0) {
    if (!IsClosing()) sink_->OnStreamError(error);
    return;
  }
  int count = 0;
  const EngineResult result = Receive(&count, chunk_ + fill_, kChunkSize - fill_);
  if (result == EAGAIN || result == EWOULDBLOCK) return;  // nothing there after all
  if (result != engine::kOk) {
    if (!IsClosing()) sink_->OnStreamError(result);
    return;
  }
  if (count == 0) {
    // The peer closed: report it once; the socket thread stops watching.
    if (MarkPeerClosed()) OnClose(0);
    return;
  }
  ChunkBytesArrived(static_cast<std::size_t>(count));
}

void StreamReceiver::Feed(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const std::size_t room = kChunkSize - fill_;
    const std::size_t count = size < room ? size : room;
    std::memcpy(chunk_ + fill_, data, count);
    data += count;
    size -= count;
    ChunkBytesArrived(count);
  }
}

void StreamReceiver::ChunkBytesArrived(std::size_t count) {
  fill_ += count;
  if (fill_ < kChunkSize) return;
  sink_->OnStreamBytes(static_cast<uint32_t>(kChunkSize));
  fill_ = 0;  // Resynchronise may keep some bytes instead
  HandleChunk();
}

void StreamReceiver::HandleChunk() {
  const uint8_t* chunk = chunk_;
  if (audio_pending_) {
    AudioSlot& slot = audio_[audio_index_];
    {
      std::lock_guard lock(slot.lock);
      std::memcpy(slot.buffer + kAudioFirstHalf, chunk, kAudioSecondHalf);
      slot.length = static_cast<uint32_t>(kAudioPayloadSize);
    }
    audio_pending_ = false;
    audio_index_ = (audio_index_ + 1) & (kAudioSlots - 1);
    sink_->OnAudioBlock(slot);
    return;
  }
  if (chunk[0] == kVideoMark0) {
    HandleVideoChunk();
    return;
  }
  if (chunk[6] == kAudioMarker6 && chunk[7] == kAudioMarker7) {
    AudioSlot& slot = audio_[audio_index_];
    std::lock_guard lock(slot.lock);
    std::memcpy(slot.buffer, chunk + kPacketHeaderSize, kAudioFirstHalf);
    slot.length = 0;  // incomplete until the second half is stored
    audio_pending_ = true;
    return;
  }
  Resynchronise();
}

void StreamReceiver::HandleVideoChunk() {
  const uint8_t* chunk = chunk_;
  const uint32_t now = tick_();
  sink_->OnStreamGap(now - last_tick_);

  const bool restart = (chunk[kRestartOffset] & kRestartBit) != 0;
  const uint8_t* info = chunk + kInfoOffset;
  latest_info_.time = RecTime::FromHeader(info);
  latest_info_.rate_code = info[6];
  latest_info_.channel_set = info[7];
  sink_->OnStreamHeader(latest_info_.time, latest_info_.rate_code, latest_info_.channel_set);

  std::memcpy(assembly_.get() + assembly_length_, chunk + kVideoHeaderSize, kVideoPayload);
  assembly_length_ += kVideoPayload;

  if (restart || assembly_length_ > kAssemblyGuard) AbandonFrame();

  const std::ptrdiff_t found = FindFrameStartCode(assembly_.get(), assembly_length_);

  if (!in_frame_) {
    if (found < 0) {
      KeepAssemblyTail();
      last_tick_ = tick_();
      return;
    }
    StartFrame(static_cast<std::size_t>(found));
  } else if (found < 0) {
    FrameSlot& slot = frames_[frame_index_];
    const std::size_t count = assembly_length_ - kTailKept;
    if (slot.write_pos + count > FrameSlot::kCapacity) {
      // The frame would outgrow its slot: drop it like a frame restart.
      AbandonFrame();
      KeepAssemblyTail();
      return;
    }
    {
      std::lock_guard lock(slot.lock);
      std::memcpy(slot.buffer + slot.write_pos, assembly_.get(), count);
      slot.write_pos += static_cast<uint32_t>(count);
    }
    KeepAssemblyTail();
  } else {
    const auto start = static_cast<std::size_t>(found);
    FrameSlot& slot = frames_[frame_index_];
    if (slot.write_pos + start > FrameSlot::kCapacity) {
      // The end of the frame does not fit: drop it and start the next one in
      // the same slot.
      AbandonFrame();
      StartFrame(start);
    } else {
      {
        std::lock_guard lock(slot.lock);
        std::memcpy(slot.buffer + slot.write_pos, assembly_.get(), start);
        slot.write_pos += static_cast<uint32_t>(start);
        slot.length = slot.write_pos;
      }
      sink_->OnVideoFrame(slot, frame_info_.time, frame_info_.rate_code, frame_info_.channel_set);
      frame_index_ = (frame_index_ + 1) & (kFrameSlots - 1);
      StartFrame(start);
    }
  }
  in_frame_ = true;
  last_tick_ = tick_();
}

void StreamReceiver::StartFrame(std::size_t start) {
  FrameSlot& slot = frames_[frame_index_];
  // The last three bytes stay in the assembly buffer, as when no start code
  // is found: they may be the beginning of the next frame's start code, split
  // across this chunk and the next. (start <= length - 4, so at least one
  // byte of the start code goes into the slot and the code is not found
  // again.)
  const std::size_t count = assembly_length_ - start - kTailKept;
  {
    std::lock_guard lock(slot.lock);
    slot.write_pos = 0;
    slot.length = 0;
    std::memcpy(slot.buffer, assembly_.get() + start, count);
    slot.write_pos = static_cast<uint32_t>(count);
  }
  KeepAssemblyTail();
  frame_info_ = latest_info_;
}

void StreamReceiver::AbandonFrame() {
  in_frame_ = false;
  sink_->OnFrameRestart();
  last_tick_ = tick_();
}

void StreamReceiver::KeepAssemblyTail() {
  if (assembly_length_ <= kTailKept) return;
  std::memmove(assembly_.get(), assembly_.get() + assembly_length_ - kTailKept, kTailKept);
  assembly_length_ = kTailKept;
}

void StreamReceiver::Resynchronise() {
  in_frame_ = false;
  // Bytes held for a start code across chunks do not continue into whatever
  // follows the lost data.
  assembly_length_ = 0;
  const uint8_t* p = chunk_ + 1;
  const uint8_t* const last = chunk_ + kChunkSize - 1;  // the pair must end at or before it
  while (p < last) {
    p = static_cast<const uint8_t*>(
        std::memchr(p, kVideoMark0, static_cast<std::size_t>(last - p)));
    if (p == nullptr) break;
    if (p[1] == kVideoMark1) {
      const auto offset = static_cast<std::size_t>(p - chunk_);
      std::memmove(chunk_, p, kChunkSize - offset);
      fill_ = kChunkSize - offset;
      return;
    }
    ++p;
  }
  if (chunk_[kChunkSize - 1] == kVideoMark0) {
    chunk_[0] = kVideoMark0;
    fill_ = 1;
    return;
  }
  fill_ = 0;
}

}  // namespace rd
