#include "shared/mjpeg/MjpegDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "shared/mjpeg/MjpegReference.h"
#include "shared/mjpeg/MjpegTables.h"
#include "shared/stream/ByteOrder.h"

namespace rd::mjpeg {
namespace {

using rdtest::mjpeg::Ac;
using rdtest::mjpeg::FlatFullFrame;
using rdtest::mjpeg::FrameBuilder;
using rdtest::mjpeg::ReferenceDecoder;
using rdtest::mjpeg::ReferenceIdct;

constexpr std::size_t kBufferSize = 1 << 20;  // the player's 1 MiB buffer
constexpr uint8_t kSentinel = 0xA5;

struct Opened {
  explicit Opened(VideoStandard s = VideoStandard::kNtsc) { dec.Open(s); }
  MjpegDecoder dec;
};

std::vector<uint8_t> Sentinel() {
  return std::vector<uint8_t>(kBufferSize, kSentinel);
}

uint8_t Y(const MjpegDecoder& d, int x, int y) {
  return d.y_plane()[y * d.width() + x];
}
uint8_t Cb(const MjpegDecoder& d, int x, int y) {
  return d.cb_plane()[y * d.width() / 2 + x];
}
uint8_t Cr(const MjpegDecoder& d, int x, int y) {
  return d.cr_plane()[y * d.width() / 2 + x];
}

// The 8x8 luma block k of macroblock (c, r) as 64 samples.
std::vector<uint8_t> LumaBlock(const MjpegDecoder& d, int c, int r, int k) {
  std::vector<uint8_t> v;
  for (int yy = 0; yy < 8; ++yy) {
    for (int xx = 0; xx < 8; ++xx)
      v.push_back(Y(d, 16 * c + 8 * (k % 2) + xx, 16 * r + 8 * (k / 2) + yy));
  }
  return v;
}

bool BlockIsFlat(const std::vector<uint8_t>& b, uint8_t v) {
  return std::all_of(b.begin(), b.end(), [v](uint8_t s) { return s == v; });
}

// Expected samples of a block with the given natural-order coefficients.
std::vector<uint8_t> ExpectedBlock(const std::vector<std::pair<int, int>>& natural_values, int dc) {
  int coef[64] = {};
  coef[0] = 8 * dc;
  for (auto [p, v] : natural_values) coef[p] = v;
  uint8_t out[64];
  ReferenceIdct(coef, out);
  return std::vector<uint8_t>(out, out + 64);
}

// ---- Statuses --------------------------------------------------------------

struct StatusCase {
  std::string name;
  std::vector<uint8_t> data;
  uint8_t status;
};

class StatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, StatusAndUntouchedOutput) {
  const StatusCase& c = GetParam();
  Opened o;
  auto out = Sentinel();
  const uint8_t status = o.dec.DecodeFrame(c.data.data(), c.data.size(), out.data(), false);
  EXPECT_EQ(status, c.status);
  if (status >= 97) {
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == kSentinel; }));
  }
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, StatusTest,
    ::testing::Values(
        StatusCase{"OneByte", {0x00}, kStatusNoStartCode},
        StatusCase{"NoStartCode", {0x12, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x01}, kStatusNoStartCode},
        StatusCase{"EndOfDataCodeItself", {0x00, 0x00, 0x01, 0xFF, 0x00}, kStatusNoStartCode},
        StatusCase{"TwoZeroBytesOnly", {0x00, 0x00}, kStatusNoStartCode},
        StatusCase{"SliceHeaderFirst", Concat({0x00, 0x00, 0x01, 0x05}, FlatFullFrame(14, 1, 2, 3)),
                   kStatusNotFrameStart},
        StatusCase{"OtherStartCodeFirst", {0x00, 0x00, 0x01, 0xF9, 0x80}, kStatusNotFrameStart},
        StatusCase{"StartCodeCutAtEnd", {0x00, 0x00, 0x01}, kStatusNotFrameStart},
        StatusCase{"ValidTrueColour", FlatFullFrame(14, 100, 128, 128), kStatusTrueColour},
        StatusCase{
            "BytesBeforeStartCodeSkipped",
            Concat({0xFF, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00}, FlatFullFrame(14, 100, 128, 128)),
            kStatusTrueColour},
        StatusCase{"HeaderOnly", {0x00, 0x00, 0x01, 0xF8, 0x80}, kStatusTrueColour}),
    [](const auto& info) { return info.param.name; });

TEST(MjpegDecoder, NullPointersReturn97AndTouchNothing) {
  Opened o;
  const auto frame = FlatFullFrame(14, 50, 128, 128);
  auto out = Sentinel();
  EXPECT_EQ(o.dec.DecodeFrame(nullptr, 10, out.data(), false), kStatusNullPointer);
  EXPECT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), nullptr, false), kStatusNullPointer);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == kSentinel; }));
  EXPECT_EQ(Y(o.dec, 0, 0), 0);  // planes untouched (zero after Open)
  MjpegDecoder closed;
  EXPECT_EQ(closed.DecodeFrame(frame.data(), frame.size(), out.data(), false), kStatusNullPointer);
}

