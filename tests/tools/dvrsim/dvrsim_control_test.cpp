// The control server of the emulated DVR, driven over loopback with scripted
// bytes: session opening, every request of the catalogue, recorder modes,
// playback control, notifications, keep-alive and bad input.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "SimPeer.h"
#include "client/engine/rdcp/RdcpWire.h"
#include "tests/support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd::sim {
namespace {

using namespace std::chrono_literals;
using simtest::ControlPeer;
using simtest::Frame;
using simtest::Msg;
using simtest::StreamPeer;

class ControlTest : public ::testing::Test {
 protected:
  void StartSim(SimOptions o = {}) {
    o.control_port = 0;
    o.stream_port = 0;
    o.log_file = (dir_ / "sim.log").string();
    o.quiet = true;
    sim_ = std::make_unique<DvrSim>(o);
    std::string err;
    ASSERT_TRUE(sim_->Start(&err)) << err;
    ASSERT_TRUE(peer_.Connect(sim_->control_port()));
  }
  void Open() { ASSERT_TRUE(peer_.OpenSession()); }
  std::string Log() {
    std::ifstream in(dir_ / "sim.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  DvrStatus Status() {
    auto r = peer_.Request(rdcp::kGetStatus);
    EXPECT_TRUE(r && r->type == rdcp::kStatusReply);
    return r ? UnpackStatus(r->payload.data(), r->payload.size()) : DvrStatus{};
  }
  DvrSettings Settings() {
    auto r = peer_.Request(rdcp::kGetSettings);
    EXPECT_TRUE(r && r->type == rdcp::kSettingsReply && r->payload.size() == 32);
    return r ? UnpackSettings(r->payload.data(), r->payload.size()) : DvrSettings{};
  }
  void ExpectReply(uint8_t type, std::vector<uint8_t> payload, uint8_t want) {
    auto r = peer_.Request(type, std::move(payload));
    ASSERT_TRUE(r) << "no reply to " << int(type);
    EXPECT_EQ(r->type, want) << "request " << int(type) << " nak code " << int(r->param);
  }
  void ExpectNak(uint8_t type, std::vector<uint8_t> payload, uint8_t code) {
    auto r = peer_.Request(type, std::move(payload));
    ASSERT_TRUE(r) << "no reply to " << int(type);
    EXPECT_EQ(r->type, rdcp::kNak) << "request " << int(type);
    EXPECT_EQ(r->param, code) << "request " << int(type);
  }

  rdtest::TempDir dir_;
  std::unique_ptr<DvrSim> sim_;
  ControlPeer peer_;
};

TEST_F(ControlTest, OpensASessionOnlyWithThePasswordAndTheRightAnswer) {
  StartSim();
  // Before a session: requests are refused, keep-alives answered.
  ExpectNak(rdcp::kGetSettings, {}, nak::kNotOpen);
  ExpectNak(rdcp::kOpenSession, {1, 2, 3}, nak::kBadRequest);
  ExpectNak(rdcp::kOpenSession, {1, 2, 3, 4, 5, 7}, rdcp::kNakInvalidPassword);
  auto r = peer_.Request(rdcp::kOpenSession, {1, 2, 3, 4, 5, 6});
  ASSERT_TRUE(r);
  ASSERT_EQ(r->type, rdcp::kSessionAccepted);
  ASSERT_EQ(r->payload.size(), 1u);
  // A wrong answer to the challenge ends the session and the connection.
  ASSERT_TRUE(
      peer_.Send(Frame(rdcp::kChallengeAnswer, static_cast<uint8_t>(r->payload[0] ^ 0x6F))));
  auto end = peer_.Next();
  ASSERT_TRUE(end);
  EXPECT_EQ(end->type, rdcp::kSessionEndedReply);
  EXPECT_TRUE(peer_.WaitClosed());
  // A new client with the right answer gets its requests answered.
  ControlPeer second;
  ASSERT_TRUE(second.Connect(sim_->control_port()));
  ASSERT_TRUE(second.OpenSession());
  auto s = second.Request(rdcp::kGetStatus);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->type, rdcp::kStatusReply);
  EXPECT_TRUE(rdtest::WaitFor([&] { return sim_->session_open(); }));
}

TEST_F(ControlTest, AnswersEveryRequestFromItsOwnState) {
  SimOptions o;
  o.password = {0xA, 0xB, 0, 1, 2, 3};
  StartSim(o);
  ASSERT_TRUE(peer_.OpenSession({0xA, 0xB, 0, 1, 2, 3}));

  DvrSettings st = Settings();
  EXPECT_EQ(st.record_mode, 0);
  EXPECT_EQ(st.input_mask, 0x0F);
  EXPECT_EQ(st.video_standard, 0);
  EXPECT_EQ(st.disk_installed[0], 1);
  EXPECT_EQ(st.disk_installed[1], 0);
  EXPECT_GT(st.disk_capacity[0] >> 8, 100u);  // the temporary disk: 256 MiB
  EXPECT_EQ(st.disk_capacity[0] & 0xFF, 0u);
  EXPECT_EQ(st.audio_available, 1);

  // Change requests and their acknowledgements, then the state read back.
  struct Change {
    uint8_t type;
    std::vector<uint8_t> payload;
    uint8_t reply;
  };
  const Change changes[] = {
      {rdcp::kSetRecordMode, {1}, 73},
      {rdcp::kSetInputChannels, {0x0C}, 74},
      {rdcp::kSetRecordChannels, {0x08}, 75},
      {rdcp::kSetVideoQuality, {1}, 76},
      {rdcp::kSetRecordFrameRate, {2}, 77},
      {rdcp::kSetAlarmOnDuration, {35}, 78},
      {rdcp::kSetAlarmRecordDuration, {20}, 79},
      {rdcp::kSetAudioFlags, {3}, 93},
      {rdcp::kSetStreamFilter, {4, 0x92}, 89},
      {rdcp::kSetSchedule, {0x39, 0, 0, 0, 0, 0x80}, 69},
      {rdcp::kSetTime, {30, 15, 10, 24, 12, 25}, 71},
  };
  for (const auto& c : changes) ExpectReply(c.type, c.payload, c.reply);

  st = Settings();
  EXPECT_EQ(st.record_mode, 1);
  EXPECT_EQ(st.input_mask, 0x0C);
  EXPECT_EQ(st.record_mask, 0x08);
  EXPECT_EQ(st.video_quality, 1);
  EXPECT_EQ(st.record_frame_rate, 2);
  EXPECT_EQ(st.alarm_on_duration, 35);
  EXPECT_EQ(st.alarm_record_duration, 20);
  EXPECT_EQ(st.audio_flags, 3);
  DvrStatus ss = Status();
  EXPECT_EQ(ss.frame_interval, 4);
  EXPECT_EQ(ss.stream_filter, 0x92);
  auto sch = peer_.Request(rdcp::kGetSchedule);
  ASSERT_TRUE(sch);
  EXPECT_EQ(sch->type, rdcp::kScheduleReply);
  EXPECT_EQ(sch->payload, (std::vector<uint8_t>{0x39, 0, 0, 0, 0, 0x80}));
  auto tm = peer_.Request(rdcp::kGetTime);
  ASSERT_TRUE(tm);
  ASSERT_EQ(tm->type, rdcp::kTimeReply);
  DvrTime t = UnpackTime(tm->payload.data(), tm->payload.size());
  EXPECT_EQ(t.year, 25);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 24);
  EXPECT_EQ(t.hour, 10);
  EXPECT_EQ(t.minute, 15);
  EXPECT_LE(t.second - 30, 2);  // its own clock runs on from the time set
  EXPECT_EQ(Log().find("RX 41 0 2 0492") != std::string::npos, true);
}

