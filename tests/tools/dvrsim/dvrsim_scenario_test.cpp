// The fault scenarios of the emulated DVR: each provokes one client behaviour.

#include <gtest/gtest.h>

#include "SimFixture.h"
#include "client/engine/rdcp/RdcpWire.h"

namespace rd::sim {
namespace {

using namespace std::chrono_literals;
using simtest::Frame;

class ScenarioTest : public simtest::SimFixture {
 protected:
  void StartWith(const std::string& scenario) {
    SimOptions o;
    std::string err;
    auto s = ParseScenario(scenario, &err);
    ASSERT_TRUE(s) << err;
    o.scenarios.push_back(*s);
    StartSim(o);
  }
  std::vector<uint8_t> AllReads() {
    std::vector<uint8_t> all;
    for (const auto& r : control_.reads()) all.insert(all.end(), r.begin(), r.end());
    return all;
  }
};

TEST_F(ScenarioTest, SessionRefusals) {
  struct Case {
    const char* scenario;
    uint8_t code;
  };
  for (const Case& c : {Case{"wrong-password", 1}, Case{"network-off", 10}, Case{"refuse:7", 7}}) {
    SCOPED_TRACE(c.scenario);
    control_.Close();
    control_ = simtest::ControlPeer{};
    sim_.reset();
    StartWith(c.scenario);
    auto r = control_.Request(rdcp::kOpenSession, {1, 2, 3, 4, 5, 6});  // the right password
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type, rdcp::kNak);
    EXPECT_EQ(r->param, c.code);
  }
}

TEST_F(ScenarioTest, KeepAlivesGoUnansweredAfterTheirTime) {
  StartWith("silent-keepalive:1");
  ASSERT_TRUE(control_.OpenSession());
  ASSERT_TRUE(control_.Send(Frame(rdcp::kKeepAlive, 0, {1})));
  ASSERT_TRUE(control_.Expect(rdcp::kKeepAliveReply));
  // After a second a keep-alive is followed by nothing: the next message is
  // the reply to the request sent behind it.
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        control_.Send(Frame(rdcp::kKeepAlive, 0, {2}));
        control_.Send(Frame(rdcp::kGetTime));
        auto m = control_.Next();
        if (m && m->type == rdcp::kKeepAliveReply) control_.Next();  // the time reply
        return m && m->type == rdcp::kTimeReply;
      },
      5s));
}

TEST_F(ScenarioTest, SessionEndAndKeypadCloseAndConnectionClose) {
  StartWith("session-end:1");
  Connect();
  auto end = control_.Expect(rdcp::kSessionEndedReply, 5s);
  ASSERT_TRUE(end);
  EXPECT_TRUE(stream_.WaitClosed(5s)) << "the stream ends with the session";

  control_.Close();
  control_ = simtest::ControlPeer{};
  sim_.reset();
  StartWith("keypad-close:1");
  ASSERT_TRUE(control_.OpenSession());
  ASSERT_TRUE(control_.Expect(rdcp::kClosedByKeypad, 5s));
  EXPECT_TRUE(control_.WaitClosed());

  control_.Close();
  control_ = simtest::ControlPeer{};
  sim_.reset();
  StartWith("close-control:1");
  ASSERT_TRUE(control_.OpenSession());
  EXPECT_TRUE(control_.WaitClosed(5s));
}

TEST_F(ScenarioTest, FirstReplyDroppedSoTheClientMustRetransmit) {
  StartWith("drop-first-reply");
  ASSERT_TRUE(control_.OpenSession());
  ASSERT_TRUE(control_.Send(Frame(rdcp::kGetSettings)));
  auto r = control_.Request(rdcp::kGetStatus);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kStatusReply) << "the settings reply was not sent";
  r = control_.Request(rdcp::kGetSettings);  // the retransmission is answered
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kSettingsReply);
  EXPECT_NE(Log().find("reply to 19 dropped"), std::string::npos);
}

TEST_F(ScenarioTest, RequestsRefusedAfterTheSessionOpened) {
  StartWith("refuse-request:34");
  ASSERT_TRUE(control_.OpenSession());
  auto r = control_.Request(rdcp::kGetEventList);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kNak);
  EXPECT_EQ(r->param, nak::kRefused);
  r = control_.Request(rdcp::kGetStatus);  // other requests are answered
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kStatusReply);

  control_.Close();
  control_ = simtest::ControlPeer{};
  sim_.reset();
  StartWith("refuse-request");  // every request once the session is open
  ASSERT_TRUE(control_.OpenSession());
  for (uint8_t type : {rdcp::kGetSettings, rdcp::kGetStatus, rdcp::kSetStreamFilter}) {
    r = control_.Request(type, {0, 0x80});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->type, rdcp::kNak) << int(type);
  }
  ASSERT_TRUE(control_.Send(Frame(rdcp::kKeepAlive, 0, {3})));
  EXPECT_TRUE(control_.Expect(rdcp::kKeepAliveReply));
}

