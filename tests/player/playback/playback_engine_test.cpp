// The playback engine on small disk images with partial frames, on a manual
// clock: what is shown, in which order, at which pace, with which sound.

#include "player/playback/PlaybackEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "player/disk/DiskFixture.h"
#include "player/playback/EngineRig.h"
#include "player/playback/RecordingFixture.h"
#include "shared/still/BmpFile.h"

namespace rd {
namespace {

using rdtest::EngineRig;
using Shown = TraceEntry::Shown;
using namespace std::chrono_literals;

[[maybe_unused]] auto* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("playback_tests"));

constexpr uint64_t kSectors = 40'000;  // 20 MB, 4998 packets
constexpr uint64_t C = kChunkBytes;

// Four cameras, a full frame every fourth frame of each, ~20 frames a chunk.
rdtest::RecordingSpec QuadSpec(int frames = 64) {
  rdtest::RecordingSpec spec;
  spec.frames = frames;
  spec.full_every = 4;
  spec.cycle = 4;
  spec.pad_to = 100'000;
  return spec;
}

// Every frame full: small frames, four cameras, about 250 frames a chunk.
rdtest::RecordingSpec FullSpec(int frames = 700) {
  rdtest::RecordingSpec spec;
  spec.frames = frames;
  spec.full_every = 1;
  spec.cycle = 1;
  spec.pad_to = 8000;
  return spec;
}

class EngineTest : public ::testing::Test {
 protected:
  void Make(const rdtest::RecordingSpec& spec, rdtest::Placement at = {}) {
    rec_ = rdtest::BuildRecording(spec);
    ASSERT_TRUE(rdtest::WriteRecording(dir_ / "disk.img", kSectors, rec_, at, &w_));
    image_ = (dir_ / "disk.img").string();
  }
  // The quadrant (or full picture) of frame k as the engine shows it now.
  QImage Area(EngineRig& rig, uint8_t code, bool quadrant) {
    const QImage p = rig.engine->Picture();
    if (!quadrant) return p;
    return p.copy((code % 2) * 320, (code / 2) * 218, 320, 218);
  }
  // Every frame shown so far equals its own channel's decode at the time it
  // was shown: checked after each step.
  void ExpectShownFrameIsRight(EngineRig& rig) {
    const auto shown = rig.trace.Shown();
    ASSERT_FALSE(shown.empty());
    const auto& e = shown.back();
    const int k = rdtest::FrameOfTime(e.time);
    const bool quadrant = e.shown == Shown::kQuadrant;
    const auto ref =
        rdtest::PaintedOutput(rdtest::ReferenceOutput(rec_.frames, k, quadrant), quadrant);
    EXPECT_EQ(rdtest::DifferentPixels(Area(rig, e.channel, quadrant), ref), 0)
        << "frame " << k << " channel " << int{e.channel} << (e.full ? " full" : " partial");
  }

  // The rig set up with the image opened, nothing played yet.
  bool Ready(EngineRig& rig) {
    if (!rig.Start()) return false;
    rig.Open(image_);
    return true;
  }
  uint64_t Found(int k) {
    return *rdtest::FindPosition(image_, rec_.frames[static_cast<std::size_t>(k)].time);
  }
  // Starts the rig on the image and plays from frame k; true once a frame is shown.
  bool PlayFromFrame(EngineRig& rig, int k) {
    if (!Ready(rig)) return false;
    rig.engine->PlayFrom(Found(k));
    return rig.Drive([&] { return rig.engine->stats().frames_shown > 0; });
  }