TEST(MjpegDecoder, BytesBeforeStartCodeGiveTheSamePicture) {
  Opened a, b;
  FrameBuilder f;
  f.Start(true, 3);
  for (int r = 0; r < 14; ++r) {
    f.Slice(r);
    for (int c = 0; c < 40; ++c) {
      for (int k = 0; k < 6; ++k)
        f.Block((r * 7 + c * 3 + k * 11) & 255, {{0, 3}, {2, -5}, {0, 1}});
    }
  }
  const auto frame = f.Bytes();
  const auto prefixed = Concat({0x00, 0x00, 0x00, 0x00, 0x17, 0x00, 0x01}, frame);
  auto out_a = Sentinel();
  auto out_b = Sentinel();
  EXPECT_EQ(a.dec.DecodeFrame(frame.data(), frame.size(), out_a.data(), false), 0);
  EXPECT_EQ(b.dec.DecodeFrame(prefixed.data(), prefixed.size(), out_b.data(), false), 0);
  EXPECT_EQ(out_a, out_b);
  EXPECT_EQ(0, std::memcmp(a.dec.y_plane(), b.dec.y_plane(), 640 * 224));
  EXPECT_EQ(a.dec.last_picture_end(), PictureEnd::kComplete);
}

// ---- Block contents ----------------------------------------------------------

// One macroblock at row 0, column 0 of a partial frame, its block 0 coded with
// `ac`, the other blocks flat; returns luma block 0.
std::vector<uint8_t> DecodeSingleBlock(int q, int dc, const std::vector<Ac>& ac,
                                       PictureEnd* end = nullptr) {
  Opened o;
  FrameBuilder f;
  f.Start(false, q).Slice(0).Increment(1, 0x1).Block(dc, ac).Block(128).Block(128);
  f.ZeroIncrement().AlignedBytes({0x00, 0x00, 0x01, 0xF8});
  const auto frame = f.Bytes();
  auto out = Sentinel();
  EXPECT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  if (end) *end = o.dec.last_picture_end();
  return LumaBlock(o.dec, 0, 0, 0);
}

struct BlockCase {
  std::string name;
  int q;
  int dc;
  std::vector<Ac> ac;
  std::vector<std::pair<int, int>> expected;  // natural position, stored coefficient
};

class BlockTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockTest, Coefficients) {
  const BlockCase& c = GetParam();
  PictureEnd end;
  EXPECT_EQ(DecodeSingleBlock(c.q, c.dc, c.ac, &end), ExpectedBlock(c.expected, c.dc));
  EXPECT_EQ(end, PictureEnd::kComplete);
}

// S = 2Q; m = |level| * S * W[p] >> 3; W[1] = 16, W[8] = 16, W[63] = 83, W[2] = 19.
INSTANTIATE_TEST_SUITE_P(
    Levels, BlockTest,
    ::testing::Values(
        BlockCase{"Run0Level1", 4, 100, {{0, 1}}, {{1, 1 * 8 * 16 >> 3}}},
        BlockCase{"NegativeLevel", 4, 100, {{0, -3}}, {{1, -(3 * 8 * 16 >> 3)}}},
        BlockCase{"RunsFollowZigzag",
                  2,
                  90,
                  {{1, 2}, {0, -1}},
                  {{8, 2 * 4 * 16 >> 3}, {16, -(4 * 19 >> 3)}}},
        BlockCase{"EscapeLevel200", 1, 60, {{0, 200, true}}, {{1, 200 * 2 * 16 >> 3}}},
        BlockCase{"EscapeLevelMinus200", 1, 60, {{0, -200, true}}, {{1, -(200 * 2 * 16 >> 3)}}},
        BlockCase{"EscapeSmallPositive", 2, 60, {{3, 17, true}}, {{9, 17 * 4 * 16 >> 3}}},
        BlockCase{"EscapeSmallNegative", 2, 60, {{3, -17, true}}, {{9, -(17 * 4 * 16 >> 3)}}},
        BlockCase{"EscapeMinus128", 1, 60, {{0, -128, true}}, {{1, -(128 * 2 * 16 >> 3)}}},
        BlockCase{"EscapeMinus256", 1, 60, {{0, -256, true}}, {{1, -(256 * 2 * 16 >> 3)}}},
        BlockCase{"SaturatesAt2047", 15, 128, {{62, 40}}, {{63, 2047}}},
        BlockCase{"SaturatesAtMinus2048", 15, 128, {{62, -40}}, {{63, -2048}}},
        BlockCase{"EscapeSaturates", 15, 128, {{0, 255, true}}, {{1, 2047}}},
        BlockCase{"EscapeSaturatesNegative", 15, 128, {{0, -256, true}}, {{1, -2048}}},
        BlockCase{"LastIndex63", 5, 128, {{62, 1}}, {{63, 1 * 10 * 83 >> 3}}},
        BlockCase{"LongCode",
                  3,
                  77,
                  {{31, 1}},
                  {{kZigzag[32], 6 * kIntraQuantMatrix[kZigzag[32]] >> 3}}}),
    [](const auto& info) { return info.param.name; });

