#pragma once
// A playback engine on a manual clock, with recording sinks, for the tests:
// Drive() plays the owner's part in virtual time (the 500 ms audio tick, the
// 33 ms repaint tick when asked) and moves the clock only while both engine
// threads wait, so a test runs as fast as the engine and never sleeps.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/PlaybackEngine.h"
#include "shared/video/VideoSurface.h"
#include "support/QtTestEnvironment.h"
#include "support/TestSupport.h"

namespace rdtest {

class RecordingView : public rd::PlaybackView {
 public:
  void ShowTime(const std::string& text) override {
    std::lock_guard lock(mutex);
    times.push_back(text);
  }
  void EnableChannelButtons(bool enabled) override {
    std::lock_guard lock(mutex);
    channel_buttons.push_back(enabled);
  }
  void DisableTransport(unsigned buttons) override {
    std::lock_guard lock(mutex);
    disabled.push_back(buttons);
  }
  void ShowMessage(const std::string& text) override {
    std::lock_guard lock(mutex);
    messages.push_back(text);
  }
  void Present(const QImage& picture) override {
    std::lock_guard lock(mutex);
    ++presents;
    presented = picture.copy();
  }
  std::vector<std::string> Messages() {
    std::lock_guard lock(mutex);
    return messages;
  }

  std::mutex mutex;
  std::vector<std::string> times;
  std::vector<bool> channel_buttons;
  std::vector<unsigned> disabled;
  std::vector<std::string> messages;
  int presents = 0;
  QImage presented;
};

class RecordingAudio : public rd::PlaybackAudioSink {
 public:
  void PlayAudio(const uint8_t* alaw, std::size_t length) override {
    std::lock_guard lock(mutex);
    blocks.emplace_back(alaw, alaw + length);
  }
  std::vector<std::vector<uint8_t>> Blocks() {
    std::lock_guard lock(mutex);
    return blocks;
  }
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> blocks;
};

class RecordingAvi : public rd::PlaybackAviSink {
 public:
  int AddVideoFrame(const uint8_t* bottom_up, std::size_t length) override {
    frames.emplace_back(bottom_up, bottom_up + length);
    return 0;
  }
  int AddAudio(const uint8_t* alaw, std::size_t length) override {
    audio.emplace_back(alaw, alaw + length);
    return 0;
  }
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::vector<uint8_t>> audio;
};

class MemoryTrace : public rd::PlaybackTrace {
 public:
  void Write(const rd::TraceEntry& e) override {
    std::lock_guard lock(mutex_);
    entries_.push_back(e);
  }
  std::vector<rd::TraceEntry> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  std::vector<rd::TraceEntry> Shown() const {
    std::vector<rd::TraceEntry> out;
    for (const auto& e : Entries())
      if (e.shown != rd::TraceEntry::Shown::kNo) out.push_back(e);
    return out;
  }
  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<rd::TraceEntry> entries_;
};

// The disk as the window opens it: detection, area and span.
inline rd::PlaybackDisk OpenPlaybackDisk(const std::string& path) {
  rd::DvrDisk disk;
  rd::PlaybackDisk out;
  if (!disk.DetectDvrDisk(path)) return out;
  disk.set_device_path(path);
  const auto area = rd::AreaSectors(disk.marker_sector(), rd::DiskLayout::kStandard);
  if (!area) return out;
  rd::RecordingIndex index(disk, disk.marker_sector(), *area);
  if (index.ReadSpan(&out.span) != rd::SpanResult::kOk) return out;
  out.device_path = path;
  out.area_bytes = *area * rd::kSectorSize;
  return out;
}

// The byte offset FindTime gives for `time`, or nothing.
inline std::optional<uint64_t> FindPosition(const std::string& path, const rd::RecTime& time) {
  rd::DvrDisk disk;
  if (!disk.DetectDvrDisk(path)) return std::nullopt;
  disk.set_device_path(path);
  const auto area = rd::AreaSectors(disk.marker_sector(), rd::DiskLayout::kStandard);
  rd::RecordingIndex index(disk, disk.marker_sector(), *area);
  rd::RecordingSpan span;
  if (index.ReadSpan(&span) != rd::SpanResult::kOk) return std::nullopt;
  uint64_t position = 0;
  if (!index.FindTime(time, span, &position)) return std::nullopt;
  return position;
}

struct EngineRig {
  using Micros = rd::PlaybackClock::Micros;