  rdtest::TempDir dir_;
  rdtest::Recording rec_;
  std::string image_;
  uint64_t w_ = 0;
};

TEST_F(EngineTest, FourChannelViewShowsEachChannelsOwnPictureStepByStep) {
  Make(QuadSpec());
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->PlayFrom(*rdtest::FindPosition(image_, rdtest::FrameTime(0)));
  // Frame by frame through three chunk boundaries.
  for (int n = 0; n < 40; ++n) {
    ASSERT_TRUE(rig.Step(true)) << "step " << n;
    ExpectShownFrameIsRight(rig);
  }
  // No partial frame of a channel before its first full frame.
  std::set<uint8_t> synced;
  for (const auto& e : rig.trace.Entries()) {
    if (e.shown == Shown::kNo) continue;
    EXPECT_EQ(e.shown, Shown::kQuadrant);
    if (e.full) synced.insert(e.channel);
    EXPECT_TRUE(synced.count(e.channel)) << rdtest::FrameOfTime(e.time);
  }
}

TEST_F(EngineTest, ChannelSwitchSearchAndChunkBoundariesNeverShowAMisbuiltPicture) {
  Make(QuadSpec(96));
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 0));
  ExpectShownFrameIsRight(rig);
  for (int n = 0; n < 8; ++n) {
    ASSERT_TRUE(rig.Step(true));
    ExpectShownFrameIsRight(rig);
  }
  // CH2 alone, full size: its partial frames go on on its own planes.
  rig.engine->SelectChannel(2);
  for (int n = 0; n < 6; ++n) {
    ASSERT_TRUE(rig.Step(true));
    ExpectShownFrameIsRight(rig);
    EXPECT_EQ(rig.trace.Shown().back().shown, Shown::kFull);
    EXPECT_EQ(rig.trace.Shown().back().channel, 1);
  }
  // Back to all: the other channels missed frames and wait for a full one.
  rig.engine->SelectChannel(5);
  for (int n = 0; n < 10; ++n) {
    ASSERT_TRUE(rig.Step(true));
    ExpectShownFrameIsRight(rig);
  }
  // A search into a run of partial frames (frame 41: CH2, its third partial).
  ASSERT_FALSE(rec_.frames[41].full);
  const auto before = rig.trace.size();  // the engine waits for a step
  rig.engine->PlayFrom(Found(41));
  EXPECT_FALSE(rig.engine->step_hold()) << "a search lets go of the step hold";
  EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kForward);
  for (int n = 0; n < 16; ++n) {
    ASSERT_TRUE(rig.Step(true));
    ExpectShownFrameIsRight(rig);
  }
  const auto entries = rig.trace.Entries();
  std::set<uint8_t> synced;
  int boundaries = 0;
  for (std::size_t i = before; i < entries.size(); ++i) {
    const auto& e = entries[i];
    if (e.shown != Shown::kNo && !e.full) {
      EXPECT_TRUE(synced.count(e.channel)) << "partial first";
    }
    if (e.shown != Shown::kNo && e.full) synced.insert(e.channel);
    // The frame cut by a chunk boundary is lost, and so is its channel until
    // its next full frame.
    if (i > before && e.chunk_position != entries[i - 1].chunk_position) {
      ++boundaries;
      const int lost = rdtest::FrameOfTime(entries[i - 1].time) + 1;
      EXPECT_EQ(rdtest::FrameOfTime(e.time), lost + 1);
      const uint8_t code = rec_.frames[static_cast<std::size_t>(lost)].code;
      synced.erase(code);
    }
  }
  EXPECT_GE(boundaries, 1);
}

TEST_F(EngineTest, ReverseFromFrameTenWalksDownThenThePreviousChunksLastFrame) {
  Make(FullSpec());
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 300));
  while (rig.trace.Shown().back().frame_index < 10) ASSERT_TRUE(rig.Step(true));
  const uint64_t at = rig.trace.Shown().back().chunk_position;
  ASSERT_EQ(rig.trace.Shown().back().frame_index, 10u);
  const auto before = rig.trace.size();
  rig.engine->Reverse();
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() >= before + 12; }));
  const auto e = rig.trace.Entries();
  for (uint32_t n = 0; n <= 10; ++n) {
    EXPECT_EQ(e[before + n].chunk_position, at);
    EXPECT_EQ(e[before + n].frame_index, 10 - n);
    EXPECT_NE(e[before + n].shown, Shown::kNo);
  }
  // The previous chunk ends where this one starts; its last record comes next.
  const auto& prev = e[before + 11];
  EXPECT_EQ(prev.chunk_position, at - C);
  ChunkLoader loader;
  std::vector<uint8_t> chunk(C);
  ASSERT_TRUE(loader.OpenSource(image_));
  ASSERT_EQ(loader.ReadChunk(at - C, at, chunk.data()), C);
  PairSwap(chunk.data(), C);
  loader.ParseChunk(chunk.data(), C, 0);
  loader.IndexFrames(0);
  EXPECT_EQ(prev.frame_index, loader.buffer(0).frame_count - 1);
  EXPECT_EQ(rdtest::FrameOfTime(prev.time), rdtest::FrameOfTime(e[before + 10].time) - 2)
      << "the frame cut by the boundary is not shown";
}