TEST(MjpegDecoder, EscapeBitsAsInThePart) {
  // v = 0 then 200 -> level 200; v = 128 then 56 -> level -200 (written by hand).
  for (int sign : {+1, -1}) {
    Opened o;
    FrameBuilder f;
    f.Start(false, 1).Slice(0).Increment(1, 0x1);
    f.w.Put(70, 8);    // DC
    f.w.Put(0x01, 6);  // escape
    f.w.Put(0, 6);     // run 0
    f.w.Put(sign > 0 ? 0 : 128, 8);
    f.w.Put(sign > 0 ? 200 : 56, 8);
    f.w.Put(0x2, 2);  // end of block
    f.Block(128).Block(128).ZeroIncrement().AlignedBytes({0x00, 0x00, 0x01, 0xF8});
    const auto frame = f.Bytes();
    auto out = Sentinel();
    ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
    // S = 2, W[1] = 16: 200 * 2 * 16 >> 3 = 800.
    EXPECT_EQ(LumaBlock(o.dec, 0, 0, 0), ExpectedBlock({{1, sign * 800}}, 70)) << sign;
  }
}

TEST(MjpegDecoder, QZeroGivesFlatBlocks) {
  Opened o;
  FrameBuilder f;
  f.Start(true, 0);
  for (int r = 0; r < 14; ++r) {
    f.Slice(r);
    for (int c = 0; c < 40; ++c) {
      for (int k = 0; k < 4; ++k)
        f.Block((c * 4 + k + r) & 255, {{0, 5}, {3, -7}, {0, 200, true}, {10, 1}});
      f.Block(100 + r, {{0, 9}}).Block(200 - c, {{1, -1}});
    }
  }
  const auto frame = f.Bytes();
  auto out = Sentinel();
  ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kComplete);
  for (int r = 0; r < 14; ++r) {
    for (int c = 0; c < 40; ++c) {
      for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(
            BlockIsFlat(LumaBlock(o.dec, c, r, k), static_cast<uint8_t>((c * 4 + k + r) & 255)));
      }
      for (int yy = 0; yy < 8; ++yy) {
        for (int xx = 0; xx < 8; ++xx) {
          ASSERT_EQ(Cb(o.dec, 8 * c + xx, 8 * r + yy), 100 + r);
          ASSERT_EQ(Cr(o.dec, 8 * c + xx, 8 * r + yy), 200 - c);
        }
      }
    }
  }
}

// ---- Partial frames and picture ends --------------------------------------------

TEST(MjpegDecoder, PartialFrameKeepsSkippedMacroblocksAndLeftOutLuma) {
  Opened o;
  auto out = Sentinel();
  const auto full = FlatFullFrame(14, 10, 20, 30);
  ASSERT_EQ(o.dec.DecodeFrame(full.data(), full.size(), out.data(), false), 0);
  // Row 2: skip macroblocks 0 and 1 (A = 3), code macroblock 2 with luma blocks
  // 0 and 2 only (pattern 0101), then macroblock 3 with all (A = 1).
  FrameBuilder f;
  f.Start(false, 0).Slice(2);
  f.Increment(3, 0x5).FlatMacroblock(50, 60, 70, 0x5);
  f.Increment(1, 0xF).FlatMacroblock(80, 90, 100, 0xF);
  f.ZeroIncrement().AlignedBytes({0x00, 0x00, 0x01, 0xF8});
  const auto partial = f.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(partial.data(), partial.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kComplete);
  for (int c : {0, 1, 4, 39}) {
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, c, 2, k), 10)) << c;
    EXPECT_EQ(Cb(o.dec, 8 * c, 16), 20);
  }
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 2, 0), 50));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 2, 1), 10));  // left out: previous samples
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 2, 2), 50));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 2, 3), 10));
  EXPECT_EQ(Cb(o.dec, 8 * 2 + 7, 8 * 2 + 7), 60);  // chroma always replaced
  EXPECT_EQ(Cr(o.dec, 8 * 2, 8 * 2), 70);
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 3, 2, k), 80));
  EXPECT_EQ(Cb(o.dec, 8 * 3, 8 * 2), 90);
  EXPECT_EQ(Cr(o.dec, 8 * 3, 8 * 2), 100);
  // Other rows untouched.
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 1, 0), 10));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 2, 3, 0), 10));
}

struct ZeroIncrementCase {
  std::string name;
  // Written after macroblock 0 of row 0 and the zero bits up to the boundary.
  std::function<void(FrameBuilder&)> tail;
  uint8_t row0_mb39;  // luma of macroblock 39, row 0
  uint8_t row5_mb0;   // luma of macroblock 0, row 5
  PictureEnd end;
};

