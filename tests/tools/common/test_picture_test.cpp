// The synthetic pictures: deterministic, different per channel, moving a
// little per frame, with the clock burnt in.

#include "tools/common/TestPicture.h"

#include <gtest/gtest.h>

#include "tools/common/MjpegEncoder.h"

namespace rd {
namespace {

using mjpeg::VideoStandard;

const RecTime kTime{26, 12, 9, 23, 59, 58};

TEST(TestCard, IsDeterministicForChannelFrameAndTime) {
  TestCard a(2, VideoStandard::kNtsc), b(2, VideoStandard::kNtsc);
  YuvPicture pa, pb;
  a.Render(1234, kTime, &pa);
  b.Render(1234, kTime, &pb);
  EXPECT_EQ(pa, pb);
  EXPECT_EQ(pa.height, 224);
  YuvPicture pal;
  TestCard(1, VideoStandard::kPal).Render(0, kTime, &pal);
  EXPECT_EQ(pal.height, 272);
}

TEST(TestCard, ChannelsDifferClearly) {
  std::vector<YuvPicture> cards(4);
  for (int ch = 1; ch <= 4; ++ch)
    TestCard(ch, VideoStandard::kNtsc).Render(10, kTime, &cards[ch - 1]);
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      // Luma and colour both differ over a good part of the picture.
      EXPECT_LT(Psnr(cards[i].y.data(), cards[j].y.data(), cards[i].y.size()), 20.0) << i << j;
      double chroma = Psnr(cards[i].cb.data(), cards[j].cb.data(), cards[i].cb.size());
      chroma = std::min(chroma, Psnr(cards[i].cr.data(), cards[j].cr.data(), cards[i].cr.size()));
      EXPECT_LT(chroma, 30.0) << i << j;
    }
  }
}

TEST(TestCard, MovesALittleEveryFrameAndShowsTheClock) {
  TestCard card(3, VideoStandard::kNtsc);
  MjpegEncoder encoder;
  YuvPicture picture;
  card.Render(100, kTime, &picture);
  encoder.EncodeFull(picture, 3, 2);
  for (uint64_t frame = 101; frame < 106; ++frame) {
    YuvPicture next;
    card.Render(frame, kTime, &next);
    EXPECT_NE(next, picture);
    encoder.EncodePartial(next, 3, 2);
    EXPECT_GT(encoder.coded_macroblocks(), 0);
    EXPECT_LT(encoder.coded_macroblocks(), 560 / 5) << frame;  // a small part of the picture
    picture = next;
  }
  // A new second changes the clock text only: the bottom rows.
  YuvPicture later;
  RecTime next_second = kTime;
  next_second.second = 59;
  card.Render(105, next_second, &later);
  ASSERT_NE(later, picture);
  for (int y = 0; y < picture.height - 32; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      std::size_t i = static_cast<std::size_t>(y) * picture.width + x;
      ASSERT_EQ(later.y[i], picture.y[i]) << x << "," << y;
    }
  }
}

TEST(NaturalPicture, HasDetailAndColourAndDependsOnTheSeed) {
  RgbImage a = MakeNaturalPicture(640, 224, 1), b = MakeNaturalPicture(640, 224, 2);
  EXPECT_NE(a.rgb, b.rgb);
  EXPECT_EQ(a.rgb, MakeNaturalPicture(640, 224, 1).rgb);
  // Neighbouring samples differ often (texture) and the colours spread widely.
  int differing = 0, min_r = 255, max_r = 0, min_b = 255, max_b = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 1; x < a.width; ++x) {
      differing += a.Pixel(x, y)[1] != a.Pixel(x - 1, y)[1];
      min_r = std::min<int>(min_r, a.Pixel(x, y)[0]);
      max_r = std::max<int>(max_r, a.Pixel(x, y)[0]);
      min_b = std::min<int>(min_b, a.Pixel(x, y)[2]);
      max_b = std::max<int>(max_b, a.Pixel(x, y)[2]);
    }
  }
  EXPECT_GT(differing, a.width * a.height / 2);
  EXPECT_GT(max_r - min_r, 200);
  EXPECT_GT(max_b - min_b, 200);
}

TEST(DrawText, DrawsOutlinedWhiteTextWithinThePicture) {
  YuvPicture p(64, 32);
  std::fill(p.y.begin(), p.y.end(), 128);
  DrawText(&p, 2, 2, "CH1", 2);
  int white = 0, black = 0;
  for (uint8_t v : p.y) {
    white += v == 255;
    black += v == 0;
  }
  EXPECT_GT(white, 20);
  EXPECT_GT(black, 20);
  EXPECT_EQ(TextWidth("CH1", 2), 34);
  // Clipping: drawing partly outside is safe.
  DrawText(&p, 50, 25, "12:34", 3);
  DrawText(&p, -20, -5, "x", 3);
}

}  // namespace
}  // namespace rd
