// The image handler on pixels: where a frame of known colour lands in each
// layout, the labels and "NO DATA" tiles, the texts of the refresh (on the
// window surface only, not in the bitmap), the AVI feed, 256-colour output and
// the round control of the software quad.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "client/media/rcimghdlr.h"
#include "shared/still/BmpFile.h"
#include "support/QtTestEnvironment.h"
#include "support/TestSupport.h"
#include "tools/common/MjpegEncoder.h"

namespace rd {
namespace {

using mjpeg::VideoStandard;

[[maybe_unused]] auto* const kQtEnv =
    ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("clientmedia_tests"));

// A full frame of one flat colour: Q = 0 (every block flat), each block its
// 8-bit DC value and the end-of-block code.
std::vector<uint8_t> FlatFrame(int channel, uint8_t y, uint8_t cb, uint8_t cr,
                               VideoStandard standard = VideoStandard::kNtsc) {
  std::vector<uint8_t> out{0x00, 0x00, 0x01, 0xF8, static_cast<uint8_t>(0x80 | (channel & 7))};
  uint32_t acc = 0;
  int nbits = 0;
  auto put = [&](uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc = (acc << 1) | ((value >> i) & 1);
      if (++nbits == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        nbits = 0;
      }
    }
  };
  auto align = [&] {
    while (nbits != 0) put(0, 1);
  };
  const int rows = standard == VideoStandard::kPal ? 17 : 14;
  for (int r = 0; r < rows; ++r) {
    align();
    put(0x000001, 24);
    put(static_cast<uint32_t>(r), 5);
    for (int c = 0; c < 40; ++c) {
      for (int b = 0; b < 4; ++b) put(y, 8), put(0b10, 2);
      put(cb, 8), put(0b10, 2);
      put(cr, 8), put(0b10, 2);
    }
  }
  align();
  return out;
}

// The true-colour conversion of the decoder for one flat colour.
QRgb Expected(uint8_t y, uint8_t cb, uint8_t cr) {
  auto clamp = [](float v) { return static_cast<int>(v < 0 ? 0 : v > 255 ? 255 : v); };
  float u = cb - 128.0f, v = cr - 128.0f;
  return qRgb(clamp(y + 1.371f * v), clamp(y - 0.336f * u - 0.698f * v), clamp(y + 1.732f * u));
}

struct Colour {
  uint8_t y, cb, cr;
  QRgb rgb() const { return Expected(y, cb, cr); }
};
constexpr Colour kRed{76, 85, 255};
constexpr Colour kGreen{150, 44, 21};
constexpr Colour kBlue{29, 255, 107};
constexpr Colour kGrey{90, 128, 128};

// A picture of one flat colour, for the encoder.
YuvPicture FlatPicture(const Colour& c) {
  YuvPicture p(VideoStandard::kNtsc);
  std::fill(p.y.begin(), p.y.end(), c.y);
  std::fill(p.cb.begin(), p.cb.end(), c.cb);
  std::fill(p.cr.begin(), p.cr.end(), c.cr);
  return p;
}

class FakeStats : public DisplayQueueStats {
 public:
  void AddQueued() override { queued++; }
  uint32_t QueuedLastSecond() const override { return last_second.load(); }
  std::atomic<uint32_t> queued{0};
  std::atomic<uint32_t> last_second{1};
};

class FakeTarget : public DisplayTarget {
 public:
  void Present(const QImage& picture) override {
    std::lock_guard lock(mu);
    image = picture.copy();
    presents++;
  }
  QImage Image() {
    std::lock_guard lock(mu);
    return image;
  }
  std::mutex mu;
  QImage image;
  int presents = 0;
};

ChannelDisplayState State(bool quad, std::initializer_list<int> channels) {
  ChannelDisplayState s;
  s.quad = quad ? 1 : 0;
  for (int c : channels) s.channel[c - 1] = 1;
  return s;
}

