#include "player/ui/rdplayer.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "player/ui/models/PlayerCommandLine.h"
#include "player/ui/rdplayerDlg.h"
#include "rd/Version.h"
#include "ui/CloseSignals.h"
#include "ui/DesktopStyle.h"
#include "ui/MessageBoxSink.h"
#include "ui/UiFonts.h"
#include "ui/UiLog.h"

namespace rd::player {
namespace {

const char kTitle[] = "Movira";

}  // namespace

int RdplayerApp::Run(int argc, char** argv, PlayerDialogs* dialogs) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  PlayerCommandLine cl;
  std::string error;
  if (!ParsePlayerCommandLine(args, &cl, &error)) {
    std::fprintf(stderr, "rdplayer: %s\n%s", error.c_str(), PlayerUsage());
    return kExitUsage;
  }
  if (cl.help) {
    std::fputs(PlayerUsage(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("rdplayer %s\n", kVersion);
    return 0;
  }

  ui::InstallFontAliases();
  QApplication app(argc, argv);
  ui::ApplyDesktopStyle();
  QApplication::setApplicationName(QStringLiteral("rdplayer"));
  QApplication::setApplicationVersion(QString::fromUtf8(kVersion));
  QGuiApplication::setDesktopFileName(QStringLiteral("org.rdvr.rdplayer"));
  ui::QtMessageBoxSink sink(QString::fromUtf8(kTitle));
  ui::WindowLogFilter window_log(ui::UiLog::Instance());
  if (ui::UiLog::Instance().enabled()) app.installEventFilter(&window_log);

  RdplayerDlg::Options options;
  options.dialogs = dialogs;
  options.network = cl.network;
  RdplayerDlg window(options);
  ui::CloseSignals close_signals(&window, [&window] { window.CloseWindow(); });
  if (!cl.image.empty() || cl.drive) {
    QTimer::singleShot(0, &window, [&window, &cl] {
      if (cl.drive) {
        window.OpenDrive(*cl.drive, cl.time);
      } else {
        window.OpenPath(cl.image, cl.time);
      }
    });
  }
  window.exec();
  return kExitClosed;
}

}  // namespace rd::player
