// The control session against the emulated DVR, in process: a whole session
// (open, challenge, settings, status, time, schedule, events, every change
// request acknowledged and cached) and many connect / open / close cycles.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/RdcpPeer.h"
#include "client/engine/rdcp/RdcpSession.h"
#include "support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd {
namespace {

using namespace std::chrono_literals;
using rdtest::RecordingSink;
using rdtest::WaitFor;

const uint8_t kPassword[6] = {1, 2, 3, 4, 5, 6};

class DvrSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.password = {1, 2, 3, 4, 5, 6};
    o.quiet = true;
    o.fps = 2;  // keep the emulator's camera work small
    dvr = std::make_unique<sim::DvrSim>(o);
    std::string error;
    ASSERT_TRUE(dvr->Start(&error)) << error;
  }
  void TearDown() override {
    session.reset();
    dvr->Stop();
  }

  // Waits for the next reply callback of `type` after sending with `send`.
  bool Ack(uint8_t type, const std::function<EngineResult()>& send) {
    const int before = sink.CountReply(type);
    if (send() != engine::kOk) return false;
    return WaitFor([&] { return sink.CountReply(type) > before; });
  }

  std::unique_ptr<sim::DvrSim> dvr;
  RecordingSink sink;
  std::unique_ptr<RdcpSession> session = std::make_unique<RdcpSession>();
};

TEST_F(DvrSimTest, WholeSession) {
  RdcpSession& s = *session;
  ASSERT_EQ(s.SetSink(&sink), engine::kOk);
  ASSERT_EQ(s.Start(), engine::kOk);
  ASSERT_EQ(s.SetRemote("127.0.0.1", static_cast<uint16_t>(dvr->control_port())), engine::kOk);
  ASSERT_TRUE(WaitFor([&] { return !sink.connects().empty(); }));
  ASSERT_EQ(sink.connects()[0], 0);

  // Open: 16 -> 64 with the challenge -> 18; the emulator checks the answer.
  ASSERT_TRUE(Ack(rdcp::kSessionAccepted, [&] { return s.OpenSession(kPassword); }));
  ASSERT_TRUE(WaitFor([&] { return dvr->session_open(); }));

  // The records.
  ASSERT_TRUE(Ack(rdcp::kSettingsReply, [&] { return s.RequestSettings(); }));
  const DvrSettings dvs = dvr->settings();
  EXPECT_TRUE(s.SettingsValid());
  EXPECT_EQ(s.RecordMode(), dvs.record_mode);
  EXPECT_EQ(s.VideoStandard(), dvs.video_standard);
  EXPECT_EQ(s.DiskInstalled(0), dvs.disk_installed[0]);
  EXPECT_EQ(s.DiskCapacityMb(0), dvs.disk_capacity[0] >> 8);
  EXPECT_GT(s.DiskCapacityMb(0), 0u);
  EXPECT_EQ(s.AudioAvailable(), dvs.audio_available);

  ASSERT_TRUE(Ack(rdcp::kStatusReply, [&] { return s.RequestStatus(); }));
  EXPECT_TRUE(s.StatusValid());
  EXPECT_EQ(s.DvrMode(), dvr->status().mode);
  EXPECT_GE(sink.statuses(), 1);

  ASSERT_TRUE(Ack(rdcp::kTimeReply, [&] { return s.RequestTime(); }));
  DvrTime t;
  ASSERT_TRUE(s.Time(&t));
  EXPECT_EQ(t.year, dvr->time().year);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);

  ASSERT_TRUE(Ack(rdcp::kScheduleReply, [&] { return s.RequestSchedule(); }));
  EXPECT_TRUE(s.State().schedule_valid);

  // Every change request, acknowledged and cached, and taken by the DVR.
  uint8_t hours[24] = {};
  for (int h = 0; h < 24; ++h) hours[h] = static_cast<uint8_t>(h % 4);
  ASSERT_TRUE(Ack(rdcp::kScheduleChanged, [&] { return s.SetSchedule(hours); }));
  uint8_t back[24];
  s.Schedule(back);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 24), std::vector<uint8_t>(hours, hours + 24));
  ASSERT_TRUE(Ack(rdcp::kScheduleReply, [&] { return s.RequestSchedule(); }));
  s.Schedule(back);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 24), std::vector<uint8_t>(hours, hours + 24));

  DvrTime set = t;
  set.year = 25;
  set.month = 6;
  set.day = 15;
  set.hour = 12;
  ASSERT_TRUE(Ack(rdcp::kTimeChanged, [&] { return s.SetTime(set); }));
  ASSERT_TRUE(s.Time(&t));
  EXPECT_EQ(t, set);
  EXPECT_EQ(dvr->time().year, 25);

  struct Change {
    const char* name;
    uint8_t ack;
    std::function<EngineResult()> send;
    std::function<int()> cached;
    std::function<int()> dvr_side;
    int want;
  };
  const std::vector<Change> changes = {
      {"record mode", rdcp::kRecordModeChanged, [&] { return s.SetRecordMode(1); },
       [&] { return s.RecordMode(); }, [&] { return dvr->settings().record_mode; }, 1},
      {"input channels", rdcp::kInputChannelsChanged, [&] { return s.SetInputChannels(0x0C); },
       [&] { return s.State().settings.input_mask; }, [&] { return dvr->settings().input_mask; },
       0x0C},
      {"record channels", rdcp::kRecordChannelsChanged, [&] { return s.SetRecordChannels(0x05); },
       [&] { return s.State().settings.record_mask; }, [&] { return dvr->settings().record_mask; },
       0x05},
      {"video quality", rdcp::kVideoQualityChanged, [&] { return s.SetVideoQuality(2); },
       [&] { return s.VideoQuality(); }, [&] { return dvr->settings().video_quality; }, 2},
      {"record frame rate", rdcp::kRecordFrameRateChanged, [&] { return s.SetRecordFrameRate(1); },
       [&] { return s.RecordFrameRate(); }, [&] { return dvr->settings().record_frame_rate; }, 1},
      {"alarm-on duration", rdcp::kAlarmOnDurationChanged, [&] { return s.SetAlarmOnDuration(15); },
       [&] { return s.AlarmOnDuration(); }, [&] { return dvr->settings().alarm_on_duration; }, 15},
      {"alarm-record duration", rdcp::kAlarmRecordDurationChanged,
       [&] { return s.SetAlarmRecordDuration(20); }, [&] { return s.AlarmRecordDuration(); },
       [&] { return dvr->settings().alarm_record_duration; }, 20},
      {"audio flags", rdcp::kAudioFlagsChanged, [&] { return s.SetAudioFlags(3); },
       [&] { return s.AudioRecordingEnabled() * 1 + s.SpeakerMuted() * 2; },
       [&] { return dvr->settings().audio_flags; }, 3},
      {"stream filter", rdcp::kStreamFilterChanged, [&] { return s.SetStreamFilter(4, 0x92); },
       [&] { return s.StreamFrameInterval() * 256 + s.StreamFilter(); },
       [&] { return dvr->status().frame_interval * 256 + dvr->status().stream_filter; },
       4 * 256 + 0x92},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Ack(c.ack, c.send));
    EXPECT_EQ(c.cached(), c.want);
    EXPECT_EQ(c.dvr_side(), c.want);
  }
  // A fresh settings reply agrees with what the acknowledgements cached.
  const DvrSettings cached = s.State().settings;
  ASSERT_TRUE(Ack(rdcp::kSettingsReply, [&] { return s.RequestSettings(); }));
  EXPECT_EQ(s.State().settings.record_mode, cached.record_mode);
  EXPECT_EQ(s.State().settings.input_mask, cached.input_mask);
  EXPECT_EQ(s.State().settings.alarm_record_duration, cached.alarm_record_duration);
  EXPECT_EQ(s.State().settings.audio_flags, cached.audio_flags);

  // Recording on and off; the status follows the DVR's notifications.
  const int info = sink.info_changed();
  ASSERT_TRUE(Ack(rdcp::kRecordingStarted, [&] { return s.StartRecording(); }));
  EXPECT_GT(sink.info_changed(), info);
  ASSERT_TRUE(WaitFor([&] { return s.DvrMode() == dvr->status().mode; }));
  ASSERT_TRUE(Ack(rdcp::kRecordingStopped, [&] { return s.StopRecording(); }));
  ASSERT_TRUE(WaitFor([&] { return s.DvrMode() == 0 && dvr->status().mode == 0; }));

  // The event list.
  ASSERT_TRUE(Ack(rdcp::kEventListPart, [&] { return s.RequestEventList(); }));
  std::vector<EventRecord> events;
  ASSERT_TRUE(s.EventList(&events));
  for (std::size_t i = 1; i < events.size(); ++i)
    EXPECT_GE(CompareDvrTime(events[i - 1].start, events[i].start), 0);

  // Keep-alives are answered: no poll timeout over fourteen ticks. (A time
  // request after each keep-alive shows that its reply has been handled.)
  for (int tick = 1; tick <= 14; ++tick) {
    s.PollTick();
    if (tick % 2 == 0) {
      ASSERT_TRUE(Ack(rdcp::kTimeReply, [&] { return s.RequestTime(); }));
    }
  }
  EXPECT_EQ(sink.poll_timeouts(), 0);
  EXPECT_EQ(sink.CountReply(rdcp::kNak), 0);
  EXPECT_TRUE(sink.receive_errors().empty());

  ASSERT_EQ(s.CloseSession(), engine::kOk);
  EXPECT_TRUE(WaitFor([&] { return !dvr->session_open(); }));
  EXPECT_EQ(s.Stop(), engine::kOk);
}