// Pixels of a rectangle that are pure white (the face of the outlined texts).
int WhitePixels(const QImage& img, int x0, int y0, int w, int h) {
  int n = 0;
  for (int y = y0; y < y0 + h && y < img.height(); ++y)
    for (int x = x0; x < x0 + w && x < img.width(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) ++n;
  return n;
}

QImage Region(const QImage& img, int x, int y, int w, int h) {
  return img.copy(x, y, w, h);
}

class ImageHandlerTest : public ::testing::Test {
 protected:
  void Start(VideoStandard standard = VideoStandard::kNtsc) {
    ASSERT_EQ(handler.Init(standard, &target, &stats), 0);
  }
  // Queues a frame and waits until the display thread has handled it.
  void Show(const std::vector<uint8_t>& frame, const ChannelDisplayState& st,
            RecTime time = RecTime{}) {
    const uint64_t before = handler.FramesHandled();
    ASSERT_EQ(handler.QueueFrame(frame.data(), frame.size(), st, time), 1);
    ASSERT_TRUE(rdtest::WaitFor([&] { return handler.FramesHandled() > before; }));
  }
  FakeStats stats;
  FakeTarget target;
  RcImageHandler handler;
};

TEST_F(ImageHandlerTest, InitChecksItsArgumentsAndRunsOnce) {
  EXPECT_FALSE(handler.IsRunning());
  EXPECT_EQ(handler.Init(VideoStandard::kNtsc, nullptr, &stats), RcImageHandler::kNullArgument);
  EXPECT_EQ(handler.Init(VideoStandard::kNtsc, &target, nullptr), RcImageHandler::kNullArgument);
  auto frame = FlatFrame(0, 90, 128, 128);
  EXPECT_EQ(handler.QueueFrame(frame.data(), frame.size(), State(false, {1}), {}), 0)
      << "not running";
  ASSERT_EQ(handler.Init(VideoStandard::kPal, &target, &stats), 0);
  EXPECT_TRUE(handler.IsRunning());
  EXPECT_EQ(handler.Init(VideoStandard::kNtsc, &target, &stats), RcImageHandler::kAlreadyRunning);
  EXPECT_EQ(handler.DisplayHeight(), 532) << "the standard of the first Init stays";
  EXPECT_EQ(handler.TileHeight(), 266);
  handler.Refresh(0, 0);
  EXPECT_EQ(target.Image().size(), QSize(640, 532));
}

TEST_F(ImageHandlerTest, SingleChannelFillsTheDisplayWithItsLabel) {
  Start();
  Show(FlatFrame(1, kRed.y, kRed.cb, kRed.cr), State(false, {2}));
  QImage c = handler.CompositeSnapshot();
  ASSERT_EQ(c.size(), QSize(640, 436));
  for (QPoint p : {QPoint(320, 218), QPoint(639, 435), QPoint(0, 435), QPoint(639, 0),
                   QPoint(100, 300), QPoint(500, 30)})
    EXPECT_EQ(c.pixel(p), c.pixel(320, 218)) << p.x() << "," << p.y();
  QRgb got = c.pixel(320, 218), want = kRed.rgb();
  EXPECT_NEAR(qRed(got), qRed(want), 2);
  EXPECT_NEAR(qGreen(got), qGreen(want), 2);
  EXPECT_NEAR(qBlue(got), qBlue(want), 2);
  EXPECT_GT(WhitePixels(c, 0, 0, 50, 22), 20) << "the CH 2 label";
  EXPECT_EQ(WhitePixels(c, 320, 218, 50, 22), 0);

  // No channel enabled: still the whole display, labelled by the frame.
  Show(FlatFrame(3, kGreen.y, kGreen.cb, kGreen.cr), State(false, {}));
  QImage d = handler.CompositeSnapshot();
  EXPECT_EQ(d.pixel(320, 218), d.pixel(630, 430));
  EXPECT_NEAR(qGreen(d.pixel(320, 218)), qGreen(kGreen.rgb()), 2);
  EXPECT_NE(Region(c, 0, 0, 50, 22), Region(d, 0, 0, 50, 22)) << "CH 2 became CH 4";
}

TEST_F(ImageHandlerTest, DvrQuadPictureCarriesTheFourLabels) {
  Start(VideoStandard::kPal);
  Show(FlatFrame(4, kGrey.y, kGrey.cb, kGrey.cr, VideoStandard::kPal), State(true, {1, 2, 3, 4}));
  QImage c = handler.CompositeSnapshot();
  ASSERT_EQ(c.size(), QSize(640, 532));
  EXPECT_EQ(c.pixel(200, 200), qRgb(90, 90, 90));
  EXPECT_EQ(c.pixel(630, 520), qRgb(90, 90, 90));
  std::vector<QImage> labels;
  for (QPoint o : {QPoint(0, 0), QPoint(320, 0), QPoint(0, 266), QPoint(320, 266)}) {
    EXPECT_GT(WhitePixels(c, o.x(), o.y(), 50, 22), 20) << o.x() << "," << o.y();
    labels.push_back(Region(c, o.x(), o.y(), 50, 22));
  }
  for (std::size_t i = 0; i < labels.size(); ++i)
    for (std::size_t j = i + 1; j < labels.size(); ++j)
      EXPECT_NE(labels[i], labels[j]) << "labels " << i + 1 << " and " << j + 1;
}

TEST_F(ImageHandlerTest, SoftwareQuadPutsHalfSizeTilesAndNoDataTiles) {
  Start();
  const auto st = State(false, {1, 2});
  Show(FlatFrame(0, kRed.y, kRed.cb, kRed.cr), st);
  Show(FlatFrame(1, kBlue.y, kBlue.cb, kBlue.cr), st);
  QImage c = handler.CompositeSnapshot();
  auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
           std::abs(qBlue(a) - qBlue(b)) <= 2;
  };
  // Tile 1 (0,0)-(319,217) red, tile 2 (320,0)-(639,217) blue.
  EXPECT_TRUE(near(c.pixel(160, 109), kRed.rgb()));
  EXPECT_TRUE(near(c.pixel(319, 217), kRed.rgb()));
  EXPECT_TRUE(near(c.pixel(320, 100), kBlue.rgb()));
  EXPECT_TRUE(near(c.pixel(639, 217), kBlue.rgb()));
  // Tiles 3 and 4: black with "NO DATA" at (125, 108) of the tile.
  for (QPoint o : {QPoint(0, 218), QPoint(320, 218)}) {
    EXPECT_EQ(c.pixel(o.x() + 10, o.y() + 60), qRgb(0, 0, 0));
    EXPECT_EQ(c.pixel(o.x() + 300, o.y() + 200), qRgb(0, 0, 0));
    EXPECT_GT(WhitePixels(c, o.x() + 125, o.y() + 108, 70, 22), 30);
    EXPECT_EQ(WhitePixels(c, o.x(), o.y(), 50, 22), 0) << "no label on an empty tile";
  }
  EXPECT_GT(WhitePixels(c, 0, 0, 50, 22), 20);
  EXPECT_GT(WhitePixels(c, 320, 0, 50, 22), 20);
  EXPECT_NE(Region(c, 0, 0, 50, 22), Region(c, 320, 0, 50, 22));
}

