// The client's live path against the emulated DVR in the same process: the
// stream at 30 frames/s over four channels with audio, received, decoded and
// composited by RcCtrlMain and its image handler, with the 33 ms refresh on
// the calling thread.
//
// Counters (per second of stream):
//   client_cpu_pct  CPU of the client's threads (stream receiver thread, display
//                   thread, refresh on the calling thread) in % of one core;
//                   the emulator's own threads are not counted. Goal <= 10 %.
//   lat_p50_ms, lat_p95_ms, lat_max_ms  from the frame's hand-over by the
//                   receiver (its last chunk read) to its picture in the
//                   composite. Goal p95 <= 3 ms (QueueFrame wakes the
//                   display thread; it used to poll every 16 ms).
//   fps             frames composited per second.

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "client/engine/rcctrlmain.h"
#include "tools/dvrsim/DvrSim.h"

namespace {

double ThreadCpuSeconds(pthread_t t) {
  clockid_t id;
  if (pthread_getcpuclockid(t, &id) != 0) return 0;
  timespec ts{};
  clock_gettime(id, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double OwnCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

class NullWindow : public rd::RcWindow, public rd::DisplayTarget {
 public:
  void Post(uint32_t, uintptr_t, intptr_t) override {}
  void Send(uint32_t, uintptr_t, intptr_t) override {}
  void Present(const QImage&) override {}
};

// Remembers the stream receiver's thread.
class ProbedMain : public rd::RcCtrlMain {
 public:
  void OnStreamConnect(int error) override {
    stream_thread = pthread_self();
    have_stream_thread = true;
    rd::RcCtrlMain::OnStreamConnect(error);
  }
  pthread_t stream_thread{};
  std::atomic<bool> have_stream_thread{false};
};

void BM_LivePath(benchmark::State& state) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("RD_AUDIO_DEVICE", "null", 0);
  static int argc = 1;
  static char name[] = "bench_live_path";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
  const auto stream_seconds = std::chrono::seconds(state.range(0));

  for (auto _ : state) {
    auto dir = std::filesystem::temp_directory_path() / "rd_bench_live";
    std::filesystem::create_directories(dir);
    rd::sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.quiet = true;
    o.fps = 30;
    o.audio = true;
    o.disk = (dir / "dvr.img").string();
    o.disk_size = 64ull << 20;
    rd::sim::DvrSim dvr(o);
    std::string error;
    if (!dvr.Start(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    NullWindow win;
    ProbedMain main;
    main.RegisterWindow(&win);
    main.SetDisplayTarget(&win);
    std::mutex mu;
    std::vector<double> latencies;
    pthread_t display_thread{};
    std::atomic<bool> have_display{false};
    main.ImageHandler().SetLatencyProbe([&](std::chrono::nanoseconds d) {
      if (!have_display.exchange(true)) display_thread = pthread_self();
      std::lock_guard lock(mu);
      latencies.push_back(d.count() / 1e6);
    });
    main.SetPorts(static_cast<uint16_t>(dvr.control_port()),
                  static_cast<uint16_t>(dvr.stream_port()));
    const uint8_t password[6] = {1, 2, 3, 4, 5, 6};
    main.Connect("127.0.0.1", password);
    // Warm-up: session open and frames flowing.
    const auto warm_end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < warm_end &&
           !(have_display.load() && main.have_stream_thread.load() &&
             main.ImageHandler().FramesHandled() > 30))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!have_display.load() || !main.have_stream_thread.load()) {
      state.SkipWithError("no live frames");
      return;
    }
    {
      std::lock_guard lock(mu);
      latencies.clear();
    }
    const uint64_t frames0 = main.ImageHandler().FramesHandled();
    const double stream0 = ThreadCpuSeconds(main.stream_thread);
    const double display0 = ThreadCpuSeconds(display_thread);
    double refresh_cpu = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto next = t0;
    while (std::chrono::steady_clock::now() - t0 < stream_seconds) {
      next += std::chrono::milliseconds(33);
      const double c0 = OwnCpuSeconds();
      main.Tick(4);
      refresh_cpu += OwnCpuSeconds() - c0;
      std::this_thread::sleep_until(next);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double stream_cpu = ThreadCpuSeconds(main.stream_thread) - stream0;
    const double display_cpu = ThreadCpuSeconds(display_thread) - display0;
    const uint64_t frames = main.ImageHandler().FramesHandled() - frames0;
    main.DisconnectStream();
    main.DisconnectControl();
    dvr.Stop();
    std::vector<double> lat;
    {
      std::lock_guard lock(mu);
      lat = latencies;
    }
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double p) {
      return lat.empty() ? 0.0
                         : lat[std::min(lat.size() - 1, static_cast<std::size_t>(p * lat.size()))];
    };
    state.counters["client_cpu_pct"] = (stream_cpu + display_cpu + refresh_cpu) / wall * 100.0;
    state.counters["stream_thread_pct"] = stream_cpu / wall * 100.0;
    state.counters["display_thread_pct"] = display_cpu / wall * 100.0;
    state.counters["refresh_pct"] = refresh_cpu / wall * 100.0;
    state.counters["fps"] = frames / wall;
    state.counters["lat_p50_ms"] = pct(0.50);
    state.counters["lat_p95_ms"] = pct(0.95);
    state.counters["lat_max_ms"] = lat.empty() ? 0.0 : lat.back();
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_LivePath)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
