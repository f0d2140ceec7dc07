#include "ui/CloseSignals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <atomic>

namespace rd::ui {
namespace {

std::atomic<int> g_signal_fd{-1};

void OnSignal(int) {
  const char c = 1;
  const int fd = g_signal_fd.load();
  if (fd >= 0) (void)::write(fd, &c, 1);
}

}  // namespace

CloseSignals::CloseSignals(QObject* context, std::function<void()> on_signal) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) return;
  g_signal_fd = fds_[1];
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, context,
                   [fd = fds_[0], on_signal = std::move(on_signal)] {
                     char c;
                     (void)::read(fd, &c, 1);
                     on_signal();
                   });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

CloseSignals::~CloseSignals() {
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  g_signal_fd = -1;
  notifier_.reset();
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

}  // namespace rd::ui