class ZeroIncrementTest : public ::testing::TestWithParam<ZeroIncrementCase> {};

TEST_P(ZeroIncrementTest, EndsPictureOrRow) {
  const ZeroIncrementCase& c = GetParam();
  Opened o;
  auto out = Sentinel();
  const auto full = FlatFullFrame(14, 10, 20, 30);
  ASSERT_EQ(o.dec.DecodeFrame(full.data(), full.size(), out.data(), false), 0);
  FrameBuilder f;
  f.Start(false, 0).Slice(0).Increment(1).FlatMacroblock(40, 41, 42).ZeroIncrement();
  c.tail(f);
  const auto frame = f.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 0, 0), 40));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 39, 0, 0), c.row0_mb39));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 5, 0), c.row5_mb0));
  EXPECT_EQ(o.dec.last_picture_end(), c.end);
}

// Row 5, macroblock 0 = 77, then the end of the picture.
void Row5(FrameBuilder& f) {
  f.Increment(1).FlatMacroblock(77, 78, 79).ZeroIncrement().AlignedBytes({0x00, 0x00, 0x01, 0xF8});
}

INSTANTIATE_TEST_SUITE_P(Codes, ZeroIncrementTest,
                         ::testing::Values(
                             // 00 00 01 F8: the 28 bits are 0x000001F > 30, the picture ends.
                             ZeroIncrementCase{
                                 "FrameStartEndsPicture",
                                 [](FrameBuilder& f) {
                                   f.AlignedBytes({0x00, 0x00, 0x01, 0xF8, 0x00, 0x00, 0x01, 0x28});
                                   Row5(f);
                                 },
                                 10, 10, PictureEnd::kComplete},
                             // 00 00 01 05: 28 bits 0x0000010 <= 30, only the row ends. The code is
                             // then read as a slice header of row 0 (00000) whose next bits 101 and
                             // 000 make the increment 40: macroblock 39 of row 0 follows.
                             ZeroIncrementCase{"SliceCode05EndsRow",
                                               [](FrameBuilder& f) {
                                                 f.AlignedBytes({0x00, 0x00, 0x01, 0x05});
                                                 f.w.Put(0, 3);  // increment 101000 = 40
                                                 f.w.Put(0xF, 4);
                                                 f.FlatMacroblock(66, 67, 68);
                                                 // c = 40: the next slice header is searched; F8 is
                                                 // read as one (row 31), which stops the decode.
                                                 f.AlignedBytes({0x00, 0x00, 0x01, 0xF8});
                                               },
                                               66, 10, PictureEnd::kFailed},
                             ZeroIncrementCase{"SliceHeaderRow5EndsRow",
                                               [](FrameBuilder& f) {
                                                 f.Slice(5);
                                                 Row5(f);
                                               },
                                               10, 77, PictureEnd::kComplete},
                             ZeroIncrementCase{"ZeroStuffingThenSliceEndsRow",
                                               [](FrameBuilder& f) {
                                                 f.AlignedBytes({0x00, 0x00, 0x00});
                                                 f.Slice(5);
                                                 Row5(f);
                                               },
                                               10, 77, PictureEnd::kComplete},
                             ZeroIncrementCase{"OtherBytesEndPicture",
                                               [](FrameBuilder& f) {
                                                 f.AlignedBytes({0x12});
                                                 f.Slice(5);
                                                 Row5(f);
                                               },
                                               10, 10, PictureEnd::kComplete}),
                         [](const auto& info) { return info.param.name; });

// ---- Failures ---------------------------------------------------------------------

struct FailureCase {
  std::string name;
  std::vector<uint8_t> frame;
  int good_rows;  // rows 0..good_rows-1 hold the new picture (value 200)
};

std::vector<uint8_t> RowsThen(int rows, const std::function<void(FrameBuilder&)>& tail) {
  FrameBuilder f;
  f.Start(true, 2);
  for (int r = 0; r < rows; ++r) {
    f.Slice(r);
    for (int c = 0; c < 40; ++c) f.FlatMacroblock(200, 100, 150);
  }
  tail(f);
  return f.Bytes();
}

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, EndsDecodeKeepsDecodedPart) {
  const FailureCase& c = GetParam();
  Opened o;
  auto out = Sentinel();
  const auto full = FlatFullFrame(14, 10, 20, 30);
  ASSERT_EQ(o.dec.DecodeFrame(full.data(), full.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.DecodeFrame(c.frame.data(), c.frame.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kFailed);
  for (int r = 0; r < 14; ++r) {
    EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 39, r, 3), r < c.good_rows ? 200 : 10)) << r;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureTest,
    ::testing::Values(
        FailureCase{"Row20InNtsc",
                    RowsThen(3,
                             [](FrameBuilder& f) {
                               f.Slice(20);
                               for (int c = 0; c < 40; ++c) f.FlatMacroblock(200, 100, 150);
                               for (int r = 3; r < 14; ++r) {
                                 f.Slice(r);
                                 for (int c = 0; c < 40; ++c) f.FlatMacroblock(200, 100, 150);
                               }
                             }),
                    3},
        FailureCase{"InvalidCode",
                    RowsThen(2,
                             [](FrameBuilder& f) {
                               f.Slice(2).Block(200);
                               f.w.Put(200, 8);
                               f.w.Put(0, 12);  // twelve leading zeros: no code
                               f.w.Put(0xFFFF, 16);
                             }),
                    2},
        FailureCase{
            "IndexBeyond63",
            RowsThen(5,
                     [](FrameBuilder& f) {
                       f.Slice(5).Block(200, {{40, 1, true}, {22, 1, true}});  // index 41, then 64
                     }),
            5},
        FailureCase{"TruncatedFrame",
                    RowsThen(4,
                             [](FrameBuilder& f) {
                               f.Slice(4);
                               for (int c = 0; c < 17; ++c) f.FlatMacroblock(200, 100, 150);
                               f.w.Put(200, 8);  // cut in the middle of a block
                             }),
                    4}),
    [](const auto& info) { return info.param.name; });