TEST_F(ScenarioTest, GarbageAheadOfTheFirstReply) {
  StartWith("garbage:8");
  ASSERT_TRUE(control_.OpenSession());
  auto r = control_.Request(rdcp::kGetStatus);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kStatusReply);
  const auto all = AllReads();
  // 64 (5 bytes), then 8 bytes without a start byte, then the status reply.
  ASSERT_GE(all.size(), 5u + 8u + 12u);
  for (std::size_t i = 5; i < 13; ++i) EXPECT_NE(all[i], 0xF5) << i;
  EXPECT_EQ(all[13], 0xF5);
  EXPECT_EQ(all[15], rdcp::kStatusReply);
  // Later replies come clean.
  ASSERT_TRUE(control_.Request(rdcp::kGetTime));
  EXPECT_EQ(AllReads().size(), all.size() + 10u);
}

TEST_F(ScenarioTest, TwoMessagesInOneWrite) {
  StartWith("two-replies");
  ASSERT_TRUE(control_.OpenSession());
  auto r = control_.Request(rdcp::kGetSettings);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->type, rdcp::kSettingsReply);
  bool joined = false;
  for (const auto& read : control_.reads())
    joined =
        joined || (read.size() == 36u + 12u && read[2] == rdcp::kSettingsReply && read[38] == 91);
  EXPECT_TRUE(joined) << "settings reply and status push arrive in one read";
}

TEST_F(ScenarioTest, StreamFaults) {
  struct Case {
    const char* scenario;
    std::function<void(simtest::StreamPeer&)> check;
  };
  const Case cases[] = {
      {"close-stream:1",
       [&](simtest::StreamPeer& s) {
         EXPECT_TRUE(s.WaitClosed(5s));
         auto r = control_.Request(rdcp::kGetStatus);  // the control connection lives on
         ASSERT_TRUE(r);
         EXPECT_EQ(r->type, rdcp::kStatusReply);
       }},
      {"mid-chunk:1000",
       [&](simtest::StreamPeer& s) {
         ASSERT_TRUE(s.ReadFrames(4, 10s));
         EXPECT_EQ(s.resyncs, 1u);  // realigned once, then whole chunks
         EXPECT_EQ(s.frames[1].bytes[3], 0xF8);
       }},
      {"restart:3",
       [&](simtest::StreamPeer& s) {
         ASSERT_TRUE(s.ReadFrames(8, 10s));
         EXPECT_GE(s.restarts, 2u);
         bool marked_after = false;  // frames keep coming after a restart
         for (std::size_t i = 1; i < 8; ++i) marked_after = marked_after || s.frames[i].restarted;
         EXPECT_TRUE(marked_after);
       }},
      {"split-start",
       [&](simtest::StreamPeer& s) {
         ASSERT_TRUE(s.ReadFrames(6, 10s));
         int straddling = 0;
         for (const auto& c : s.video_chunks) straddling += c[20] == 0 && c[21] == 0;
         EXPECT_GE(straddling, 5);
         for (std::size_t i = 1; i < 6; ++i) {  // the first starts at a chunk start
           ASSERT_GE(s.frames[i].bytes.size(), 5u);
           EXPECT_EQ(s.frames[i].bytes[3], 0xF8);
           EXPECT_EQ(s.frames[i].bytes.size() % 2028, 0u);
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    stream_.Close();
    stream_ = simtest::StreamPeer{};
    control_.Close();
    control_ = simtest::ControlPeer{};
    sim_.reset();
    StartWith(c.scenario);
    Connect();
    c.check(stream_);
  }
}

TEST_F(ScenarioTest, AlarmPushesMode6ThenMode4AndListsAnAlarmEvent) {
  StartWith("mode6:1");
  ASSERT_TRUE(control_.OpenSession());
  auto r = control_.Request(rdcp::kSetAlarmRecordDuration, {5});
  ASSERT_TRUE(r && r->type == rdcp::kAlarmRecordDurationChanged);
  auto six = control_.Expect(rdcp::kStatusPush, 5s);
  ASSERT_TRUE(six);
  EXPECT_EQ(six->payload.at(0), dvr_mode::kAlarmRecording);
  auto four = control_.Expect(rdcp::kStatusPush, 10s);
  ASSERT_TRUE(four);
  EXPECT_EQ(four->payload.at(0), dvr_mode::kRecord);
  r = control_.Request(rdcp::kStopRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStopped);
  ASSERT_TRUE(control_.Send(Frame(rdcp::kGetEventList)));
  std::vector<uint8_t> kinds;
  while (true) {
    auto m = control_.Expect(rdcp::kEventListPart);
    ASSERT_TRUE(m);
    if (m->payload.empty()) break;
    for (std::size_t i = 0; i + 18 <= m->payload.size(); i += 18)
      kinds.push_back(m->payload[i + 5]);
  }
  // The whole range, the alarm recording, then the timer recording after it.
  EXPECT_EQ(kinds, (std::vector<uint8_t>{0, 2, 1}));
}

}  // namespace
}  // namespace rd::sim
