#include "shared/mjpeg/MjpegTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace rd::mjpeg {
namespace {

struct AnyCode {
  uint32_t bits;
  int length;
};

std::vector<AnyCode> AllCodes() {
  std::vector<AnyCode> codes;
  for (const CoefCode& c : kCoefCodes) codes.push_back({c.bits, c.length});
  codes.push_back({kEobBits, kEobLength});
  codes.push_back({kEscapeBits, kEscapeLength});
  return codes;
}

TEST(MjpegTables, ZigzagIsAPermutationStartingLikeScan0) {
  std::set<int> seen(kZigzag.begin(), kZigzag.end());
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_EQ(*seen.begin(), 0);
  EXPECT_EQ(*seen.rbegin(), 63);
  const std::vector<int> head{0, 1, 8, 16, 9, 2, 3, 10, 17, 24};
  for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(kZigzag[i], head[i]) << i;
  EXPECT_EQ(kZigzag[63], 63);
}

TEST(MjpegTables, IntraMatrixCorners) {
  EXPECT_EQ(kIntraQuantMatrix[0], 8);
  EXPECT_EQ(kIntraQuantMatrix[1], 16);
  EXPECT_EQ(kIntraQuantMatrix[7], 34);
  EXPECT_EQ(kIntraQuantMatrix[56], 27);
  EXPECT_EQ(kIntraQuantMatrix[63], 83);
}

TEST(MjpegTables, SourceTableHasDistinctPairsAndSaneFields) {
  std::set<std::pair<int, int>> pairs;
  for (const CoefCode& c : kCoefCodes) {
    EXPECT_TRUE(pairs.insert({c.run, c.level}).second) << int(c.run) << "," << int(c.level);
    EXPECT_GE(c.length, 2);
    EXPECT_LE(c.length, 16);
    EXPECT_LT(c.bits, 1u << c.length);
    EXPECT_GE(c.level, 1);
    EXPECT_LE(c.level, kMaxCodedLevel);
    EXPECT_LE(c.run, kMaxCodedRun);
  }
}

TEST(MjpegTables, CodeSetIsPrefixFree) {
  const auto codes = AllCodes();
  for (size_t a = 0; a < codes.size(); ++a) {
    for (size_t b = 0; b < codes.size(); ++b) {
      if (a == b || codes[a].length > codes[b].length) continue;
      const uint32_t prefix = codes[b].bits >> (codes[b].length - codes[a].length);
      EXPECT_NE(prefix, codes[a].bits) << "code " << a << " is a prefix of code " << b;
    }
  }
}

TEST(MjpegTables, KraftSumLeavesOnlyTheInvalidLookaheads) {
  // Every 16-bit lookahead of 16 or more is covered by exactly one code; the
  // 16 lookaheads below 16 (twelve leading zeros) by none.
  uint32_t covered = 0;
  for (const auto& c : AllCodes()) covered += 1u << (16 - c.length);
  EXPECT_EQ(covered, 65536u - 16u);
}

TEST(MjpegTables, EveryCodeDecodesBackThroughTheLookahead) {
  const CoefEntry* table = CoefLookupTable();
  for (const CoefCode& c : kCoefCodes) {
    const uint32_t base = static_cast<uint32_t>(c.bits) << (16 - c.length);
    // The first and last lookahead that starts with this code, and one in between.
    for (uint32_t tail :
         {0u, (1u << (16 - c.length)) - 1, (0x5A5Au & ((1u << (16 - c.length)) - 1))}) {
      const CoefEntry e = table[base | tail];
      EXPECT_EQ(CoefEntryRun(e), c.run);
      EXPECT_EQ(CoefEntryLevel(e), c.level);
      EXPECT_EQ(CoefEntryLength(e), c.length);
    }
  }
  EXPECT_EQ(table[0x8000], kCoefEntryEob);
  EXPECT_EQ(table[0xBFFF], kCoefEntryEob);
  EXPECT_EQ(table[0x0400], kCoefEntryEscape);
  EXPECT_EQ(table[0x07FF], kCoefEntryEscape);
  for (uint32_t v = 0; v < 16; ++v) EXPECT_EQ(table[v], kCoefEntryInvalid) << v;
  for (uint32_t v = 16; v < 65536; ++v) ASSERT_NE(table[v], kCoefEntryInvalid) << v;
}

TEST(MjpegTables, WellKnownCodes) {
  const CoefEntry* table = CoefLookupTable();
  // 11s: run 0 level 1; 011s: run 1 level 1; 0000 0000 0001 1011s: run 31 level 1.
  EXPECT_EQ(table[0xC000], MakeCoefEntry(0, 1, 2));
  EXPECT_EQ(table[0x6000], MakeCoefEntry(1, 1, 3));
  EXPECT_EQ(table[0x001B], MakeCoefEntry(31, 1, 16));
  EXPECT_EQ(table[0x0020], MakeCoefEntry(0, 40, 15));  // 0000 0000 0010 000(0)
}

TEST(MjpegTables, EncoderLookupMatchesSourceTable) {
  int with_code = 0;
  for (int run = 0; run <= kMaxCodedRun; ++run) {
    for (int level = 1; level <= kMaxCodedLevel; ++level) {
      const CoefVlc v = CoefEncode(run, level);
      auto it = std::find_if(kCoefCodes.begin(), kCoefCodes.end(),
                             [&](const CoefCode& c) { return c.run == run && c.level == level; });
      if (it == kCoefCodes.end()) {
        EXPECT_EQ(v.length, 0) << run << "," << level;
      } else {
        ++with_code;
        EXPECT_EQ(v.length, it->length);
        EXPECT_EQ(v.bits, it->bits);
      }
    }
  }
  EXPECT_EQ(with_code, static_cast<int>(kCoefCodeCount));
  EXPECT_EQ(CoefEncode(-1, 1).length, 0);
  EXPECT_EQ(CoefEncode(32, 1).length, 0);
  EXPECT_EQ(CoefEncode(0, 0).length, 0);
  EXPECT_EQ(CoefEncode(0, 41).length, 0);
}

struct EscapeCase {
  int run;
  int level;
  int length;
  uint32_t bits;
};

class CoefEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(CoefEscapeTest, Bits) {
  const EscapeCase& c = GetParam();
  uint32_t bits = 0xFFFFFFFF;
  EXPECT_EQ(CoefEscape(c.run, c.level, &bits), c.length);
  if (c.length != 0) {
    EXPECT_EQ(bits, c.bits);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CoefEscapeTest,
    ::testing::Values(EscapeCase{0, 1, 20, (0x01u << 14) | (0u << 8) | 1u},
                      EscapeCase{5, 127, 20, (0x01u << 14) | (5u << 8) | 127u},
                      EscapeCase{5, -1, 20, (0x01u << 14) | (5u << 8) | 255u},
                      EscapeCase{63, -127, 20, (0x01u << 14) | (63u << 8) | 129u},
                      EscapeCase{2, 200, 28, (0x01u << 22) | (2u << 16) | (0u << 8) | 200u},
                      EscapeCase{2, -200, 28, (0x01u << 22) | (2u << 16) | (128u << 8) | 56u},
                      EscapeCase{0, -128, 28, (0x01u << 22) | (0u << 16) | (128u << 8) | 128u},
                      EscapeCase{0, 128, 28, (0x01u << 22) | (0u << 16) | (0u << 8) | 128u},
                      EscapeCase{0, 0, 0, 0}, EscapeCase{64, 1, 0, 0}, EscapeCase{0, 256, 0, 0},
                      EscapeCase{0, -257, 0, 0}));

}  // namespace
}  // namespace rd::mjpeg
