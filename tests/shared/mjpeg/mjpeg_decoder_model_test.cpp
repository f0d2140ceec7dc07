// The decoder against the literal model of the frame decoding rules (MjpegReference.h) on
// random frames: well-formed ones, and the same broken (bits flipped, cut,
// garbage inserted). Planes and every output byte must agree, and so must the
// vector and the scalar paths.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/mjpeg/MjpegReference.h"

namespace rd::mjpeg {
namespace {

using rdtest::mjpeg::Ac;
using rdtest::mjpeg::FrameBuilder;
using rdtest::mjpeg::ReferenceDecoder;

std::vector<Ac> RandomAc(std::mt19937& rng) {
  std::vector<Ac> ac;
  int i = 0;
  const int n = rng() % 12;
  for (int k = 0; k < n; ++k) {
    Ac c{0, 0, false};
    const int kind = rng() % 10;
    if (kind < 6) {
      c.run = rng() % 4;
      c.level = 1 + rng() % 4;
    } else if (kind < 8) {
      c.run = rng() % 32;
      c.level = 1 + rng() % 40;
    } else {
      c.run = rng() % 20;
      c.level = static_cast<int>(rng() % 511) - 256;
      if (c.level == 0) c.level = 1;
      c.force_escape = true;
    }
    if (rng() & 1) c.level = -c.level;
    if (c.level > 255) c.level = 255;
    if (i + c.run + 1 > 63 && rng() % 8 != 0) break;  // rarely: index beyond 63
    i += c.run + 1;
    ac.push_back(c);
    if (i > 63) break;
  }
  return ac;
}

std::vector<uint8_t> RandomFrame(std::mt19937& rng, int mb_rows) {
  FrameBuilder f;
  const bool full = rng() % 3 != 0;
  f.Start(full, rng() % 16, rng() % 8);
  std::vector<int> rows;
  for (int r = 0; r < mb_rows; ++r) rows.push_back(r);
  if (rng() % 4 == 0) std::shuffle(rows.begin(), rows.end(), rng);
  if (rng() % 6 == 0) rows.resize(1 + rng() % mb_rows);
  if (rng() % 10 == 0) rows.push_back(mb_rows + rng() % 10);  // beyond the picture
  for (int r : rows) {
    f.Slice(r);
    if (full) {
      for (int c = 0; c < 40; ++c) {
        for (int k = 0; k < 6; ++k) f.Block(rng() % 256, RandomAc(rng));
      }
    } else {
      int c = -1;
      for (;;) {
        const int a = 1 + rng() % 6;
        if (c + a >= 40 + (rng() % 20 == 0 ? 2 : 0)) break;
        c += a;
        const int pattern = rng() % 16;
        f.Increment(a, pattern);
        for (int k = 0; k < 6; ++k) {
          if (k < 4 && !(pattern & (1 << k))) continue;
          f.Block(rng() % 256, RandomAc(rng));
        }
      }
      f.ZeroIncrement();
      if (rng() % 5 == 0) f.AlignedBytes({0x00, 0x00});  // stuffing
    }
  }
  if (rng() % 2) f.AlignedBytes({0x00, 0x00, 0x01, 0xF8});
  return f.Bytes();
}

void Break(std::mt19937& rng, std::vector<uint8_t>& frame) {
  switch (rng() % 5) {
    case 0:
      break;   // intact
    case 1: {  // flip bits
      for (int n = 1 + rng() % 8; n > 0 && !frame.empty(); --n)
        frame[rng() % frame.size()] ^= 1 << (rng() % 8);
      break;
    }
    case 2:  // cut
      frame.resize(rng() % (frame.size() + 1));
      break;
    case 3: {  // insert garbage
      const std::size_t at = rng() % (frame.size() + 1);
      std::vector<uint8_t> junk(rng() % 40);
      for (auto& b : junk) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0 : rng());
      frame.insert(frame.begin() + at, junk.begin(), junk.end());
      break;
    }
    default:  // garbage in front
      frame.insert(frame.begin(), {0x00, 0x00, 0x00, 0x07, 0x00, 0x00});
      break;
  }
}

class ModelTest : public ::testing::TestWithParam<bool> {};

TEST_P(ModelTest, RandomFramesMatchTheLiteralModel) {
  const bool pal = GetParam();
  std::mt19937 rng(pal ? 99 : 42);
  // A decoder takes its kernels when it opens.
  MjpegDecoder fast;
  MjpegDecoder scalar;
  SetVectorPathsEnabled(true);
  fast.Open(pal ? VideoStandard::kPal : VideoStandard::kNtsc);
  SetVectorPathsEnabled(false);
  scalar.Open(pal ? VideoStandard::kPal : VideoStandard::kNtsc);
  SetVectorPathsEnabled(true);
  ReferenceDecoder model(pal);
  const int mb_rows = fast.height() / 16;
  const std::size_t kOut = 1 << 20;
  std::vector<uint8_t> out_fast(kOut), out_scalar(kOut), out_model(kOut);
  for (int n = 0; n < 40; ++n) {
    auto frame = RandomFrame(rng, mb_rows);
    Break(rng, frame);
    const bool true_colour = rng() % 3 != 0;
    const bool half = rng() % 3 == 0;
    fast.SetTrueColour(true_colour);
    scalar.SetTrueColour(true_colour);
    std::memset(out_fast.data(), 0x5A, kOut);
    std::memset(out_scalar.data(), 0x5A, kOut);
    std::memset(out_model.data(), 0x5A, kOut);
    const uint8_t s_fast = fast.DecodeFrame(frame.data(), frame.size(), out_fast.data(), half);
    const uint8_t s_scalar =
        scalar.DecodeFrame(frame.data(), frame.size(), out_scalar.data(), half);
    const uint8_t s_model =
        model.DecodeFrame(frame.data(), frame.size(), out_model.data(), half, true_colour);
    ASSERT_EQ(s_fast, s_model) << "frame " << n;
    ASSERT_EQ(s_scalar, s_model) << "frame " << n;
    if (s_model < 97) {
      ASSERT_EQ(fast.last_picture_end() == PictureEnd::kComplete, model.last_complete)
          << "frame " << n;
    }
    ASSERT_EQ(0, std::memcmp(fast.y_plane(), model.y.data(), model.y.size())) << "frame " << n;
    ASSERT_EQ(0, std::memcmp(fast.cb_plane(), model.cb.data(), model.cb.size())) << "frame " << n;
    ASSERT_EQ(0, std::memcmp(fast.cr_plane(), model.cr.data(), model.cr.size())) << "frame " << n;
    ASSERT_EQ(0, std::memcmp(scalar.y_plane(), model.y.data(), model.y.size())) << "frame " << n;
    ASSERT_TRUE(out_fast == out_model)
        << "frame " << n << " tc " << true_colour << " half " << half;
    ASSERT_TRUE(out_scalar == out_model) << "frame " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Standards, ModelTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pal" : "Ntsc"; });

TEST(ModelTest, RandomPlanesConvertLikeTheModel) {
  // Conversion of arbitrary planes (not only decodable ones), both paths.
  // The model converts as part of DecodeFrame: give it a frame that decodes nothing.
  const std::vector<uint8_t> empty_picture = {0x00, 0x00, 0x01, 0xF8, 0x00, 0x00, 0x00, 0x01, 0xF8};
  for (bool vector : {true, false}) {
    // A decoder takes its kernels when it opens; both get the same planes.
    SetVectorPathsEnabled(vector);
    std::mt19937 rng(5);
    MjpegDecoder dec;
    dec.Open(VideoStandard::kNtsc);
    ReferenceDecoder model(false);
    for (std::size_t i = 0; i < model.y.size(); ++i) dec.mutable_y_plane()[i] = model.y[i] = rng();
    for (std::size_t i = 0; i < model.cb.size(); ++i) {
      dec.mutable_cb_plane()[i] = model.cb[i] = rng();
      dec.mutable_cr_plane()[i] = model.cr[i] = rng();
    }
    for (bool tc : {true, false}) {
      for (bool half : {false, true}) {
        std::vector<uint8_t> a(1 << 20, 0x11), b(1 << 20, 0x11);
        dec.SetTrueColour(tc);
        ASSERT_EQ(dec.ConvertToOutput(a.data(), half), tc ? 0 : 1);
        ASSERT_EQ(model.DecodeFrame(empty_picture.data(), empty_picture.size(), b.data(), half, tc),
                  tc ? 0 : 1);
        ASSERT_TRUE(a == b) << "vector " << vector << " tc " << tc << " half " << half;
      }
    }
  }
  SetVectorPathsEnabled(true);
}

}  // namespace
}  // namespace rd::mjpeg