TEST(MjpegDecoder, InvalidCodeKeepsEarlierBlocksOfItsMacroblock) {
  Opened o;
  auto out = Sentinel();
  const auto full = FlatFullFrame(14, 10, 20, 30);
  ASSERT_EQ(o.dec.DecodeFrame(full.data(), full.size(), out.data(), false), 0);
  FrameBuilder f;
  f.Start(true, 2).Slice(0).Block(99).Block(98);
  f.w.Put(97, 8);
  f.w.Put(0, 16);
  const auto frame = f.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 0, 0), 99));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 0, 1), 98));
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 0, 2), 10));
  EXPECT_EQ(Cb(o.dec, 0, 0), 20);
}

TEST(MjpegDecoder, PalRowSixteenDecodesRowSeventeenFails) {
  Opened o(VideoStandard::kPal);
  auto out = Sentinel();
  FrameBuilder f;
  f.Start(true, 0).Slice(16);
  for (int c = 0; c < 40; ++c) f.FlatMacroblock(33, 44, 55);
  const auto ok = f.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(ok.data(), ok.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kComplete);  // last macroblock decoded
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 39, 16, 3), 33));
  FrameBuilder g;
  g.Start(true, 0).Slice(17).FlatMacroblock(1, 2, 3);
  const auto bad = g.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(bad.data(), bad.size(), out.data(), false), 0);
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kFailed);
}

TEST(MjpegDecoder, MacroblockBeyondTheRowFails) {
  Opened o;
  auto out = Sentinel();
  FrameBuilder f;
  f.Start(false, 0).Slice(1).Increment(40, 0xF).FlatMacroblock(1, 2, 3);  // c = 39: fine
  f.Increment(1, 0xF).FlatMacroblock(1, 2, 3);                            // wraps? no: c = 40
  const auto frame = f.Bytes();
  ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 39, 1, 0), 1));
  // After macroblock 39, c = 40 = W/16 wraps to 0 and a start code is searched.
  EXPECT_EQ(o.dec.last_picture_end(), PictureEnd::kFailed);
}

// ---- Output stage -------------------------------------------------------------------

struct OutputCase {
  bool pal;
  bool true_colour;
  bool half;
};

class OutputTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputTest, WritesExactlyItsRows) {
  const OutputCase& c = GetParam();
  Opened o(c.pal ? VideoStandard::kPal : VideoStandard::kNtsc);
  o.dec.SetTrueColour(c.true_colour);
  const int h = o.dec.height();
  // Y = 16, chroma 128: true colour 16,16,16; palette index level_Y(16 + d - 8)...
  const auto frame = FlatFullFrame(h / 16, 16, 128, 128);
  auto out = Sentinel();
  ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), c.half),
            c.true_colour ? 0 : 1);
  const std::size_t bpp = c.true_colour ? 3 : 1;
  const std::size_t pitch = 640 * bpp;
  const std::size_t rows = c.half ? h - 6 : 2 * h - 11;
  const std::size_t row_bytes = c.half ? 320 * bpp : pitch;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::size_t row = i / pitch;
    const bool written = row < rows && i % pitch < row_bytes;
    if (written) {
      if (c.true_colour) {
        ASSERT_EQ(out[i], 16) << i;
      } else {
        ASSERT_GE(out[i], 16) << i;
        ASSERT_LE(out[i], 239) << i;
      }
    } else {
      ASSERT_EQ(out[i], kSentinel) << i;
    }
  }
  EXPECT_EQ(o.dec.OutputBytes(c.true_colour, c.half),
            c.half ? (rows - 1) * pitch + row_bytes : rows * pitch);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OutputTest,
    ::testing::Values(OutputCase{false, true, false}, OutputCase{false, true, true},
                      OutputCase{false, false, false}, OutputCase{false, false, true},
                      OutputCase{true, true, false}, OutputCase{true, true, true},
                      OutputCase{true, false, false}, OutputCase{true, false, true}));

