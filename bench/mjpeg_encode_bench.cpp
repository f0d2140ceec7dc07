// MJPEG encoder speed on one core. The emulated DVR encodes four 640 x 224
// channels at 30 frames/s (120 frames/s in all) and must stay under half a
// core, so frames_per_s (per CPU second) must stay well above 240 with the
// test card rendering included (BM_RenderAndEncodeCard).

#include <benchmark/benchmark.h>

#include <vector>

#include "shared/stream/StreamPacket.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/TestPicture.h"

namespace {

using rd::MjpegEncoder;
using rd::YuvPicture;
using rd::mjpeg::VideoStandard;

const rd::RecTime kTime{26, 12, 9, 12, 0, 0};

void Report(benchmark::State& state, std::size_t bytes) {
  state.SetItemsProcessed(state.iterations());
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bytes_per_frame"] = static_cast<double>(bytes);
}

// Full frames of a natural picture at Q = state.range(0).
void BM_EncodeFullNatural(benchmark::State& state) {
  const YuvPicture picture = rd::MakeNaturalYuv(VideoStandard::kNtsc, 1);
  MjpegEncoder encoder;
  const int q = static_cast<int>(state.range(0));
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto frame = encoder.EncodeFull(picture, q, 0);
    bytes = frame.size();
    benchmark::DoNotOptimize(frame.data());
  }
  Report(state, bytes);
}
BENCHMARK(BM_EncodeFullNatural)->Arg(2)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

// Pre-rendered frames of a moving test card.
std::vector<YuvPicture> CardFrames(int channel, int count) {
  rd::TestCard card(channel, VideoStandard::kNtsc);
  std::vector<YuvPicture> frames(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rd::RecTime t = kTime;
    t.second = static_cast<uint8_t>(i / 30);
    card.Render(static_cast<uint64_t>(i), t, &frames[static_cast<std::size_t>(i)]);
  }
  return frames;
}

// Partial frames of the moving test card (ball, sweep bar, clock), Q 4.
void BM_EncodePartialMovingCard(benchmark::State& state) {
  const std::vector<YuvPicture> frames = CardFrames(2, 60);
  MjpegEncoder encoder;
  encoder.EncodeFull(frames[0], 4, 1);
  std::size_t i = 1, bytes = 0, count = 0;
  double coded = 0;
  for (auto _ : state) {
    auto frame = encoder.EncodePartial(frames[i], 4, 1);
    bytes += frame.size();
    coded += encoder.coded_macroblocks();
    ++count;
    benchmark::DoNotOptimize(frame.data());
    i = (i + 1) % frames.size();
  }
  Report(state, count ? bytes / count : 0);
  state.counters["coded_mbs"] = count ? coded / count : 0;
}
BENCHMARK(BM_EncodePartialMovingCard)->Unit(benchmark::kMillisecond);

// Partial frames of a natural picture in which a 64 x 48 object moves.
void BM_EncodePartialMovingObject(benchmark::State& state) {
  const YuvPicture base = rd::MakeNaturalYuv(VideoStandard::kNtsc, 1);
  std::vector<YuvPicture> frames(32, base);
  for (int f = 0; f < 32; ++f) {
    YuvPicture& p = frames[static_cast<std::size_t>(f)];
    int x0 = 100 + 12 * f, y0 = 60 + 2 * f;
    for (int y = y0; y < y0 + 48; ++y)
      for (int x = x0; x < x0 + 64; ++x) p.y[static_cast<std::size_t>(y) * p.width + x] = 230;
  }
  MjpegEncoder encoder;
  encoder.EncodeFull(frames[0], 4, 0);
  std::size_t i = 1, bytes = 0, count = 0;
  for (auto _ : state) {
    auto frame = encoder.EncodePartial(frames[i], 4, 0);
    bytes += frame.size();
    ++count;
    benchmark::DoNotOptimize(frame.data());
    i = (i + 1) % frames.size();
  }
  Report(state, count ? bytes / count : 0);
}
BENCHMARK(BM_EncodePartialMovingObject)->Unit(benchmark::kMillisecond);

// What the emulated DVR does per frame: render the card, then encode it
// (range(0): 1 = full frames, 0 = partial frames), Q 4.
void BM_RenderAndEncodeCard(benchmark::State& state) {
  rd::TestCard card(1, VideoStandard::kNtsc);
  MjpegEncoder encoder;
  YuvPicture picture(VideoStandard::kNtsc);
  const bool full = state.range(0) != 0;
  uint64_t frame_no = 0;
  std::size_t bytes = 0, count = 0;
  for (auto _ : state) {
    rd::RecTime t = kTime;
    t.second = static_cast<uint8_t>((frame_no / 30) % 60);
    card.Render(frame_no++, t, &picture);
    auto frame = full ? encoder.EncodeFull(picture, 4, 0) : encoder.EncodePartial(picture, 4, 0);
    bytes += frame.size();
    ++count;
    benchmark::DoNotOptimize(frame.data());
  }
  Report(state, count ? bytes / count : 0);
}
BENCHMARK(BM_RenderAndEncodeCard)->ArgName("full")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
