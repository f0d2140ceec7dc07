#pragma once
// The window-message interface: private messages (0x401..0x4F0) with a
// number and two parameters, as the engine hands them to the windows of both
// programs. Post queues the message to the user-interface thread and never
// blocks; Send is a direct call and is only made on the user-interface thread
// (a message "sent" from a worker thread is posted instead, so a worker never
// blocks on the user-interface thread while that thread waits for it).

#include <cstdint>

namespace rd {

class RcWindow {
 public:
  virtual ~RcWindow() = default;
  // Any thread; only queues.
  virtual void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
  // The user-interface thread; handled before it returns.
  virtual void Send(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

}  // namespace rd
