// Arbitrary bytes on the stream connection, delivered in reads of arbitrary
// sizes. The first two input bytes seed the read sizes; the rest is the
// stream. Every reported frame and audio block is read in full so that an
// out-of-bounds length shows.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "client/engine/stream/StreamReceiver.h"

namespace {

struct CheckingSink : rd::EngineEvents {
  void OnVideoFrame(rd::FrameSlot& slot, const rd::RecTime&, uint8_t, uint8_t) override {
    std::lock_guard lock(slot.Lock());
    if (slot.Length() < 4 || slot.Length() > rd::FrameSlot::kCapacity) std::abort();
    const uint8_t* d = slot.Data();
    // A frame starts with its start code.
    if (d[0] != 0 || d[1] != 0 || d[2] != 1 || d[3] != 0xF8) std::abort();
    for (uint32_t i = 0; i < slot.Length(); ++i) sum += d[i];
  }
  void OnAudioBlock(rd::AudioSlot& slot) override {
    if (slot.Length() != rd::kAudioPayloadSize) std::abort();
    for (uint32_t i = 0; i < slot.Length(); ++i) sum += slot.Data()[i];
  }
  uint64_t sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t state = static_cast<uint32_t>(data[0]) << 8 | data[1];
  data += 2;
  size -= 2;
  static CheckingSink sink;
  // One receiver for the whole run (its 8 MiB of slots are made once); every
  // input starts a new stream on it.
  static rd::StreamReceiver* rx = [] {
    auto* r = new rd::StreamReceiver();
    r->SetSink(&sink);
    return r;
  }();
  rx->ResetStream();
  std::size_t pos = 0;
  while (pos < size) {
    state = state * 1103515245u + 12345u;
    std::size_t read = 1 + (state >> 16) % 4100;
    if (read > size - pos) read = size - pos;
    rx->Feed(data + pos, read);
    pos += read;
  }
  return 0;
}
