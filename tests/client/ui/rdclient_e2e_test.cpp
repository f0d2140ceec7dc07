// rdclient end to end: the real program on a virtual X display (Xvfb),
// started with --connect against the emulated DVR in this process. Its
// RD_UI_LOG tells where the window's client area is; screenshots of the
// display are checked on pixels (the video area shows the four channels, the
// "Connected" banner is up); SIGTERM runs the Close sequence and the program
// ends cleanly, having said CloseSession.

#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "E2eSupport.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
using namespace e2e;

TEST(RdclientEndToEnd, ConnectsAndShowsFourChannelsUnderXvfb) {
  const auto xvfb = FindProgram("Xvfb");
  const auto import = FindProgram("import");
  if (!xvfb || !import) GTEST_SKIP() << "Xvfb and ImageMagick's import are needed (setup.sh)";
  VirtualDisplay x(*xvfb);
  ASSERT_FALSE(x.display().empty()) << "Xvfb did not start";
  rdtest::LiveDvr dvr;
  ASSERT_TRUE(dvr.started()) << dvr.error();
  rdtest::TempDir dir;
  const std::filesystem::path log = dir / "ui.log";
  const std::string program = std::string(RD_BINARY_DIR) + "/bin/rdclient";
  Child client(
      {program, "--connect", "127.0.0.1", "--password", "123456", "--control-port",
       std::to_string(dvr.control_port()), "--stream-port", std::to_string(dvr.stream_port())},
      {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=xcb", "RD_UI_LOG=" + log.string(),
       "RD_AUDIO_DEVICE=null",
       // Sanitizer builds: the X11 platform's D-Bus library keeps memory.
       "LSAN_OPTIONS=suppressions=" + std::string(RD_SOURCE_DIR) + "/tests/support/lsan.supp"});
  ASSERT_GT(client.pid(), 0);
  std::optional<WindowLine> w;
  ASSERT_TRUE(rdtest::WaitFor([&] { return (w = WindowOpened(log)).has_value(); }, 20s))
      << "no window line in the UI log";
  EXPECT_EQ(w->bx, 6);
  EXPECT_EQ(w->by, 13);
  const ui::DialogUnits du(w->bx, w->by);
  const QRect video = du.Rect(7, 7, 431, 272).translated(w->x, w->y);
  const QRect banner = QRect(du.Point(445, 10), QSize(195, 20)).translated(w->x, w->y);

  // Screenshots until the picture is there (or the deadline passes).
  const std::string shot = (std::filesystem::path(RD_BINARY_DIR) / "rdclient_e2e.png").string();
  QImage img;
  auto quadrant = [&](int i) {
    const QPoint c = video.center();
    return QPoint(c.x() + (i % 2 == 0 ? -video.width() / 4 : video.width() / 4),
                  c.y() + (i / 2 == 0 ? -video.height() / 4 : video.height() / 4));
  };
  auto ready = [&] {
    if (std::system(
            ("DISPLAY=" + x.display() + " " + *import + " -window root " + shot + " 2>/dev/null")
                .c_str()) != 0)
      return false;
    if (!img.load(QString::fromStdString(shot))) return false;
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
  ASSERT_EQ(::kill(client.pid(), SIGTERM), 0);
  EXPECT_EQ(client.Wait(20s), 0);
  EXPECT_TRUE(LogHas(log, "window\tclose\tTessaro 6.4\t"));
  EXPECT_GE(dvr.Received(17), 1) << "CloseSession when the window closed";
}

}  // namespace
}  // namespace rd::client
