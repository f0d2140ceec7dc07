// dvrctl end to end against the emulated DVR in the same process: JSON output,
// connection events with their texts and exit status, a local capture that
// mys-info and play-file read back, and usage errors.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "support/TestSupport.h"
#include "tools/dvrctl/DvrCtl.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd {
namespace {

struct Result {
  int status;
  std::string out, err;
};

Result RunCtl(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = dvrctl::Run(args, out, err);
  return {status, out.str(), err.str()};
}

class DvrCtlTest : public ::testing::Test {
 protected:
  void StartSim(std::vector<sim::Scenario> scenarios = {}) {
    sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.quiet = true;
    o.scenarios = std::move(scenarios);
    o.disk = (dir / "dvr.img").string();
    o.disk_size = 64ull << 20;
    o.log_file = (dir / "sim.log").string();
    dvr = std::make_unique<sim::DvrSim>(o);
    std::string error;
    ASSERT_TRUE(dvr->Start(&error)) << error;
  }
  std::vector<std::string> Args(std::vector<std::string> command,
                                const std::string& password = "123456") {
    std::vector<std::string> a = {"--dvr",          "127.0.0.1",
                                  "--password",     password,
                                  "--control-port", std::to_string(dvr->control_port()),
                                  "--stream-port",  std::to_string(dvr->stream_port())};
    a.insert(a.end(), command.begin(), command.end());
    return a;
  }
  void TearDown() override {
    if (dvr) dvr->Stop();
  }
  rdtest::TempDir dir;
  std::unique_ptr<sim::DvrSim> dvr;
};

TEST_F(DvrCtlTest, InfoPrintsTheDvrState) {
  StartSim();
  Result r = RunCtl(Args({"info"}));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* key : {"\"settings\"", "\"status\"", "\"time\"", "\"schedule\"", "\"disks\"",
                          "\"record_mode\": \"EACH\"", "\"mode_name\": \"VIEW\"",
                          "\"video_standard\": \"NTSC\"", "\"disk\": \"master\""})
    EXPECT_NE(r.out.find(key), std::string::npos) << key << "\n" << r.out;
}

TEST_F(DvrCtlTest, SetChangesAndPrintsTheSettings) {
  StartSim();
  Result r = RunCtl(Args({"set", "quality=1", "input-channels=1,3", "speaker=off"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"quality\": 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"input_channels\": [1, 3]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"speaker\": false"), std::string::npos) << r.out;
  EXPECT_EQ(dvr->settings().video_quality, 1);
}

TEST_F(DvrCtlTest, EveryCommandEndsTheSessionBeforeClosing) {
  StartSim();
  const std::vector<std::vector<std::string>> commands = {
      {"info"}, {"events"}, {"record", "stop"}, {"watch", "--seconds", "1"}};
  std::size_t from = 0;
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    Result r = RunCtl(Args(command));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string log;
    ASSERT_TRUE(rdtest::WaitFor([&] {
      log = rdtest::ReadText(dir / "sim.log");
      return log.find("NOTE control closed", from) != std::string::npos;
    })) << log.substr(from);
    const std::size_t closed = log.find("NOTE control closed", from);
    const std::size_t close = log.find(" RX 17 0 0 -", from);
    EXPECT_LT(close, closed) << log.substr(from);
    from = closed + 1;
  }
}