  explicit EngineRig(rd::DeviceOpener opener = rd::OpenSectorDevice) {
    rd::PlaybackEngine::Options o;
    o.view = &view;
    o.clock = &clock;
    o.audio = &audio;
    o.trace = &trace;
    o.opener = std::move(opener);
    engine = std::make_unique<rd::PlaybackEngine>(o);
  }

  bool Start() { return engine->Start() == rd::PlaybackEngine::SetUp::kOk; }

  void Open(const std::string& path) {
    disk = OpenPlaybackDisk(path);
    engine->OpenDisk(disk);
  }

  // Plays the owner in virtual time until `done` holds; false when it does not
  // within `virtual_limit` of clock time (or 20 s of real time).
  template <class Done>
  bool Drive(Done done, Micros virtual_limit = std::chrono::seconds(120)) {
    const Micros limit = clock.Now() + virtual_limit;
    const auto real_end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          real_end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return done();
      WaitFor([&] { return done() || engine->quiescent(); }, left);
      if (done()) return true;
      if (!engine->quiescent()) continue;
      // Both threads wait: on to the next thing that happens in time.
      Micros next = limit;
      if (const auto d = engine->clock_deadline()) next = std::min(next, *d);
      if (audio_ticks) next = std::min(next, next_audio_);
      if (repaint_ticks) next = std::min(next, next_repaint_);
      if (next >= limit) return done();
      clock.AdvanceTo(next);
      if (audio_ticks && clock.Now() >= next_audio_) {
        engine->AudioTick();
        next_audio_ += std::chrono::milliseconds(500);
      }
      if (repaint_ticks && clock.Now() >= next_repaint_) {
        engine->RepaintTick();
        next_repaint_ += std::chrono::milliseconds(33);
      }
    }
  }
  // Waits until both threads wait (nothing moves without a command or time).
  bool Settle() {
    return WaitFor([&] { return engine->quiescent(); }, std::chrono::seconds(20));
  }
  // One step; true when exactly one more frame was shown.
  bool Step(bool forward) {
    const auto before = engine->stats().frames_shown;
    forward ? engine->StepForward() : engine->StepBackward();
    Drive([&] { return engine->stats().frames_shown > before; });
    Settle();
    return engine->stats().frames_shown == before + 1;
  }

  rd::ManualPlaybackClock clock;
  RecordingView view;
  RecordingAudio audio;
  MemoryTrace trace;
  rd::PlaybackDisk disk;
  std::unique_ptr<rd::PlaybackEngine> engine;
  bool audio_ticks = true;
  bool repaint_ticks = false;
  Micros next_audio_{500'000};
  Micros next_repaint_{33'000};
};

// Pixels of `a` and `b` (same size) that differ, outside the label in the
// top-left corner (48 x 24).
inline int DifferentPixels(const QImage& a, const QImage& b) {
  int n = 0;
  for (int y = 0; y < std::min(a.height(), b.height()); ++y)
    for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
      if (x < 48 && y < 24) continue;
      if (a.pixel(x, y) != b.pixel(x, y)) ++n;
    }
  return n;
}

// A decoder output (full or half size) painted as the engine paints it.
inline QImage PaintedOutput(const std::vector<uint8_t>& output, bool half) {
  const int w = half ? 320 : 640, h = half ? 218 : 436;
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  rd::video::PaintDecoderOutput(output.data(), 0, rd::video::DecoderPalette(), img, 0, 0, w, h);
  return img;
}

}  // namespace rdtest