TEST_F(EngineTest, OneFramePerStepBothWaysAlsoAtSixteenTimes) {
  Make(FullSpec());
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 300));
  std::vector<int> shown;
  const auto last = [&] { return rdtest::FrameOfTime(rig.trace.Shown().back().time); };
  const int s = last();
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(rig.Step(true)) << n;
    shown.push_back(last());
  }
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(rig.Step(false)) << n;
    shown.push_back(last());
  }
  EXPECT_EQ(shown, (std::vector<int>{s + 1, s + 2, s + 3, s + 2, s + 1, s}));
  rig.engine->CycleSpeed();
  rig.engine->CycleSpeed();
  ASSERT_EQ(rig.engine->speed_caption(), ">> 16X");
  for (int n = 0; n < 4; ++n) ASSERT_TRUE(rig.Step(true)) << "16X forward " << n;
  for (int n = 0; n < 4; ++n) ASSERT_TRUE(rig.Step(false)) << "16X backward " << n;
}

TEST_F(EngineTest, FirstChunkAfterSearchHoldsTheFoundPacketAlsoAfterReverse) {
  Make(FullSpec());
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 300));
  EXPECT_EQ(rig.trace.Entries().front().chunk_position, Found(300));
  // The window's open flow may issue Play after the start: play goes on from
  // the searched time, not from the start of the recording.
  rig.engine->Play();
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > 30; }));
  for (const auto& e : rig.trace.Entries()) EXPECT_GE(rdtest::FrameOfTime(e.time), 300);
  rig.engine->Reverse();
  const uint64_t found = Found(300);
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.Entries().back().chunk_position < found; }));
  for (const int k : {500, 100}) {
    rig.engine->Stop();
    rig.Settle();
    const auto before = rig.trace.size();
    rig.engine->PlayFrom(Found(k));
    ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > before; }));
    EXPECT_EQ(rig.trace.Entries()[before].chunk_position, Found(k)) << k;
    EXPECT_EQ(rdtest::FrameOfTime(rig.trace.Entries()[before].time),
              rdtest::FirstFrameFrom(rec_, Found(k) / kPacketSize));
    rig.engine->Reverse();
    rig.Drive([&] { return rig.trace.size() > before + 40; });
  }
}

TEST_F(EngineTest, PlayOnAStoppedPipelineStartsAtTheFirstPacket) {
  Make(QuadSpec(24));
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kNone);
  rig.engine->Play();  // the search was cancelled: nothing was started
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > 0; }));
  EXPECT_EQ(rig.trace.Entries().front().chunk_position, 0u);
  EXPECT_EQ(rdtest::FrameOfTime(rig.trace.Entries().front().time), 0);
}

TEST_F(EngineTest, UnwrappedRecordingStopsOnTheEndTimeOrAtTheWritePosition) {
  struct Case {
    const char* name;
    int64_t end_seconds;  // the last packet stamped this much after the last frame
  };
  for (const Case c : {Case{"end time", 0}, Case{"write position", 30}}) {
    SCOPED_TRACE(c.name);
    auto spec = QuadSpec(30);
    spec.end_seconds = c.end_seconds;
    // Old frames beyond W, from an earlier use of the disk, stamped later still.
    auto old_spec = QuadSpec(8);
    old_spec.time_offset = 100;
    const auto older = rdtest::BuildRecording(old_spec);
    Make(spec, {0, false, &older});
    EngineRig rig;
    ASSERT_TRUE(PlayFromFrame(rig, 16));
    ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().ended; }));
    EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kStopped);
    rig.Settle();
    {
      std::lock_guard lock(rig.view.mutex);
      ASSERT_EQ(rig.view.disabled.size(), 1u);
      EXPECT_EQ(rig.view.disabled[0], kButtonPlay | kButtonNextFrame | kButtonPause);
    }
    for (const auto& e : rig.trace.Entries()) {
      EXPECT_LT(rdtest::FrameOfTime(e.time), 30) << "old data beyond W walked";
      EXPECT_LT(e.chunk_position, w_ * kPacketSize);
    }
    // The last frame is walked and shown in both cases (it carries the end
    // time only in the first).
    EXPECT_EQ(rdtest::FrameOfTime(rig.trace.Entries().back().time), 29);
    EXPECT_EQ(rig.engine->time_text(), rec_.frames[29].time.Format());
    // Play at the end stops again at once; nothing beyond W is read.
    rig.engine->Play();
    rig.Drive([&] { return rig.engine->play_mode() == PlaybackEngine::PlayMode::kStopped; });
    EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kStopped);
  }
}

