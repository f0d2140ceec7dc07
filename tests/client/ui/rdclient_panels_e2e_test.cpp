// rdclient's panels end to end: the real program on a virtual X display
// (Xvfb), connected at start to the emulated DVR in this process, driven with
// xdotool clicks on its buttons and checked on screenshots (ImageMagick's
// import) and on the emulator's log: DVR REC makes the emulator record and
// the REC banner blink; unchecking CH2 sends one stream filter and CH2's tile
// shows "NO DATA"; a local recording of eight seconds is a finished .mys file
// that plays with "LOCAL PLAY" on the picture, pauses under the blue banner
// and fast-forwards with "LOCAL PLAY >> 1". Screenshots are kept in the build
// folder.

#include <gtest/gtest.h>
#include <signal.h>

#include <QColor>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "E2eSupport.h"
#include "client/media/rcimghdlr.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
using namespace e2e;

constexpr int kPictureWidth = 640, kPictureHeight = 436;  // NTSC
// The play-mode text's line, bottom left of the picture (the middle rows of
// its glyphs: the tiles' own time texts end just above).
constexpr int kOsdTop = kPictureHeight - 16, kOsdBottom = kPictureHeight - 5;
constexpr int kOsdRight = 200;

bool PureWhite(QRgb c) {
  return (c & 0xFFFFFF) == 0xFFFFFF;
}
bool PureBlack(QRgb c) {
  return (c & 0xFFFFFF) == 0;
}

// The pixels of outlined text on the play-mode line: white next to black (a
// decoded camera picture has neither exactly).
std::vector<QPoint> OsdPixels(const QImage& img, QPoint picture) {
  std::vector<QPoint> out;
  for (int y = kOsdTop; y <= kOsdBottom; ++y)
    for (int x = 1; x < kOsdRight; ++x) {
      const QPoint p = picture + QPoint(x, y);
      if (!PureWhite(img.pixel(p))) continue;
      bool outlined = false;
      for (int dy = -1; dy <= 1 && !outlined; ++dy)
        for (int dx = -1; dx <= 1 && !outlined; ++dx)
          outlined = PureBlack(img.pixel(p + QPoint(dx, dy)));
      if (outlined) out.push_back(QPoint(x, y));
    }
  return out;
}

// The play-mode texts as the image handler draws them (same fonts as the
// program's), over a black picture.
class OsdReference : public DisplayTarget, public DisplayQueueStats {
 public:
  OsdReference() { ok_ = handler_.Init(mjpeg::VideoStandard::kNtsc, this, this) == 0; }
  // The text pixels of the play-mode code (16 LOCAL PLAY, 17 PAUSE, 18 >> 1).
  std::vector<QPoint> Pixels(uint8_t code) {
    if (!ok_) return {};
    handler_.Refresh(code, 0);
    return OsdPixels(last_, QPoint(0, 0));
  }
  void Present(const QImage& picture) override { last_ = picture.copy(); }
  void AddQueued() override {}
  uint32_t QueuedLastSecond() const override { return 0; }

 private:
  RcImageHandler handler_;
  QImage last_;
  bool ok_ = false;
};

// Whether the screenshot's play-mode line holds exactly the reference text:
// nearly all of its pixels, and hardly any beyond them.
bool ShowsText(const QImage& shot, QPoint picture, const std::vector<QPoint>& reference) {
  if (reference.empty()) return false;
  const std::vector<QPoint> seen = OsdPixels(shot, picture);
  std::size_t common = 0;
  for (const QPoint& p : seen)
    common += std::find(reference.begin(), reference.end(), p) != reference.end() ? 1 : 0;
  return common * 10 >= reference.size() * 9 && (seen.size() - common) * 10 <= reference.size();
}

// Output of a command, "" when it cannot run.
std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

class PanelsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto xvfb = FindProgram("Xvfb");
    const auto import = FindProgram("import");
    const auto xdotool = FindProgram("xdotool");
    if (!xvfb || !import || !xdotool)
      GTEST_SKIP() << "Xvfb, ImageMagick's import and xdotool are needed (setup.sh)";
    x_ = std::make_unique<VirtualDisplay>(*xvfb);
    ASSERT_FALSE(x_->display().empty()) << "Xvfb did not start";
    screen_ = std::make_unique<DisplayDriver>(x_->display(), *import, *xdotool);
    xdotool_ = *xdotool;
    dvr_ = std::make_unique<rdtest::LiveDvr>();
    ASSERT_TRUE(dvr_->started()) << dvr_->error();
    log_ = dir_ / "ui.log";
    const std::string program = std::string(RD_BINARY_DIR) + "/bin/rdclient";
    client_ = std::make_unique<Child>(
        std::vector<std::string>{program, "--connect", "127.0.0.1", "--password", "123456",
                                 "--control-port", std::to_string(dvr_->control_port()),
                                 "--stream-port", std::to_string(dvr_->stream_port())},
        std::vector<std::string>{
            "DISPLAY=" + x_->display(), "QT_QPA_PLATFORM=xcb", "RD_UI_LOG=" + log_.string(),
            "RD_AUDIO_DEVICE=null",
            "LSAN_OPTIONS=suppressions=" + std::string(RD_SOURCE_DIR) + "/tests/support/lsan.supp"},
        dir_.path().string());
    ASSERT_GT(client_->pid(), 0);
    std::optional<WindowLine> w;
    ASSERT_TRUE(rdtest::WaitFor([&] { return (w = WindowOpened(log_)).has_value(); }, 20s))
        << "no window line in the UI log";
    origin_ = QPoint(w->x, w->y);
    du_ = ui::DialogUnits(w->bx, w->by);
    // Connected, and the DVR's first status and audio handled: the channel
    // buttons sit beside the Volume group, the picture shows four cameras.
    ASSERT_TRUE(rdtest::WaitFor(
        [&] {
          const QImage img = Shot("start");
          return !img.isNull() && NotBlack(img.pixelColor(PictureAt(QPoint(160, 109)))) &&
                 NotBlack(img.pixelColor(PictureAt(QPoint(480, 327))));
        },
        30s));
    ASSERT_TRUE(dvr_->Received(42) >= 1);
  }
  void TearDown() override {
    if (client_ && client_->pid() > 0) {
      ::kill(client_->pid(), SIGTERM);
      EXPECT_EQ(client_->Wait(20s), 0) << "a clean end";
    }
  }

  // The screen point at the centre of a control (dialog units).
  QPoint At(int x, int y, int w, int h) const { return du_.Rect(x, y, w, h).center() + origin_; }
  bool Click(int x, int y, int w, int h) const { return screen_->Click(At(x, y, w, h)); }
  // The picture's pixel (x, y) on the screen: the picture is shown 1:1 in
  // the middle of the video area at the window's first size.
  QPoint PictureAt(QPoint p) const {
    const QRect video = du_.Rect(7, 7, 431, 272).translated(origin_);
    return video.topLeft() +
           QPoint((video.width() - kPictureWidth) / 2, (video.height() - kPictureHeight) / 2) + p;
  }
  QImage Shot(const std::string& name) const {
    return screen_->Shot(
        (std::filesystem::path(RD_BINARY_DIR) / ("rdclient_panels_" + name + ".png")).string());
  }
  // Screenshots until `ok` holds for one; the last one taken.
  bool ShotUntil(const std::string& name, const std::function<bool(const QImage&)>& ok,
                 std::chrono::milliseconds timeout, QImage* last = nullptr) const {
    QImage img;
    const bool found = rdtest::WaitFor(
        [&] {
          img = Shot(name);
          return !img.isNull() && ok(img);
        },
        timeout);
    if (last != nullptr) *last = img;
    return found;
  }
  bool Shows(const QImage& shot, uint8_t code) {
    return ShowsText(shot, PictureAt(QPoint(0, 0)), osd_.Pixels(code));
  }
  QImage Banner(const QImage& shot, int y) const {
    return shot.copy(QRect(du_.Point(445, y) + origin_, QSize(195, 20)));
  }

  std::unique_ptr<VirtualDisplay> x_;
  std::unique_ptr<DisplayDriver> screen_;
  std::string xdotool_;
  std::unique_ptr<rdtest::LiveDvr> dvr_;
  rdtest::TempDir dir_;
  std::filesystem::path log_;
  std::unique_ptr<Child> client_;
  QPoint origin_;
  ui::DialogUnits du_{6, 13};
  OsdReference osd_;
};

bool RedOrange(const QColor& c) {
  return c.red() > 200 && c.green() > 30 && c.green() < 110 && c.blue() < 60;
}
bool Blue(const QColor& c) {
  return c.blue() > 150 && c.red() < 100;
}

TEST_F(PanelsEndToEnd, DvrRecordMakesTheEmulatorRecordAndTheBannerBlink) {
  ASSERT_TRUE(Click(452, 201, 40, 10));  // DVR REC
  ASSERT_TRUE(rdtest::WaitFor([&] { return dvr_->Received(32) == 1; }, 10s))
      << "StartRecording (32) in the emulator's log";
  ASSERT_TRUE(rdtest::WaitFor([&] { return dvr_->sim().frames_recorded() > 0; }, 10s));
  // The REC banner, then the other image of it about a second later.
  QImage first;
  ASSERT_TRUE(ShotUntil(
      "rec_a", [&](const QImage& img) { return RedOrange(Banner(img, 80).pixelColor(4, 10)); }, 10s,
      &first));
  const auto t0 = std::chrono::steady_clock::now();
  QImage second;
  ASSERT_TRUE(ShotUntil(
      "rec_b",
      [&](const QImage& img) {
        return RedOrange(Banner(img, 80).pixelColor(4, 10)) && Banner(img, 80) != Banner(first, 80);
      },
      3s, &second))
      << "the banner does not blink";
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2500ms);
  // The recording lamp blinks with it: lit in one image, dark in the other.
  const QRect lamp(du_.Point(471, 195) + origin_, QSize(8, 8));
  EXPECT_NE(first.copy(lamp), second.copy(lamp));
}

