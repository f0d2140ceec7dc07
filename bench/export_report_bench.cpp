// SHA-256 of an export at window close: the report's hash (libcrypto) against
// libavutil's portable SHA-256 as the baseline, on the same 64 MiB buffer
// (about 75 s of an uncompressed screen AVI). The ratio counter of the
// libcrypto run is the baseline's time over its own.

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include <chrono>
#include <cstdint>
#include <vector>

#include "player/playback/ExportReport.h"

namespace {

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(64u << 20);
    uint32_t x = 12345;
    for (auto& b : d) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 24);
    }
    return d;
  }();
  return data;
}

double BaselineSeconds() {
  static const double seconds = [] {
    const auto& d = Data();
    AVSHA* ctx = av_sha_alloc();
    uint8_t digest[32];
    const auto t0 = std::chrono::steady_clock::now();
    av_sha_init(ctx, 256);
    av_sha_update(ctx, d.data(), d.size());
    av_sha_final(ctx, digest);
    const auto t1 = std::chrono::steady_clock::now();
    av_free(ctx);
    benchmark::DoNotOptimize(digest);
    return std::chrono::duration<double>(t1 - t0).count();
  }();
  return seconds;
}

void BM_Sha256Report(benchmark::State& state) {
  const auto& d = Data();
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    auto digest = rd::Sha256(d.data(), d.size());
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
  state.counters["speedup_vs_avutil"] = BaselineSeconds() / (total / state.iterations());
}
BENCHMARK(BM_Sha256Report)->Unit(benchmark::kMillisecond);

void BM_Sha256Avutil(benchmark::State& state) {
  const auto& d = Data();
  AVSHA* ctx = av_sha_alloc();
  uint8_t digest[32];
  for (auto _ : state) {
    av_sha_init(ctx, 256);
    av_sha_update(ctx, d.data(), d.size());
    av_sha_final(ctx, digest);
    benchmark::DoNotOptimize(digest);
  }
  av_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.size()));
}
BENCHMARK(BM_Sha256Avutil)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