TEST_F(EngineTest, ReverseStopsAtTheStartOfAnUnwrappedRecordingAndGoesOnInAWrappedOne) {
  Make(FullSpec(40));
  {
    EngineRig rig;
    ASSERT_TRUE(PlayFromFrame(rig, 12));
    rig.engine->Reverse();
    ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().ended; }));
    rig.Settle();
    EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kStopped);
    EXPECT_EQ(rdtest::FrameOfTime(rig.trace.Entries().back().time), 0);
    {
      std::lock_guard lock(rig.view.mutex);
      ASSERT_EQ(rig.view.disabled.size(), 1u);
      EXPECT_EQ(rig.view.disabled[0], kButtonPreviousFrame | kButtonReverse | kButtonPause);
    }
    // Play at the start plays the recording from its start again.
    const auto before = rig.trace.size();
    rig.engine->Play();
    ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > before + 5; }));
    const auto e = rig.trace.Entries();
    EXPECT_EQ(e[before].chunk_position, 0u);
    for (std::size_t n = before; n < before + 5; ++n)
      EXPECT_EQ(rdtest::FrameOfTime(e[n].time), static_cast<int>(n - before));
  }
  // Wrapped: the recording starts 300 packets before the end of a ring of
  // 1500 packets (not a whole number of chunks) and goes on at 0; older
  // frames fill the rest. Reverse from the newest part passes 0 and goes on.
  auto old_spec = FullSpec(40);
  old_spec.time_offset = -1000;
  const auto older = rdtest::BuildRecording(old_spec);
  rec_ = rdtest::BuildRecording(FullSpec(250));  // about 1100 packets
  ASSERT_TRUE(
      rdtest::WriteRecording(dir_ / "ring.img", 1500 * 8 + 8, rec_, {1200, true, &older}, &w_));
  image_ = (dir_ / "ring.img").string();
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 100));  // about packet 150 of the area
  rig.Settle();
  const auto before = rig.trace.size();
  const uint64_t from = rig.trace.Entries().back().chunk_position;
  rig.engine->Reverse();
  ASSERT_TRUE(rig.Drive([&] {
    const auto e = rig.trace.Entries();
    return e.size() > before + 10 && rdtest::FrameOfTime(e.back().time) < 20;
  }));
  EXPECT_FALSE(rig.engine->stats().ended);
  EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kReverse);
  // Back in time over the end of the area: from the first chunk of the area
  // to its last ones.
  const auto e = rig.trace.Entries();
  bool crossed = false;
  int previous = rdtest::FrameOfTime(e[before].time);
  for (std::size_t n = before; n < e.size(); ++n) {
    if (e[n].chunk_position > from) crossed = true;
    EXPECT_LE(rdtest::FrameOfTime(e[n].time), previous + 1) << n;
    previous = rdtest::FrameOfTime(e[n].time);
  }
  EXPECT_TRUE(crossed);
}

