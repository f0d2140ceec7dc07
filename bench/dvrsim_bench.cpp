// Cost of the emulated DVR: CPU share of its threads while it streams four
// cameras (live-encoded test cards, partial frames, audio) to a reader on
// loopback, and the speed of make-disk against real time.
//
//   build/release/bench/bench_dvrsim
// Counters: cpu_pct = CPU time of the emulator's threads / wall time (one core
// = 100), fps = frames sent per second, x_realtime = recorded seconds per
// second of make-disk.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/MakeDisk.h"

namespace {

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool OpenSession(int fd) {
  const uint8_t open[] = {0xF5, 6, 16, 0, 1, 2, 3, 4, 5, 6};
  if (send(fd, open, sizeof open, 0) != sizeof open) return false;
  uint8_t r[5];
  std::size_t got = 0;
  while (got < 5) {
    ssize_t n = recv(fd, r + got, 5 - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  if (r[2] != 64) return false;
  const uint8_t answer[] = {0xF5, 0, 18, static_cast<uint8_t>(r[4] ^ 0x6E)};
  return send(fd, answer, sizeof answer, 0) == sizeof answer;
}

// Streams for 10 s; state.range(0) = frames/s of the multiplexed stream.
void BM_StreamFourChannels(benchmark::State& state) {
  rd::sim::SimOptions o;
  o.control_port = 0;
  o.stream_port = 0;
  o.fps = static_cast<double>(state.range(0));
  o.quiet = true;
  for (auto _ : state) {
    rd::sim::DvrSim sim(o);
    std::string err;
    if (!sim.Start(&err)) {
      state.SkipWithError(err.c_str());
      return;
    }
    int c = Connect(sim.control_port());
    int s = Connect(sim.stream_port());
    if (c < 0 || s < 0 || !OpenSession(c)) {
      state.SkipWithError("cannot open a session");
      return;
    }
    const double cpu0 = CpuSeconds(RUSAGE_SELF), mine0 = CpuSeconds(RUSAGE_THREAD);
    const uint64_t frames0 = sim.frames_sent();
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> buf(1 << 16);
    std::size_t bytes = 0;
    while (std::chrono::steady_clock::now() - t0 < std::chrono::seconds(10)) {
      pollfd p{s, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        ssize_t n = recv(s, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        bytes += static_cast<std::size_t>(n);
      }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = (CpuSeconds(RUSAGE_SELF) - cpu0) - (CpuSeconds(RUSAGE_THREAD) - mine0);
    state.SetIterationTime(wall);
    state.counters["cpu_pct"] = 100.0 * cpu / wall;
    state.counters["fps"] = static_cast<double>(sim.frames_sent() - frames0) / wall;
    state.counters["MBps"] = static_cast<double>(bytes) / wall / 1e6;
    close(c);
    close(s);
    sim.Stop();
  }
}
BENCHMARK(BM_StreamFourChannels)
    ->Arg(30)
    ->Arg(120)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_MakeDisk(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() / "bench_dvrsim_make_disk.img";
  for (auto _ : state) {
    rd::sim::MakeDiskOptions o;
    o.out = path.string();
    o.size = 256ull << 20;
    o.duration_s = 120;
    o.start = *rd::sim::ParseCalendarTime("2024-05-01 12:00:00");
    rd::sim::MakeDiskResult r;
    std::string err;
    const auto t0 = std::chrono::steady_clock::now();
    if (!rd::sim::MakeDisk(o, nullptr, &r, &err)) {
      state.SkipWithError(err.c_str());
      return;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["x_realtime"] = static_cast<double>(r.seconds) / wall;
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_MakeDisk)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
