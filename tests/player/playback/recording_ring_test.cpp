// The recording ring: which bytes forward and reverse play read, and where
// each goes on, for rings of whole and partial chunks, wrapped or not.

#include "player/playback/RecordingRing.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace rd {
namespace {

constexpr uint64_t C = kChunkBytes;
constexpr uint64_t P = kPacketSize;

// The chunks forward play reads from `from` until it stops (at most `limit`).
std::vector<ChunkRange> Forward(const RecordingRing& ring, int64_t from, bool stop = false,
                                int limit = 20) {
  std::vector<ChunkRange> out;
  std::optional<int64_t> at = from;
  while (at && static_cast<int>(out.size()) < limit) {
    const ChunkRange c = ring.ForwardChunk(*at, stop);
    if (c.empty()) break;
    out.push_back(c);
    at = ring.NextForward(c, stop);
  }
  return out;
}

std::vector<ChunkRange> Reverse(const RecordingRing& ring, int64_t from, int limit = 20) {
  std::vector<ChunkRange> out;
  std::optional<int64_t> at = from;
  while (at && static_cast<int>(out.size()) < limit) {
    const ChunkRange c = ring.ReverseChunk(*at);
    if (!c.empty()) out.push_back(c);
    at = ring.NextBackward(*at);
  }
  return out;
}

TEST(RecordingRingTest, UnwrappedRecordingEndsAtTheWritePosition) {
  // 2.5 chunks recorded in an area of 10; what lies beyond W is never read.
  const RecordingRing ring(10 * C, 2 * C + C / 2, false);
  EXPECT_EQ(ring.first_position(), 0u);
  EXPECT_EQ(Forward(ring, 0), (std::vector<ChunkRange>{{0, C}, {C, C}, {2 * C, C / 2}}));
  // From a search hit between chunk boundaries.
  EXPECT_EQ(Forward(ring, 100 * P),
            (std::vector<ChunkRange>{
                {100 * P, C}, {100 * P + C, C}, {100 * P + 2 * C, C / 2 - 100 * P}}));
  EXPECT_TRUE(ring.ForwardChunk(2 * C + C / 2).empty());
  // Reverse from the chunk at 1.5 chunks: the short piece at the start is
  // read, then play stops at the start of the recording.
  EXPECT_EQ(Reverse(ring, C + C / 2),
            (std::vector<ChunkRange>{{C + C / 2, C}, {C / 2, C}, {0, C / 2}}));
  // A reverse chunk never reaches past W either.
  EXPECT_EQ(ring.ReverseChunk(2 * C), (ChunkRange{2 * C, C / 2}));
  EXPECT_EQ(ring.Before({C / 2, C}), std::optional<int64_t>(C / 2 - C));
  EXPECT_EQ(ring.Before({0, C}), std::nullopt);
}

TEST(RecordingRingTest, AreasOfOneToThreeChunksAndPartialChunks) {
  struct Case {
    uint64_t area;
    std::vector<ChunkRange> forward;  // wrapped, from 0, one round
  };
  const Case cases[] = {
      {C, {{0, C}}},
      {C + 3 * P, {{0, C}, {C, 3 * P}}},
      {3 * C, {{0, C}, {C, C}, {2 * C, C}}},
      {5 * P, {{0, 5 * P}}},  // less than one chunk
  };
  for (const auto& c : cases) {
    const RecordingRing ring(c.area, 0, true);
    const auto round = Forward(ring, 0, false, static_cast<int>(c.forward.size()) + 1);
    ASSERT_EQ(round.size(), c.forward.size() + 1) << c.area;
    EXPECT_EQ(std::vector<ChunkRange>(round.begin(), round.end() - 1), c.forward) << c.area;
    EXPECT_EQ(round.back(), c.forward.front()) << "on over the end of the area: " << c.area;
    for (const auto& r : round) EXPECT_LE(r.end(), c.area);
    // Reverse from the start goes on at the last chunk of the area.
    const auto back = Reverse(ring, 0, 3);
    ASSERT_GE(back.size(), 2u);
    EXPECT_EQ(back[1].end(), c.area) << c.area;
    for (const auto& r : back) EXPECT_LE(r.end(), c.area);
  }
}

TEST(RecordingRingTest, WrappedRecordingGoesOnOrStopsAtTheNewestForTheExport) {
  // Area of 4.5 chunks, newest packet just before W = 1 chunk.
  const RecordingRing ring(4 * C + C / 2, C, true);
  EXPECT_EQ(ring.first_position(), C);
  EXPECT_EQ(Forward(ring, 3 * C, true),
            (std::vector<ChunkRange>{{3 * C, C}, {4 * C, C / 2}, {0, C}}));
  EXPECT_EQ(Forward(ring, 3 * C, false, 5),
            (std::vector<ChunkRange>{{3 * C, C}, {4 * C, C / 2}, {0, C}, {C, C}, {2 * C, C}}));
  // A ring whose next packet is past the end starts again at 0.
  EXPECT_EQ(RecordingRing(2 * C, 2 * C, true).first_position(), 0u);
}

}  // namespace
}  // namespace rd