TEST(AudioPaceTest, TheHundredFramesAndEightPacketsExample) {
  // frames per audio packet 100 x 50,000 / 8 = 625,000.
  EXPECT_EQ(AudioPaceOf(100, 50, 4, 625'000), AudioPace::kOnTime);  // X = 625,000
  EXPECT_EQ(AudioPaceOf(100, 0, 8, 625'000), AudioPace::kOnTime);
  EXPECT_EQ(AudioPaceOf(100, 1, 8, 625'000), AudioPace::kAhead);    // X = 618,750
  EXPECT_EQ(AudioPaceOf(100, 10, 4, 625'000), AudioPace::kBehind);  // X = 1,125,000
  EXPECT_EQ(AudioPaceOf(100, 90, 0, 625'000), AudioPace::kBehind);  // the audio went on
}

// 100 frames and 8 audio packets in the first chunk (an audio packet after
// every 12th frame), rate code 2 (100 ms) for the frames without audio.
rdtest::RecordingSpec AudioSpec(int frames = 100) {
  rdtest::RecordingSpec spec;
  spec.frames = frames;
  spec.full_every = 1;
  spec.cycle = 1;
  spec.pad_to = 8000;
  spec.audio_every = 12;
  spec.rate = 2;
  return spec;
}

TEST_F(EngineTest, AudioPacedPlayTakesTheBuffersAudioTime) {
  Make(AudioSpec());
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->PlayFrom(0);
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().ended; }));
  EXPECT_EQ(rig.engine->frame_interval_us(), 40'000u);
  const auto e = rig.trace.Entries();
  ASSERT_GE(e.size(), 90u);
  // The 100 frames take the 4 s of their 8 audio packets, not 100 x 100 ms
  // and not the speed of decoding.
  const int64_t span = e.back().ms - e.front().ms;
  EXPECT_GE(span, 3'000);
  EXPECT_LE(span, 4'600);
  // The device got the packets in order, as recorded.
  const auto blocks = rig.audio.Blocks();
  ASSERT_GE(blocks.size(), 7u);
  for (std::size_t n = 0; n < blocks.size(); ++n) EXPECT_EQ(blocks[n], rec_.audio[n]) << n;
}

TEST_F(EngineTest, NoAudioInFastPlayReverseOrSteps) {
  Make(AudioSpec(600));
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 300));
  rig.engine->CycleSpeed();  // 4X
  const auto walked = rig.engine->stats().frames_walked;
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().frames_walked > walked + 40; }));
  rig.engine->Reverse();
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().frames_walked > walked + 80; }));
  for (int n = 0; n < 4; ++n) rig.Step(n % 2 == 0);
  rig.Drive([] { return false; }, std::chrono::seconds(3));
  EXPECT_TRUE(rig.audio.Blocks().empty());
  // Forward at 1X again: the audio of the frames shown plays.
  while (rig.engine->speed_caption() != ">> 1X") rig.engine->CycleSpeed();
  rig.engine->Play();
  ASSERT_TRUE(rig.Drive([&] { return rig.audio.Blocks().size() >= 2; }));
}

TEST_F(EngineTest, TheAviGetsTheSameAudioAsTheDevice) {
  Make(AudioSpec(300));
  EngineRig rig;
  rdtest::RecordingAvi avi;
  ASSERT_TRUE(Ready(rig));
  rig.engine->SetAviSink(&avi);
  rig.repaint_ticks = true;
  rig.engine->PlayFrom(0);
  ASSERT_TRUE(rig.Drive([&] { return rig.audio.Blocks().size() >= 12; }));
  rig.engine->SetAviSink(nullptr);
  const auto blocks = rig.audio.Blocks();
  EXPECT_EQ(avi.audio, blocks);
  for (std::size_t n = 0; n < blocks.size(); ++n) EXPECT_EQ(blocks[n], rec_.audio[n]) << n;
  EXPECT_GT(avi.frames.size(), 100u);
  for (const auto& f : avi.frames) ASSERT_EQ(f.size(), 640u * 436 * 3);
}

TEST_F(EngineTest, AChunkWithoutAudioBesideOneWithAudioKeepsRateCodePacing) {
  // The first 300 frames (more than one chunk) without audio, then audio.
  auto spec = AudioSpec(600);
  spec.audio_from = 300;
  Make(spec);
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->PlayFrom(0);
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() >= 200; }));
  const auto e = rig.trace.Entries();
  // Rate code 2: every frame its 100 ms, although the loader has parsed the
  // chunk with audio meanwhile.
  for (std::size_t n = 1; n < 200; ++n) {
    if (e[n].chunk_position != e[n - 1].chunk_position) continue;
    EXPECT_EQ(e[n].ms - e[n - 1].ms, 100) << n;
  }
  EXPECT_GE(rig.engine->stats().chunks_loaded, 2u);
}

