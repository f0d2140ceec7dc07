// mjpegtool end to end on real files in a temporary folder: decode's output
// files and status lines, encode and show on BMP and PPM input, errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "support/TestSupport.h"
#include "tools/common/ImageFile.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/TestPicture.h"
#include "tools/mjpegtool/MjpegTool.h"

namespace rd {
namespace {

namespace fs = std::filesystem;
using mjpeg::VideoStandard;

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

ToolRun Tool(std::vector<std::string> args) {
  std::ostringstream out, err;
  int code = RunMjpegTool(args, out, err);
  return {code, out.str(), err.str()};
}

void Save(const fs::path& file, std::span<const uint8_t> bytes) {
  rdtest::WriteFile(file, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

YuvPicture Negative(YuvPicture p) {
  for (auto* plane : {&p.y, &p.cb, &p.cr})
    for (auto& v : *plane) v = static_cast<uint8_t>(255 - v);
  return p;
}

class Decode : public ::testing::TestWithParam<std::tuple<VideoStandard, bool, bool>> {};

// A full frame, a partial frame (right half of the picture changed), a file
// without a start code, a file whose first start code is a slice header, an
// empty file: one decoder over all of them.
TEST_P(Decode, WritesOutputRowsAndPlanesPerFrameAndCarriesPlanesOver) {
  const auto [standard, palette, half] = GetParam();
  const int h = standard == VideoStandard::kPal ? 272 : 224;
  rdtest::TempDir dir;
  const YuvPicture a = MakeNaturalYuv(standard, 1);
  YuvPicture b = a;
  const YuvPicture neg = Negative(a);
  for (int y = 0; y < h; ++y)
    std::copy_n(neg.y.begin() + y * 640 + 320, 320, b.y.begin() + y * 640 + 320);
  MjpegEncoder encoder(standard);
  Save(dir / "a.bin", encoder.EncodeFull(a, 2, 0));
  const YuvPicture after_a = encoder.reference();
  Save(dir / "b.bin", encoder.EncodePartial(b, 2, 0));
  const YuvPicture after_b = encoder.reference();
  rdtest::WriteFile(dir / "none.bin", {1, 2, 3, 0, 0, 2});
  rdtest::WriteFile(dir / "slice.bin", {0, 0, 1, 0x05, 0xAA});
  rdtest::WriteFile(dir / "empty.bin", {});

  std::vector<std::string> args{"decode", "--out", (dir / "out").string()};
  if (standard == VideoStandard::kPal) args.push_back("--pal");
  if (palette) args.push_back("--256");
  if (half) args.push_back("--half");
  for (const char* f : {"a.bin", "b.bin", "none.bin", "slice.bin", "empty.bin"})
    args.push_back((dir / f).string());
  ToolRun r = Tool(args);
  ASSERT_EQ(r.code, 0) << r.err;
  const int ok = palette ? 1 : 0;
  EXPECT_EQ(r.out, "frame 0 status " + std::to_string(ok) + "\nframe 1 status " +
                       std::to_string(ok) +
                       "\nframe 2 status 99\nframe 3 status 100\nframe 4 status 99\n");

  const std::size_t bpp = palette ? 1 : 3;
  const std::size_t out_size = (half ? h - 6 : 2 * h - 11) * 640 * bpp;
  const fs::path out = dir / "out";
  std::vector<std::vector<unsigned char>> outs;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::string n = std::to_string(i);
    outs.push_back(rdtest::ReadFile(out / (n + ".out")));
    EXPECT_EQ(outs.back().size(), out_size);
    const YuvPicture& expected = i == 0 ? after_a : after_b;
    EXPECT_EQ(rdtest::ReadFile(out / (n + ".y")), expected.y);
    EXPECT_EQ(rdtest::ReadFile(out / (n + ".cb")), expected.cb);
    EXPECT_EQ(rdtest::ReadFile(out / (n + ".cr")), expected.cr);
  }
  EXPECT_NE(outs[0], outs[1]);
  // Rejected frames leave the buffer as the last decoded frame left it.
  EXPECT_EQ(outs[2], outs[1]);
  EXPECT_EQ(outs[4], outs[1]);
  // The buffer was zero-filled once: at half size the right half of each row
  // is never written.
  if (half) {
    EXPECT_TRUE(std::all_of(outs[1].begin() + 320 * bpp, outs[1].begin() + 640 * bpp,
                            [](unsigned char v) { return v == 0; }));
  }
  if (palette) {
    EXPECT_TRUE(std::all_of(outs[1].begin(), outs[1].begin() + 320,
                            [](unsigned char v) { return v >= 16 && v <= 239; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Decode,
                         ::testing::Values(std::tuple{VideoStandard::kNtsc, false, false},
                                           std::tuple{VideoStandard::kNtsc, true, true},
                                           std::tuple{VideoStandard::kPal, false, true},
                                           std::tuple{VideoStandard::kPal, true, false}));

TEST(Decode, OutputMatchesTheDecoderCalledDirectly) {
  rdtest::TempDir dir;
  MjpegEncoder encoder;
  auto frame = encoder.EncodeFull(MakeNaturalYuv(VideoStandard::kNtsc, 3), 4, 2);
  Save(dir / "f.bin", frame);
  ASSERT_EQ(Tool({"decode", "--out", (dir / "o").string(), (dir / "f.bin").string()}).code, 0);
  mjpeg::MjpegDecoder decoder;
  decoder.Open(VideoStandard::kNtsc);
  std::vector<uint8_t> output(2 * 1024 * 1024, 0);
  ASSERT_EQ(decoder.DecodeFrame(frame.data(), frame.size(), output.data(), false), 0);
  output.resize((2 * 224 - 11) * 640 * 3);
  EXPECT_EQ(rdtest::ReadFile(dir / "o" / "0.out"), output);
}

// Writes the natural test picture as BMP and PPM through the tool.
TEST(EncodeShow, BmpAndPpmInputGiveTheSameFrameAndShowDisplaysIt) {
  rdtest::TempDir dir;
  const std::string bmp = (dir / "in.bmp").string(), ppm = (dir / "in.ppm").string();
  ASSERT_EQ(Tool({"testpicture", bmp}).code, 0);
  ASSERT_EQ(Tool({"testpicture", ppm}).code, 0);
  EXPECT_EQ(rdtest::ReadFile(bmp)[0], 'B');
  EXPECT_EQ(rdtest::ReadFile(ppm)[0], 'P');

  ToolRun e1 = Tool({"encode", "--q", "2", "--channel", "3", bmp, (dir / "a.bin").string()});
  ToolRun e2 = Tool({"encode", "--q", "2", "--channel", "3", ppm, (dir / "b.bin").string()});
  ASSERT_EQ(e1.code, 0) << e1.err;
  ASSERT_EQ(e2.code, 0) << e2.err;
  const auto frame = rdtest::ReadFile(dir / "a.bin");
  EXPECT_EQ(frame, rdtest::ReadFile(dir / "b.bin"));
  ASSERT_GT(frame.size(), 5u);
  FrameHeaderByte header = FrameHeaderByte::Parse(frame[4]);
  EXPECT_TRUE(header.full_frame);
  EXPECT_EQ(header.q, 2);
  EXPECT_EQ(header.channel, 2);  // channel 3

  // show: the displayed picture is picture rows 5 .. H-2, each twice.
  const std::string shown = (dir / "shown.bmp").string();
  ToolRun s = Tool({"show", (dir / "a.bin").string(), shown});
  ASSERT_EQ(s.code, 0) << s.err;
  RgbImage original, picture;
  std::string error;
  ASSERT_TRUE(ReadImageFile(bmp, &original, &error)) << error;
  ASSERT_TRUE(ReadImageFile(shown, &picture, &error)) << error;
  ASSERT_EQ(picture.width, 640);
  ASSERT_EQ(picture.height, 436);
  std::vector<uint8_t> expected, got;
  for (int y = 0; y < 436; ++y) {
    const uint8_t* src = original.Pixel(0, 5 + y / 2);
    expected.insert(expected.end(), src, src + 640 * 3);
    const uint8_t* dst = picture.Pixel(0, y);
    got.insert(got.end(), dst, dst + 640 * 3);
  }
  EXPECT_GT(Psnr(expected.data(), got.data(), got.size()), 30.0);

  // 256 colours at half size: 320 x 218, palette colours only.
  ToolRun s256 = Tool({"show", "--256", "--half", (dir / "a.bin").string(), shown});
  ASSERT_EQ(s256.code, 0) << s256.err;
  ASSERT_TRUE(ReadImageFile(shown, &picture, &error)) << error;
  EXPECT_EQ(picture.width, 320);
  EXPECT_EQ(picture.height, 218);
  uint8_t r, g, b;
  mjpeg::MjpegDecoder::PaletteColour(16 + 4 * 4 + 3, &r, &g, &b);
  bool all_in_palette = true;
  for (int i = 0; i < 320 * 218 && all_in_palette; i += 97) {
    const uint8_t* p = &picture.rgb[static_cast<std::size_t>(i) * 3];
    bool found = false;
    for (int k = 16; k < 240 && !found; ++k) {
      mjpeg::MjpegDecoder::PaletteColour(k, &r, &g, &b);
      found = p[0] == r && p[1] == g && p[2] == b;
    }
    all_in_palette = found;
  }
  EXPECT_TRUE(all_in_palette);
}

TEST(EncodeShow, OtherSizesAreScaledAndPalIsHonoured) {
  rdtest::TempDir dir;
  std::string error;
  ASSERT_TRUE(WriteImageFile((dir / "big.ppm").string(), MakeNaturalPicture(800, 600), &error));
  ToolRun e = Tool({"encode", "--pal", (dir / "big.ppm").string(), (dir / "f.bin").string()});
  ASSERT_EQ(e.code, 0) << e.err;
  EXPECT_NE(e.out.find("scaling 800x600 to 640x272"), std::string::npos) << e.out;
  ToolRun s = Tool({"show", "--pal", (dir / "f.bin").string(), (dir / "s.bmp").string()});
  ASSERT_EQ(s.code, 0) << s.err;
  RgbImage picture;
  ASSERT_TRUE(ReadImageFile((dir / "s.bmp").string(), &picture, &error));
  EXPECT_EQ(picture.height, 532);
}

TEST(EncodeShow, ShowDecodesSeveralFramesInOrder) {
  rdtest::TempDir dir;
  const YuvPicture a = MakeNaturalYuv(VideoStandard::kNtsc, 1);
  YuvPicture b = a;
  std::fill(b.y.begin(), b.y.begin() + 640 * 32, 250);  // top two macroblock rows white
  MjpegEncoder encoder;
  Save(dir / "a.bin", encoder.EncodeFull(a, 2, 0));
  Save(dir / "b.bin", encoder.EncodePartial(b, 2, 0));
  ASSERT_EQ(
      Tool({"show", (dir / "a.bin").string(), (dir / "b.bin").string(), (dir / "s.ppm").string()})
          .code,
      0);
  ASSERT_EQ(Tool({"show", (dir / "b.bin").string(), (dir / "alone.ppm").string()}).code, 0);
  RgbImage both, alone;
  std::string error;
  ASSERT_TRUE(ReadImageFile((dir / "s.ppm").string(), &both, &error));
  ASSERT_TRUE(ReadImageFile((dir / "alone.ppm").string(), &alone, &error));
  // Displayed row 0 is picture row 5 (white in b); the bottom shows a's
  // ground, present only when a was decoded first.
  EXPECT_GT(both.Pixel(100, 0)[1], 240);
  EXPECT_NE(both.rgb, alone.rgb);
}

TEST(TestPictureCommand, WritesTheTestCardOfAChannel) {
  rdtest::TempDir dir;
  ToolRun r1 = Tool({"testpicture", "--card", "2", "--frame", "10", (dir / "c.bmp").string()});
  ToolRun r2 = Tool({"testpicture", "--card", "3", "--frame", "10", (dir / "d.bmp").string()});
  ASSERT_EQ(r1.code, 0) << r1.err;
  ASSERT_EQ(r2.code, 0) << r2.err;
  EXPECT_NE(rdtest::ReadFile(dir / "c.bmp"), rdtest::ReadFile(dir / "d.bmp"));
  RgbImage card;
  std::string error;
  ASSERT_TRUE(ReadImageFile((dir / "c.bmp").string(), &card, &error));
  EXPECT_EQ(card.width, 640);
  EXPECT_EQ(card.height, 224);
}

struct BadCall {
  std::vector<std::string> args;
  int code;
  const char* message;
};

TEST(Errors, BadArgumentsAndUnreadableFilesFailClearly) {
  rdtest::TempDir dir;
  const std::string missing = (dir / "missing.bin").string();
  const std::string eight = (dir / "eight.bmp").string();
  std::vector<unsigned char> bmp8(64, 0);
  bmp8[0] = 'B';
  bmp8[1] = 'M';
  bmp8[14] = 40;
  bmp8[18] = 4;
  bmp8[22] = 4;
  bmp8[26] = 1;
  bmp8[28] = 8;
  rdtest::WriteFile(eight, bmp8);
  rdtest::WriteFile(dir / "junk.bin", {1, 2, 3});
  const std::string junk = (dir / "junk.bin").string();
  const std::string out = (dir / "o.bmp").string();
  const std::vector<BadCall> cases = {
      {{}, 2, "no command"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"decode", junk}, 2, "decode needs --out DIR"},
      {{"decode", "--out", (dir / "d").string()}, 2, "at least one frame file"},
      {{"decode", "--out"}, 2, "--out needs a folder"},
      {{"decode", "--bogus", "--out", "x", junk}, 2, "unknown option '--bogus'"},
      {{"encode", "--q", "16", eight, out}, 2, "--q needs a number 0..15"},
      {{"encode", "--q", "x", eight, out}, 2, "--q needs a number 0..15"},
      {{"encode", "--channel", "5", eight, out}, 2, "--channel needs 1..4 or quad"},
      {{"encode", eight}, 2, "an input picture and an output file"},
      {{"encode", "--256", eight, out}, 2, "unknown option '--256'"},
      {{"show", junk}, 2, "at least one frame file and an output"},
      {{"testpicture", "--card", "0", out}, 2, "--card needs a channel 1..4"},
      {{"encode", missing, out}, 1, "missing.bin: cannot open"},
      {{"encode", eight, out}, 1, "8-bit BMP not supported"},
      {{"encode", junk, out}, 1, "not a BMP or binary PPM"},
      {{"decode", "--out", (dir / "d").string(), missing}, 1, "missing.bin: cannot open"},
      {{"decode", "--out", (dir / "d").string(), dir.path().string()}, 1, "is a folder"},
      {{"decode", "--out", junk, junk}, 1, "cannot create the output folder"},
      {{"show", junk, out}, 1, "not a frame (decoder status 99)"},
      {{"show", missing, out}, 1, "missing.bin: cannot open"},
      {{"testpicture", (dir / "no" / "such" / "x.bmp").string()}, 1, "cannot create"},
  };
  for (const BadCall& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    ToolRun r = Tool(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST(Errors, HelpPrintsUsage) {
  for (auto args : {std::vector<std::string>{"--help"}, {"-h"}, {"decode", "--help"}}) {
    ToolRun r = Tool(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: mjpegtool"), std::string::npos);
    EXPECT_NE(r.out.find("decode [--pal] [--256] [--half] --out DIR FRAME_FILE..."),
              std::string::npos);
  }
}

}  // namespace
}  // namespace rd
