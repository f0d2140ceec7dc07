// The client window showing the live stream: rdclient's main window in this
// process, connected to the emulated DVR running as its own process (dvrsim,
// four channels at 30 frames/s with audio), with its timers, the image
// handler and the video widget painting. The Qt platform is the one of the
// environment (QT_QPA_PLATFORM; offscreen when there is no DISPLAY).
//
// Counters (per second of stream):
//   client_cpu_pct  CPU of this process (every client thread, painting
//                   included) in % of one core; the emulator runs apart and is
//                   not counted. Goal <= 5 %.
//   lat_p50_ms, lat_p95_ms, lat_max_ms  from a frame's hand-over by the
//                   stream receiver (its last chunk read) to the first paint of
//                   the video widget that shows it. Goal p95 <= 45 ms.
//   fps_composited  frames painted into the composite per second.
//   paints_per_s    paints of the video widget per second.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "client/ui/rdclientDlg.h"
#include "ui/DesktopStyle.h"
#include "ui/UiFonts.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// dvrsim as a child process on free ports.
class SimProcess {
 public:
  explicit SimProcess(const std::filesystem::path& dir) {
    const std::string program = std::string(RD_BINARY_DIR) + "/bin/dvrsim";
    const std::string out = (dir / "dvrsim.out").string();
    const std::string disk = (dir / "dvr.img").string();
    std::vector<std::string> args = {
        program, "--listen", "127.0.0.1", "--control-port", "0",   "--stream-port", "0", "--fps",
        "30",    "--disk",   disk,        "--disk-size",    "64M", "--quiet"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && Clock::now() < end && control_ == 0) {
      if (std::FILE* f = std::fopen(out.c_str(), "r")) {
        int c = 0, s = 0;
        if (std::fscanf(f, "dvrsim listening control=%d stream=%d", &c, &s) == 2) {
          control_ = static_cast<uint16_t>(c);
          stream_ = static_cast<uint16_t>(s);
        }
        std::fclose(f);
      }
      QThread::msleep(20);
    }
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  uint16_t control() const { return control_; }
  uint16_t stream() const { return stream_; }

 private:
  pid_t pid_ = -1;
  uint16_t control_ = 0, stream_ = 0;
};

// Runs the event loop as the program does: it sleeps until the next event.
void Pump(std::chrono::milliseconds d) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(d.count()), &loop, &QEventLoop::quit);
  loop.exec();
}

void BM_ClientWindow(benchmark::State& state) {
  if (std::getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("RD_AUDIO_DEVICE", "null", 0);
  rd::ui::InstallFontAliases();
  static int argc = 1;
  static char name[] = "bench_client_window";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  rd::ui::ApplyDesktopStyle();
  const auto stream_seconds = std::chrono::seconds(state.range(0));

  for (auto _ : state) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("rd_bench_window_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    SimProcess sim(dir);
    if (sim.control() == 0) {
      state.SkipWithError("dvrsim did not start");
      return;
    }
    rd::client::RdclientDlg::Options o;
    o.control_port = sim.control();
    o.stream_port = sim.stream();
    o.config_dir = dir.string();
    rd::client::RdclientDlg window(o);

    // Frames: queued (last chunk read) -> composited; paints: presented -> painted.
    std::mutex mu;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> frames, paints;
    bool measuring = false;
    window.Main().ImageHandler().SetLatencyProbe([&](std::chrono::nanoseconds d) {
      const auto now = Clock::now();
      std::lock_guard lock(mu);
      if (measuring) frames.emplace_back(now - d, now);
    });
    window.Video()->SetPaintProbe([&](Clock::time_point presented) {
      std::lock_guard lock(mu);
      if (measuring) paints.emplace_back(presented, Clock::now());
    });
    window.show();
    const uint8_t password[6] = {1, 2, 3, 4, 5, 6};
    window.ConnectTo("127.0.0.1", password);
    // Warm-up: session open, all four channels painting.
    const auto warm_end = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < warm_end && window.Main().ImageHandler().ChannelsShown() != 0x0F)
      Pump(std::chrono::milliseconds(20));
    Pump(std::chrono::seconds(1));
    if (window.Main().ImageHandler().ChannelsShown() != 0x0F) {
      state.SkipWithError("the four channels did not come");
      return;
    }
    const uint64_t shown0 = window.Main().ImageHandler().FramesShown();
    const uint64_t paints0 = window.Video()->Paints();
    {
      std::lock_guard lock(mu);
      measuring = true;
    }
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    Pump(std::chrono::duration_cast<std::chrono::milliseconds>(stream_seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    {
      std::lock_guard lock(mu);
      measuring = false;
    }
    const uint64_t shown = window.Main().ImageHandler().FramesShown() - shown0;
    const uint64_t painted = window.Video()->Paints() - paints0;
    window.CloseWindow();

    // Each frame: the first paint of a picture presented after it was composited.
    std::vector<double> lat;
    {
      std::lock_guard lock(mu);
      std::size_t p = 0;
      for (const auto& [queued, composited] : frames) {
        while (p < paints.size() && paints[p].first < composited) ++p;
        if (p == paints.size()) break;
        lat.push_back(std::chrono::duration<double, std::milli>(paints[p].second - queued).count());
      }
    }
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double q) {
      return lat.empty() ? 0.0
                         : lat[std::min(lat.size() - 1, static_cast<std::size_t>(q * lat.size()))];
    };
    state.counters["client_cpu_pct"] = cpu / wall * 100.0;
    state.counters["fps_composited"] = shown / wall;
    state.counters["paints_per_s"] = painted / wall;
    state.counters["lat_p50_ms"] = pct(0.50);
    state.counters["lat_p95_ms"] = pct(0.95);
    state.counters["lat_max_ms"] = lat.empty() ? 0.0 : lat.back();
    state.counters["frames_measured"] = static_cast<double>(lat.size());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
}
BENCHMARK(BM_ClientWindow)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