TEST_F(ControlTest, RejectsBadValuesAndChangesOutsideView) {
  StartSim();
  Open();
  const std::pair<uint8_t, std::vector<uint8_t>> bad[] = {
      {rdcp::kSetInputChannels, {0x10}},      {rdcp::kSetVideoQuality, {3}},
      {rdcp::kSetRecordFrameRate, {9}},       {rdcp::kSetAlarmOnDuration, {7}},
      {rdcp::kSetAlarmRecordDuration, {0}},   {rdcp::kSetAudioFlags, {4}},
      {rdcp::kSetTime, {0, 0, 0, 31, 2, 24}}, {rdcp::kSetTime, {1, 2}},
      {rdcp::kSetStreamFilter, {1}},          {rdcp::kPlay, {0, 0, 0}},
  };
  for (const auto& [type, payload] : bad) ExpectNak(type, payload, nak::kBadRequest);
  ExpectNak(rdcp::kPause, {}, nak::kWrongMode);   // nothing is playing
  ExpectNak(rdcp::kPlay, {}, nak::kNoRecording);  // nothing recorded yet
  // While recording the DVR cannot be managed; the stream filter still changes.
  ExpectReply(rdcp::kStartRecording, {}, rdcp::kRecordingStarted);
  ExpectNak(rdcp::kSetVideoQuality, {1}, nak::kNotInView);
  ExpectNak(rdcp::kSetSchedule, {0, 0, 0, 0, 0, 0}, nak::kNotInView);
  ExpectNak(rdcp::kPlay, {}, nak::kWrongMode);
  ExpectReply(rdcp::kSetStreamFilter, {0, 0x80}, rdcp::kStreamFilterChanged);
  ExpectReply(rdcp::kStopRecording, {}, rdcp::kRecordingStopped);
}