TEST_F(ImageHandlerTest, PartialFramesOfEachCameraBuildOnThatCamerasOwnPicture) {
  // Two cameras in one stream, each coded against its own last picture: a
  // partial frame of camera 1 changes one macroblock of camera 1's picture
  // and must not bring in camera 2's.
  Start();
  const auto st = State(false, {1, 2});
  MjpegEncoder cam1, cam2;
  auto bytes = [](std::span<const uint8_t> s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  Show(bytes(cam1.EncodeFull(FlatPicture(kRed), 0, 0)), st);
  Show(bytes(cam2.EncodeFull(FlatPicture(kBlue), 0, 1)), st);
  YuvPicture changed = FlatPicture(kRed);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) changed.y[static_cast<std::size_t>(y) * changed.width + x] = 200;
  Show(bytes(cam1.EncodePartial(changed, 0, 0)), st);
  ASSERT_EQ(cam1.coded_macroblocks(), 1);

  const QImage c = handler.CompositeSnapshot();
  auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
           std::abs(qBlue(a) - qBlue(b)) <= 3;
  };
  EXPECT_TRUE(near(c.pixel(160, 109), kRed.rgb())) << "camera 1 shows another camera's picture";
  EXPECT_TRUE(near(c.pixel(300, 200), kRed.rgb()));
  EXPECT_TRUE(near(c.pixel(480, 109), kBlue.rgb()));
}

