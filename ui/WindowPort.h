#pragma once
// The Qt side of the window-message interface. A window owns a WindowPort
// and gives it to the engine as its RcWindow:
//   Post  - queued to the port's thread (the user-interface thread) as an
//           event; never blocks, any thread;
//   Send  - on the port's thread a direct call of the handler; from any other
//           thread queued like Post, so a worker never waits for the
//           user-interface thread.
// Messages still queued when the port is destroyed are dropped with it. A
// window unregisters its port from the engine before it is destroyed.

#include <QEvent>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/RcWindow.h"

namespace rd::ui {

class WindowPort : public QObject, public RcWindow {
 public:
  using Handler = std::function<void(uint32_t message, uintptr_t wparam, intptr_t lparam)>;

  explicit WindowPort(Handler handler = {});
  void SetHandler(Handler handler) { handler_ = std::move(handler); }

  void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  void Send(uint32_t message, uintptr_t wparam, intptr_t lparam) override;

  // Messages handled so far (tests and diagnostics).
  uint64_t Handled() const { return handled_.load(); }

  static QEvent::Type EventType();

 protected:
  bool event(QEvent* event) override;

 private:
  void Dispatch(uint32_t message, uintptr_t wparam, intptr_t lparam);

  Handler handler_;
  std::atomic<uint64_t> handled_{0};
};

}  // namespace rd::ui