TEST_F(ControlTest, RecordsPlaysBackAndNotifiesModeChanges) {
  StartSim();
  Open();
  ExpectReply(rdcp::kStartRecording, {}, rdcp::kRecordingStarted);
  ASSERT_TRUE(peer_.Expect(rdcp::kStatusChanged));
  EXPECT_EQ(Status().mode, dvr_mode::kRecord);
  ASSERT_TRUE(rdtest::WaitFor([&] { return sim_->frames_recorded() >= 40; }, 10s));
  ExpectReply(rdcp::kStopRecording, {}, rdcp::kRecordingStopped);
  EXPECT_EQ(Status().mode, dvr_mode::kView);
  EXPECT_EQ(Settings().disk_used[0], 1u << 8);  // a started megabyte counts

  // The event list: parts of 18-byte records, then the empty end.
  ASSERT_TRUE(peer_.Send(Frame(rdcp::kGetEventList)));
  std::vector<EventRecord> events;
  while (true) {
    auto m = peer_.Expect(rdcp::kEventListPart);
    ASSERT_TRUE(m);
    if (m->payload.empty()) break;
    ASSERT_EQ(m->payload.size() % 18, 0u);
    for (std::size_t i = 0; i < m->payload.size(); i += 18)
      events.push_back(UnpackEvent(m->payload.data() + i, 18));
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, 0);  // the whole recorded range
  EXPECT_EQ(events[1].kind, 1);  // the timer recording just made
  EXPECT_LE(CompareDvrTime(events[1].start, events[1].end), 0);

  // Play from a time, pause, fast forward through its speeds, rewind, resume, stop.
  std::vector<uint8_t> from{0};
  uint8_t t[6];
  PackTime(events[1].start, t);
  from.insert(from.end(), t, t + 6);
  ExpectReply(rdcp::kPlay, from, rdcp::kPlayAccepted);
  DvrStatus s = Status();
  EXPECT_EQ(s.mode, dvr_mode::kPlay);
  EXPECT_EQ(s.play_speed, 0);
  ExpectReply(rdcp::kPause, {}, rdcp::kPaused);
  EXPECT_EQ(Status().mode, dvr_mode::kPause);
  for (uint8_t want : {1, 2, 3, 4, 5, 1}) {
    ExpectReply(rdcp::kFastForward, {}, rdcp::kFastForwardAccepted);
    s = Status();
    EXPECT_EQ(s.mode, dvr_mode::kFastForward);
    EXPECT_EQ(s.play_speed, want);
  }
  ExpectReply(rdcp::kRewind, {}, rdcp::kRewindAccepted);
  s = Status();
  EXPECT_EQ(s.mode, dvr_mode::kPlay);
  EXPECT_EQ(s.play_speed, 6);
  ExpectReply(rdcp::kPlay, {}, rdcp::kPlayAccepted);
  EXPECT_EQ(Status().play_speed, 0);
  ExpectReply(rdcp::kStopPlay, {}, rdcp::kPlayStopped);
  EXPECT_EQ(Status().mode, dvr_mode::kView);

  // Event play by id (big-endian), unknown ids and the slave disk are refused.
  ExpectReply(rdcp::kPlay, {0, 0, 0, 0, static_cast<uint8_t>(events[1].id)}, rdcp::kPlayAccepted);
  ExpectReply(rdcp::kStopPlay, {}, rdcp::kPlayStopped);
  ExpectNak(rdcp::kPlay, {0, 0, 0, 0x01, 0x00}, nak::kNoSuchEvent);
  ExpectNak(rdcp::kPlay, {1, 0, 0, 0, 1}, nak::kNoSuchDisk);
  // Mode changes requested by the client are announced with 84.
  EXPECT_GE(peer_.notifications.size(), 6u);
  for (const auto& n : peer_.notifications) EXPECT_EQ(n.type, rdcp::kStatusChanged);

  // Playing to the end of the recording: the DVR returns to VIEW and pushes 91.
  peer_.notifications.clear();
  ExpectReply(rdcp::kPlay, {}, rdcp::kPlayAccepted);
  for (int i = 0; i < 3; ++i) ExpectReply(rdcp::kFastForward, {}, rdcp::kFastForwardAccepted);
  auto push = peer_.Expect(rdcp::kStatusPush, 15s);
  ASSERT_TRUE(push);
  ASSERT_EQ(push->payload.size(), 8u);
  EXPECT_EQ(push->payload[0], dvr_mode::kView);
}