TEST_F(ImageHandlerTest, RejectedFrameLeavesTheCompositeAlone) {
  Start();
  Show(FlatFrame(0, kGrey.y, kGrey.cb, kGrey.cr), State(false, {1}));
  QImage before = handler.CompositeSnapshot();
  std::vector<uint8_t> garbage{0x00, 0x00, 0x01, 0xB3, 0x12, 0x34};
  Show(garbage, State(false, {1}), RecTime{9, 9, 9, 9, 9, 9});
  EXPECT_EQ(handler.LastDecodeStatus(), mjpeg::kStatusNotFrameStart);
  EXPECT_EQ(handler.CompositeSnapshot(), before);
  EXPECT_EQ(handler.LastFrameTime(), RecTime{});
}

TEST_F(ImageHandlerTest, PaletteModeDrawsThroughThePalette) {
  Start();
  handler.SetTrueColour(false);
  Show(FlatFrame(0, kRed.y, kRed.cb, kRed.cr), State(false, {1}));
  EXPECT_EQ(handler.LastDecodeStatus(), mjpeg::kStatusPalette);
  std::set<QRgb> palette;
  for (int i = 16; i < 240; ++i) {
    uint8_t r, g, b;
    mjpeg::MjpegDecoder::PaletteColour(i, &r, &g, &b);
    palette.insert(qRgb(r, g, b));
  }
  QImage c = handler.CompositeSnapshot();
  long red = 0, green = 0;
  for (int y = 100; y < 200; ++y)
    for (int x = 100; x < 200; ++x) {
      ASSERT_TRUE(palette.count(c.pixel(x, y))) << x << "," << y;
      red += qRed(c.pixel(x, y));
      green += qGreen(c.pixel(x, y));
    }
  EXPECT_GT(red / 10000, 120) << "the dither approximates red";
  EXPECT_LT(green / 10000, 80);
}