TEST(MjpegDecoder, OutputRowsComeFromThePartsPictureRows) {
  // Each luma row y carries the value y (chroma neutral): the output rows tell
  // which picture row they came from.
  Opened o;
  uint8_t* y = o.dec.mutable_y_plane();
  for (int row = 0; row < 224; ++row) std::memset(y + row * 640, row, 640);
  std::memset(o.dec.mutable_cb_plane(), 128, 320 * 112);
  std::memset(o.dec.mutable_cr_plane(), 128, 320 * 112);
  auto out = Sentinel();
  ASSERT_EQ(o.dec.ConvertToOutput(out.data(), false), 0);
  // Output rows 2k and 2k+1 = picture row H-2-k; row 2(H-6) = picture row 4.
  EXPECT_EQ(out[0], 222);
  EXPECT_EQ(out[1920], 222);
  EXPECT_EQ(out[2 * 1920], 221);
  EXPECT_EQ(out[(2 * 217 + 1) * 1920], 5);
  EXPECT_EQ(out[2 * 218 * 1920], 4);
  EXPECT_EQ(out[2 * 218 * 1920 + 1919], 4);
  EXPECT_EQ(out[437 * 1920], kSentinel);
  auto half = Sentinel();
  ASSERT_EQ(o.dec.ConvertToOutput(half.data(), true), 0);
  EXPECT_EQ(half[0], 223);         // output row 0 = picture row H-1
  EXPECT_EQ(half[217 * 1920], 6);  // output row H-7 = picture row 6
  EXPECT_EQ(half[217 * 1920 + 959], 6);
  EXPECT_EQ(half[217 * 1920 + 960], kSentinel);
}

TEST(MjpegDecoder, HalfSizeTakesEveryOtherColumn) {
  Opened o;
  uint8_t* y = o.dec.mutable_y_plane();
  for (int row = 0; row < 224; ++row) {
    for (int x = 0; x < 640; ++x) y[row * 640 + x] = static_cast<uint8_t>(x / 2 + (x & 1) * 100);
  }
  std::memset(o.dec.mutable_cb_plane(), 128, 320 * 112);
  std::memset(o.dec.mutable_cr_plane(), 128, 320 * 112);
  auto out = Sentinel();
  ASSERT_EQ(o.dec.ConvertToOutput(out.data(), true), 0);
  for (int x = 0; x < 320; ++x) ASSERT_EQ(out[3 * x], static_cast<uint8_t>(x)) << x;
}

// ---- Colour conversion ------------------------------------------------------------

TEST(MjpegDecoder, TrueColourFormulaSpotChecks) {
  Opened o;
  o.dec.mutable_y_plane()[223 * 640 + 0] = 100;   // picture row 223 -> half-size output row 0
  o.dec.mutable_cb_plane()[111 * 320 + 0] = 200;  // U = 72
  o.dec.mutable_cr_plane()[111 * 320 + 0] = 30;   // V = -98
  auto out = Sentinel();
  ASSERT_EQ(o.dec.ConvertToOutput(out.data(), true), 0);
  // B = 100 + 1.732*72 = 224.7 -> 224; G = 100 - 24.192 + 68.404 = 144.2 -> 144;
  // R = 100 - 134.358 < 0 -> 0.
  EXPECT_EQ(out[0], 224);
  EXPECT_EQ(out[1], 144);
  EXPECT_EQ(out[2], 0);
}

TEST(MjpegDecoder, PaletteOutputWithinRangeForAnyPlanes) {
  Opened o;
  std::mt19937 rng(7);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 640 * 224; ++i) o.dec.mutable_y_plane()[i] = static_cast<uint8_t>(rng());
    for (int i = 0; i < 320 * 112; ++i) {
      o.dec.mutable_cb_plane()[i] = static_cast<uint8_t>(rng());
      o.dec.mutable_cr_plane()[i] = static_cast<uint8_t>(rng());
    }
    o.dec.SetTrueColour(false);
    for (bool half : {false, true}) {
      auto out = Sentinel();
      ASSERT_EQ(o.dec.ConvertToOutput(out.data(), half), 1);
      const std::size_t n = o.dec.OutputBytes(false, half);
      for (std::size_t i = 0; i < n; ++i) {
        if (half && i % 640 >= 320) continue;
        ASSERT_GE(out[i], 16);
        ASSERT_LE(out[i], 239);
      }
    }
  }
}

TEST(MjpegDecoder, PaletteEntriesByHand) {
  uint8_t r, g, b;
  // i = 16: u = v = -48, y = 610472.
  MjpegDecoder::PaletteColour(16, &r, &g, &b);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 67);  // (610472 + 25675*48 + 53279*48 + 32768) >> 16 = 4433032 >> 16
  EXPECT_EQ(b, 0);
  // i = 122: u = v = 16, y = 7936136.
  MjpegDecoder::PaletteColour(122, &r, &g, &b);
  EXPECT_EQ(r, 147);  // 9642456 >> 16
  EXPECT_EQ(g, 102);  // 6705640 >> 16
  EXPECT_EQ(b, 153);  // 10084120 >> 16
  // i = 239: u = v = 48.
  MjpegDecoder::PaletteColour(239, &r, &g, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 194);  // 12725720 >> 16
  EXPECT_EQ(b, 255);
}

