#include "player/playback/PlaybackClock.h"

namespace rd {

PlaybackClock::Micros ManualPlaybackClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualPlaybackClock::SetWaker(std::function<void()> waker) {
  std::lock_guard lock(mutex_);
  waker_ = std::move(waker);
}

void ManualPlaybackClock::Advance(Micros d) {
  {
    std::lock_guard lock(mutex_);
    if (d > Micros{0}) now_ += d;
  }
  Wake();
}

void ManualPlaybackClock::AdvanceTo(Micros t) {
  {
    std::lock_guard lock(mutex_);
    if (t > now_) now_ = t;
  }
  Wake();
}

void ManualPlaybackClock::Wake() {
  std::function<void()> waker;
  {
    std::lock_guard lock(mutex_);
    waker = waker_;
  }
  if (waker) waker();
}

}  // namespace rd
