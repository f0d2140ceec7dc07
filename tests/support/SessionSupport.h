#pragma once
// Bringing a control main to an open session with a DVR, for the suites that
// drive the engine against the emulated DVR (with or without a Qt event loop).

#include <chrono>
#include <cstdint>
#include <functional>

namespace rd {
class RcCtrlMain;
}

namespace rdtest {

// The session is open (state kOpen) with the DVR's settings and status in the
// cache.
bool SessionOpen(const rd::RcCtrlMain& main);

// Waits until `done` holds or `timeout` passes, returning the last value of
// `done`: WaitFor, or PumpUntil where the Qt event loop has to run.
using WaitFn = std::function<bool(const std::function<bool()>& done, std::chrono::milliseconds)>;

// Connects `main` (its ports set) to 127.0.0.1 with `password` and waits with
// `wait` until SessionOpen.
bool OpenSession(rd::RcCtrlMain& main, const uint8_t password[6],
                 std::chrono::milliseconds timeout = std::chrono::seconds(10),
                 const WaitFn& wait = {});

}  // namespace rdtest
