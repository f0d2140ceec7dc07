// The stream receiver against the emulated DVR over loopback: the control
// session is opened with the real RDCP session, the stream arrives on the
// receiver, and what arrives is compared with what the emulator logged as
// sent (FNV-1a of every frame, padding included, and of every audio block).

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "client/engine/rdcp/RdcpSession.h"
#include "client/engine/stream/StreamReceiver.h"
#include "StreamFixture.h"
#include "support/TestSupport.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/SimLog.h"

namespace rdtest {
namespace {

using namespace std::chrono_literals;

struct ControlSink : rd::EngineEvents {
  void OnCtrlConnect(int error) override {
    std::lock_guard lock(mutex);
    connects.push_back(error);
  }
  void OnRdcpReply(int type, int error) override {
    std::lock_guard lock(mutex);
    replies.emplace_back(type, error);
  }
  int Replies(int type) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& r : replies) n += r.first == type && r.second == 0;
    return n;
  }
  bool Connected() {
    std::lock_guard lock(mutex);
    return !connects.empty() && connects[0] == 0;
  }
  std::mutex mutex;
  std::vector<int> connects;
  std::vector<std::pair<int, int>> replies;
};

struct Sent {
  int code = 0;
  std::size_t length = 0;
  uint32_t hash = 0;
};

struct SimLogContents {
  std::vector<Sent> frames;
  std::vector<uint32_t> audio;
};

SimLogContents ParseLog(const std::filesystem::path& file) {
  SimLogContents out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string time, kind;
    words >> time >> kind;
    if (kind == "FRAME") {
      Sent s;
      std::string hash;
      words >> s.code >> s.length >> hash;
      s.hash = static_cast<uint32_t>(std::stoul(hash, nullptr, 16));
      out.frames.push_back(s);
    } else if (kind == "AUDIO") {
      std::size_t length = 0;
      std::string hash;
      words >> length >> hash;
      out.audio.push_back(static_cast<uint32_t>(std::stoul(hash, nullptr, 16)));
    }
  }
  return out;
}

uint32_t Hash(const Bytes& b) {
  return rd::sim::Fnv1a32(b.data(), b.size());
}