TEST_F(ImageHandlerTest, RefreshStampsTimeAndModeOnTheWindowOnly) {
  Start();
  const RecTime t{26, 12, 9, 13, 5, 7};
  Show(FlatFrame(0, kGrey.y, kGrey.cb, kGrey.cr), State(false, {1}), t);
  handler.Refresh(16, 0);  // "LOCAL PLAY"
  QImage w = target.Image();
  if (const char* keep = std::getenv("RD_KEEP_PICTURES")) w.save(QString(keep) + "/refresh.png");
  ASSERT_EQ(w.size(), QSize(640, 436));
  EXPECT_GT(WhitePixels(w, 1, 416, 120, 20), 40) << "play-mode text at (1, 416)";
  EXPECT_GT(WhitePixels(w, 435, 416, 200, 20), 60) << "time text at (435, 416)";
  EXPECT_EQ(WhitePixels(handler.CompositeSnapshot(), 0, 400, 640, 36), 0)
      << "texts go on the overlay, not the composite";
  handler.Refresh(0, 0);
  EXPECT_EQ(WhitePixels(target.Image(), 1, 416, 120, 20), 0) << "code 0 shows no text";

  rdtest::TempDir dir;
  ASSERT_EQ(handler.SaveBitmap((dir / "still.bmp").string()), 0);
  auto bmp = rdtest::ReadFile(dir / "still.bmp");
  ASSERT_EQ(bmp.size(), 837174u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  BitmapInfoHeader info = BitmapInfoHeader::Parse(bmp.data() + 14);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(info.height, 436);
  EXPECT_EQ(info.bit_count, 24);
  QImage saved(640, 436, QImage::Format_RGB32);
  for (int y = 0; y < 436; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint8_t* p = &bmp[54 + (static_cast<std::size_t>(435 - y) * 640 + x) * 3];
      saved.setPixel(x, y, qRgb(p[2], p[1], p[0]));
    }
  EXPECT_EQ(WhitePixels(saved, 1, 416, 120, 20), 0) << "no play-mode text in the bitmap";
  EXPECT_EQ(Region(saved, 435, 410, 205, 26), Region(w, 435, 410, 205, 26))
      << "the same time text as the window";
  EXPECT_EQ(Region(saved, 0, 0, 640, 400), Region(w, 0, 0, 640, 400)) << "labels and picture";
}

TEST_F(ImageHandlerTest, RefreshFeedsARunningAviExport) {
  class FakeAvi : public AviFrameSink {
   public:
    int VideoWidth() const override { return 640; }
    int VideoHeight() const override { return 436; }
    int VideoBitsPerPixel() const override { return 24; }
    int AddVideoFrame(const uint8_t* pixels, bool key) override {
      frames++;
      keys += key ? 1 : 0;
      last.assign(pixels, pixels + 640 * 436 * 3);
      return 0;
    }
    int frames = 0, keys = 0;
    std::vector<uint8_t> last;
  } avi;
  Start();
  Show(FlatFrame(0, kGreen.y, kGreen.cb, kGreen.cr), State(false, {1}));
  handler.Refresh(2, 0);
  EXPECT_EQ(avi.frames, 0);
  handler.SetAviExport(&avi);
  EXPECT_TRUE(handler.IsAviExporting());
  handler.Refresh(2, 0);
  handler.Refresh(2, 0);
  handler.SetAviExport(nullptr);
  handler.Refresh(2, 0);
  EXPECT_EQ(avi.frames, 2);
  EXPECT_EQ(avi.keys, 2);
  // Bottom-up: the first row is the bottom of the picture.
  QRgb mid = handler.CompositeSnapshot().pixel(320, 200);
  const uint8_t* row200 = &avi.last[(static_cast<std::size_t>(435 - 200) * 640 + 320) * 3];
  EXPECT_EQ(qRgb(row200[2], row200[1], row200[0]), mid);
  int white_time = 0, white_mode = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint8_t* p = &avi.last[(static_cast<std::size_t>(y) * 640 + x) * 3];
      if (p[0] == 255 && p[1] == 255 && p[2] == 255) (x >= 435 ? white_time : white_mode)++;
    }
  EXPECT_GT(white_time, 60);
  EXPECT_EQ(white_mode, 0) << "\"PAUSE\" is not exported";
}