using rd::LoadLe16;
using rd::LoadLe32;

TEST(MjpegDecoder, BuildBitmapInfoFields) {
  for (bool pal : {false, true}) {
    Opened o(pal ? VideoStandard::kPal : VideoStandard::kNtsc);
    std::vector<uint8_t> tc(1000, 0xEE), pc(1000, 0xEE), lp(kLogicalPaletteSize, 0xEE);
    ASSERT_EQ(o.dec.BuildBitmapInfo(tc.data(), pc.data(), lp.data()), 0);
    const uint32_t h2 = pal ? 544 : 448;
    for (const auto* info : {&tc, &pc}) {
      const uint8_t* p = info->data();
      EXPECT_EQ(LoadLe32(p), 40u);
      EXPECT_EQ(LoadLe32(p + 4), 640u);
      EXPECT_EQ(LoadLe32(p + 8), h2);
      EXPECT_EQ(LoadLe16(p + 12), 1);
      EXPECT_EQ(LoadLe32(p + 16), 0u);
      EXPECT_EQ(LoadLe32(p + 20), 0u);
      EXPECT_EQ(LoadLe32(p + 24), 0u);
      EXPECT_EQ(LoadLe32(p + 28), 0u);
    }
    EXPECT_EQ(LoadLe16(tc.data() + 14), 24);
    EXPECT_EQ(LoadLe32(tc.data() + 32), 0u);
    EXPECT_EQ(LoadLe32(tc.data() + 36), 0u);
    EXPECT_EQ(tc[40], 0xEE);  // no colour table
    EXPECT_EQ(LoadLe16(pc.data() + 14), 8);
    EXPECT_EQ(LoadLe32(pc.data() + 32), 240u);
    EXPECT_EQ(LoadLe32(pc.data() + 36), 240u);
    for (int i = 16; i < 240; ++i) EXPECT_EQ(LoadLe16(pc.data() + 40 + 2 * i), i);
    EXPECT_EQ(LoadLe16(lp.data()), 0x300);
    EXPECT_EQ(LoadLe16(lp.data() + 2), 240);
    for (int i = 16; i < 240; ++i) {
      uint8_t r, g, b;
      MjpegDecoder::PaletteColour(i, &r, &g, &b);
      EXPECT_EQ(lp[4 + 4 * i], r);
      EXPECT_EQ(lp[4 + 4 * i + 1], g);
      EXPECT_EQ(lp[4 + 4 * i + 2], b);
    }
    EXPECT_EQ(o.dec.BuildBitmapInfo(nullptr, pc.data(), lp.data()), 97);
    EXPECT_EQ(o.dec.BuildBitmapInfo(tc.data(), nullptr, lp.data()), 97);
    EXPECT_EQ(o.dec.BuildBitmapInfo(tc.data(), pc.data(), nullptr), 97);
  }
}

