#include "ui/WindowPort.h"

#include <QCoreApplication>
#include <QThread>

namespace rd::ui {
namespace {

class MessageEvent : public QEvent {
 public:
  MessageEvent(uint32_t m, uintptr_t w, intptr_t l)
      : QEvent(WindowPort::EventType()), message(m), wparam(w), lparam(l) {}
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

}  // namespace

QEvent::Type WindowPort::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

WindowPort::WindowPort(Handler handler) : handler_(std::move(handler)) {}

void WindowPort::Post(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  QCoreApplication::postEvent(this, new MessageEvent(message, wparam, lparam));
}

void WindowPort::Send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (QThread::currentThread() == thread())
    Dispatch(message, wparam, lparam);
  else
    Post(message, wparam, lparam);
}

bool WindowPort::event(QEvent* event) {
  if (event->type() != EventType()) return QObject::event(event);
  auto* m = static_cast<MessageEvent*>(event);
  Dispatch(m->message, m->wparam, m->lparam);
  return true;
}

void WindowPort::Dispatch(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  handled_.fetch_add(1);
  if (handler_) handler_(message, wparam, lparam);
}

}  // namespace rd::ui
