// dvrsim: the emulated DVR. See SimUsage() (dvrsim --help) for the options.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "rd/Version.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/MakeDisk.h"
#include "tools/dvrsim/SimConfig.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop = true;
}

int RunMakeDisk(const std::vector<std::string>& args) {
  rd::sim::MakeDiskOptions o;
  bool help = false;
  std::string error;
  if (!rd::sim::ParseMakeDiskArgs(args, &o, &help, &error)) {
    std::fprintf(stderr, "dvrsim make-disk: %s\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(rd::sim::MakeDiskUsage(), stdout);
    return 0;
  }
  rd::sim::MakeDiskResult r;
  const auto t0 = std::chrono::steady_clock::now();
  if (!rd::sim::MakeDisk(o, o.quiet ? nullptr : &std::cerr, &r, &error)) {
    std::fprintf(stderr, "dvrsim make-disk: %s\n", error.c_str());
    return 1;
  }
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf(
      "%s: %llu s recorded, %llu frames, %llu audio packets, %llu packets written, next packet "
      "%llu%s (%.1f s)\n",
      o.out.c_str(), static_cast<unsigned long long>(r.seconds),
      static_cast<unsigned long long>(r.frames), static_cast<unsigned long long>(r.audio_packets),
      static_cast<unsigned long long>(r.packets), static_cast<unsigned long long>(r.next_packet),
      r.wrapped ? ", wrapped" : "", took);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("dvrsim %s\n", rd::kVersion);
    return 0;
  }
  if (!args.empty() && args[0] == "make-disk")
    return RunMakeDisk(std::vector<std::string>(args.begin() + 1, args.end()));

  rd::sim::SimOptions o;
  bool help = false;
  std::string error;
  if (!rd::sim::ParseSimArgs(args, &o, &help, &error)) {
    std::fprintf(stderr, "dvrsim: %s\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(rd::sim::SimUsage(), stdout);
    return 0;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  rd::sim::DvrSim dvr(o);
  if (!dvr.Start(&error)) {
    std::fprintf(stderr, "dvrsim: %s\n", error.c_str());
    return 1;
  }
  std::printf("dvrsim listening control=%d stream=%d\n", dvr.control_port(), dvr.stream_port());
  if (!o.quiet) {
    std::printf("password %X%X%X%X%X%X, %s, %s, %s%s\n", o.password[0], o.password[1],
                o.password[2], o.password[3], o.password[4], o.password[5], o.pal ? "PAL" : "NTSC",
                o.quad ? "QUAD" : "EACH", o.audio ? "audio" : "no audio",
                o.disk.empty() ? ", temporary disk" : (", disk " + o.disk).c_str());
  }
  std::fflush(stdout);
  while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  dvr.Stop();
  if (!o.quiet)
    std::printf("dvrsim stopped: %llu frames sent, %llu frames recorded\n",
                static_cast<unsigned long long>(dvr.frames_sent()),
                static_cast<unsigned long long>(dvr.frames_recorded()));
  return 0;
}
