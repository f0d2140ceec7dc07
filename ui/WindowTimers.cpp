#include "ui/WindowTimers.h"

namespace rd::ui {

void WindowTimers::Start(int id, int period_ms) {
  QTimer*& t = timers_[id];
  if (t == nullptr) {
    t = new QTimer(owner_);
    t->setTimerType(period_ms < 100 ? Qt::PreciseTimer : Qt::CoarseTimer);
    QObject::connect(t, &QTimer::timeout, owner_, [this, id] { handler_(id); });
  }
  t->start(period_ms);
}

void WindowTimers::Stop(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

bool WindowTimers::IsActive(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

void WindowTimers::StopAll() {
  for (auto& [id, t] : timers_) t->stop();
}

}  // namespace rd::ui
