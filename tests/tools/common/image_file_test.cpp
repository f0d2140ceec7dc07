// Reading BMP and PPM input, and the errors for everything else.

#include "tools/common/ImageFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace rd {
namespace {

void Le32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A hand-built 24-bit BMP of width x height (height < 0: top-down) whose
// pixel (x, y) (y from the top) is (x, y, x + y) in red, green, blue.
std::vector<uint8_t> MakeBmp(int width, int height, int bits = 24, int compression = 0) {
  const int rows = std::abs(height);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  std::vector<uint8_t> b(54 + stride * rows, 0);
  b[0] = 'B';
  b[1] = 'M';
  Le32(b, 2, static_cast<uint32_t>(b.size()));
  Le32(b, 10, 54);
  Le32(b, 14, 40);
  Le32(b, 18, static_cast<uint32_t>(width));
  Le32(b, 22, static_cast<uint32_t>(height));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  Le32(b, 30, static_cast<uint32_t>(compression));
  for (int y = 0; y < rows; ++y) {
    const int stored = height < 0 ? y : rows - 1 - y;
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &b[54 + stride * stored + 3 * x];
      p[0] = static_cast<uint8_t>(x + y);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x);
    }
  }
  return b;
}

void ExpectPattern(const RgbImage& img, int width, int height) {
  ASSERT_EQ(img.width, width);
  ASSERT_EQ(img.height, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = img.Pixel(x, y);
      ASSERT_EQ(p[0], x) << x << "," << y;
      ASSERT_EQ(p[1], y) << x << "," << y;
      ASSERT_EQ(p[2], static_cast<uint8_t>(x + y)) << x << "," << y;
    }
  }
}

TEST(ImageFile, ReadsBottomUpAndTopDownBmpWithRowPadding) {
  RgbImage img;
  std::string error;
  ASSERT_TRUE(DecodeImage(MakeBmp(5, 3), "a.bmp", &img, &error)) << error;
  ExpectPattern(img, 5, 3);
  ASSERT_TRUE(DecodeImage(MakeBmp(7, -4), "b.bmp", &img, &error)) << error;
  ExpectPattern(img, 7, 4);
}

TEST(ImageFile, ReadsPpmWithCommentsAndSmallMaxval) {
  std::string header = "P6\n# made by hand\n3 2\n# maximum\n255\n";
  std::vector<uint8_t> b(header.begin(), header.end());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) b.insert(b.end(), {uint8_t(x), uint8_t(y), uint8_t(x + y)});
  RgbImage img;
  std::string error;
  ASSERT_TRUE(DecodeImage(b, "a.ppm", &img, &error)) << error;
  ExpectPattern(img, 3, 2);

  std::string small = "P6 1 1 15 ";
  std::vector<uint8_t> s(small.begin(), small.end());
  s.insert(s.end(), {15, 0, 7});
  ASSERT_TRUE(DecodeImage(s, "s.ppm", &img, &error)) << error;
  EXPECT_EQ(img.rgb, (std::vector<uint8_t>{255, 0, 119}));
}

TEST(ImageFile, WrittenFilesReadBack) {
  rdtest::TempDir dir;
  RgbImage img(9, 5);
  for (std::size_t i = 0; i < img.rgb.size(); ++i) img.rgb[i] = static_cast<uint8_t>(i * 7);
  for (const char* name : {"x.bmp", "x.ppm", "x.PPM"}) {
    std::string error;
    ASSERT_TRUE(WriteImageFile((dir / name).string(), img, &error)) << error;
    RgbImage back;
    ASSERT_TRUE(ReadImageFile((dir / name).string(), &back, &error)) << error;
    EXPECT_EQ(back.rgb, img.rgb) << name;
    auto bytes = rdtest::ReadFile(dir / name);
    EXPECT_EQ(bytes[0], std::string(name).back() == 'p' ? 'B' : 'P') << name;
  }
}

struct BadInput {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* message;
};

std::vector<uint8_t> Text(const std::string& s) {
  return {s.begin(), s.end()};
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> b, std::size_t drop) {
  b.resize(b.size() - drop);
  return b;
}

TEST(ImageFile, RefusesOtherFormatsAndDamagedFilesWithAClearMessage) {
  std::vector<uint8_t> huge = MakeBmp(2, 2);
  Le32(huge, 18, 100000);
  const std::vector<BadInput> cases = {
      {"eight_bit.bmp", MakeBmp(4, 4, 8), "8-bit BMP not supported"},
      {"thirty_two.bmp", MakeBmp(4, 4, 32), "32-bit BMP not supported"},
      {"rle.bmp", MakeBmp(4, 4, 24, 1), "compressed BMP not supported"},
      {"short.bmp", Truncated(MakeBmp(8, 8), 10), "truncated BMP pixel data"},
      {"header.bmp", Text("BM123"), "truncated BMP header"},
      {"huge.bmp", huge, "bad BMP size"},
      {"gray.pgm", Text("P5 2 2 255 abcd"), "P5 not supported"},
      {"ascii.ppm", Text("P3 1 1 255 1 2 3"), "P3 not supported"},
      {"wide.ppm", Text("P6 1 1 65535 abcdef"), "maximum value 65535"},
      {"cut.ppm", Text("P6 4 4 255 abc"), "truncated PPM pixel data"},
      {"broken.ppm", Text("P6 4 x"), "damaged PPM header"},
      {"picture.png", Text("\x89PNG\r\n"), "not a BMP or binary PPM (P6) file"},
      {"empty", {}, "not a BMP or binary PPM (P6) file"},
  };
  for (const BadInput& c : cases) {
    RgbImage img;
    std::string error;
    EXPECT_FALSE(DecodeImage(c.bytes, c.name, &img, &error)) << c.name;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    EXPECT_NE(error.find(c.name), std::string::npos) << error;
  }
  RgbImage img;
  std::string error;
  EXPECT_FALSE(ReadImageFile("/nonexistent/folder/x.bmp", &img, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(Picture, ResamplingAveragesLinePairsAndKeepsEqualSizes) {
  RgbImage tall(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = tall.Pixel(x, y);
      p[0] = static_cast<uint8_t>(10 * y);
      p[1] = static_cast<uint8_t>(20 * x);
      p[2] = 200;
    }
  RgbImage half = ResampleRgb(tall, 4, 2);
  ASSERT_EQ(half.height, 2);
  EXPECT_EQ(half.Pixel(2, 0)[0], 5);   // (0 + 10) / 2
  EXPECT_EQ(half.Pixel(2, 1)[0], 25);  // (20 + 30) / 2
  EXPECT_EQ(half.Pixel(3, 1)[1], 60);
  EXPECT_EQ(half.Pixel(1, 1)[2], 200);
  EXPECT_EQ(ResampleRgb(tall, 4, 4).rgb, tall.rgb);
}

TEST(Picture, ColourConversionRoundTripsThroughTheDecoderArithmetic) {
  RgbImage img(2, 2);
  const uint8_t colours[][3] = {{200, 40, 30}, {30, 190, 60}, {20, 40, 220}, {128, 128, 128}};
  for (const auto& c : colours) {
    for (int i = 0; i < 4; ++i) std::copy(c, c + 3, img.rgb.begin() + 3 * i);
    YuvPicture yuv(2, 2);
    ConvertRgbToYuv(img, &yuv);
    RgbImage back = ConvertYuvToRgb(yuv);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(back.rgb[k], c[k], 3) << int(c[0]) << " " << k;
  }
}

}  // namespace
}  // namespace rd