TEST_F(EngineTest, EveryFrameOfEveryChannelTakesItsTimeWhenOneChannelIsShown) {
  auto spec = QuadSpec(40);
  spec.rate = 2;
  Make(spec);
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->SelectChannel(2);
  rig.engine->PlayFrom(Found(0));
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() >= 16; }));
  const auto e = rig.trace.Entries();
  for (std::size_t n = 1; n < 16; ++n) {
    EXPECT_EQ(e[n].shown != Shown::kNo, e[n].channel == 1) << n;
    if (e[n].chunk_position == e[n - 1].chunk_position) {
      EXPECT_EQ(e[n].ms - e[n - 1].ms, 100) << n;
    }
  }
}

TEST_F(EngineTest, SixteenTimesShowsEveryFourthFrameOfEachChannel) {
  Make(FullSpec(700));
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->CycleSpeed();
  rig.engine->CycleSpeed();
  EXPECT_EQ(rig.engine->skip_factor(), 4);
  rig.engine->PlayFrom(Found(100));
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() >= 64; }));
  std::map<uint8_t, std::vector<bool>> by_channel;
  for (const auto& e : rig.trace.Entries()) by_channel[e.channel].push_back(e.shown != Shown::kNo);
  for (const auto& [code, shown] : by_channel)
    for (std::size_t j = 0; j < shown.size(); ++j)
      EXPECT_EQ(shown[j], j % 4 == 3) << int{code} << " " << j;
  // Paced at 16 times the recorded rate (rate code 0: 33 ms a frame).
  const auto e = rig.trace.Entries();
  EXPECT_LE(e[63].ms - e[0].ms, 63 * 34 / 16 + 5);
  EXPECT_GE(e[63].ms - e[0].ms, 63 * 33 / 16 - 5);
}

TEST_F(EngineTest, SmallAreasAndPartialChunksReadNothingOutsideTheRecording) {
  struct Case {
    uint64_t area_packets;
    bool wrapped;
  };
  const Case cases[] = {
      {512, true},       // one chunk
      {1024 + 3, true},  // two chunks and three packets
      {1536, true},      // three chunks
      {1536 + 100, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.area_packets << (c.wrapped ? " wrapped" : ""));
    // A recording that fills most of the ring; older frames the rest.
    rec_ = rdtest::BuildRecording(FullSpec(static_cast<int>(c.area_packets * 2 / 11)));
    auto old_spec = FullSpec(20);
    old_spec.time_offset = -1000;
    const auto older = rdtest::BuildRecording(old_spec);
    ASSERT_LT(rec_.packets.size(), c.area_packets);
    image_ = (dir_ / ("area" + std::to_string(c.area_packets) + ".img")).string();
    ASSERT_TRUE(rdtest::WriteRecording(image_, c.area_packets * 8 + 8, rec_,
                                       {c.wrapped ? c.area_packets / 3 : 0, c.wrapped, &older},
                                       &w_));
    rdtest::ProbeOpener probe;
    EngineRig rig(probe.opener());
    ASSERT_TRUE(rig.Start());
    rig.Open(image_);
    rig.engine->CycleSpeed();  // 4X: around the ring quickly
    rig.engine->PlayFrom(Found(static_cast<int>(rec_.frames.size() / 2)));
    const auto loads = [&] { return rig.engine->stats().chunks_loaded; };
    ASSERT_TRUE(rig.Drive([&] { return loads() >= 8 || rig.engine->stats().ended; }));
    rig.engine->Reverse();
    const auto at = loads();
    ASSERT_TRUE(rig.Drive([&] { return loads() >= at + 8 || rig.engine->stats().ended; }));
    const uint64_t limit = c.wrapped ? c.area_packets * kPacketSize : w_ * kPacketSize;
    std::lock_guard lock(probe.log().mutex);
    ASSERT_FALSE(probe.log().reads.empty());
    for (const auto& [offset, size] : probe.log().reads) {
      EXPECT_LE(offset + size, limit) << offset;
      EXPECT_LE(size, C);
    }
    EXPECT_GT(rig.engine->stats().frames_shown, 0u);
  }
}

