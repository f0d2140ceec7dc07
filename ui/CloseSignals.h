#pragma once
// SIGINT and SIGTERM as a window's close command: the signal handler only
// writes a byte to a socket pair, and a notifier on the user-interface thread
// runs the handler. While it lives the two signals are caught; its
// destructor puts the default actions back.

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace rd::ui {

class CloseSignals {
 public:
  // `on_signal` runs on the thread that made this object (its event loop).
  CloseSignals(QObject* context, std::function<void()> on_signal);
  ~CloseSignals();
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;

  bool active() const { return notifier_ != nullptr; }

 private:
  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace rd::ui
