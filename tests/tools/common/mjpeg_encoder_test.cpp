// The encoder against the decoder: round-trip quality, exact reference
// tracking in partial frames, the header byte, and the absence of emulated
// start codes in the coded data.

#include "tools/common/MjpegEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/common/TestPicture.h"

namespace rd {
namespace {

using mjpeg::MjpegDecoder;
using mjpeg::PictureEnd;
using mjpeg::VideoStandard;

// The decoder's planes as a picture.
YuvPicture Planes(const MjpegDecoder& d) {
  YuvPicture p(d.width(), d.height());
  std::copy_n(d.y_plane(), p.y.size(), p.y.begin());
  std::copy_n(d.cb_plane(), p.cb.size(), p.cb.begin());
  std::copy_n(d.cr_plane(), p.cr.size(), p.cr.begin());
  return p;
}

uint8_t DecodeInto(MjpegDecoder& d, std::span<const uint8_t> frame) {
  return d.DecodeToPlanes(frame.data(), frame.size());
}

double LumaPsnr(const YuvPicture& a, const YuvPicture& b) {
  return Psnr(a.y.data(), b.y.data(), a.y.size());
}

// Copies macroblock (row, col) of `from` into `to`.
void CopyMacroblock(const YuvPicture& from, YuvPicture* to, int row, int col) {
  for (int y = 0; y < 16; ++y) {
    std::size_t off = static_cast<std::size_t>(16 * row + y) * from.width + 16 * col;
    std::copy_n(from.y.begin() + off, 16, to->y.begin() + off);
  }
  for (int y = 0; y < 8; ++y) {
    std::size_t off = static_cast<std::size_t>(8 * row + y) * from.chroma_width() + 8 * col;
    std::copy_n(from.cb.begin() + off, 8, to->cb.begin() + off);
    std::copy_n(from.cr.begin() + off, 8, to->cr.begin() + off);
  }
}

bool MacroblockEqual(const YuvPicture& a, const YuvPicture& b, int row, int col) {
  YuvPicture copy = b;
  CopyMacroblock(a, &copy, row, col);
  return copy == b;
}

class RoundTrip : public ::testing::TestWithParam<VideoStandard> {};

TEST_P(RoundTrip, NaturalPictureAtQ2KeepsDetailAndDecoderMatchesReference) {
  const VideoStandard standard = GetParam();
  const YuvPicture source = MakeNaturalYuv(standard, 5);
  MjpegEncoder encoder(standard);
  MjpegDecoder decoder;
  decoder.Open(standard);
  auto frame = encoder.EncodeFull(source, 2, 0);
  ASSERT_FALSE(frame.empty());
  ASSERT_EQ(DecodeInto(decoder, frame), 0);
  EXPECT_EQ(decoder.last_picture_end(), PictureEnd::kComplete);
  const YuvPicture decoded = Planes(decoder);
  EXPECT_EQ(decoded, encoder.reference());
  const double psnr = LumaPsnr(source, decoded);
  const double psnr_cb = Psnr(source.cb.data(), decoded.cb.data(), source.cb.size());
  const double psnr_cr = Psnr(source.cr.data(), decoded.cr.data(), source.cr.size());
  RecordProperty("luma_psnr_q2", std::to_string(psnr));
  std::printf("Q 2: %zu bytes, PSNR Y %.2f dB, Cb %.2f dB, Cr %.2f dB\n", frame.size(), psnr,
              psnr_cb, psnr_cr);
  EXPECT_GT(psnr, 35.0);
  EXPECT_GT(psnr_cb, 35.0);
  EXPECT_GT(psnr_cr, 35.0);
}

TEST_P(RoundTrip, EveryQuantiserDecodesCompletelyAndQualityFallsWithQ) {
  const VideoStandard standard = GetParam();
  const YuvPicture source = MakeNaturalYuv(standard, 9);
  MjpegEncoder encoder(standard);
  MjpegDecoder decoder;
  decoder.Open(standard);
  double previous_psnr = 99.0;
  std::size_t previous_size = 0;
  for (int q = 1; q <= 15; ++q) {
    SCOPED_TRACE(q);
    auto frame = encoder.EncodeFull(source, q, 1);
    ASSERT_EQ(DecodeInto(decoder, frame), 0);
    EXPECT_EQ(decoder.last_picture_end(), PictureEnd::kComplete);
    ASSERT_EQ(Planes(decoder), encoder.reference());
    double psnr = LumaPsnr(source, encoder.reference());
    std::printf("Q %2d: %6zu bytes, PSNR Y %.2f dB\n", q, frame.size(), psnr);
    EXPECT_LT(psnr, previous_psnr + 0.05);
    if (q > 1) {
      EXPECT_LT(frame.size(), previous_size + 64);
    }
    previous_psnr = psnr;
    previous_size = frame.size();
  }
}

TEST_P(RoundTrip, QZeroCodesFlatBlocksOfTheBlockMean) {
  const VideoStandard standard = GetParam();
  YuvPicture source = MakeNaturalYuv(standard, 3);
  MjpegEncoder encoder(standard);
  MjpegDecoder decoder;
  decoder.Open(standard);
  auto frame = encoder.EncodeFull(source, 0, 0);
  ASSERT_EQ(DecodeInto(decoder, frame), 0);
  const YuvPicture decoded = Planes(decoder);
  ASSERT_EQ(decoded, encoder.reference());
  // Block (0, 0) of the luma plane: all samples equal the rounded mean.
  int sum = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) sum += source.y[static_cast<std::size_t>(y) * source.width + x];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(decoded.y[static_cast<std::size_t>(y) * source.width + x], (sum + 32) / 64);
  EXPECT_GT(LumaPsnr(source, decoded), 20.0);
}

INSTANTIATE_TEST_SUITE_P(Standards, RoundTrip,
                         ::testing::Values(VideoStandard::kNtsc, VideoStandard::kPal));

TEST(MjpegEncoderHeader, StartCodeFlagQuantiserAndChannelLandInTheHeaderByte) {
  const YuvPicture picture = MakeNaturalYuv(VideoStandard::kNtsc, 2);
  MjpegEncoder encoder;
  for (auto [q, channel] : {std::pair{0, 0}, {2, 1}, {7, 3}, {15, 4}, {9, 7}}) {
    for (bool full : {true, false}) {
      SCOPED_TRACE(testing::Message() << "q " << q << " channel " << channel << " full " << full);
      auto frame = full ? encoder.EncodeFull(picture, q, channel)
                        : encoder.EncodePartial(picture, q, channel);
      ASSERT_GE(frame.size(), 5u);
      EXPECT_TRUE(std::equal(kFrameStartCode.begin(), kFrameStartCode.end(), frame.begin()));
      FrameHeaderByte h = FrameHeaderByte::Parse(frame[4]);
      EXPECT_EQ(h.full_frame, full);
      EXPECT_EQ(h.q, q);
      EXPECT_EQ(h.channel, channel);
    }
  }
}

TEST(MjpegEncoderHeader, BadArgumentsGiveNoFrame) {
  MjpegEncoder encoder(VideoStandard::kNtsc);
  const YuvPicture ntsc(VideoStandard::kNtsc), pal(VideoStandard::kPal);
  EXPECT_TRUE(encoder.EncodeFull(pal, 2, 0).empty());
  EXPECT_TRUE(encoder.EncodeFull(ntsc, 16, 0).empty());
  EXPECT_TRUE(encoder.EncodeFull(ntsc, -1, 0).empty());
  EXPECT_TRUE(encoder.EncodeFull(ntsc, 2, 8).empty());
  EXPECT_TRUE(encoder.EncodePartial(ntsc, 2, 0, -1).empty());
  EXPECT_TRUE(encoder.EncodeFull(RgbImage(320, 224), 2, 0).empty());
  EXPECT_FALSE(encoder.has_reference());
  EXPECT_FALSE(encoder.EncodeFull(ntsc, 2, 0).empty());
  EXPECT_TRUE(encoder.has_reference());
}

// Partial frames: a full frame of A, then B = A with some macroblocks taken
// from another picture.
struct PartialCase {
  const char* name;
  std::vector<std::pair<int, int>> changed;  // (row, column) of the changed macroblocks
};

class PartialFrames : public ::testing::TestWithParam<PartialCase> {};

TEST_P(PartialFrames, OnlyChangedMacroblocksAreReplacedAndDecoderMatchesReference) {
  const PartialCase& c = GetParam();
  const YuvPicture a = MakeNaturalYuv(VideoStandard::kNtsc, 1);
  YuvPicture other = a;  // the negative: every macroblock clearly different
  for (auto* plane : {&other.y, &other.cb, &other.cr})
    for (auto& v : *plane) v = static_cast<uint8_t>(255 - v);
  YuvPicture b = a;
  for (auto [r, col] : c.changed) CopyMacroblock(other, &b, r, col);

  MjpegEncoder encoder;
  MjpegDecoder decoder;
  decoder.Open(VideoStandard::kNtsc);
  ASSERT_EQ(DecodeInto(decoder, encoder.EncodeFull(a, 2, 0)), 0);
  const YuvPicture after_full = Planes(decoder);

  std::vector<uint8_t> frame;
  {
    auto f = encoder.EncodePartial(b, 2, 0);
    frame.assign(f.begin(), f.end());
  }
  EXPECT_FALSE(FrameHeaderByte::Parse(frame[4]).full_frame);
  EXPECT_EQ(encoder.coded_macroblocks(), static_cast<int>(c.changed.size()));
  ASSERT_EQ(DecodeInto(decoder, frame), 0);
  EXPECT_EQ(decoder.last_picture_end(), PictureEnd::kComplete);
  const YuvPicture decoded = Planes(decoder);
  EXPECT_EQ(decoded, encoder.reference());
  for (int r = 0; r < 14; ++r) {
    for (int col = 0; col < 40; ++col) {
      bool changed =
          std::find(c.changed.begin(), c.changed.end(), std::pair{r, col}) != c.changed.end();
      if (!changed) {
        EXPECT_TRUE(MacroblockEqual(after_full, decoded, r, col)) << r << "," << col;
      } else {
        EXPECT_FALSE(MacroblockEqual(after_full, decoded, r, col)) << r << "," << col;
      }
    }
  }
  EXPECT_GT(LumaPsnr(b, decoded), 34.0);

  // The emulated DVR pads short frames with zero bytes: same planes.
  MjpegDecoder padded;
  padded.Open(VideoStandard::kNtsc);
  frame.resize(frame.size() + 2028, 0);
  ASSERT_EQ(DecodeInto(padded, encoder.EncodeFull(a, 2, 0)), 0);
  ASSERT_EQ(DecodeInto(padded, frame), 0);
  EXPECT_EQ(Planes(padded), decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, PartialFrames,
    ::testing::Values(PartialCase{"none", {}}, PartialCase{"first", {{0, 0}}},
                      PartialCase{"last", {{13, 39}}},
                      PartialCase{"row_end_mid_picture", {{4, 39}}},
                      PartialCase{"gaps_in_a_row", {{5, 3}, {5, 4}, {5, 20}, {5, 38}}},
                      PartialCase{"whole_row",
                                  [] {
                                    std::vector<std::pair<int, int>> v;
                                    for (int col = 0; col < 40; ++col) v.push_back({7, col});
                                    return v;
                                  }()},
                      PartialCase{"block", {{2, 10}, {2, 11}, {3, 10}, {3, 11}, {12, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MjpegEncoderPartial, UnchangedPictureGivesATinyFrameThatChangesNothing) {
  const YuvPicture a = MakeNaturalYuv(VideoStandard::kPal, 4);
  MjpegEncoder encoder(VideoStandard::kPal);
  MjpegDecoder decoder;
  decoder.Open(VideoStandard::kPal);
  ASSERT_EQ(DecodeInto(decoder, encoder.EncodeFull(a, 3, 2)), 0);
  const YuvPicture before = Planes(decoder);
  auto frame = encoder.EncodePartial(a, 3, 2);
  EXPECT_LE(frame.size(), 14u);
  EXPECT_EQ(encoder.coded_macroblocks(), 0);
  ASSERT_EQ(DecodeInto(decoder, frame), 0);
  EXPECT_EQ(decoder.last_picture_end(), PictureEnd::kComplete);
  EXPECT_EQ(Planes(decoder), before);
}

TEST(MjpegEncoderPartial, OnlyTheChangedLumaBlockIsCodedAndChromaAlwaysFollows) {
  YuvPicture a = MakeNaturalYuv(VideoStandard::kNtsc, 6);
  MjpegEncoder encoder;
  MjpegDecoder decoder;
  decoder.Open(VideoStandard::kNtsc);
  ASSERT_EQ(DecodeInto(decoder, encoder.EncodeFull(a, 2, 0)), 0);
  std::vector<uint8_t> full_size_reference(encoder.reference().y);
  // Luma block 3 (bottom right) of macroblock (6, 9) changes.
  YuvPicture b = a;
  for (int y = 8; y < 16; ++y)
    for (int x = 8; x < 16; ++x) b.y[static_cast<std::size_t>(96 + y) * 640 + 144 + x] ^= 0x80;
  auto frame = encoder.EncodePartial(b, 2, 0);
  EXPECT_EQ(encoder.coded_macroblocks(), 1);
  ASSERT_EQ(DecodeInto(decoder, frame), 0);
  EXPECT_EQ(Planes(decoder), encoder.reference());
  // Blocks 0..2 keep their samples; block 3 follows the new picture.
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      std::size_t i = static_cast<std::size_t>(96 + y) * 640 + 144 + x;
      if (y < 8 || x < 8) {
        EXPECT_EQ(decoder.y_plane()[i], full_size_reference[i]);
      }
    }
  }
  // One slice: header, increment, pattern 1000, block 3, Cb, Cr, row end.
  EXPECT_LT(frame.size(), 200u);
  // A threshold above the change codes nothing.
  YuvPicture c = b;
  c.y[0] ^= 1;
  encoder.EncodePartial(c, 2, 0, 1);
  EXPECT_EQ(encoder.coded_macroblocks(), 0);
  encoder.EncodePartial(c, 2, 0, 0);
  EXPECT_EQ(encoder.coded_macroblocks(), 1);
}

TEST(MjpegEncoderPartial, WithoutReferenceAPartialFrameIsWrittenFull) {
  MjpegEncoder encoder;
  auto frame = encoder.EncodePartial(MakeNaturalYuv(VideoStandard::kNtsc, 1), 2, 0);
  ASSERT_GE(frame.size(), 5u);
  EXPECT_TRUE(FrameHeaderByte::Parse(frame[4]).full_frame);
  encoder.Reset();
  EXPECT_FALSE(encoder.has_reference());
}

// ---- Start-code emulation -------------------------------------------------

// Every 00 00 01 in a frame must be the frame start code (offset 0), a
// slice header naming a macroblock row, or the end-of-data code 00 00 01 FF
// as the last four bytes of a partial frame; 00 00 01 F8 only at offset 0.
void ExpectOnlyIntendedStartCodes(std::span<const uint8_t> frame, int mb_rows, bool full) {
  std::vector<std::size_t> at = FindStartCodePrefixes(frame);
  ASSERT_FALSE(at.empty());
  EXPECT_EQ(at[0], 0u);
  for (std::size_t k = 1; k < at.size(); ++k) {
    ASSERT_LT(at[k] + 3, frame.size());
    if (!full && k + 1 == at.size() && at[k] + 4 == frame.size() && frame[at[k] + 3] == 0xFF) {
      continue;
    }
    EXPECT_LT(frame[at[k] + 3] >> 3, mb_rows) << "unexpected 00 00 01 at " << at[k];
    EXPECT_NE(frame[at[k] + 3], 0xF8);
  }
  if (full) {
    EXPECT_EQ(at.size(), static_cast<std::size_t>(1 + mb_rows));
  }
}

YuvPicture Filled(VideoStandard s, uint8_t y, uint8_t cb, uint8_t cr) {
  YuvPicture p(s);
  std::fill(p.y.begin(), p.y.end(), y);
  std::fill(p.cb.begin(), p.cb.end(), cb);
  std::fill(p.cr.begin(), p.cr.end(), cr);
  return p;
}

TEST(MjpegEncoderEmulation, NoStartCodeInsideFramesOfNoisyAndExtremePictures) {
  const VideoStandard s = VideoStandard::kNtsc;
  std::mt19937 rng(1234);
  std::vector<YuvPicture> pictures;
  // Uniform noise, sparse spikes on black (blocks whose mean rounds to 0 with
  // large coefficients), extreme flat colours, and a hard checkerboard.
  YuvPicture noise(s), spikes = Filled(s, 0, 0, 255), checker(s);
  for (auto* plane : {&noise.y, &noise.cb, &noise.cr})
    for (auto& v : *plane) v = static_cast<uint8_t>(rng());
  for (std::size_t i = 0; i < spikes.y.size(); i += 61) spikes.y[i] = 255;
  for (std::size_t i = 0; i < spikes.cb.size(); i += 67) spikes.cb[i] = 200;
  for (int y = 0; y < checker.height; ++y)
    for (int x = 0; x < checker.width; ++x)
      checker.y[static_cast<std::size_t>(y) * checker.width + x] = ((x ^ y) & 1) ? 255 : 0;
  std::fill(checker.cb.begin(), checker.cb.end(), 0);
  std::fill(checker.cr.begin(), checker.cr.end(), 0);
  pictures.push_back(noise);
  pictures.push_back(spikes);
  pictures.push_back(checker);
  pictures.push_back(Filled(s, 0, 0, 0));
  pictures.push_back(Filled(s, 255, 255, 255));
  pictures.push_back(Filled(s, 226, 0, 148));  // saturated yellow: Cb at 0
  pictures.push_back(MakeNaturalYuv(s, 8));

  MjpegEncoder encoder(s);
  MjpegDecoder decoder;
  decoder.Open(s);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    for (int q : {1, 2, 4, 8, 15}) {
      SCOPED_TRACE(testing::Message() << "picture " << i << " q " << q);
      auto full = encoder.EncodeFull(pictures[i], q, 3);
      ExpectOnlyIntendedStartCodes(full, 14, true);
      ASSERT_EQ(DecodeInto(decoder, full), 0);
      ASSERT_EQ(Planes(decoder), encoder.reference());
      // A partial frame towards the next picture.
      auto partial = encoder.EncodePartial(pictures[(i + 1) % pictures.size()], q, 3, 0);
      ExpectOnlyIntendedStartCodes(partial, 14, false);
      ASSERT_EQ(DecodeInto(decoder, partial), 0);
      ASSERT_EQ(Planes(decoder), encoder.reference());
    }
  }
}

TEST(MjpegEncoderEmulation, BlackStaysNearBlack) {
  // The DC value is never 0 (an all-zero byte); black comes back as 1.
  MjpegEncoder encoder;
  encoder.EncodeFull(Filled(VideoStandard::kNtsc, 0, 128, 128), 2, 0);
  EXPECT_EQ(*std::max_element(encoder.reference().y.begin(), encoder.reference().y.end()), 1);
}

TEST(MjpegEncoderEmulation, FindStartCodePrefixesFindsEveryPrefix) {
  std::vector<uint8_t> data{0, 0, 1, 0xF8, 0, 0, 0, 1, 5, 0, 0, 1};
  EXPECT_EQ(FindStartCodePrefixes(data), (std::vector<std::size_t>{0, 5, 9}));
  EXPECT_TRUE(FindStartCodePrefixes(std::vector<uint8_t>{0, 0}).empty());
}

}  // namespace
}  // namespace rd
