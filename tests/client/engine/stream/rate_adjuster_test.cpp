// The automatic stream frame interval: ladders, the silent-seconds limit,
// degrading on trouble, improving after 16 idle seconds, mode 2 freeze.

#include <gtest/gtest.h>

#include <vector>

#include "client/events/EngineEvents.h"
#include "client/engine/stream/RateAdjuster.h"
#include "client/engine/stream/StreamStats.h"

namespace rdtest {
namespace {

using rd::RateAdjuster;
using rd::StreamStats;

struct Owner : rd::EngineEvents {
  void OnFrameIntervalChosen(uint8_t interval) override { chosen.push_back(interval); }
  std::vector<int> chosen;
};

// One second of stream as the statistics see it.
struct Second {
  uint32_t frames = 0;
  uint32_t restarts = 0;
  uint32_t gap_ms = 0;  // 0 reads as a fully idle second
};

void Live(StreamStats& stats, const Second& s) {
  for (uint32_t i = 0; i < s.frames; ++i) stats.AddFrame(1000);
  for (uint32_t i = 0; i < s.restarts; ++i) stats.AddRestart();
  if (s.gap_ms) stats.AddGap(s.gap_ms);
  stats.Roll();
}

struct Rig {
  Rig() { EXPECT_EQ(adjuster.SetOwner(&owner), 0); }
  // Runs `seconds` one-second steps; returns the decisions they made.
  std::vector<int> Run(int seconds, const Second& s, uint8_t standard, uint8_t current,
                       uint8_t record_interval = 0, uint8_t mode = 0) {
    owner.chosen.clear();
    for (int i = 0; i < seconds; ++i) {
      Live(stats, s);
      adjuster.Run(stats, mode, standard, current, record_interval);
    }
    return owner.chosen;
  }
  StreamStats stats;
  Owner owner;
  RateAdjuster adjuster;
};

constexpr uint8_t kNtsc = 0, kPal = 1;

TEST(RateAdjuster, Scenarios) {
  struct Case {
    const char* name;
    uint8_t standard;
    uint8_t current;
    uint8_t record_interval;
    uint8_t mode;
    int seconds;
    Second second;
    std::vector<int> decisions;
  };
  const Second trouble{10, 1, 500};
  const Second idle{5, 0, 0};
  const Second busy{5, 0, 100};  // 10 % idle
  const Second silent{};
  const std::vector<Case> cases = {
      {"NTSC 0 with a frame restart", kNtsc, 0, 0, 0, 1, trouble, {1}},
      {"PAL 4 with a frame restart", kPal, 4, 0, 0, 1, trouble, {9}},
      {"PAL 9 idle for 16 s improves to 4 (not before)", kPal, 9, 0, 0, 16, idle, {4}},
      {"15 idle seconds are not enough", kPal, 9, 0, 0, 15, idle, {}},
      {"a busy connection does not improve", kNtsc, 9, 0, 0, 40, busy, {}},
      {"NTSC 239 stays", kNtsc, 239, 0, 0, 3, trouble, {}},
      {"NTSC 200 stays", kNtsc, 200, 0, 0, 1, trouble, {}},
      {"PAL 125 stays", kPal, 125, 0, 0, 1, trouble, {}},
      {"PAL 124 degrades to 199", kPal, 124, 0, 0, 1, trouble, {199}},
      {"0 cannot improve", kNtsc, 0, 0, 0, 40, idle, {}},
      {"mode 2 (play pause) freezes it", kNtsc, 3, 0, 2, 40, trouble, {}},
      {"19 silent seconds at limit 20", kNtsc, 0, 0, 0, 19, silent, {}},
      {"20 silent seconds at limit 20", kNtsc, 0, 0, 0, 20, silent, {1}},
      {"silence keeps degrading past the limit", kNtsc, 0, 0, 0, 22, silent, {1, 1, 1}},
      {"limit 21 at interval 29", kNtsc, 29, 0, 0, 21, silent, {59}},
      {"limit 21 at interval 29, one second short", kNtsc, 29, 0, 0, 20, silent, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    EXPECT_EQ(rig.Run(c.seconds, c.second, c.standard, c.current, c.record_interval, c.mode),
              c.decisions);
  }
}

TEST(RateAdjuster, ImprovementNeedsSixteenSecondsOfHistoryAfterReset) {
  Rig rig;
  const Second idle{5, 0, 0};
  EXPECT_EQ(rig.Run(15, idle, kNtsc, 9), std::vector<int>{});
  rig.adjuster.ResetHistory();
  EXPECT_EQ(rig.Run(15, idle, kNtsc, 9), std::vector<int>{});
  EXPECT_FALSE(rig.adjuster.history_full());
  EXPECT_EQ(rig.Run(1, idle, kNtsc, 9), std::vector<int>{5});
  EXPECT_EQ(rig.adjuster.idle_average(), 100u);
  // The history survives the decision; the next one needs more than 10 frames.
  EXPECT_EQ(rig.Run(2, idle, kNtsc, 5), std::vector<int>{});
  EXPECT_EQ(rig.Run(1, idle, kNtsc, 5), std::vector<int>{3});
}

TEST(RateAdjuster, FrozenAndDisabledKeepNoHistory) {
  Rig rig;
  const Second idle{5, 0, 0};
  EXPECT_EQ(rig.Run(20, idle, kNtsc, 9, 0, RateAdjuster::kModePlayPause), std::vector<int>{});
  EXPECT_FALSE(rig.adjuster.history_full());
  rig.adjuster.SetEnabled(false);
  EXPECT_FALSE(rig.adjuster.IsEnabled());
  EXPECT_EQ(rig.Run(20, Second{}, kNtsc, 0), std::vector<int>{});
  EXPECT_EQ(rig.adjuster.silent_seconds(), 0);
  rig.adjuster.SetEnabled(true);
  EXPECT_EQ(rig.Run(15, idle, kNtsc, 9), std::vector<int>{});
  EXPECT_EQ(rig.Run(1, idle, kNtsc, 9), std::vector<int>{5});
}

TEST(RateAdjuster, SilenceResetsOnAFrameAndOnResetHistory) {
  Rig rig;
  EXPECT_EQ(rig.Run(19, Second{}, kNtsc, 0), std::vector<int>{});
  rig.adjuster.ResetHistory();
  EXPECT_EQ(rig.Run(19, Second{}, kNtsc, 0), std::vector<int>{});
  EXPECT_EQ(rig.Run(1, Second{1, 0, 0}, kNtsc, 0), std::vector<int>{});
  EXPECT_EQ(rig.adjuster.silent_seconds(), 0);
  EXPECT_EQ(rig.Run(19, Second{}, kNtsc, 0), std::vector<int>{});
  EXPECT_EQ(rig.adjuster.trouble(), 0u);
}

TEST(RateAdjuster, RestartsAreConsumed) {
  Rig rig;
  rig.Run(1, Second{10, 3, 500}, kNtsc, 0);
  EXPECT_EQ(rig.adjuster.trouble(), 3u);
  EXPECT_EQ(rig.stats.TakeRestartsLastSecond(), 0u);
}

TEST(RateAdjuster, WithoutOwnerNothingIsReported) {
  RateAdjuster adjuster;
  Owner owner;
  EXPECT_EQ(adjuster.SetOwner(nullptr), 1);
  StreamStats stats;
  stats.AddRestart();
  stats.Roll();
  adjuster.Run(stats, 0, kNtsc, 0, 0);
  EXPECT_EQ(adjuster.chosen(), 1);  // decided, with nobody to tell
}

// The ladder steps for every interval 0..255, as ranges.
TEST(RateAdjuster, LadderSteps) {
  struct Range {
    int lo, hi, next;
  };
  auto check = [](uint8_t standard, bool coarser, const std::vector<Range>& ranges) {
    for (int v = 0; v < 256; ++v) {
      int expected = -1;
      for (const auto& r : ranges) {
        if (v >= r.lo && v <= r.hi) expected = r.next;
      }
      uint8_t next = 0;
      const bool moved = coarser ? RateAdjuster::Coarser(standard, static_cast<uint8_t>(v), &next)
                                 : RateAdjuster::Finer(standard, static_cast<uint8_t>(v), &next);
      EXPECT_EQ(moved ? next : -1, expected)
          << (standard ? "PAL " : "NTSC ") << (coarser ? "coarser " : "finer ") << v;
    }
  };
  check(kNtsc, true,
        {{0, 0, 1},
         {1, 1, 2},
         {2, 2, 3},
         {3, 3, 5},
         {4, 5, 9},
         {6, 9, 14},
         {10, 14, 19},
         {15, 19, 29},
         {20, 29, 59},
         {30, 59, 149},
         {60, 149, 199},
         {150, 199, 239}});
  check(kPal, true,
        {{0, 0, 1},
         {1, 1, 2},
         {2, 2, 3},
         {3, 3, 4},
         {4, 4, 9},
         {5, 9, 19},
         {10, 19, 24},
         {20, 24, 49},
         {25, 49, 124},
         {50, 124, 199}});
  check(kNtsc, false,
        {{240, 255, 239},
         {200, 239, 199},
         {150, 199, 149},
         {60, 149, 59},
         {30, 59, 29},
         {20, 29, 19},
         {15, 19, 14},
         {10, 14, 9},
         {6, 9, 5},
         {4, 5, 3},
         {3, 3, 2},
         {2, 2, 1},
         {1, 1, 0}});
  check(kPal, false,
        {{200, 255, 199},
         {125, 199, 124},
         {50, 124, 49},
         {25, 49, 24},
         {20, 24, 19},
         {10, 19, 9},
         {5, 9, 4},
         {4, 4, 3},
         {3, 3, 2},
         {2, 2, 1},
         {1, 1, 0}});
}

TEST(RateAdjuster, SilentLimitAndRecordIntervals) {
  EXPECT_EQ(RateAdjuster::SilentLimit(0, 0), 20);
  EXPECT_EQ(RateAdjuster::SilentLimit(29, 0), 21);
  EXPECT_EQ(RateAdjuster::SilentLimit(59, 0), 22);
  EXPECT_EQ(RateAdjuster::SilentLimit(199, 24), 186);
  EXPECT_EQ(RateAdjuster::SilentLimit(239, 29), 4);  // 260 in 8 bits
  EXPECT_EQ(RateAdjuster::RecordInterval(kNtsc, 0), 0);
  EXPECT_EQ(RateAdjuster::RecordInterval(kNtsc, 8), 29);
  EXPECT_EQ(RateAdjuster::RecordInterval(kPal, 5), 7);
  EXPECT_EQ(RateAdjuster::RecordInterval(kPal, 7), 24);
  EXPECT_EQ(RateAdjuster::RecordInterval(kPal, 200), 24);
}

}  // namespace
}  // namespace rdtest
