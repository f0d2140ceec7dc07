#pragma once
// The chunk loader (module _file_loader): reads 2 MiB chunks (512 packets) of
// the recording area, and turns one chunk in stream order into a StreamBuffer:
// the MJPEG bytes of its video packets, the index of the frames found in them
// with their recording times, and the chunk's audio.
//
// Capacities hold whatever one chunk can carry: every packet may be an audio
// packet (512 audio packets and marks), and every four MJPEG bytes may begin
// a frame (523,264 frame records). All buffers are allocated once, with the
// loader; the frame records are zero pages until a chunk uses them.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/disk/SectorDevice.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

struct FrameRecord {
  uint32_t start = 0;      // offset of the frame's start code in the MJPEG bytes
  uint32_t length = 0;     // bytes up to the next frame's start code
  RecTime time;            // of the video packet holding the start code
  uint8_t rate = 0;        // RateCode of that packet
  uint8_t audio_flag = 0;  // an audio packet was interleaved within this frame
};

// A fixed array of frame records, zero-initialised and allocated once.
class FrameRecords {
 public:
  explicit FrameRecords(std::size_t count)
      : records_(static_cast<FrameRecord*>(std::calloc(count, sizeof(FrameRecord)))),
        count_(records_ ? count : 0) {}
  FrameRecords(const FrameRecords&) = delete;
  FrameRecords& operator=(const FrameRecords&) = delete;
  std::size_t size() const { return count_; }
  FrameRecord& operator[](std::size_t i) { return records_.get()[i]; }
  const FrameRecord& operator[](std::size_t i) const { return records_.get()[i]; }

 private:
  struct Free {
    void operator()(FrameRecord* p) const { std::free(p); }
  };
  std::unique_ptr<FrameRecord, Free> records_;
  std::size_t count_;
};

struct StreamBuffer {
  static constexpr std::size_t kMjpegBytesPerChunk = kChunkPackets * kVideoPayloadSize;
  static constexpr std::size_t kMjpegCapacity = kMjpegBytesPerChunk + 262'144;
  static constexpr std::size_t kMaxAudioPackets = kChunkPackets;
  static constexpr std::size_t kAudioCapacity = kMaxAudioPackets * kAudioPayloadSize;
  static constexpr std::size_t kMaxFrames = kMjpegBytesPerChunk / kFrameStartCode.size();
  static constexpr std::size_t kMaxAudioMarks = kMaxAudioPackets;

  StreamBuffer() : mjpeg(kMjpegCapacity), audio(kAudioCapacity), frames(kMaxFrames) {}

  std::vector<uint8_t> mjpeg;  // kMjpegCapacity bytes
  uint32_t mjpeg_length = 0;
  uint32_t frame_count = 0;
  std::vector<uint8_t> audio;  // kAudioCapacity bytes
  uint32_t audio_length = 0;
  uint32_t audio_remaining = 0;
  uint32_t audio_packet_count = 0;
  FrameRecords frames;
  std::array<uint32_t, kMaxAudioMarks> audio_marks{};
  uint32_t frames_per_audio_packet = 0;
  // Packet of the chunk holding each video packet's payload, by video
  // ordinal (the MJPEG offset / payload size): where a frame lies on the disk.
  std::array<uint16_t, kChunkPackets> video_packets{};
  // MJPEG offset of the frame the index left open (its end lies in the next
  // chunk), or -1 when the chunk had no start code.
  int64_t open_frame_start = -1;

  // Channel code of frame i (low 3 bits of the byte after its start code),
  // or 7 (undefined) when i is not a record or the byte lies beyond the buffer.
  uint8_t ChannelOf(std::size_t i) const;
  // The full-frame flag of frame i (false when i is not a record).
  bool IsFullFrame(std::size_t i) const;
  // Channel code of the open frame, 7 when there is none or its header byte
  // lies beyond the chunk.
  uint8_t OpenFrameChannel() const;
  // Packet of the chunk (0..511) holding the MJPEG byte at `at`.
  uint32_t PacketOf(uint32_t at) const;
  // Audio packets of the chunk interleaved before the MJPEG offset `at`.
  uint32_t AudioPacketsBefore(uint32_t at) const;
};

class ChunkLoader {
 public:
  // Receives the text of each message box a failed open or read would show.
  using BoxTextSink = std::function<void(const std::string& text)>;

  explicit ChunkLoader(DeviceOpener opener = OpenSectorDevice);

  void set_box_text_sink(BoxTextSink sink) { box_text_sink_ = std::move(sink); }

  // Opens the device (closing an open one first); false after showing
  // "File Open Error".
  bool OpenSource(const std::string& device_path);
  bool is_open() const { return device_ != nullptr; }
  // Reads the chunk at byte `position` of the recording area into `chunk`
  // (kChunkBytes), but never past `area_bytes`: near the end of the area only
  // the packets inside it are read. Returns the bytes read (a whole number of
  // packets), 0 on failure or when `position` is not inside the area.
  std::size_t ReadChunk(uint64_t position, uint64_t area_bytes, uint8_t* chunk);
  void Reset();  // closes the handle

  // Splits the whole packets of `chunk` (stream order; `size` bytes, at most
  // one chunk) into MJPEG bytes, audio bytes and audio marks of buffer `fill`
  // and the per-chunk header arrays; updates the audio-present flag.
  void ParseChunk(const uint8_t* chunk, std::size_t size, int fill);
  // Builds the frame records and the frame count of buffer `fill`.
  void IndexFrames(int fill);

  StreamBuffer& buffer(int index) { return buffers_[index & 1]; }
  const StreamBuffer& buffer(int index) const { return buffers_[index & 1]; }

  bool audio_present() const { return audio_present_.load(std::memory_order_relaxed); }
  void set_audio_present(bool on) { audio_present_.store(on, std::memory_order_relaxed); }

  // Packet times / rates of the video packets of the last parse, by ordinal.
  const RecTime& packet_time(std::size_t v) const { return packet_times_[v % kChunkPackets]; }
  uint8_t packet_rate(std::size_t v) const { return packet_rates_[v % kChunkPackets]; }
  // MJPEG offset of the frame the last index left open (its end lies in the
  // next chunk), or -1 when the chunk had no start code.
  int64_t open_frame_start() const { return open_frame_start_; }

 private:
  void Message(const std::string& text) const {
    if (box_text_sink_) box_text_sink_(text);
  }

  DeviceOpener opener_;
  BoxTextSink box_text_sink_;
  std::unique_ptr<SectorDevice> device_;
  std::array<StreamBuffer, 2> buffers_;
  std::array<RecTime, kChunkPackets> packet_times_{};
  std::array<uint8_t, kChunkPackets> packet_rates_{};
  std::atomic<bool> audio_present_{false};
  int64_t open_frame_start_ = -1;
};

}  // namespace rd
