#include "player/playback/ChunkLoader.h"

#include <algorithm>
#include <cstring>

namespace rd {

namespace {
// More video packets than this in a row without an audio packet switch the
// audio-present flag off.
constexpr uint32_t kAudioSilencePackets = 256;
}  // namespace

// Every record fits: a chunk has no room for more start codes.
static_assert(StreamBuffer::kMaxFrames * kFrameStartCode.size() >=
              StreamBuffer::kMjpegBytesPerChunk);

// A record's header byte lies before its end, inside the MJPEG bytes; the
// bound is the buffer so that a caller that clears mjpeg_length after the
// index (a load that resets it) still reads the frames' bytes.
uint8_t StreamBuffer::ChannelOf(std::size_t i) const {
  if (i >= frame_count) return 7;
  const std::size_t at = std::size_t{frames[i].start} + kFrameStartCode.size();
  if (at >= mjpeg.size()) return 7;
  return FrameHeaderByte::Parse(mjpeg[at]).channel;
}

bool StreamBuffer::IsFullFrame(std::size_t i) const {
  if (i >= frame_count) return false;
  const std::size_t at = std::size_t{frames[i].start} + kFrameStartCode.size();
  return at < mjpeg.size() && FrameHeaderByte::Parse(mjpeg[at]).full_frame;
}

uint8_t StreamBuffer::OpenFrameChannel() const {
  if (open_frame_start < 0) return 7;
  const std::size_t at = static_cast<std::size_t>(open_frame_start) + kFrameStartCode.size();
  if (at >= mjpeg_length) return 7;
  return FrameHeaderByte::Parse(mjpeg[at]).channel;
}

uint32_t StreamBuffer::PacketOf(uint32_t at) const {
  return video_packets[std::min<std::size_t>(at / kVideoPayloadSize, kChunkPackets - 1)];
}

uint32_t StreamBuffer::AudioPacketsBefore(uint32_t at) const {
  const uint32_t marks = std::min<uint32_t>(audio_packet_count, kMaxAudioMarks);
  return static_cast<uint32_t>(
      std::lower_bound(audio_marks.begin(), audio_marks.begin() + marks, at) - audio_marks.begin());
}

ChunkLoader::ChunkLoader(DeviceOpener opener) : opener_(std::move(opener)) {}

bool ChunkLoader::OpenSource(const std::string& device_path) {
  device_.reset();
  std::string error;
  device_ = opener_(device_path, &error);
  if (!device_) {
    Message("File Open Error");
    return false;
  }
  return true;
}

std::size_t ChunkLoader::ReadChunk(uint64_t position, uint64_t area_bytes, uint8_t* chunk) {
  if (!device_ || position >= area_bytes) return 0;
  uint64_t size = std::min<uint64_t>(kChunkBytes, area_bytes - position);
  size -= size % kPacketSize;
  if (size == 0) return 0;
  const auto bytes = static_cast<std::size_t>(size);
  return device_->ReadAt(position, chunk, bytes) == bytes ? bytes : 0;
}

void ChunkLoader::Reset() {
  device_.reset();
}

void ChunkLoader::ParseChunk(const uint8_t* chunk, std::size_t size, int fill) {
  StreamBuffer& buf = buffer(fill);
  buf.mjpeg_length = 0;
  buf.audio_length = 0;
  buf.audio_packet_count = 0;
  buf.audio_remaining = 0;
  const std::size_t packets = std::min(size, kChunkBytes) / kPacketSize;
  uint32_t v = 0;
  uint32_t since_audio = 0;
  bool audio_present = audio_present_.load(std::memory_order_relaxed);
  uint8_t* mjpeg = buf.mjpeg.data();
  for (std::size_t i = 0; i < packets; ++i) {
    const uint8_t* packet = chunk + i * kPacketSize;
    if (ClassifyPacket(packet) == PacketKind::kAudio) {
      // At most one audio packet per packet of the chunk: always room.
      std::memcpy(buf.audio.data() + buf.audio_length, packet + kPacketHeaderSize,
                  kAudioPayloadSize);
      buf.audio_length += kAudioPayloadSize;
      buf.audio_marks[buf.audio_packet_count] = buf.mjpeg_length;
      ++buf.audio_packet_count;
      audio_present = true;
      since_audio = 0;
    } else {
      buf.video_packets[v] = static_cast<uint16_t>(i);
      packet_times_[v] = RecTime::FromHeader(packet);
      packet_rates_[v] = packet[6];
      ++v;
      std::memcpy(mjpeg + buf.mjpeg_length, packet + kPacketHeaderSize, kVideoPayloadSize);
      buf.mjpeg_length += static_cast<uint32_t>(kVideoPayloadSize);
      if (++since_audio > kAudioSilencePackets) {
        audio_present = false;
        since_audio = 0;
      }
    }
  }
  buf.audio_remaining = buf.audio_packet_count;
  audio_present_.store(audio_present, std::memory_order_relaxed);
}

void ChunkLoader::IndexFrames(int fill) {
  StreamBuffer& buf = buffer(fill);
  const uint8_t* data = buf.mjpeg.data();
  const std::size_t length = std::min<std::size_t>(buf.mjpeg_length, buf.mjpeg.size());
  const uint32_t marks = std::min<uint32_t>(buf.audio_packet_count,
                                            static_cast<uint32_t>(StreamBuffer::kMaxAudioMarks));
  std::size_t n = 0;
  uint32_t a = 0;
  // A start code 00 00 01 F8 at j: look for its 01 at j + 2, with j + 3 < length.
  std::size_t k = 2;
  while (k + 1 < length) {
    const void* hit = std::memchr(data + k, 0x01, length - 1 - k);
    if (!hit) break;
    k = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - data);
    if (data[k + 1] != 0xF8 || data[k - 1] != 0x00 || data[k - 2] != 0x00) {
      ++k;
      continue;
    }
    const std::size_t j = k - 2;
    k += 2;
    if (n > 0) {
      FrameRecord& prev = buf.frames[n - 1];
      prev.length = static_cast<uint32_t>(j - prev.start);
      if (a < marks && prev.start <= buf.audio_marks[a] && buf.audio_marks[a] < j) {
        prev.audio_flag = 1;
        ++a;
      } else {
        prev.audio_flag = 0;
      }
    }
    // Start codes are 4 bytes apart at least, so n stays below the capacity.
    FrameRecord& rec = buf.frames[n];
    rec.start = static_cast<uint32_t>(j);
    rec.length = 0;
    rec.audio_flag = 0;
    const std::size_t v = std::min(j / kVideoPayloadSize, kChunkPackets - 1);
    rec.time = packet_times_[v];
    rec.rate = packet_rates_[v];
    ++n;
  }
  // The last record found stays open: its end lies in the next chunk.
  open_frame_start_ = n > 0 ? static_cast<int64_t>(buf.frames[n - 1].start) : int64_t{-1};
  buf.open_frame_start = open_frame_start_;
  buf.frame_count = n > 0 ? static_cast<uint32_t>(n - 1) : 0;
}

}  // namespace rd
