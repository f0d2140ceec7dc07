// rdclient end to end: the real program on a virtual X display (Xvfb),
// started with --connect against the emulated DVR in this process. Its
// RD_UI_LOG tells where the window's client area is; screenshots of the
// display are checked on pixels (the video area shows the four channels, the
// "Connected" banner is up); SIGTERM runs the Close sequence and the program
// ends cleanly, having said CloseSession. A click on the menu (xdotool)
// opens the real DVR management dialog.

#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
using namespace e2e;

// Xvfb, the emulated DVR and rdclient started with --connect to it, its UI
// log in a folder of its own; the program's window is up when a test starts.
class RdclientEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = FindProgram("Xvfb");
    import = FindProgram("import");
    xdotool = FindProgram("xdotool");
    if (!xvfb || !import) GTEST_SKIP() << "Xvfb and ImageMagick's import are needed (setup.sh)";
    x = std::make_unique<VirtualDisplay>(*xvfb);
    ASSERT_FALSE(x->display().empty()) << "Xvfb did not start";
    dvr = std::make_unique<rdtest::LiveDvr>();
    ASSERT_TRUE(dvr->started()) << dvr->error();
    log = dir / "ui.log";
    const std::string program = std::string(RD_BINARY_DIR) + "/bin/rdclient";
    client = std::make_unique<Child>(
        std::vector<std::string>{program, "--connect", "127.0.0.1", "--password", "123456",
                                 "--control-port", std::to_string(dvr->control_port()),
                                 "--stream-port", std::to_string(dvr->stream_port())},
        std::vector<std::string>{"DISPLAY=" + x->display(), "QT_QPA_PLATFORM=xcb",
                                 "RD_UI_LOG=" + log.string(), "RD_AUDIO_DEVICE=null",
                                 // Sanitizer builds: the X11 platform's D-Bus library keeps memory.
                                 "LSAN_OPTIONS=suppressions=" + std::string(RD_SOURCE_DIR) +
                                     "/tests/support/lsan.supp"});
    ASSERT_GT(client->pid(), 0);
    std::optional<WindowLine> opened;
    ASSERT_TRUE(rdtest::WaitFor([&] { return (opened = WindowOpened(log)).has_value(); }, 20s))
        << "no window line in the UI log";
    w = *opened;
  }
  // A screenshot of the whole display into `img`.
  bool Screenshot(const std::string& path, QImage& img) const {
    return std::system(("DISPLAY=" + x->display() + " " + *import + " -window root " + path +
                        " 2>/dev/null")
                           .c_str()) == 0 &&
           img.load(QString::fromStdString(path));
  }

  std::optional<std::string> xvfb, import, xdotool;
  std::unique_ptr<VirtualDisplay> x;
  std::unique_ptr<rdtest::LiveDvr> dvr;
  rdtest::TempDir dir;
  std::filesystem::path log;
  std::unique_ptr<Child> client;
  WindowLine w;
};

TEST_F(RdclientEndToEnd, ConnectsAndShowsFourChannelsUnderXvfb) {
  EXPECT_EQ(w.bx, 6);
  EXPECT_EQ(w.by, 13);
  const ui::DialogUnits du(w.bx, w.by);
  const QRect video = du.Rect(7, 7, 431, 272).translated(w.x, w.y);
  const QRect banner = QRect(du.Point(445, 10), QSize(195, 20)).translated(w.x, w.y);

  // Screenshots until the picture is there (or the deadline passes).
  const std::string shot = (std::filesystem::path(RD_BINARY_DIR) / "rdclient_e2e.png").string();
  QImage img;
  auto quadrant = [&](int i) {
    const QPoint c = video.center();
    return QPoint(c.x() + (i % 2 == 0 ? -video.width() / 4 : video.width() / 4),
                  c.y() + (i / 2 == 0 ? -video.height() / 4 : video.height() / 4));
  };
  auto ready = [&] {
    if (!Screenshot(shot, img)) return false;
    for (int i = 0; i < 4; ++i)
      if (!NotBlack(img.pixelColor(quadrant(i)))) return false;
    const QColor b = img.pixelColor(banner.left() + 4, banner.center().y());
    return b.red() > 200 && b.red() > b.blue() + 100;  // the orange "Connected" band
  };
  ASSERT_TRUE(rdtest::WaitFor(ready, 30s)) << "see " << shot;
  // Four different cameras: the quadrants differ from each other.
  int different = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      different += img.pixelColor(quadrant(i)) != img.pixelColor(quadrant(j)) ? 1 : 0;
  EXPECT_GE(different, 5);

  // SIGTERM: the Close sequence, a clean end.
  ASSERT_EQ(::kill(client->pid(), SIGTERM), 0);
  EXPECT_EQ(client->Wait(20s), 0);
  EXPECT_TRUE(LogHas(log, "window\tclose\tTessaro 6.4\t"));
  EXPECT_GE(dvr->Received(17), 1) << "CloseSession when the window closed";
}

// The program's menu opens the real dialogs: a click on "DVR Management"
// brings up the management dialog with the DVR's settings, and its "Close
// Window" closes it.
TEST_F(RdclientEndToEnd, MenuOpensTheManagementDialogUnderXvfb) {
  if (!xdotool) GTEST_SKIP() << "xdotool is needed (setup.sh)";
  auto click = [&](int px, int py) {
    return std::system(("DISPLAY=" + x->display() + " " + *xdotool + " mousemove " +
                        std::to_string(px) + " " + std::to_string(py) + " click 1")
                           .c_str()) == 0;
  };
  // The session is open once the DVR has answered the status request.
  ASSERT_TRUE(rdtest::WaitFor([&] { return dvr->Received(42) >= 1; }, 20s));
  // "DVR Management" is the menu bar's first command, just above the client area.
  std::optional<WindowLine> d;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        if (!click(w.x + 15, w.y - 8)) return false;
        return rdtest::WaitFor(
            [&] { return (d = WindowOpened(log, "Remote DVR Control Panel")).has_value(); }, 3s);
      },
      20s))
      << "no management dialog";
  EXPECT_GE(dvr->Received(20), 1) << "after the settings refresh";
  const ui::DialogUnits du(d->bx, d->by);
  const std::string shot =
      (std::filesystem::path(RD_BINARY_DIR) / "rdclient_e2e_dvrmgr.png").string();
  QImage img;
  // The dialog's face, not the video behind it: the same light colour inside
  // its group box at the left and at the right.
  auto face = [&](QPoint units) {
    return img.pixelColor(du.Point(units.x(), units.y()) + QPoint(d->x, d->y));
  };
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        if (!Screenshot(shot, img)) return false;
        const QColor a = face({8, 197}), b = face({250, 130});
        return a == b && a.lightness() > 200;
      },
      10s))
      << "see " << shot;
  const QRect close = du.Rect(190, 300, 65, 13).translated(d->x, d->y);
  ASSERT_TRUE(click(close.center().x(), close.center().y()));
  EXPECT_TRUE(rdtest::WaitFor(
      [&] { return LogHas(log, "window\tclose\tRemote DVR Control Panel\t"); }, 10s));

  ASSERT_EQ(::kill(client->pid(), SIGTERM), 0);
  EXPECT_EQ(client->Wait(20s), 0);
}

}  // namespace
}  // namespace rd::client
