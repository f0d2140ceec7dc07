// Streaming statistics: start values, the one-second roll, running averages,
// the idle percentage and the getters' null-output code.

#include <gtest/gtest.h>

#include <thread>

#include "client/engine/stream/StreamStats.h"

namespace rdtest {
namespace {

using rd::StreamStats;
constexpr uint32_t kNone = 0xFFFFFFFFu;

struct Snapshot {
  uint32_t seconds, speed_last, speed_max, speed_min, pk_last, pk_max, pk_min, pk_size_max,
      pk_size_min, frames_total, fr_last, fr_max, fr_min, fs_last, fs_max, fs_min;
  float speed_avg, pk_avg, fr_avg, fs_avg;
};

Snapshot Read(const StreamStats& s) {
  Snapshot v{};
  EXPECT_EQ(s.GetConnectionTime(&v.seconds), 0);
  EXPECT_EQ(s.GetSpeed(&v.speed_last, &v.speed_max, &v.speed_min, &v.speed_avg), 0);
  EXPECT_EQ(s.GetPackets(&v.pk_last, &v.pk_max, &v.pk_min, &v.pk_avg), 0);
  EXPECT_EQ(s.GetPacketSize(&v.pk_size_max, &v.pk_size_min), 0);
  EXPECT_EQ(s.GetFrames(&v.frames_total), 0);
  EXPECT_EQ(s.GetFrameRate(&v.fr_last, &v.fr_max, &v.fr_min, &v.fr_avg), 0);
  EXPECT_EQ(s.GetFrameSize(&v.fs_last, &v.fs_max, &v.fs_min, &v.fs_avg), 0);
  return v;
}

TEST(StreamStats, EveryMinimumIsUnsetBeforeTheFirstRoll) {
  StreamStats s;
  s.AddPacket(2048);  // sets the packet size minimum, not the per-second ones
  Snapshot v = Read(s);
  EXPECT_EQ(v.speed_min, kNone);
  EXPECT_EQ(v.pk_min, kNone);
  EXPECT_EQ(v.fr_min, kNone);
  EXPECT_EQ(v.fs_min, kNone);
  EXPECT_EQ(v.pk_size_min, 2048u);
  EXPECT_EQ(v.seconds, 0u);

  s.Reset();
  v = Read(s);
  EXPECT_EQ(v.pk_size_min, kNone);
  EXPECT_EQ(v.pk_size_max, 0u);
}

TEST(StreamStats, GettersRefuseNullOutputs) {
  StreamStats s;
  uint32_t a, b, c;
  float f;
  EXPECT_EQ(s.GetConnectionTime(nullptr), 145);
  EXPECT_EQ(s.GetFrames(nullptr), 145);
  EXPECT_EQ(s.GetPacketSize(&a, nullptr), 145);
  EXPECT_EQ(s.GetPacketSize(nullptr, &a), 145);
  for (int missing = 0; missing < 4; ++missing) {
    SCOPED_TRACE(missing);
    uint32_t* p1 = missing == 0 ? nullptr : &a;
    uint32_t* p2 = missing == 1 ? nullptr : &b;
    uint32_t* p3 = missing == 2 ? nullptr : &c;
    float* p4 = missing == 3 ? nullptr : &f;
    EXPECT_EQ(s.GetSpeed(p1, p2, p3, p4), 145);
    EXPECT_EQ(s.GetPackets(p1, p2, p3, p4), 145);
    EXPECT_EQ(s.GetFrameRate(p1, p2, p3, p4), 145);
    EXPECT_EQ(s.GetFrameSize(p1, p2, p3, p4), 145);
  }
}

TEST(StreamStats, AverageFrameSize) {
  StreamStats s;
  for (uint32_t size : {1000u, 2000u, 3000u}) s.AddFrame(size);
  const Snapshot v = Read(s);
  EXPECT_FLOAT_EQ(v.fs_avg, 2000.0f);
  EXPECT_EQ(v.fs_last, 3000u);
  EXPECT_EQ(v.fs_max, 3000u);
  EXPECT_EQ(v.fs_min, 1000u);
  EXPECT_EQ(v.frames_total, 3u);
}

// Three seconds: busy, silent, half as busy. The averages run over all
// seconds since the reset, the silent one included.
TEST(StreamStats, RollKeepsRunningAveragesOverSilentSeconds) {
  StreamStats s;
  for (int i = 0; i < 4; ++i) s.AddPacket(2048);
  for (int i = 0; i < 6; ++i) s.AddFrame(5000);
  s.Roll();
  s.Roll();
  for (int i = 0; i < 2; ++i) s.AddPacket(2048);
  s.AddFrame(5000);
  s.Roll();

  const Snapshot v = Read(s);
  EXPECT_EQ(v.seconds, 3u);
  EXPECT_EQ(v.pk_last, 2u);
  EXPECT_EQ(v.pk_max, 4u);
  EXPECT_EQ(v.pk_min, 0u);
  EXPECT_FLOAT_EQ(v.pk_avg, 2.0f);
  EXPECT_EQ(v.speed_last, 4096u);
  EXPECT_EQ(v.speed_max, 8192u);
  EXPECT_EQ(v.speed_min, 0u);
  EXPECT_FLOAT_EQ(v.speed_avg, 4096.0f);
  EXPECT_EQ(v.fr_last, 1u);
  EXPECT_EQ(v.fr_max, 6u);
  EXPECT_EQ(v.fr_min, 0u);
  EXPECT_NEAR(v.fr_avg, 7.0f / 3.0f, 1e-5);
  EXPECT_EQ(v.frames_total, 7u);
  EXPECT_EQ(s.FramesLastSecond(), 1u);
}

TEST(StreamStats, IdlePercentage) {
  struct Case {
    std::vector<uint32_t> gaps;
    uint32_t idle;
  };
  const std::vector<Case> cases = {
      {{}, 100},      // no chunk at all: the whole second counts as waiting
      {{0, 0}, 100},  // chunks without any wait read the same
      {{250, 300}, 55},
      {{7}, 0},
      {{5000}, 500},  // a gap longer than the second
      {{4000000000u}, 400000000u},
  };
  for (const auto& c : cases) {
    StreamStats s;
    for (uint32_t g : c.gaps) s.AddGap(g);
    s.Roll();
    EXPECT_EQ(s.IdlePercent(), c.idle) << ::testing::PrintToString(c.gaps);
  }
  StreamStats s;
  s.AddGap(500);
  s.Roll();
  s.Roll();  // the gap total starts again each second
  EXPECT_EQ(s.IdlePercent(), 100u);
}

TEST(StreamStats, RestartsAndQueuedFramesPerSecond) {
  StreamStats s;
  s.AddRestart();
  s.AddRestart();
  s.AddQueued();
  EXPECT_EQ(s.QueuedLastSecond(), 0u);
  s.Roll();
  s.AddRestart();  // belongs to the next second
  EXPECT_EQ(s.QueuedLastSecond(), 1u);
  EXPECT_EQ(s.TakeRestartsLastSecond(), 2u);
  EXPECT_EQ(s.TakeRestartsLastSecond(), 0u);
  s.Roll();
  EXPECT_EQ(s.TakeRestartsLastSecond(), 1u);
  EXPECT_EQ(s.QueuedLastSecond(), 0u);
}

// Inputs on one thread, rolls and getters on another: nothing is lost across
// the rolls.
TEST(StreamStats, ConcurrentInputsAndRolls) {
  StreamStats s;
  constexpr uint32_t kPackets = 20000;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (uint32_t i = 0; i < kPackets; ++i) {
      s.AddPacket(2048);
      s.AddGap(1);
      if (i % 10 == 0) s.AddFrame(i);
      if (i % 100 == 0) s.AddRestart();
    }
    done = true;
  });
  uint64_t packets = 0, restarts = 0;
  uint32_t last, max, min;
  float avg;
  while (!done) {
    s.Roll();
    ASSERT_EQ(s.GetPackets(&last, &max, &min, &avg), 0);
    packets += last;
    restarts += s.TakeRestartsLastSecond();
  }
  producer.join();
  s.Roll();
  ASSERT_EQ(s.GetPackets(&last, &max, &min, &avg), 0);
  packets += last;
  restarts += s.TakeRestartsLastSecond();
  EXPECT_EQ(packets, kPackets);
  EXPECT_EQ(restarts, kPackets / 100);
  uint32_t total = 0;
  ASSERT_EQ(s.GetFrames(&total), 0);
  EXPECT_EQ(total, kPackets / 10);
}

}  // namespace
}  // namespace rdtest