TEST_F(PanelsEndToEnd, UncheckingCh2SendsOneFilterAndItsTileShowsNoData) {
  ASSERT_TRUE(Click(450, 234, 125, 10));  // "Enable Auto Adjustment" off: only the click counts
  // Nothing else under way: no stream filter request for a second.
  std::size_t before = 0;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        before = dvr_->ReceivedPayloads(41).size();
        return !rdtest::WaitFor([&] { return dvr_->ReceivedPayloads(41).size() != before; }, 1s);
      },
      15s));
  ASSERT_TRUE(Click(489, 136, 46, 11));  // CH2 (the narrow button: the DVR has audio)
  ASSERT_TRUE(rdtest::WaitFor([&] { return dvr_->ReceivedPayloads(41).size() > before; }, 10s));
  QImage shot;
  EXPECT_TRUE(ShotUntil(
      "ch2",
      [&](const QImage& img) {
        // CH2's tile, top right: black with the white "NO DATA" in the middle.
        int black = 0, text = 0;
        for (int y = 0; y < kPictureHeight / 2; y += 2)
          for (int x = kPictureWidth / 2; x < kPictureWidth; x += 2) {
            const QRgb c = img.pixel(PictureAt(QPoint(x, y)));
            black += PureBlack(c) ? 1 : 0;
            text += PureWhite(c) ? 1 : 0;
          }
        return text > 0 && black > (kPictureWidth / 4) * (kPictureHeight / 4) * 9 / 10;
      },
      10s, &shot))
      << "CH2's tile";
  EXPECT_TRUE(NotBlack(shot.pixelColor(PictureAt(QPoint(160, 109))))) << "CH1 still there";
  rdtest::WaitFor([] { return false; }, 1s);  // anything else that would follow
  const auto filters = dvr_->ReceivedPayloads(41);
  ASSERT_EQ(filters.size(), before + 1) << "exactly one SetStreamFilter";
  const int filter = std::stoi(filters.back().substr(2, 2), nullptr, 16);
  EXPECT_EQ(filter & 0x8F, 0x82) << "per-channel selection (bit 7) with CH2 excluded (bit 1)";
}

TEST_F(PanelsEndToEnd, LocalRecordingOfEightSecondsPlaysPausesAndFastForwards) {
  ASSERT_TRUE(Click(452, 307, 40, 10));  // local REC
  const std::filesystem::path folder = dir_ / "stream_files";
  const auto t0 = std::chrono::steady_clock::now();
  std::filesystem::path file;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec))
          if (e.path().extension() == ".mys") file = e.path();
        return !file.empty() && std::chrono::steady_clock::now() - t0 >= 8s;
      },
      20s));
  ASSERT_TRUE(Click(492, 307, 40, 10));  // local STOP
  const std::string dvrctl = std::string(RD_BINARY_DIR) + "/bin/dvrctl";
  std::string info;
  EXPECT_TRUE(rdtest::WaitFor(
      [&] {
        info = CommandOutput(dvrctl + " mys-info " + file.string());
        return info.find("\"finished\": true") != std::string::npos;
      },
      10s))
      << info.substr(0, 400);

  // Local PLAY: the open question starts in stream_files/; the file is typed.
  ASSERT_TRUE(Click(532, 307, 40, 10));
  ASSERT_TRUE(rdtest::WaitFor([&] { return WindowOpened(log_, "Open").has_value(); }, 10s));
  ASSERT_EQ(std::system(("DISPLAY=" + x_->display() + " " + xdotool_ +
                         " search --sync --onlyvisible --name '^Open$' windowfocus --sync")
                            .c_str()),
            0);
  ASSERT_TRUE(screen_->Type(file.string()));
  ASSERT_TRUE(screen_->Key("Return"));
  QImage shot;
  ASSERT_TRUE(ShotUntil(
      "local_play", [&](const QImage& img) { return Shows(img, 16); }, 15s, &shot))
      << "LOCAL PLAY";
  // The file is short: paused at once, then fast forward from there. A pause
  // holds, so the Capture and Play banner (refreshed each second) turns blue
  // under it; a fast forward may reach the end of the file and stop, which
  // leaves its last picture but turns the banner back to "Not Activated".
  ASSERT_TRUE(Click(492, 317, 40, 10));  // local PAUSE
  ASSERT_TRUE(ShotUntil(
      "local_pause",
      [&](const QImage& img) { return Shows(img, 17) && Blue(Banner(img, 276).pixelColor(4, 10)); },
      10s, &shot))
      << "LOCAL PLAY PAUSE under the blue banner, banner "
      << Banner(shot, 276).pixelColor(4, 10).name().toStdString();
  ASSERT_TRUE(Click(532, 317, 40, 10));  // local FF
  EXPECT_TRUE(ShotUntil(
      "local_ff", [&](const QImage& img) { return Shows(img, 18); }, 10s, &shot))
      << "LOCAL PLAY >> 1";
}

}  // namespace
}  // namespace rd::client
