// Stream receiver throughput: MB/s of 2048-byte chunks reassembled into frames
// on one core, against copying the same bytes once (the floor any receiver
// pays), and frames/s end to end from a loopback stream server.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "client/engine/stream/StreamReceiver.h"

namespace {

using rd::StreamReceiver;
using Bytes = std::vector<uint8_t>;

// Frames of 8-40 KB (a typical MJPEG picture of the DVR), random bodies with
// no start code inside, cut into video chunks with an audio packet after every
// 16th video chunk.
Bytes MakeStream(std::size_t total_bytes, std::size_t* frame_count) {
  std::mt19937 rng(1);
  Bytes es;
  *frame_count = 0;
  while (es.size() < total_bytes / 2048 * StreamReceiver::kVideoPayload) {
    const std::size_t size = 8000 + rng() % 32000;
    const std::size_t at = es.size();
    es.insert(es.end(), {0x00, 0x00, 0x01, 0xF8, 0x84});
    for (std::size_t i = 5; i < size; ++i) es.push_back(static_cast<uint8_t>(rng()));
    for (std::size_t i = at + 4; i + 3 < es.size(); ++i) {
      if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xF8) es[i + 3] = 0xF9;
    }
    ++*frame_count;
  }
  Bytes out;
  std::size_t chunk = 0;
  for (std::size_t pos = 0; pos + StreamReceiver::kVideoPayload <= es.size();
       pos += StreamReceiver::kVideoPayload, ++chunk) {
    uint8_t header[20] = {0xF7, 0x7D};
    header[12] = 24;
    header[13] = 5;
    header[14] = 1;
    header[19] = 0x0F;
    out.insert(out.end(), header, header + 20);
    out.insert(out.end(), es.begin() + static_cast<std::ptrdiff_t>(pos),
               es.begin() + static_cast<std::ptrdiff_t>(pos + StreamReceiver::kVideoPayload));
    if (chunk % 16 == 15) {
      Bytes audio(4096, 0x55);
      audio[0] = 0x98;
      audio[6] = 0xF1;
      audio[7] = 0xF2;
      out.insert(out.end(), audio.begin(), audio.end());
    }
  }
  return out;
}

const Bytes& Stream() {
  static std::size_t frames = 0;
  static const Bytes stream = MakeStream(32u << 20, &frames);
  return stream;
}

struct CountingSink : rd::EngineEvents {
  void OnVideoFrame(rd::FrameSlot& slot, const rd::RecTime&, uint8_t, uint8_t) override {
    ++frames;
    bytes += slot.Length();
  }
  void OnAudioBlock(rd::AudioSlot&) override { ++audio; }
  uint64_t frames = 0, bytes = 0, audio = 0;
};

// The receiver fed in reads of `read` bytes (a socket read returns whatever has
// arrived; 1448 is one TCP segment on Ethernet).
void BM_ReceiverChunks(benchmark::State& state) {
  const Bytes& stream = Stream();
  const auto read = static_cast<std::size_t>(state.range(0));
  CountingSink sink;
  StreamReceiver rx;
  rx.SetSink(&sink);
  for (auto _ : state) {
    for (std::size_t pos = 0; pos < stream.size(); pos += read) {
      rx.Feed(stream.data() + pos, std::min(read, stream.size() - pos));
    }
    benchmark::DoNotOptimize(sink.frames);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(sink.frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiverChunks)->Arg(1448)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);

// Baseline: one copy of the same bytes in the same read sizes.
void BM_CopyBaseline(benchmark::State& state) {
  const Bytes& stream = Stream();
  const auto read = static_cast<std::size_t>(state.range(0));
  Bytes sink(65536);
  for (auto _ : state) {
    for (std::size_t pos = 0; pos < stream.size(); pos += read) {
      std::memcpy(sink.data(), stream.data() + pos, std::min(read, stream.size() - pos));
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_CopyBaseline)->Arg(2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
