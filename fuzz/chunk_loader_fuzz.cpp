// Fuzz target for the chunk loader: any bytes as a chunk in stream order.
// The first input byte picks the form: bit 0 set tiles the rest of the input
// over 4 x (1 + bits 7..1) packets, up to the whole 2 MiB chunk (so short
// inputs reach the capacities: 512 packets, 400 frames, 64 audio packets);
// otherwise the rest is the chunk as it stands (any size, partial packets
// included). Every chunk is parsed
// into both buffers in turn, so the audio-present flag travels across chunks,
// and the first frames of each go through the playback's decoder bank (one
// decoder per channel code, in-sync flags) as the engine applies them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/playback/ChunkLoader.h"
#include "player/playback/DecoderBank.h"

namespace {

void Check(const rd::StreamBuffer& buf) {
  // The index must describe bytes inside the buffer.
  if (buf.frame_count > rd::StreamBuffer::kMaxFrames) __builtin_trap();
  if (buf.audio_packet_count > rd::StreamBuffer::kMaxAudioPackets) __builtin_trap();
  if (buf.audio_length != buf.audio_packet_count * rd::kAudioPayloadSize) __builtin_trap();
  for (uint32_t i = 0; i < buf.frame_count; ++i) {
    const auto& f = buf.frames[i];
    if (uint64_t{f.start} + f.length > buf.mjpeg_length) __builtin_trap();
    if (std::memcmp(buf.mjpeg.data() + f.start, rd::kFrameStartCode.data(), 4) != 0) {
      __builtin_trap();
    }
    (void)buf.ChannelOf(i);
    (void)buf.IsFullFrame(i);
    if (buf.AudioPacketsBefore(f.start) > buf.audio_packet_count) __builtin_trap();
  }
  if (buf.OpenFrameChannel() > 7) __builtin_trap();
}

// Decodes a few frames the way the engine does: full or half size, partial
// frames only when their channel is in sync, only full ones in fast play.
void Apply(const rd::StreamBuffer& buf, uint8_t selector) {
  static rd::DecoderBank* bank = new rd::DecoderBank;
  static std::vector<uint8_t>* output = new std::vector<uint8_t>(1 << 20);
  const uint32_t n = std::min<uint32_t>(buf.frame_count, 6);
  for (uint32_t i = 0; i < n; ++i) {
    const auto& f = buf.frames[i];
    const auto r = bank->Apply(buf.mjpeg.data() + f.start, f.length, (selector & 1) != 0,
                               output->data(), (selector & 2) != 0);
    if (r.outcome == rd::DecoderBank::Outcome::kDecoded && !bank->in_sync(r.code) &&
        bank->decoder(r.code).last_picture_end() != rd::mjpeg::PictureEnd::kFailed)
      __builtin_trap();  // a decoded picture that ended well puts its channel in sync
  }
  if (selector & 4) bank->MissedAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static rd::ChunkLoader* loader = new rd::ChunkLoader;
  static std::vector<uint8_t>* chunk = new std::vector<uint8_t>(rd::kChunkBytes);
  if (size == 0) return 0;
  const uint8_t form = data[0];
  const bool tile = (data[0] & 1) != 0;
  const std::size_t tiled = std::min(rd::kChunkBytes, (1u + (data[0] >> 1)) * 4 * rd::kPacketSize);
  ++data;
  --size;
  std::size_t length = 0;
  if (tile && size > 0) {
    for (std::size_t at = 0; at < tiled; at += size) {
      std::memcpy(chunk->data() + at, data, std::min(size, tiled - at));
    }
    length = tiled;
  } else {
    length = std::min(size, rd::kChunkBytes);
    std::memcpy(chunk->data(), data, length);
  }
  for (int fill = 0; fill < 2; ++fill) {
    loader->ParseChunk(chunk->data(), length, fill);
    loader->IndexFrames(fill);
    Check(loader->buffer(fill));
    Apply(loader->buffer(fill), static_cast<uint8_t>((form >> 4) + fill));
    // The disk form of the same bytes is as good an input as any.
    rd::PairSwap(chunk->data(), length);
  }
  return 0;
}
