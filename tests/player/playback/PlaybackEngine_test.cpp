// The playback engine on small disk images with partial frames, on a manual
// clock: what is shown, in which order, at which pace, with which sound.

#include "player/playback/PlaybackEngine.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "player/playback/EngineRig.h"
#include "player/playback/RecordingFixture.h"

namespace rd {
namespace {

using rdtest::EngineRig;
using Shown = TraceEntry::Shown;
using namespace std::chrono_literals;

[[maybe_unused]] auto* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new rdtest::QtEnvironment);

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

  uint64_t Found(int k) {
    return *rdtest::FindPosition(image_, rec_.frames[static_cast<std::size_t>(k)].time);
  }
  // Starts the rig on the image and plays from frame k; true once a frame is shown.
  bool PlayFromFrame(EngineRig& rig, int k) {
    if (!rig.Start()) return false;
    rig.Open(image_);
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
  ASSERT_TRUE(rig.Start());
  rig.Open(image_);
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
  // The window's open flow may issue Play after the start: nothing moves.
  rig.engine->Play();
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
  ASSERT_TRUE(rig.Start());
  rig.Open(image_);
  EXPECT_EQ(rig.engine->play_mode(), PlaybackEngine::PlayMode::kNone);
  rig.engine->Play();  // the search was cancelled: nothing was started
  ASSERT_TRUE(rig.Drive([&] { return rig.trace.size() > 0; }));
  EXPECT_EQ(rig.trace.Entries().front().chunk_position, 0u);
  EXPECT_EQ(rdtest::FrameOfTime(rig.trace.Entries().front().time), 0);
}

}  // namespace
}  // namespace rd
