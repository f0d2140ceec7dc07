// Audio output and AVI export costs.
//
// Audio: CPU for one second of audio (two 4000-byte A-law blocks through
// PlayBlock, expansion and the device thread's write), and the hand-off
// latency from PlayBlock to the device accepting the samples. Runs on the
// device named by RD_AUDIO_DEVICE ("null" when unset).
//
// AVI: CPU per 640 x 436 frame for the uncompressed export and for MJPEG and
// FFV1, against the baseline of copying the frame once.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "shared/audio/AudioOutput.h"
#include "shared/avi/AviWriter.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 436;

std::vector<uint8_t> AlawBlock(int seed) {
  std::vector<uint8_t> b(4000);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(seed * 7 + i * 13);
  return b;
}

void WaitEmpty(const rd::AudioOutput& audio) {
  while (audio.QueuedBuffers() != 0) std::this_thread::yield();
}

void BM_ALawExpandOnly(benchmark::State& state) {
  // Expansion alone, one second of audio (8000 samples).
  auto block = AlawBlock(1);
  std::vector<int16_t> out(8000);
  for (auto _ : state) {
    for (int i = 0; i < 8000; ++i) out[i] = rd::ExpandALaw(block[i % 4000], 0.5f);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel("per second of audio");
}
BENCHMARK(BM_ALawExpandOnly);

void BM_AudioOneSecond(benchmark::State& state) {
  setenv("RD_AUDIO_DEVICE", "null", 0);
  rd::AudioOutput audio;
  if (const int r = audio.Open(8000, 16, nullptr); r != rd::kAudioOk) {
    state.SkipWithError(rd::AudioResultText(r));
    return;
  }
  std::vector<uint8_t> a = AlawBlock(1), b = AlawBlock(2);
  double handoff_sum_us = 0;
  double handoff_max_us = 0;
  int64_t blocks = 0;
  for (auto _ : state) {
    audio.PlayBlock(a.data(), a.size());
    audio.PlayBlock(b.data(), b.size());
    WaitEmpty(audio);  // both blocks written by the device thread
    const auto stats = audio.Stats();
    handoff_sum_us += std::chrono::duration<double, std::micro>(stats.last_handoff).count();
    handoff_max_us = std::chrono::duration<double, std::micro>(stats.max_handoff).count();
    ++blocks;
  }
  state.counters["handoff_us_mean"] = blocks ? handoff_sum_us / blocks : 0;
  state.counters["handoff_us_max"] = handoff_max_us;
  state.SetLabel("two 4000-byte blocks = 1 s of audio");
}
BENCHMARK(BM_AudioOneSecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_CopyFrameBaseline(benchmark::State& state) {
  std::vector<uint8_t> src(kW * kH * 3, 0x40), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyFrameBaseline);

void BM_AviExportFrame(benchmark::State& state, const char* compressor) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("rd_bench_" + std::to_string(::getpid()) + "_" + compressor + ".avi");
  rd::AviWriter writer;
  rd::FixedCompressorChooser chooser({compressor, 0, 0});
  writer.SetCompressorChooser(&chooser);
  if (writer.Create(file.string(), 24, kW, kH, rd::BitmapInfoHeader::Make24(kW, kH)) != 0) {
    state.SkipWithError("cannot create the export");
    return;
  }
  // A picture with some detail: gradients and a moving bar.
  std::vector<uint8_t> frame(kW * kH * 3);
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        uint8_t* p = &frame[(static_cast<std::size_t>(y) * kW + x) * 3];
        const bool bar = ((x + n * 4) / 32) % 8 == 0;
        p[0] = static_cast<uint8_t>(x / 3);
        p[1] = static_cast<uint8_t>(y / 2);
        p[2] = bar ? 255 : static_cast<uint8_t>((x + y) / 5);
      }
    }
    ++n;
    state.ResumeTiming();
    if (writer.AddVideoFrame(frame.data(), frame.size(), true) != 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
  writer.Release();
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  writer.Close();
  std::filesystem::remove(file);
}
BENCHMARK_CAPTURE(BM_AviExportFrame, uncompressed, "uncompressed")
    ->Iterations(300)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AviExportFrame, mjpeg, "mjpeg")
    ->Iterations(300)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AviExportFrame, ffv1, "ffv1")
    ->Iterations(100)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
