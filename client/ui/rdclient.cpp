#include "client/ui/rdclient.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include "client/ui/CommandLine.h"
#include "client/ui/rdclientDlg.h"
#include "platform/MessageBox.h"
#include "rd/Version.h"
#include "ui/DesktopStyle.h"
#include "ui/MessageBoxSink.h"
#include "ui/UiFonts.h"
#include "ui/UiLog.h"

namespace rd::client {
namespace {

const char kTitle[] = "Tessaro";

int g_signal_fd = -1;

void OnSignal(int) {
  const char c = 1;
  if (g_signal_fd >= 0) (void)::write(g_signal_fd, &c, 1);
}

// The socket layer: writes to a closed connection must report an error, not
// end the program.
bool StartSockets() {
  return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

}  // namespace

int RdclientApp::Run(int argc, char** argv, ClientDialogs* dialogs) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine cl;
  std::string error;
  if (!ParseCommandLine(args, &cl, &error)) {
    std::fprintf(stderr, "rdclient: %s\n%s", error.c_str(), Usage());
    return 2;
  }
  if (cl.help) {
    std::fputs(Usage(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("rdclient %s\n", kVersion);
    return 0;
  }

  ui::InstallFontAliases();
  QApplication app(argc, argv);
  ui::ApplyDesktopStyle();
  QApplication::setApplicationName(QStringLiteral("rdclient"));
  QApplication::setApplicationVersion(QString::fromUtf8(kVersion));
  ui::QtMessageBoxSink sink(QString::fromUtf8(kTitle));
  ui::WindowLogFilter window_log(ui::UiLog::Instance());
  if (ui::UiLog::Instance().enabled()) app.installEventFilter(&window_log);

  if (!StartSockets()) {
    ShowMessage(kTitle, "Windows sockets initialization failed.");
    return 1;
  }

  RdclientDlg::Options options;
  options.control_port = cl.control_port;
  options.stream_port = cl.stream_port;
  options.dialogs = dialogs;
  RdclientDlg window(options);

  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
    g_signal_fd = fds[1];
    notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window, fd = fds[0]] {
      char c;
      (void)::read(fd, &c, 1);
      window.CloseWindow();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
  }

  if (!cl.connect.empty()) {
    QTimer::singleShot(0, &window,
                       [&window, &cl] { window.ConnectTo(cl.connect, cl.password.data()); });
  }
  window.exec();

  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  g_signal_fd = -1;
  notifier.reset();
  if (fds[0] >= 0) ::close(fds[0]);
  if (fds[1] >= 0) ::close(fds[1]);
  return 0;
}

}  // namespace rd::client
