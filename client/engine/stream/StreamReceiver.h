#pragma once
// The receive-only stream connection (DVR port 14338) and the reassembly of
// its 2048-byte chunks into MJPEG frames and audio blocks.
//
// Chunks:
//   video  F7 7D .. (12-byte network header, byte 10 bit 7 = frame restart),
//          bytes 12..19 the 8-byte 4K packet header of the video packet (the
//          chunk's "info": time, RateCode, ChannelSet), bytes 20..2047 the next
//          2028 bytes of the MJPEG elementary stream;
//   audio  a whole 4K audio packet in two consecutive chunks without a network
//          header: the first starts with the packet header (bytes 6..7 F1 F2)
//          and carries 2040 audio bytes, the second carries 1960 more.
// Anything else makes the receiver resynchronise on the next F7 7D pair.
//
// A frame runs from one start code 00 00 01 F8 to the next, so a frame is
// reported when the NEXT frame's start code arrives, with the info of the chunk
// in which its own start code was found. Only the first start code of a chunk
// is recognised.
//
// All callbacks run on the thread that delivers the bytes: the socket thread,
// or the caller of Feed(). Buffers are allocated once at construction; nothing
// is allocated while receiving.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "client/engine/net/EngineSocket.h"
#include "client/events/EngineEvents.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

// One reassembled MJPEG frame, from its start code on. The receiver takes the
// lock only while it writes into the slot and does NOT hold it during
// OnVideoFrame: the consumer takes the lock itself while it reads the slot.
// A slot is written again only after 31 further frames.
struct FrameSlot {
  static constexpr std::size_t kCapacity = 0x40001;

  const uint8_t* Data() const { return buffer; }
  uint32_t Length() const { return length; }
  std::mutex& Lock() { return lock; }

  std::mutex lock;
  uint8_t* buffer = nullptr;  // kCapacity bytes, owned by the receiver
  uint32_t write_pos = 0;     // bytes written so far
  uint32_t length = 0;        // frame length, set when the frame is complete
};

// One 4000-byte A-law block (0.5 s). The receiver takes the lock while it
// writes each half of the block (a lock is never held from one read to the
// next, so the stream may end between the halves); the length reads 0 until
// the block is complete. OnAudioBlock is raised without the lock; the callback
// reads the block directly. A slot is written again only after three further
// blocks.
struct AudioSlot {
  static constexpr std::size_t kCapacity = 4096;

  const uint8_t* Data() const { return buffer; }
  uint32_t Length() const { return length; }
  std::mutex& Lock() { return lock; }

  std::mutex lock;
  uint8_t buffer[kCapacity] = {};
  uint32_t length = 0;
};

class StreamReceiver : public EngineSocket {
 public:
  static constexpr uint16_t kDefaultPort = 14338;
  static constexpr std::size_t kChunkSize = 2048;
  static constexpr std::size_t kChunkBufferSize = 4096;
  static constexpr std::size_t kVideoHeaderSize = 20;  // network header + packet header
  static constexpr std::size_t kVideoPayload = kChunkSize - kVideoHeaderSize;  // 2028
  static constexpr std::size_t kInfoOffset = 12;
  static constexpr std::size_t kRestartOffset = 10;
  static constexpr uint8_t kRestartBit = 0x80;
  static constexpr uint8_t kVideoMark0 = 0xF7;
  static constexpr uint8_t kVideoMark1 = 0x7D;
  static constexpr std::size_t kAudioFirstHalf = 2040;   // packet bytes 8..2047
  static constexpr std::size_t kAudioSecondHalf = 1960;  // packet bytes 2048..4007
  static constexpr std::size_t kAssemblySize = 0x40000;
  static constexpr std::size_t kAssemblyGuard = 0x3F000;
  static constexpr int kFrameSlots = 32;
  static constexpr int kAudioSlots = 4;

  // The info of a video chunk: its 8-byte 4K packet header.
  struct ChunkInfo {
    RecTime time;
    uint8_t rate_code = 0;
    uint8_t channel_set = 0;
  };

  // Millisecond tick source; the default reads the steady clock.
  using TickFn = uint32_t (*)();

  StreamReceiver();
  ~StreamReceiver() override;

  // kNoSink when `sink` is null. Until a sink is set, reports go nowhere.
  EngineResult SetSink(EngineEvents* sink);
  // kReceiverAlreadyStarted; creates the socket (and its thread) when needed.
  // The owner then calls SetRemote(ip, 14338).
  EngineResult Start();
  // kReceiverNotStarted; closes the socket (its error is returned).
  EngineResult Stop();

  // Delivers bytes as socket reads would, in reads of at most the bytes missing
  // from the current chunk. Runs the same chunk handling as the socket path;
  // used where there is no socket (tests, fuzzing, benchmarks).
  void Feed(const uint8_t* data, std::size_t size);

  // Forgets the stream received so far (partial chunk, frame in progress,
  // pending audio half, slot indexes), as a new receiver would start. For a
  // socketless driver that reuses one receiver for many streams; not while a
  // socket thread delivers bytes.
  void ResetStream();

  // Socket callbacks (socket thread); public so that a socketless driver can
  // report a connect or a close in the same way.
  void OnConnect(int error) override;
  void OnClose(int error) override;
  void OnReceive(int error) override;

  void SetTickSource(TickFn tick) { tick_ = tick; }

  // Introspection for the owner's diagnostics and for tests.
  FrameSlot& frame_slot(int index) { return frames_[index & (kFrameSlots - 1)]; }
  AudioSlot& audio_slot(int index) { return audio_[index & (kAudioSlots - 1)]; }
  int frame_write_index() const { return frame_index_; }
  int audio_index() const { return audio_index_; }
  bool in_frame() const { return in_frame_; }
  bool audio_pending() const { return audio_pending_; }
  std::size_t fill() const { return fill_; }
  bool started() const { return started_; }
  const ChunkInfo& latest_info() const { return latest_info_; }

 private:
  void ChunkBytesArrived(std::size_t count);
  void HandleChunk();
  void HandleVideoChunk();
  void StartFrame(std::size_t start);
  void AbandonFrame();
  void KeepAssemblyTail();
  void Resynchronise();

  EngineEvents* sink_;
  bool started_ = false;
  TickFn tick_;

  alignas(64) uint8_t chunk_[kChunkBufferSize];
  std::size_t fill_ = 0;

  std::unique_ptr<uint8_t[]> assembly_;
  std::size_t assembly_length_ = 0;

  bool in_frame_ = false;
  std::unique_ptr<uint8_t[]> frame_memory_;
  FrameSlot frames_[kFrameSlots];
  int frame_index_ = 0;
  ChunkInfo frame_info_;
  ChunkInfo latest_info_;

  AudioSlot audio_[kAudioSlots];
  int audio_index_ = 0;
  bool audio_pending_ = false;

  uint32_t last_tick_ = 0;
};

// Offset of the first frame start code 00 00 01 F8 in data[0..size), or -1.
std::ptrdiff_t FindFrameStartCode(const uint8_t* data, std::size_t size);

}  // namespace rd