TEST_F(ImageHandlerTest, RoundControlGivesEachEnabledChannelOneFramePerRound) {
  Start();
  const auto soft12 = State(false, {1, 2});
  auto ch1 = FlatFrame(0, 90, 128, 128), ch2 = FlatFrame(1, 90, 128, 128);
  auto q = [&](const std::vector<uint8_t>& f, const ChannelDisplayState& st) {
    return handler.QueueFrame(f.data(), f.size(), st, {});
  };
  auto drain = [&] {
    ASSERT_TRUE(rdtest::WaitFor([&] { return handler.FramesHandled() == stats.queued.load(); }));
  };
  stats.last_second = 5;  // frames were queued in the previous second
  EXPECT_EQ(q(ch1, soft12), 1);
  EXPECT_EQ(q(ch1, soft12), 0) << "CH1 already had its frame this round";
  EXPECT_EQ(q(ch2, soft12), 1) << "the round is complete and starts again";
  drain();
  EXPECT_EQ(q(ch1, soft12), 1);
  EXPECT_EQ(q(ch1, soft12), 0);
  EXPECT_EQ(stats.queued.load(), 3u) << "refused frames are not counted";
  // A changed display state starts a new round.
  EXPECT_EQ(q(ch1, State(false, {1, 3})), 1);
  drain();
  // A single channel is never refused.
  const auto single = State(false, {1});
  EXPECT_EQ(q(ch1, single), 1);
  drain();
  EXPECT_EQ(q(ch1, single), 1);
  drain();
  // No queued frame in the previous second: every frame restarts the round.
  stats.last_second = 0;
  EXPECT_EQ(q(ch1, soft12), 1);
  drain();
  EXPECT_EQ(q(ch1, soft12), 1);
}

TEST_F(ImageHandlerTest, FifthFrameWhileFourWaitIsDropped) {
  // The probe runs on the display thread before it frees the slot of the frame
  // just shown: holding it there keeps that slot busy.
  std::atomic<bool> release{false};
  std::atomic<int> probed{0};
  handler.SetLatencyProbe([&](std::chrono::nanoseconds) {
    if (probed++ == 0) rdtest::WaitFor([&] { return release.load(); }, std::chrono::seconds(10));
  });
  Start();
  const auto quad = State(true, {1, 2, 3, 4});
  auto frame = FlatFrame(4, 90, 128, 128);
  auto q = [&] { return handler.QueueFrame(frame.data(), frame.size(), quad, {}); };
  ASSERT_EQ(q(), 1);
  ASSERT_TRUE(rdtest::WaitFor([&] { return probed.load() == 1; }));
  EXPECT_EQ(q(), 1);
  EXPECT_EQ(q(), 1);
  EXPECT_EQ(q(), 1);
  EXPECT_EQ(q(), 0) << "four frames wait: the fifth is dropped";
  release = true;
  ASSERT_TRUE(rdtest::WaitFor([&] { return handler.FramesHandled() == 4; }));
  EXPECT_EQ(q(), 1) << "accepted again once the queue drains";
  EXPECT_EQ(stats.queued.load(), 5u);
}

TEST_F(ImageHandlerTest, DisplayThreadSleepsUntilAFrameIsQueued) {
  Start();
  const auto quad = State(true, {1, 2, 3, 4});
  auto frame = FlatFrame(4, 90, 128, 128);
  for (int i = 0; i < 3; ++i) Show(frame, quad);
  // Queueing wakes the thread; with nothing queued it does not wake up to look.
  EXPECT_FALSE(
      rdtest::WaitFor([&] { return handler.IdleWakeups() > 0; }, std::chrono::milliseconds(300)))
      << handler.IdleWakeups() << " idle wake-ups";
  Show(frame, quad);
  EXPECT_EQ(handler.FramesHandled(), 4u);
}

TEST(ImageHandlerTexts, TimeText) {
  struct Case {
    RecTime t;
    const char* text;
  } cases[] = {
      {{0, 0, 0, 0, 0, 0}, "2000/00/00 12:00:00 AM"},
      {{5, 1, 2, 0, 4, 5}, "2005/01/02 12:04:05 AM"},
      {{5, 1, 2, 12, 0, 0}, "2005/01/02 12:00:00 PM"},
      {{26, 12, 31, 13, 59, 58}, "2026/12/31 01:59:58 PM"},
      {{26, 12, 31, 11, 0, 0}, "2026/12/31 11:00:00 AM"},
      {{26, 12, 31, 23, 0, 0}, "2026/12/31 11:00:00 PM"},
  };
  for (const Case& c : cases) EXPECT_EQ(RcImageHandler::TimeText(c.t), c.text);
}