TEST_F(ControlTest, RecordingFollowsTheSchedule) {
  StartSim();
  Open();
  // Every hour "sensor": armed but nothing to record on a recorder without sensors.
  ExpectReply(rdcp::kSetSchedule, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}, rdcp::kScheduleChanged);
  ExpectReply(rdcp::kStartRecording, {}, rdcp::kRecordingStarted);
  EXPECT_EQ(Status().mode, dvr_mode::kNotScheduled);
  ExpectReply(rdcp::kStopRecording, {}, rdcp::kRecordingStopped);
  EXPECT_EQ(sim_->frames_recorded(), 0u);
  // Every hour "on": recording.
  ExpectReply(rdcp::kSetSchedule, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, rdcp::kScheduleChanged);
  ExpectReply(rdcp::kStartRecording, {}, rdcp::kRecordingStarted);
  EXPECT_EQ(Status().mode, dvr_mode::kRecord);
  EXPECT_TRUE(rdtest::WaitFor([&] { return sim_->frames_recorded() > 0; }));
}

TEST_F(ControlTest, KeepAliveEchoesAndBadBytesNeverStallIt) {
  StartSim();
  Open();
  ASSERT_TRUE(peer_.Send(Frame(rdcp::kKeepAlive, 0, {0x9C})));
  auto r = peer_.Expect(rdcp::kKeepAliveReply);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->payload, std::vector<uint8_t>{0x9C});

  // Garbage before a message, an unknown request, a reply type sent back, a
  // message split over two writes.
  std::vector<uint8_t> junk{0x01, 0x02, 0xF7, 0x7D};
  auto unknown = Frame(50);
  junk.insert(junk.end(), unknown.begin(), unknown.end());
  ASSERT_TRUE(peer_.Send(junk));
  auto nak = peer_.Next();
  ASSERT_TRUE(nak);
  EXPECT_EQ(nak->type, rdcp::kNak);
  EXPECT_EQ(nak->param, nak::kRefused);
  ASSERT_TRUE(peer_.Send(Frame(99)));
  auto split = Frame(rdcp::kGetStatus);
  ASSERT_TRUE(peer_.Send({split.begin(), split.begin() + 2}));
  std::this_thread::sleep_for(20ms);  // let the first half arrive on its own
  ASSERT_TRUE(peer_.Send({split.begin() + 2, split.end()}));
  auto st = peer_.Next();
  ASSERT_TRUE(st);
  EXPECT_EQ(st->type, rdcp::kStatusReply);

  // A flood of random bytes without a single start byte, then a request.
  std::vector<uint8_t> flood(200000);
  uint32_t x = 12345;
  for (auto& b : flood) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xF5) b = 0;
  }
  ASSERT_TRUE(peer_.Send(flood));
  auto after = peer_.Request(rdcp::kGetStatus);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->type, rdcp::kStatusReply);

  // Well-framed messages of every request type with random payloads (the
  // session-opening ones aside, which would end this session on purpose).
  for (int i = 0; i < 3000; ++i) {
    x = x * 1103515245u + 12345u;
    uint8_t type = static_cast<uint8_t>(19 + (x >> 16) % 45);
    std::vector<uint8_t> payload((x >> 8) % 12);
    for (auto& b : payload) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
    ASSERT_TRUE(peer_.Send(Frame(type, 0, payload)));
  }
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        auto m = peer_.Request(rdcp::kGetStatus);
        return m && m->type == rdcp::kStatusReply &&
               Log().find(" RX 42 0 0 -") != std::string::npos;
      },
      20s));
  EXPECT_TRUE(sim_->session_open());

  const std::string log = Log();
  EXPECT_NE(log.find(" RX 16 0 6 010203040506"), std::string::npos);
  EXPECT_NE(log.find(" BAD 4 0102f77d"), std::string::npos);
  EXPECT_NE(log.find(" BAD unknown 50"), std::string::npos);
  EXPECT_NE(log.find(" BAD unknown 99"), std::string::npos);
  EXPECT_NE(log.find(" RX 44 0 1 9c"), std::string::npos);
  EXPECT_NE(log.find(" TX 92 0 1 9c"), std::string::npos);
}