TEST_F(DvrSimTest, TwoHundredConnectOpenCloseCyclesLeakNothing) {
  const uint16_t port = static_cast<uint16_t>(dvr->control_port());
  ASSERT_TRUE(rdtest::ConnectOpenCloseCycle(port, kPassword));
  const int fds = rdtest::CountOpenFds();
  const int threads = rdtest::CountThreads();
  // The emulator serves one client at a time and refuses (closes) a
  // connection that it accepts before it has seen the previous client leave;
  // the client then simply connects again, as a user would.
  std::string why;
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    bool ok = rdtest::ConnectOpenCloseCycle(port, kPassword, &why);
    for (int retry = 0; !ok && why == "refused" && retry < 5; ++retry) {
      ++refused;
      ok = rdtest::ConnectOpenCloseCycle(port, kPassword, &why);
    }
    ASSERT_TRUE(ok) << "cycle " << i << ": " << why;
  }
  std::printf("200 cycles against the emulator, %d connections refused as busy\n", refused);
  // The emulator closes its side of a connection in its own time, so the
  // count before may include one of its descriptors: a leak shows as growth.
  EXPECT_TRUE(WaitFor([&] { return rdtest::CountOpenFds() <= fds; }))
      << rdtest::CountOpenFds() << " descriptors, " << fds << " before";
  EXPECT_TRUE(WaitFor([&] { return rdtest::CountThreads() <= threads; }));
}

}  // namespace
}  // namespace rd