// The emulator, a control session and a stream receiver on loopback.
class DvrsimRig {
 public:
  // Starts the emulator with `scenarios`, opens the control session and,
  // when `filter` is given, sets the stream filter before the stream opens.
  void Begin(std::vector<rd::sim::Scenario> scenarios = {}, int filter = -1, double fps = 12) {
    rd::sim::SimOptions o;
    o.listen = "127.0.0.1";
    o.control_port = 0;
    o.stream_port = 0;
    o.quiet = true;
    o.fps = fps;
    o.log_file = (dir / "dvrsim.log").string();
    o.disk = (dir / "disk.img").string();
    o.disk_size = 64ull << 20;
    o.scenarios = std::move(scenarios);
    dvr = std::make_unique<rd::sim::DvrSim>(o);
    std::string error;
    ASSERT_TRUE(dvr->Start(&error)) << error;

    ASSERT_EQ(session.SetSink(&control), 0);
    ASSERT_EQ(session.Start(), 0);
    ASSERT_EQ(session.SetRemote("127.0.0.1", static_cast<uint16_t>(dvr->control_port())), 0);
    ASSERT_TRUE(WaitFor([&] { return control.Connected(); }));
    const uint8_t password[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(session.OpenSession(password), 0);
    // Reply 64 carries the challenge; the session queues its answer before it
    // reports the reply, so requests made from here on follow the answer.
    ASSERT_TRUE(WaitFor([&] { return control.Replies(rd::rdcp::kSessionAccepted) > 0; }, 10s));
    ASSERT_TRUE(WaitFor([&] { return dvr->session_open(); }, 10s));
    if (filter >= 0) {
      ASSERT_EQ(session.SetStreamFilter(0, static_cast<uint8_t>(filter)), 0);
      ASSERT_TRUE(WaitFor([&] { return control.Replies(rd::rdcp::kStreamFilterChanged) > 0; }));
    }

    rx.SetSink(&sink);
    sink.Watch(&rx);
    ASSERT_EQ(rx.Start(), 0);
    ASSERT_EQ(rx.SetRemote("127.0.0.1", static_cast<uint16_t>(dvr->stream_port())), 0);
  }

  // Stops everything (so that the log is complete) and reads the log.
  SimLogContents End() {
    if (rx.started()) rx.Stop();
    session.Stop();
    dvr->Stop();
    return ParseLog(dir / "dvrsim.log");
  }

  ~DvrsimRig() {
    if (rx.started()) rx.Stop();
    session.Stop();
    if (dvr) dvr->Stop();
  }

  TempDir dir;
  std::unique_ptr<rd::sim::DvrSim> dvr;
  ControlSink control;
  RecordingSink sink;
  rd::RdcpSession session;
  rd::StreamReceiver rx;
};

std::set<int> Channels(const std::vector<RecordingSink::Frame>& frames) {
  std::set<int> channels;
  for (const auto& f : frames) channels.insert(rd::FrameHeaderByte::Parse(f.data[4]).channel);
  return channels;
}

TEST(StreamDvrsim, EveryFrameAndAudioBlockArrivesIntact) {
  DvrsimRig rig;
  rig.Begin();
  ASSERT_TRUE(
      WaitFor([&] { return rig.sink.FrameCount() >= 24 && rig.sink.AudioCount() >= 3; }, 30s));
  const SimLogContents sent = rig.End();
  const auto frames = rig.sink.Frames();
  const auto audio = rig.sink.AudioBlocks();
  ASSERT_GE(sent.frames.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_EQ(frames[i].data.size(), sent.frames[i].length);
    EXPECT_EQ(Hash(frames[i].data), sent.frames[i].hash);
    EXPECT_EQ(rd::FrameHeaderByte::Parse(frames[i].data[4]).channel, sent.frames[i].code);
  }
  ASSERT_GE(sent.audio.size(), audio.size());
  for (std::size_t i = 0; i < audio.size(); ++i) {
    ASSERT_EQ(audio[i].data.size(), rd::kAudioPayloadSize);
    EXPECT_EQ(Hash(audio[i].data), sent.audio[i]) << "audio block " << i;
  }
  EXPECT_EQ(Channels(frames), (std::set<int>{0, 1, 2, 3}));  // all four cameras took turns
  EXPECT_EQ(rig.sink.Count("restart"), 0);
  EXPECT_EQ(rig.sink.Count("error"), 0);
}

TEST(StreamDvrsim, ChannelFilterIsHonoured) {
  DvrsimRig rig;
  // Per-channel filter leaving out CH2 and CH4, and the audio.
  rig.Begin({}, rd::stream_filter::kPerChannel | 0x02 | 0x08 | rd::stream_filter::kAudioExcluded);
  ASSERT_TRUE(WaitFor([&] { return rig.sink.FrameCount() >= 16; }, 30s));
  const SimLogContents sent = rig.End();
  const auto frames = rig.sink.Frames();
  ASSERT_GE(sent.frames.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(Hash(frames[i].data), sent.frames[i].hash) << "frame " << i;
  }
  EXPECT_EQ(Channels(frames), (std::set<int>{0, 2}));
  EXPECT_EQ(rig.sink.AudioCount(), 0u);
  EXPECT_TRUE(sent.audio.empty());
}

// Frames whose start codes straddle two chunks, a stream that begins 1000
// bytes into its first chunk, frame-restart bits: whatever the receiver
// reports is a frame the emulator sent, intact and in order.
TEST(StreamDvrsim, FaultScenariosDeliverOnlyIntactFrames) {
  using rd::sim::ScenarioKind;
  struct Case {
    ScenarioKind kind;
    int arg;
    bool lossless;  // every frame sent arrives
  };
  for (const Case c :
       {Case{ScenarioKind::kSplitStart, 1, true}, Case{ScenarioKind::kSplitStart, 3, true},
        Case{ScenarioKind::kMidChunk, 1000, false}, Case{ScenarioKind::kRestart, 5, false}}) {
    SCOPED_TRACE(rd::sim::ScenarioName(c.kind) + std::string(":") + std::to_string(c.arg));
    DvrsimRig rig;
    rig.Begin({rd::sim::Scenario{c.kind, c.arg}});
    ASSERT_TRUE(WaitFor([&] { return rig.sink.FrameCount() >= 12; }, 30s));
    const SimLogContents sent = rig.End();
    const auto frames = rig.sink.Frames();
    std::size_t at = 0;  // each frame matches a sent one after the previous match
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const uint32_t h = Hash(frames[i].data);
      while (at < sent.frames.size() && sent.frames[at].hash != h) ++at;
      ASSERT_LT(at, sent.frames.size()) << "frame " << i << " was never sent";
      EXPECT_EQ(frames[i].data.size(), sent.frames[at].length);
      if (c.lossless) {
        EXPECT_EQ(at, i);
      }
      ++at;
    }
    if (c.kind == ScenarioKind::kRestart) {
      EXPECT_GT(rig.sink.Count("restart"), 0);
      EXPECT_LT(frames.size(), at);  // frames were dropped
    }
  }
}

}  // namespace
}  // namespace rdtest
