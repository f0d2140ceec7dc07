#pragma once
// Shared by the window tests: a QApplication on the offscreen platform with
// the windows' fonts and style (a GoogleTest environment), waiting on a
// condition while the Qt event loop runs, and the emulated DVR in-process on
// free loopback ports, with helpers to bring a control main to an open
// session against it.

#include <gtest/gtest.h>

#include <QApplication>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/dvrsim/DvrSim.h"

namespace rd {
class RcCtrlMain;
}

namespace rdtest {

// The QApplication of a test program: registered by including this header.
// Sets QT_QPA_PLATFORM=offscreen and RD_AUDIO_DEVICE=null unless already set.
::testing::Environment* NewQtAppEnvironment();
inline ::testing::Environment* const kQtAppEnvironment =
    ::testing::AddGlobalTestEnvironment(NewQtAppEnvironment());

// Runs the Qt event loop until `done` holds or `timeout` passes; returns the
// last value of `done`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the event loop for posted events only (no waiting).
void PumpPosted();

// The emulated DVR on 127.0.0.1, free ports, a small disk image in a folder
// of its own; its log (every control message received and sent) in log().
// `quad`: it records in QUAD mode and streams its quad picture.
class LiveDvr {
 public:
  explicit LiveDvr(std::vector<rd::sim::Scenario> scenarios = {}, bool pal = false,
                   bool quad = false);
  ~LiveDvr();
  LiveDvr(const LiveDvr&) = delete;
  LiveDvr& operator=(const LiveDvr&) = delete;

  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  uint16_t control_port() const;
  uint16_t stream_port() const;
  rd::sim::DvrSim& sim() { return *sim_; }
  void Stop();
  // The lines of the emulator's log so far.
  std::vector<std::string> LogLines() const;
  // Requests of `type` the emulator received ("RX type ...").
  int Received(int type) const;
  // Their payloads as hex text, in order.
  std::vector<std::string> ReceivedPayloads(int type) const;

  static const uint8_t kPassword[6];

 private:
  std::filesystem::path dir_;
  std::unique_ptr<rd::sim::DvrSim> sim_;
  bool started_ = false;
  std::string error_;
};

// Connects `main` to `dvr` and runs the event loop until the session is open
// (state 3) with settings and status in the cache.
bool ConnectSession(rd::RcCtrlMain& main, LiveDvr& dvr,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace rdtest
