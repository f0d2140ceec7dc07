// The dialog models on a live control main against the emulated DVR in the
// same process: the management dialog shows the DVR's settings as read
// through the getters, and its requests reach the DVR through the sink,
// exactly the ones the user changed.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "client/ui/models/ctrl/CtrlMainDialogs.h"
#include "support/QtTestEnvironment.h"
#include "support/SessionSupport.h"
#include "support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd::ui {
namespace {

[[maybe_unused]] auto* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("dialogctrl_tests"));

class NullWindow : public RcWindow {
 public:
  void Post(uint32_t, uintptr_t, intptr_t) override {}
  void Send(uint32_t message, uintptr_t, intptr_t l) override {
    if (message == rcmsg::kAskMute && l != 0) *reinterpret_cast<uint8_t*>(l) = 16;
  }
};

class CtrlDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.quiet = true;
    o.fps = 2;  // keep the emulator's camera work small
    o.disk = (dir_ / "dvr.img").string();
    o.disk_size = 64ull << 20;
    o.log_file = (dir_ / "sim.log").string();
    sim_ = std::make_unique<sim::DvrSim>(o);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    main_ = std::make_unique<RcCtrlMain>();
    main_->RegisterWindow(&window_);
    main_->SetPorts(static_cast<uint16_t>(sim_->control_port()),
                    static_cast<uint16_t>(sim_->stream_port()));
    const uint8_t password[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(rdtest::OpenSession(*main_, password));
    DvrTime t;
    ASSERT_TRUE(rdtest::WaitFor([&] { return main_->Time(&t); }));
  }
  void TearDown() override {
    if (main_) {
      main_->DisconnectStream();
      main_->DisconnectControl();
    }
    main_.reset();
    if (sim_) sim_->Stop();
  }
  std::string Log() {
    std::ifstream in(dir_ / "sim.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The control requests of these types the DVR received after `from` bytes of log.
  static std::vector<int> Received(const std::string& log, std::size_t from,
                                   const std::vector<int>& types) {
    std::vector<int> got;
    std::istringstream lines(log.substr(from));
    std::string time, dir;
    int type = 0;
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      if (!(words >> time >> dir >> type) || dir != "RX") continue;
      for (int t : types)
        if (t == type) got.push_back(type);
    }
    return got;
  }

  rdtest::TempDir dir_;
  std::unique_ptr<sim::DvrSim> sim_;
  NullWindow window_;
  std::unique_ptr<RcCtrlMain> main_;
};

// Every request the management dialog can send.
const std::vector<int> kChangeTypes = {21, 23, 25, 26, 27, 28, 29, 30, 31, 41, 45};

TEST_F(CtrlDialogsTest, ManagementDialogShowsTheDvrAndSendsOnlyTheQuality) {
  const DvrSettings dvr = sim_->settings();
  DvrMgrModel m;
  m.Open(ReadDvrMgrSource(*main_));
  const ControlStates& c = m.Controls();
  EXPECT_TRUE(c.at(dvrmgr_id::kUpdate).enabled);
  EXPECT_EQ(c.at(dvrmgr_id::kQuality).selected, dvr.video_quality);
  EXPECT_EQ(c.at(dvrmgr_id::kRecordModeText).text, dvr.record_mode ? "QUAD" : "EACH");
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_EQ(c.at(dvrmgr_id::kInput[ch]).checked(), (dvr.input_mask & (8 >> ch)) != 0) << ch;
  const DvrTime t = sim_->time();
  EXPECT_EQ(c.at(dvrmgr_id::kYear).selected, t.year);
  // The disk in megabytes (the record keeps them above a low byte), no slave.
  const std::array<DiskInfo, 2> disks = ReadDisks(*main_);
  EXPECT_EQ(disks[0].installed, 1);
  EXPECT_EQ(disks[0].capacity_mb, dvr.disk_capacity[0] >> 8);
  EXPECT_GT(disks[0].capacity_mb, 50u);
  EXPECT_EQ(disks[1], DiskInfo{});
  EXPECT_EQ(c.at(dvrmgr_id::kDiskText).text, "1 HDD, 0 GBytes");
  EXPECT_TRUE(c.at(dvrmgr_id::kHddInfo).enabled);

  // The stream's first picture makes the client choose its channels (41);
  // after that the connection is quiet.
  ASSERT_TRUE(
      rdtest::WaitFor([&] { return !Received(Log(), 0, {41}).empty(); }, std::chrono::seconds(10)));
  const std::size_t mark = Log().size();
  const int quality = (dvr.video_quality + 1) % 3;
  m.Choose(dvrmgr_id::kQuality, quality);
  CtrlMainRequestSink sink(*main_);
  ASSERT_TRUE(sink.IsConnected());
  const DvrMgrModel::UpdateResult r = m.Update(sink.IsConnected());
  EXPECT_TRUE(r.close);
  for (const DvrRequest& request : RequestsOf(r.steps)) Apply(request, sink);
  ASSERT_TRUE(rdtest::WaitFor([&] { return sim_->settings().video_quality == quality; },
                              std::chrono::seconds(10)));
  EXPECT_EQ(Received(Log(), mark, kChangeTypes), std::vector<int>{28});
  DvrStateBlock state;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] { return main_->DvrState(&state) && state.settings.video_quality == quality; }));
}

TEST_F(CtrlDialogsTest, ASessionThatIsGoneIsReportedAndReadsAsNotConnected) {
  CtrlMainRequestSink sink(*main_);
  DvrMgrModel m;
  m.Open(ReadDvrMgrSource(*main_));
  m.ClickHour(0);
  main_->DisconnectStream();
  main_->DisconnectControl();
  EXPECT_FALSE(sink.IsConnected());
  const DvrMgrModel::UpdateResult r = m.Update(sink.IsConnected());
  EXPECT_FALSE(r.close);
  EXPECT_EQ(BoxesOf(r.steps).size(), 1u);
  EXPECT_FALSE(ReadDvrMgrSource(*main_).connected);
}

TEST_F(CtrlDialogsTest, StatisticsOfTheLiveStream) {
  ASSERT_TRUE(rdtest::WaitFor([&] {
    uint32_t frames = 0;
    main_->Stats().GetFrames(&frames);
    return frames > 0;
  }));
  main_->Tick(3);
  const StatsSnapshot s = ReadStats(main_->Stats());
  EXPECT_EQ(s.seconds, 1u);
  EXPECT_GT(s.frames_total, 0u);
  StatsModel m;
  m.SetConnection(main_->IsStreamLive(), main_->Address());
  m.Refresh(s);
  EXPECT_EQ(m.Controls().at(stat_id::kStatus).text, "Connected");
  EXPECT_EQ(m.Controls().at(stat_id::kAddress).text, "127.0.0.1");
  EXPECT_EQ(m.Controls().at(stat_id::kTime).text, "1 sec");
  EXPECT_EQ(m.Controls().at(stat_id::kFrames).text,
            std::to_string(s.frames_total) + " frame(s) detected");
}

}  // namespace
}  // namespace rd::ui
