// The streaming status texts: the connection lines, the connection time in
// its four forms, the statistics lines and minimums without a sample.

#include <gtest/gtest.h>

#include "client/ui/models/StatsModel.h"

namespace rd::ui {
namespace {

struct TimeCase {
  uint32_t seconds;
  const char* text;
};

TEST(StatsModel, ConnectionTimeForms) {
  const TimeCase cases[] = {
      {0, "0 sec"},
      {59, "59 sec"},
      {60, "1 min 0 sec"},
      {3599, "59 min 59 sec"},
      {3600, "1 hour 0 min 0 sec"},
      {3725, "1 hour 2 min 5 sec"},
      {86399, "23 hour 59 min 59 sec"},
      {86400, "1 day 0 hour 0 min 0 sec"},
      {90061, "1 day 1 hour 1 min 1 sec"},
      {0xFFFFFFFFu, "49710 day 6 hour 28 min 15 sec"},
  };
  for (const TimeCase& c : cases) EXPECT_EQ(StatsModel::ConnectionTime(c.seconds), c.text);
}

TEST(StatsModel, InitialTextsAndConnectionLines) {
  StatsModel m;
  const ControlStates& t = m.Controls();
  EXPECT_EQ(t.at(stat_id::kStatus).text, "Not Connected");
  EXPECT_EQ(t.at(stat_id::kAddress).text, "N/A");
  EXPECT_EQ(t.at(stat_id::kPort).text, "N/A");
  EXPECT_EQ(t.at(stat_id::kTime).text, "0 sec");
  EXPECT_EQ(t.at(stat_id::kSpeed).text, "0.000 Mbps, [0.000 : 0.000 : 0.000] Mbps");
  EXPECT_EQ(t.at(stat_id::kFrameSize).text, "0 KB, [0:0.000:0] Kbytes");
  EXPECT_EQ(t.at(stat_id::kLegend).text, "Legend: Current [Max : Average : Min]");

  // A stream connect failure leaves the status; success makes it "Connected".
  m.StreamConnectResult(111);
  EXPECT_EQ(t.at(stat_id::kStatus).text, "Not Connected");
  m.StreamConnectResult(0);
  EXPECT_EQ(t.at(stat_id::kStatus).text, "Connected");

  StatsModel live;
  live.SetConnection(true, "192.168.0.10");
  EXPECT_EQ(live.Controls().at(stat_id::kStatus).text, "Connected");
  EXPECT_EQ(live.Controls().at(stat_id::kAddress).text, "192.168.0.10");
  EXPECT_EQ(live.Controls().at(stat_id::kPort).text, "14338");
  live.SetConnection(false, "192.168.0.10");
  EXPECT_EQ(live.Controls().at(stat_id::kAddress).text, "N/A");
  EXPECT_EQ(live.Controls().at(stat_id::kPort).text, "N/A");
}

TEST(StatsModel, StatisticsLines) {
  StatsSnapshot s;
  s.seconds = 3725;
  s.speed_last = 262144;  // 2 Mbit in one second
  s.speed_max = 393216;
  s.speed_average = 131072.0f;
  s.speed_min = 65536;
  s.packets_last = 128;
  s.packets_max = 192;
  s.packets_average = 100.5f;
  s.packets_min = 3;
  s.packet_size_max = 2048;
  s.packet_size_min = 2048;
  s.frames_total = 12345;
  s.fps_last = 30;
  s.fps_max = 31;
  s.fps_average = 29.25f;
  s.fps_min = 1;
  s.frame_size_last = 10240;
  s.frame_size_max = 20480;
  s.frame_size_average = 15360.0f;
  s.frame_size_min = 512;
  StatsModel m;
  m.Refresh(s);
  const ControlStates& t = m.Controls();
  EXPECT_EQ(t.at(stat_id::kTime).text, "1 hour 2 min 5 sec");
  EXPECT_EQ(t.at(stat_id::kSpeed).text, "2.000 Mbps, [3.000 : 1.000 : 0.500] Mbps");
  EXPECT_EQ(t.at(stat_id::kPackets).text, "128 pps, [192 : 100.500 : 3] pps");
  EXPECT_EQ(t.at(stat_id::kPacketSize).text, "[2048 : : 2048] Bytes");
  EXPECT_EQ(t.at(stat_id::kFrames).text, "12345 frame(s) detected");
  EXPECT_EQ(t.at(stat_id::kFrameRate).text, "30 fps, [31 : 29.250 : 1] fps");
  EXPECT_EQ(t.at(stat_id::kFrameSize).text, "10.000 KB, [20.000 : 15.000 : 0.500] KB");
}

TEST(StatsModel, MinimumsWithoutASampleShowZero) {
  StatsSnapshot s;  // every minimum still at 0xFFFFFFFF
  s.seconds = 59;
  StatsModel m;
  m.Refresh(s);
  const ControlStates& t = m.Controls();
  EXPECT_EQ(t.at(stat_id::kTime).text, "59 sec");
  EXPECT_EQ(t.at(stat_id::kSpeed).text, "0.000 Mbps, [0.000 : 0.000 : 0.000] Mbps");
  EXPECT_EQ(t.at(stat_id::kPackets).text, "0 pps, [0 : 0.000 : 0] pps");
  EXPECT_EQ(t.at(stat_id::kPacketSize).text, "[0 : : 0] Bytes");
  EXPECT_EQ(t.at(stat_id::kFrameRate).text, "0 fps, [0 : 0.000 : 0] fps");
  EXPECT_EQ(t.at(stat_id::kFrameSize).text, "0.000 KB, [0.000 : 0.000 : 0.000] KB");
}

}  // namespace
}  // namespace rd::ui
