#include "tests/support/QtTestSupport.h"

#include "tests/support/QtTestEnvironment.h"
#include "tests/support/SessionSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "client/engine/rcctrlmain.h"
#include "ui/DesktopStyle.h"
#include "ui/UiFonts.h"

namespace rdtest {

::testing::Environment* NewQtAppEnvironment() {
  return new BasicQtTestEnvironment<QApplication>(
      "rd_window_tests", [] { rd::ui::InstallFontAliases(); }, [] { rd::ui::ApplyDesktopStyle(); });
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() >= timeout.count()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents();
    QThread::msleep(1);
  }
  return true;
}

void PumpPosted() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

const uint8_t LiveDvr::kPassword[6] = {1, 2, 3, 4, 5, 6};

LiveDvr::LiveDvr(std::vector<rd::sim::Scenario> scenarios, bool pal, bool quad) {
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() /
         ("rd-livedvr-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(dir_);
  rd::sim::SimOptions o;
  o.listen = "127.0.0.1";
  o.control_port = 0;
  o.stream_port = 0;
  o.quiet = true;
  o.pal = pal;
  o.quad = quad;
  o.scenarios = std::move(scenarios);
  o.disk = (dir_ / "dvr.img").string();
  o.disk_size = 64ull << 20;
  o.log_file = (dir_ / "sim.log").string();
  sim_ = std::make_unique<rd::sim::DvrSim>(o);
  started_ = sim_->Start(&error_);
}

LiveDvr::~LiveDvr() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void LiveDvr::Stop() {
  if (sim_) sim_->Stop();
}

uint16_t LiveDvr::control_port() const {
  return static_cast<uint16_t>(sim_->control_port());
}
uint16_t LiveDvr::stream_port() const {
  return static_cast<uint16_t>(sim_->stream_port());
}

std::vector<std::string> LiveDvr::LogLines() const {
  std::ifstream in(dir_ / "sim.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int LiveDvr::Received(int type) const {
  const std::string needle = " RX " + std::to_string(type) + " ";
  int n = 0;
  for (const std::string& line : LogLines()) n += line.find(needle) != std::string::npos ? 1 : 0;
  return n;
}

std::vector<std::string> LiveDvr::ReceivedPayloads(int type) const {
  // "T RX type param length hex"
  const std::string needle = " RX " + std::to_string(type) + " ";
  std::vector<std::string> out;
  for (const std::string& line : LogLines()) {
    if (line.find(needle) == std::string::npos) continue;
    std::istringstream in(line);
    std::string time, rx, t, param, length, hex;
    in >> time >> rx >> t >> param >> length >> hex;
    out.push_back(hex);
  }
  return out;
}

bool ConnectSession(rd::RcCtrlMain& main, LiveDvr& dvr, std::chrono::milliseconds timeout) {
  main.SetPorts(dvr.control_port(), dvr.stream_port());
  return OpenSession(main, LiveDvr::kPassword, timeout,
                     [](const std::function<bool()>& done, std::chrono::milliseconds limit) {
                       return PumpUntil(done, limit);
                     });
}

}  // namespace rdtest
