// Stream receiver throughput: MB/s of 2048-byte chunks reassembled into frames
// on one core, against copying the same bytes once (the floor any receiver
// pays), and frames/s end to end from a loopback stream server.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "client/engine/rdcp/RdcpSession.h"
#include "client/engine/stream/StreamReceiver.h"
#include "tools/dvrsim/DvrSim.h"

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

struct AtomicSink : rd::EngineEvents {
  void OnCtrlConnect(int error) override { ctrl = error == 0 ? 1 : -1; }
  void OnVideoFrame(rd::FrameSlot& slot, const rd::RecTime&, uint8_t, uint8_t) override {
    std::lock_guard lock(slot.Lock());
    bytes += slot.Length();
    ++frames;
  }
  std::atomic<int> ctrl{0};
  std::atomic<uint64_t> frames{0}, bytes{0};
};

template <typename F>
bool Await(F done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// End to end: the emulated DVR captures as fast as it can (frame interval 0,
// four cameras), the receiver takes its stream over loopback; nothing is
// displayed. The emulator's encoder shares the machine, so this is a lower
// bound of what the receiver sustains.
void BM_DvrsimLoopback(benchmark::State& state) {
  rd::sim::SimOptions o;
  o.listen = "127.0.0.1";
  o.control_port = 0;
  o.stream_port = 0;
  o.quiet = true;
  o.fps = 10000;  // as fast as the emulator encodes
  rd::sim::DvrSim dvr(o);
  std::string error;
  if (!dvr.Start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  AtomicSink sink;
  rd::RdcpSession session;
  session.SetSink(&sink);
  session.Start();
  session.SetRemote("127.0.0.1", static_cast<uint16_t>(dvr.control_port()));
  const uint8_t password[6] = {1, 2, 3, 4, 5, 6};
  if (!Await([&] { return sink.ctrl != 0; }, std::chrono::seconds(10)) || sink.ctrl < 0 ||
      session.OpenSession(password) != 0 ||
      !Await([&] { return dvr.session_open(); }, std::chrono::seconds(10))) {
    state.SkipWithError("no control session with the emulator");
    return;
  }
  rd::StreamReceiver rx;
  rx.SetSink(&sink);
  rx.Start();
  rx.SetRemote("127.0.0.1", static_cast<uint16_t>(dvr.stream_port()));
  if (!Await([&] { return sink.frames > 0; }, std::chrono::seconds(10))) {
    state.SkipWithError("no frames from the emulator");
    return;
  }
  uint64_t frames = 0, bytes = 0;
  double seconds = 0;
  for (auto _ : state) {
    const uint64_t f0 = sink.frames, b0 = sink.bytes;
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    frames += sink.frames - f0;
    bytes += sink.bytes - b0;
    seconds += s;
  }
  rx.Stop();
  session.Stop();
  dvr.Stop();
  state.counters["frames/s"] = static_cast<double>(frames) / seconds;
  state.counters["MB/s"] = static_cast<double>(bytes) / seconds / 1e6;
  state.counters["frame_bytes"] = frames ? static_cast<double>(bytes) / frames : 0;
}
BENCHMARK(BM_DvrsimLoopback)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
