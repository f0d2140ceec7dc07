#pragma once
// The playback engine's clock: the pace of frames and the milliseconds of
// the trace. The program uses the steady clock; tests move a manual clock by
// hand, so that nothing in them waits for real time.

#include <chrono>
#include <functional>
#include <mutex>

namespace rd {

class PlaybackClock {
 public:
  using Micros = std::chrono::microseconds;
  using WakePoint = std::chrono::steady_clock::time_point;

  virtual ~PlaybackClock() = default;
  virtual Micros Now() const = 0;
  // The steady-clock time at which clock time `t` comes, for a timed wait;
  // WakePoint::max() when only the clock's owner moves it (the engine is
  // then woken through the waker).
  virtual WakePoint WakeAt(Micros t) const = 0;
  // The engine hands over a function that wakes its waits; a clock moved by
  // hand calls it after every move.
  virtual void SetWaker(std::function<void()> waker) { (void)waker; }
};

class SteadyPlaybackClock : public PlaybackClock {
 public:
  Micros Now() const override {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now().time_since_epoch());
  }
  WakePoint WakeAt(Micros t) const override {
    return WakePoint(std::chrono::duration_cast<WakePoint::duration>(t));
  }
};

class ManualPlaybackClock : public PlaybackClock {
 public:
  Micros Now() const override;
  WakePoint WakeAt(Micros) const override { return WakePoint::max(); }
  void SetWaker(std::function<void()> waker) override;
  // Moves the clock on by `d` / to `t` (never back) and wakes the engine.
  void Advance(Micros d);
  void AdvanceTo(Micros t);

 private:
  void Wake();

  mutable std::mutex mutex_;
  Micros now_{0};
  std::function<void()> waker_;
};

}  // namespace rd