TEST_F(EngineTest, AReadFailureGivesOneMessageAndTheEngineStaysUsable) {
  Make(FullSpec(700));
  rdtest::ProbeOpener probe;
  EngineRig rig(probe.opener());
  ASSERT_TRUE(Ready(rig));
  const uint64_t start = Found(10);
  {
    std::lock_guard lock(probe.log().mutex);
    probe.log().fail_sectors.insert((start + 2 * C) / kSectorSize + 5);  // the third chunk
  }
  rig.engine->CycleSpeed();
  rig.engine->PlayFrom(start);
  ASSERT_TRUE(rig.Drive([&] { return !rig.view.Messages().empty(); }));
  // Played what it had, and then nothing more; one message for three reads.
  rig.Drive([] { return false; }, std::chrono::seconds(10));
  EXPECT_EQ(rig.view.Messages(), std::vector<std::string>{"READ HDD Error"});
  EXPECT_EQ(rig.engine->stats().read_errors, 1u);
  EXPECT_EQ(rig.engine->stats().chunks_loaded, 2u);
  // A new search plays again (elsewhere on the disk).
  const auto shown = rig.engine->stats().frames_shown;
  rig.engine->PlayFrom(Found(500));
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().frames_shown > shown + 20; }));
  EXPECT_EQ(rig.view.Messages().size(), 1u);
}

TEST_F(EngineTest, AnOpenFailureShowsOneMessagePerStart) {
  Make(FullSpec(100));
  bool fail = true;
  std::mutex m;
  rd::DeviceOpener opener = [&](const std::string& path,
                                std::string* error) -> std::unique_ptr<SectorDevice> {
    std::lock_guard lock(m);
    if (fail) return nullptr;
    return OpenSectorDevice(path, error);
  };
  EngineRig rig(opener);
  ASSERT_TRUE(Ready(rig));
  rig.engine->PlayFrom(Found(10));
  // The load is tried again every second; the message is shown once.
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().open_errors >= 4; }));
  EXPECT_EQ(rig.view.Messages(), std::vector<std::string>{"File Open Error"});
  rig.engine->PlayFrom(Found(10));
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().open_errors >= 6; }));
  EXPECT_EQ(rig.view.Messages().size(), 2u);
  {
    std::lock_guard lock(m);
    fail = false;  // the drive is back: the next retry plays
  }
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().frames_shown > 0; }));
}

TEST_F(EngineTest, ExitWhilePausedSteppingOrHeldReturnsPromptly) {
  Make(FullSpec(300));
  for (int state = 0; state < 4; ++state) {
    SCOPED_TRACE(state);
    std::unique_ptr<EngineRig> rig = std::make_unique<EngineRig>();
    rdtest::RecordingView view;
    SteadyPlaybackClock steady;
    std::unique_ptr<PlaybackEngine> real;  // state 3: on the steady clock, playing
    if (state == 3) {
      PlaybackEngine::Options o;
      o.view = &view;
      o.clock = &steady;
      real = std::make_unique<PlaybackEngine>(o);
      ASSERT_EQ(real->Start(), PlaybackEngine::SetUp::kOk);
      real->OpenDisk(rdtest::OpenPlaybackDisk(image_));
      real->PlayFrom(Found(10));
      ASSERT_TRUE(rdtest::WaitFor([&] { return real->stats().frames_shown >= 3; }));
      real->Pause();
    } else {
      ASSERT_TRUE(PlayFromFrame(*rig, 10));
      if (state == 0) rig->engine->Pause();
      if (state == 1) rig->engine->StepForward();
      if (state == 2) rig->engine->SetHold(true);
      rig->Settle();
    }
    std::atomic<bool> done{false};
    std::thread exit([&] {
      rig.reset();
      real.reset();
      done = true;
    });
    EXPECT_TRUE(rdtest::WaitFor([&] { return done.load(); }, std::chrono::seconds(5)));
    exit.join();
  }
}

TEST_F(EngineTest, SpeedDuringReverseTurnsForward) {
  Make(FullSpec(700));
  EngineRig rig;
  ASSERT_TRUE(PlayFromFrame(rig, 400));
  rig.engine->Reverse();
  ASSERT_TRUE(
      rig.Drive([&] { return rdtest::FrameOfTime(rig.trace.Entries().back().time) < 300; }));
  rig.engine->CycleSpeed();
  EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kForward);
  EXPECT_EQ(rig.engine->direction(), 1);
  rig.Settle();
  const auto before = rig.trace.size();
  const int at = rdtest::FrameOfTime(rig.trace.Entries().back().time);
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > before + 300; }));
  const auto e = rig.trace.Entries();
  // Forward from where it was, over the chunks that follow, never back.
  for (std::size_t n = before + 1; n < e.size(); ++n) {
    EXPECT_GT(rdtest::FrameOfTime(e[n].time), rdtest::FrameOfTime(e[n - 1].time)) << n;
  }
  EXPECT_GE(rdtest::FrameOfTime(e[before].time), at);
  EXPECT_GT(rdtest::FrameOfTime(e.back().time), at + 250);
}

