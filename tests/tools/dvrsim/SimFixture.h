#pragma once
// A running emulator with its log in a temporary folder, and helpers shared by
// the stream and scenario tests.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "SimPeer.h"
#include "tests/support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"

namespace simtest {

class SimFixture : public ::testing::Test {
 protected:
  void StartSim(rd::sim::SimOptions o = {}) {
    o.control_port = 0;
    o.stream_port = 0;
    o.log_file = (dir_ / "sim.log").string();
    o.quiet = true;
    sim_ = std::make_unique<rd::sim::DvrSim>(o);
    std::string err;
    ASSERT_TRUE(sim_->Start(&err)) << err;
    ASSERT_TRUE(control_.Connect(sim_->control_port()));
  }
  // Opens the session and connects the stream.
  void Connect() {
    ASSERT_TRUE(control_.OpenSession());
    ASSERT_TRUE(stream_.Connect(sim_->stream_port()));
  }
  std::string Log() {
    std::ifstream in(dir_ / "sim.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // "FRAME code len hash" lines of the log, in order.
  struct LoggedFrame {
    int code;
    std::size_t len;
    uint32_t hash;
  };
  std::vector<LoggedFrame> LoggedFrames() {
    std::vector<LoggedFrame> out;
    std::istringstream in(Log());
    std::string line;
    while (std::getline(in, line)) {
      double t;
      char word[16];
      LoggedFrame f{};
      unsigned hash = 0;
      if (std::sscanf(line.c_str(), "%lf %15s %d %zu %x", &t, word, &f.code, &f.len, &hash) == 5 &&
          std::string(word) == "FRAME") {
        f.hash = hash;
        out.push_back(f);
      }
    }
    return out;
  }

  rdtest::TempDir dir_;
  std::unique_ptr<rd::sim::DvrSim> sim_;
  ControlPeer control_;
  StreamPeer stream_;
};

}  // namespace simtest