TEST(ImageHandlerTexts, OsdTextTable) {
  struct Case {
    uint8_t code, speed;
    const char* text;
  } cases[] = {
      {0, 1, ""},
      {4, 0, ""},
      {7, 0, ""},
      {1, 6, "<<"},
      {1, 0, "PLAY"},
      {1, 3, "PLAY"},
      {2, 9, "PAUSE"},
      {3, 1, ">> 1"},
      {3, 2, ">> 2"},
      {3, 3, ">> 4"},
      {3, 4, ">>32"},
      {3, 5, ">>64"},
      {3, 6, ""},
      {3, 0, ""},
      {16, 0, "LOCAL PLAY"},
      {17, 0, "LOCAL PLAY PAUSE"},
      {18, 0, "LOCAL PLAY >> 1"},
      {19, 0, "LOCAL PLAY >> 2"},
      {20, 0, "LOCAL PLAY >> 4"},
      {21, 0, "LOCAL PLAY >>32"},
      {22, 0, "LOCAL PLAY >>64"},
      {23, 0, "LOCAL PLAY << 1"},
      {24, 0, "LOCAL PLAY << 2"},
      {25, 0, "LOCAL PLAY << 4"},
      {26, 0, "LOCAL PLAY <<32"},
      {27, 0, "LOCAL PLAY <<64"},
      {28, 0, ""},
      {15, 0, ""},
      {255, 0, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RcImageHandler::OsdText(c.code, c.speed), c.text)
        << int(c.code) << "/" << int(c.speed);
}

}  // namespace
}  // namespace rd

namespace rd {
namespace {

// A partial frame codes only what changed since its channel's previous
// frame: one that follows a missed frame of its channel waits for the next
// full frame instead of painting over a picture it was not made for.
TEST_F(ImageHandlerTest, PartialFrameAfterAMissedFrameWaitsForAFullOne) {
  Start();
  auto bytes = [](std::span<const uint8_t> s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  MjpegEncoder cam1, cam2;
  cam1.EncodeFull(FlatPicture(kGrey), 0, 0);  // a full frame the handler never got
  const QImage black = handler.CompositeSnapshot();
  Show(bytes(cam1.EncodePartial(FlatPicture(kRed), 0, 0)), State(false, {1}));
  EXPECT_EQ(handler.FramesShown(), 0u) << "nothing before the channel's first full frame";
  EXPECT_EQ(handler.CompositeSnapshot(), black);
  Show(bytes(cam1.EncodeFull(FlatPicture(kGrey), 0, 0)), State(false, {1}));
  Show(bytes(cam1.EncodePartial(FlatPicture(kRed), 0, 0)), State(false, {1}));
  EXPECT_EQ(handler.FramesShown(), 2u);
  EXPECT_NEAR(qRed(handler.CompositeSnapshot().pixel(320, 218)), qRed(kRed.rgb()), 3);
  EXPECT_EQ(handler.ChannelsShown(), 0x01);

  // Round control refuses a second CH1 frame in a software quad: CH1 has
  // missed a frame, so its next partial frame is not shown.
  const auto quad = State(false, {1, 2});
  Show(bytes(cam1.EncodeFull(FlatPicture(kGreen), 0, 0)), quad);
  const auto refused = bytes(cam1.EncodePartial(FlatPicture(kBlue), 0, 0));
  ASSERT_EQ(handler.QueueFrame(refused.data(), refused.size(), quad, {}), 0);
  Show(bytes(cam2.EncodeFull(FlatPicture(kBlue), 0, 1)), quad);  // ends the round
  const uint64_t shown = handler.FramesShown();
  Show(bytes(cam1.EncodePartial(FlatPicture(kRed), 0, 0)), quad);
  EXPECT_EQ(handler.FramesShown(), shown);
  EXPECT_EQ(handler.ChannelsShown(), 0x03);
}

}  // namespace
}  // namespace rd