TEST_F(EngineTest, TimeTextCaptureAndAviStampAreOfTheLastFrameDrawn) {
  Make(QuadSpec(40));
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->SelectChannel(3);
  rig.engine->PlayFrom(Found(0));
  ASSERT_TRUE(rig.Drive([&] { return rig.engine->stats().frames_shown > 0; }));
  for (int n = 0; n < 3; ++n) ASSERT_TRUE(rig.Step(true));
  const auto shown = rig.trace.Shown();
  // Frames of the other channels were walked after it; the text is the
  // last CH3 frame's.
  EXPECT_NE(rig.trace.Entries().back().channel, 2);
  EXPECT_EQ(rig.engine->time_text(), shown.back().time.Format());
  {
    std::lock_guard lock(rig.view.mutex);
    std::vector<std::string> drawn;
    for (const auto& e : shown) drawn.push_back(e.time.Format());
    EXPECT_EQ(rig.view.times, drawn);
  }
  // The AVI frame carries the stamp; the memory picture does not get it.
  rdtest::RecordingAvi avi;
  rig.engine->SetAviSink(&avi);
  const QImage before = rig.engine->Picture();
  rig.engine->RepaintTick();
  rig.engine->SetAviSink(nullptr);
  EXPECT_EQ(rig.engine->Picture(), before);
  ASSERT_EQ(avi.frames.size(), 1u);
  std::vector<uint8_t> plain(640 * 436 * 3);
  video::ReadBottomUp(before, plain.data(), 640, 436, 3);
  EXPECT_NE(avi.frames[0], plain);
  // The stamp sits in the bottom right corner: rows 420..435 from the top are
  // the first rows of the bottom-up frame.
  std::size_t differ_low = 0, differ_elsewhere = 0;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (avi.frames[0][i] == plain[i]) continue;
    (i < 20 * 1920 && i % 1920 >= 460 * 3 ? differ_low : differ_elsewhere)++;
  }
  EXPECT_GT(differ_low, 100u);
  EXPECT_EQ(differ_elsewhere, 0u);
  // The capture is the same stamped picture.
  const auto bmp = dir_ / "capture.bmp";
  ASSERT_EQ(rig.engine->SaveBitmap(bmp.string()), kBmpOk);
  const auto file = rdtest::ReadFile(bmp);
  ASSERT_EQ(file.size(), 837'174u);
  EXPECT_TRUE(std::equal(avi.frames[0].begin(), avi.frames[0].end(), file.begin() + 54));
  // The window is given the picture when it changed, not at every tick.
  rig.engine->RepaintTick();
  std::lock_guard lock(rig.view.mutex);
  EXPECT_EQ(rig.view.presents, 1);
  EXPECT_EQ(rig.view.presented, before);
}

TEST_F(EngineTest, QuadPictureSelectsAllChannelsAndLocksTheChannelButtons) {
  auto spec = QuadSpec(30);
  spec.channels = 5;  // CH1..CH4, then the recorder's quad picture
  spec.full_every = 1;
  spec.cycle = 1;
  Make(spec);
  EngineRig rig;
  ASSERT_TRUE(Ready(rig));
  rig.engine->SelectChannel(2);
  rig.engine->PlayFrom(Found(0));
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() >= 12; }));
  EXPECT_EQ(rig.engine->selected_channel(), 5);
  const auto e = rig.trace.Entries();
  bool quad_seen = false;
  for (const auto& x : e) {
    if (x.channel == 4) {
      quad_seen = true;
      EXPECT_EQ(x.shown, Shown::kFull);
    } else if (quad_seen) {
      EXPECT_EQ(x.shown, Shown::kQuadrant);  // all channels from then on
    }
  }
  std::lock_guard lock(rig.view.mutex);
  ASSERT_GE(rig.view.channel_buttons.size(), 2u);
  EXPECT_FALSE(rig.view.channel_buttons[0]);
  EXPECT_TRUE(rig.view.channel_buttons[1]);
}

}  // namespace
}  // namespace rd
