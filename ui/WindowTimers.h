#pragma once
// Window timers by number, as the windows' timer tables have them: Start
// (re)starts timer `id` with a period, Stop stops it, and every expiry calls
// the window's handler with the id on the user-interface thread.

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>

namespace rd::ui {

class WindowTimers {
 public:
  using Handler = std::function<void(int id)>;
  WindowTimers(QObject* owner, Handler handler) : owner_(owner), handler_(std::move(handler)) {}
  WindowTimers(const WindowTimers&) = delete;
  WindowTimers& operator=(const WindowTimers&) = delete;

  void Start(int id, int period_ms);
  void Stop(int id);
  bool IsActive(int id) const;
  void StopAll();

 private:
  QObject* owner_;
  Handler handler_;
  std::map<int, QTimer*> timers_;  // children of the owner
};

}  // namespace rd::ui
