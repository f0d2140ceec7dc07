#include "shared/still/BmpFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "shared/stream/ByteOrder.h"
#include "tests/support/TestSupport.h"

namespace rd {
namespace {

// A 2 x 2 picture: every row needs 2 bytes of padding (6 -> 8).
const std::vector<uint8_t> kExpected2x2 = {
    // file header: "BM", size 70, reserved, pixel offset 54
    0x42, 0x4D, 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,
    // information header: size 40, width 2, height 2, 1 plane, 24 bits,
    // no compression; image size, resolutions and colour counts 0
    40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // bottom row, then top row, each padded with two zero bytes
    1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};

TEST(BmpFile, BytesExactForSmallPicture) {
  // Bottom-up rows, 7 bytes apart (one byte of source padding that must not appear).
  const uint8_t bottom_up[] = {1, 2, 3, 4, 5, 6, 0xEE, 7, 8, 9, 10, 11, 12, 0xEE};
  EXPECT_EQ(BuildBmp24(2, 2, bottom_up, 7), kExpected2x2);

  const uint8_t top_down[] = {7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(BuildBmp24(2, 2, top_down, 6, /*top_down=*/true), kExpected2x2);

  rdtest::TempDir dir;
  ASSERT_EQ(WriteBmp24((dir / "a.bmp").string(), 2, 2, bottom_up, 7), kBmpOk);
  EXPECT_EQ(rdtest::ReadFile(dir / "a.bmp"), kExpected2x2);
  ASSERT_EQ(WriteBmp24((dir / "b.bmp").string(), 2, 2, top_down, 6, true), kBmpOk);
  EXPECT_EQ(rdtest::ReadFile(dir / "b.bmp"), kExpected2x2);
}

TEST(BmpFile, DisplayPictureSizes) {
  struct Case {
    int height;
    std::size_t file_size;
  };
  rdtest::TempDir dir;
  for (const Case c : {Case{436, 837174}, Case{532, 1021494}}) {
    SCOPED_TRACE(c.height);
    std::vector<uint8_t> pixels(640 * 3 * c.height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
    const auto path = dir / "still.bmp";
    ASSERT_EQ(WriteBmp24(path.string(), 640, c.height, pixels.data(), 640 * 3), kBmpOk);
    const auto bytes = rdtest::ReadFile(path);
    ASSERT_EQ(bytes.size(), c.file_size);
    EXPECT_EQ(BmpFileSize24(640, c.height), c.file_size);
    const uint32_t size_field = LoadLe32(&bytes[2]);
    EXPECT_EQ(size_field, c.file_size);
    const auto info = BitmapInfoHeader::Parse(&bytes[14]);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.bit_count, 24);
    EXPECT_EQ(info.size_image, 0u);  // like the resolutions and colour counts
    EXPECT_EQ(info.x_pels_per_meter, 0);
    EXPECT_EQ(info.clr_used, 0u);
    // 1920-byte rows need no padding: the pixels follow the headers unchanged.
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), bytes.begin() + 54));
  }
}

TEST(BmpFile, BadArgumentsAndUnwritablePath) {
  const uint8_t px[12] = {};
  rdtest::TempDir dir;
  const std::string path = (dir / "x.bmp").string();
  EXPECT_EQ(WriteBmp24(path, 0, 2, px, 6), kBmpBadArgument);
  EXPECT_EQ(WriteBmp24(path, 2, -1, px, 6), kBmpBadArgument);
  EXPECT_EQ(WriteBmp24(path, 2, 2, nullptr, 6), kBmpBadArgument);
  EXPECT_EQ(WriteBmp24(path, 2, 2, px, 5), kBmpBadArgument);  // pitch shorter than a row
  EXPECT_EQ(WriteBmp24(path, 40000, 40000, px, 120000), kBmpBadArgument);  // over 4 GB
  EXPECT_EQ(WriteBmp24("", 2, 2, px, 6), kBmpBadArgument);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(BuildBmp24(0, 2, px, 6).empty());
  EXPECT_EQ(WriteBmp24((dir / "no" / "such" / "dir.bmp").string(), 2, 2, px, 6), kBmpOpenFailed);
}

TEST(BmpFile, InfoHeaderRoundTrip) {
  auto h = BitmapInfoHeader::Make24(641, 3);
  h.size_image = 1924u * 3;
  h.x_pels_per_meter = -5;
  h.clr_important = 0x01020304;
  const auto packed = h.Pack();
  const auto back = BitmapInfoHeader::Parse(packed.data());
  EXPECT_EQ(back.Pack(), packed);
  EXPECT_EQ(back.x_pels_per_meter, -5);
  EXPECT_EQ(back.width, 641);
}

}  // namespace
}  // namespace rd