TEST_F(DvrCtlTest, ConnectionEventPrintsItsTextAndFails) {
  StartSim({sim::Scenario{sim::ScenarioKind::kWrongPassword, 0}});
  Result r = RunCtl(Args({"info"}));
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("RDCP Session Open Failed\nConnection Denied by DVR.\nInvalid Password.\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(DvrCtlTest, RefusedRequestsEndTheCommandAtOnce) {
  using sim::Scenario;
  using sim::ScenarioKind;
  struct Case {
    const char* name;
    std::vector<Scenario> scenarios;
    std::vector<std::string> before;  // a command run first
    std::vector<std::string> command;
    int status;
    const char* err;  // the whole error output
  } cases[] = {
      {"events",
       {{ScenarioKind::kRefuseRequest, 34}},
       {},
       {"events"},
       4,
       "dvrctl: the DVR refused GetEventList (code 2)\n"},
      {"everything after the open",
       {{ScenarioKind::kRefuseRequest, 0}},
       {},
       {"info"},
       4,
       "dvrctl: the DVR refused GetSettings (code 2)\n"},
      {"status",
       {{ScenarioKind::kRefuseRequest, 42}},
       {},
       {"watch", "--seconds", "2"},
       4,
       "dvrctl: the DVR refused GetStatus (code 2)\n"},
      {"fast forward while not playing",
       {},
       {},
       {"ff"},
       4,
       "dvrctl: the DVR refused FastForward (code 6)\n"},
      {"a change while recording",
       {},
       {"record", "start"},
       {"set", "quality=1"},
       4,
       "dvrctl: the DVR refused SetVideoQuality (code 5)\n"},
      {"session, no box for its code",
       {{ScenarioKind::kRefuse, 5}},
       {},
       {"info"},
       3,
       "dvrctl: the DVR refused the session (code 5)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (dvr) dvr->Stop();
    StartSim(c.scenarios);
    if (!c.before.empty()) {
      ASSERT_EQ(RunCtl(Args(c.before)).status, 0);
    }
    Result r = RunCtl(Args(c.command));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(DvrCtlTest, ConnectTimerStopsOnceTheControlConnectionIsUp) {
  // The settings reply comes only with the retransmission, two seconds after
  // the connect: later than the connect timer, which the connection stopped.
  StartSim({sim::Scenario{sim::ScenarioKind::kDropFirstReply, rdcp::kGetSettings}});
  std::vector<std::string> args = Args({"info"});
  args.insert(args.begin(), {"--connect-timeout", "1"});
  Result r = RunCtl(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Could find the DVR"), std::string::npos) << r.err;
}

TEST_F(DvrCtlTest, CaptureThenInspectAndPlayTheFile) {
  StartSim();
  const std::string caps = (dir / "caps").string();
  Result r = RunCtl(Args({"capture", "--seconds", "2", "--dir", caps}));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string file;
  for (const auto& e : std::filesystem::directory_iterator(caps)) file = e.path().string();
  ASSERT_FALSE(file.empty());
  EXPECT_NE(r.out.find(file), std::string::npos);

  Result info = RunCtl({"mys-info", file});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\"finished\": true"), std::string::npos);
  EXPECT_NE(info.out.find("\"kind\": \"video\""), std::string::npos);
  EXPECT_NE(info.out.find("\"trailing_bytes\": 0"), std::string::npos);

  const std::string bmp = (dir / "last.bmp").string();
  Result play = RunCtl({"play-file", file, "--speed", "max", "--snapshot", bmp});
  ASSERT_EQ(play.status, 0) << play.err;
  EXPECT_NE(play.out.find("\"frames_shown\""), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(bmp), 837174u);
}

TEST_F(DvrCtlTest, SnapshotAfterEnoughFramesFillsEveryQuadTile) {
  StartSim();
  const std::string bmp = (dir / "quad.bmp").string();
  Result r = RunCtl(Args({"snapshot", "--frames", "8", bmp}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto b = rdtest::ReadFile(bmp);
  ASSERT_EQ(b.size(), 837174u);
  // 640 x 436, bottom-up BGR rows from byte 54; four 320 x 218 tiles.
  for (int tile = 0; tile < 4; ++tile) {
    const int x0 = (tile % 2) * 320, top = (tile / 2) * 218;
    uint64_t sum = 0;
    for (int y = top + 40; y < top + 180; y += 7)
      for (int x = x0 + 20; x < x0 + 300; x += 7) {
        const std::size_t at = 54 + static_cast<std::size_t>(435 - y) * 1920 + x * 3;
        sum += b[at] + b[at + 1] + b[at + 2];
      }
    EXPECT_GT(sum, 20u * 40 * 3 * 30) << "tile " << tile + 1 << " is (nearly) black";
  }
}

TEST_F(DvrCtlTest, ExportAviWithAChosenCodecAndAnUnknownOne) {
  StartSim();
  const std::string avi = (dir / "clip.avi").string();
  Result r = RunCtl(Args({"export-avi", "--seconds", "2", "--codec", "mjpeg", avi}));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto bytes = rdtest::ReadFile(avi);
  ASSERT_GT(bytes.size(), 12u);
  const std::string head(bytes.begin(), bytes.end());
  EXPECT_EQ(head.substr(0, 4), "RIFF");
  EXPECT_EQ(head.substr(8, 4), "AVI ");
  EXPECT_NE(head.find("MJPG"), std::string::npos) << "video stream is not MJPEG";
  EXPECT_NE(head.find("01wb"), std::string::npos) << "no audio chunk";

  const std::string bad = (dir / "bad.avi").string();
  Result refused = RunCtl(Args({"export-avi", "--seconds", "1", "--codec", "no-such-codec", bad}));
  EXPECT_NE(refused.status, 0);
  EXPECT_EQ(refused.err,
            "dvrctl: cannot create the AVI file " + bad + ": the compressor cannot be made\n");
  EXPECT_FALSE(std::filesystem::exists(bad));
}

TEST(DvrCtl, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err_has;
  } cases[] = {
      {{}, 2, "usage"},
      {{"--dvr", "1.2.3.4", "info"}, 2, "needs --dvr ADDR and --password HEX6"},
      {{"--dvr", "1.2.3.4", "--password", "12345g", "info"}, 2, "six hexadecimal"},
      {{"--dvr", "1.2.3.4", "--password", "123456", "frobnicate"}, 2, "unknown command"},
      {{"--dvr", "1.2.3.4", "--password", "123456", "watch"}, 2, "--seconds"},
      {{"--dvr", "1.2.3.4", "--password", "123456", "set", "quality=9"}, 2, "bad setting"},
      {{"--dvr", "1.2.3.4", "--password", "123456", "set-schedule", "1,2,3"}, 2, "24 values"},
      {{"--dvr", "1.2.3.4", "--password", "123456", "play", "--from", "yesterday"}, 2, "--from"},
      {{"mys-info", "/nonexistent.mys"}, 1, "cannot be opened"},
  };
  for (const Case& c : cases) {
    Result r = RunCtl(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
  }
  Result help = RunCtl({"watch", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--seconds N"), std::string::npos);
}

}  // namespace
}  // namespace rd