TEST_F(ControlTest, ServesOneClientAtATime) {
  StartSim();
  Open();
  ControlPeer second;
  ASSERT_TRUE(second.Connect(sim_->control_port()));
  EXPECT_TRUE(second.WaitClosed());
  auto r = peer_.Request(rdcp::kGetTime);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kTimeReply);
  // Once the first leaves, the next is served.
  peer_.Close();
  ControlPeer third;
  ASSERT_TRUE(rdtest::WaitFor([&] {
    third = ControlPeer{};
    return third.Connect(sim_->control_port()) && third.OpenSession();
  }));
}

TEST_F(ControlTest, AClientThatClosesAndReconnectsAtOnceIsServed) {
  // The old connection's close is queued ahead of the new connection; the
  // server must see it rather than refuse the client as busy.
  StartSim();
  peer_.Close();
  for (int i = 0; i < 50; ++i) {
    ControlPeer c;
    ASSERT_TRUE(c.Connect(sim_->control_port())) << "cycle " << i;
    ASSERT_TRUE(c.OpenSession()) << "cycle " << i;
    c.Close();
  }
  // The stream connection lives as long as a session: reconnect it under one.
  ControlPeer session;
  ASSERT_TRUE(session.Connect(sim_->control_port()));
  ASSERT_TRUE(session.OpenSession());
  for (int i = 0; i < 20; ++i) {
    StreamPeer st;
    ASSERT_TRUE(st.Connect(sim_->stream_port())) << "cycle " << i;
    EXPECT_FALSE(st.WaitClosed(100ms)) << "stream refused on cycle " << i;
    st.Close();
  }
}

}  // namespace
}  // namespace rd::sim