TEST(MjpegDecoder, ColourModeAppliesAtTheNextFrameAndSurvivesClose) {
  MjpegDecoder dec;
  EXPECT_TRUE(dec.IsTrueColour());
  dec.Open(VideoStandard::kNtsc);
  const auto frame = FlatFullFrame(14, 100, 128, 128);
  auto out = Sentinel();
  EXPECT_EQ(dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
  dec.SetTrueColour(false);
  EXPECT_FALSE(dec.IsTrueColour());
  EXPECT_EQ(dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 1);
  dec.Close();
  dec.Open(VideoStandard::kPal);
  EXPECT_FALSE(dec.IsTrueColour());
  EXPECT_EQ(dec.height(), 272);
  EXPECT_EQ(dec.DecodeFrame(frame.data(), frame.size(), out.data(), true), 1);
  dec.SetTrueColour(true);
  EXPECT_EQ(dec.DecodeFrame(frame.data(), frame.size(), out.data(), true), 0);
}

TEST(MjpegDecoder, OpenTwiceAndCloseTwiceAreHarmless) {
  MjpegDecoder dec;
  dec.Close();
  dec.Open(VideoStandard::kNtsc);
  const uint8_t* y = dec.y_plane();
  dec.Open(VideoStandard::kPal);  // already open: nothing happens
  EXPECT_EQ(dec.y_plane(), y);
  EXPECT_EQ(dec.height(), 224);
  dec.Close();
  dec.Close();
  EXPECT_FALSE(dec.IsOpen());
}

// ---- Inverse DCT -----------------------------------------------------------------------

std::vector<int16_t> RandomBlock(std::mt19937& rng, int kind) {
  std::vector<int16_t> b(64, 0);
  switch (kind) {
    case 0: {  // typical: few small coefficients
      std::uniform_int_distribution<int> pos(0, 63), val(-60, 60);
      b[0] = static_cast<int16_t>(8 * (rng() % 256));
      for (int n = rng() % 10; n > 0; --n) b[pos(rng)] = static_cast<int16_t>(val(rng));
      break;
    }
    case 1: {  // the dequantiser's full range
      std::uniform_int_distribution<int> val(-2048, 2047);
      for (auto& v : b) v = static_cast<int16_t>(val(rng));
      break;
    }
    case 2: {  // extremes only
      for (auto& v : b) v = (rng() & 1) ? 2047 : -2048;
      break;
    }
    default: {  // any 16-bit value (exercises the 32-bit wrap-around)
      for (auto& v : b) v = static_cast<int16_t>(rng());
      break;
    }
  }
  // Sometimes leave rows or columns with only their first term.
  if (rng() % 4 == 0) {
    const int r = rng() % 8;
    for (int k = 1; k < 8; ++k) b[r * 8 + k] = 0;
  }
  return b;
}

TEST(InverseDct, VectorAndScalarMatchTheLiteralReference) {
  std::mt19937 rng(1234);
  for (bool vector : {true, false}) {
    SetVectorPathsEnabled(vector);
    for (int n = 0; n < 20000; ++n) {
      const auto b = RandomBlock(rng, n % 4);
      int coef[64];
      int16_t t[64];
      for (int i = 0; i < 64; ++i) {
        coef[i] = b[i];
        t[(i % 8) * 8 + i / 8] = b[i];
      }
      uint8_t expected[64];
      ReferenceIdct(coef, expected);
      uint8_t lib_ref[64];
      InverseDctReference(b.data(), lib_ref, 8);
      uint8_t fast[64];
      InverseDctTransposed(t, fast, 8);
      ASSERT_EQ(0, std::memcmp(expected, lib_ref, 64)) << "block " << n;
      ASSERT_EQ(0, std::memcmp(expected, fast, 64)) << "block " << n << " vector " << vector;
    }
  }
  SetVectorPathsEnabled(true);
}

TEST(InverseDct, DcOnlyBlockIsFlat) {
  for (int d = 0; d < 256; ++d) {
    int16_t b[64] = {};
    b[0] = static_cast<int16_t>(8 * d);
    uint8_t out[64];
    InverseDctReference(b, out, 8);
    for (uint8_t s : out) ASSERT_EQ(s, d);
  }
}

}  // namespace
}  // namespace rd::mjpeg

namespace rd::mjpeg {
namespace {

// The end-of-data padding: zero bytes up to a multiple of four bytes counted
// from the start of the data, then 00 00 01 FF. A partial frame that simply
// stops after its last macroblock therefore ends with success only when its
// length is a multiple of four (the 28 bits after the boundary are then
// 00 00 01 F); otherwise the zero bytes end the row and the end code is read
// as a slice header of row 31, which fails.
TEST(MjpegDecoder, EndOfDataPaddingCountsFromTheStartOfTheData) {
  FrameBuilder f;
  f.Start(false, 0).Slice(0).Increment(1).FlatMacroblock(40, 41, 42).ZeroIncrement();
  const auto body = f.Bytes();
  for (std::size_t lead = 0; lead < 4; ++lead) {
    std::vector<uint8_t> frame(lead, 0x55);  // bytes ahead of the start code
    frame.insert(frame.end(), body.begin(), body.end());
    Opened o;
    auto out = Sentinel();
    ASSERT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), 0);
    EXPECT_TRUE(BlockIsFlat(LumaBlock(o.dec, 0, 0, 0), 40));
    EXPECT_EQ(o.dec.last_picture_end(),
              frame.size() % 4 == 0 ? PictureEnd::kComplete : PictureEnd::kFailed)
        << "length " << frame.size();
  }
}

TEST(MjpegDecoder, HugeInputsAreSafeAndQuick) {
  Opened o;
  auto out = Sentinel();
  std::vector<uint8_t> zeros(4 << 20, 0);
  EXPECT_EQ(o.dec.DecodeFrame(zeros.data(), zeros.size(), out.data(), false), kStatusNoStartCode);
  std::vector<uint8_t> noise(4 << 20);
  std::mt19937 rng(3);
  for (auto& b : noise) b = static_cast<uint8_t>(rng() | 0x02);  // never 00 00 01
  EXPECT_EQ(o.dec.DecodeFrame(noise.data(), noise.size(), out.data(), true), kStatusNoStartCode);
  // A frame start code followed by megabytes of noise: decodes until the noise
  // fails, whatever it is.
  std::vector<uint8_t> frame = {0x00, 0x00, 0x01, 0xF8, 0x90};
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  frame.insert(frame.end(), noise.begin(), noise.end());
  EXPECT_EQ(o.dec.DecodeFrame(frame.data(), frame.size(), out.data(), false), kStatusTrueColour);
  EXPECT_EQ(out[o.dec.OutputBytes(true, false)], kSentinel);
}

}  // namespace
}  // namespace rd::mjpeg
