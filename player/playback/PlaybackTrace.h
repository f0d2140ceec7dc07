#pragma once
// The playback trace: one line per frame the image thread walks, for
// `dvrdisk play --trace FILE` and RD_PLAYER_TRACE=FILE in the player:
//
//   MS<TAB>CHUNK<TAB>INDEX<TAB>CHANNEL<TAB>full|partial<TAB>YYYY/MM/DD
//   hh:mm:ss<TAB>full|quadrant|no
//
// MS: milliseconds of the engine's clock since the engine was set up;
// CHUNK: byte offset in the recording area where the frame's chunk was read;
// INDEX: the frame's record in that chunk; CHANNEL: its channel code (0-3
// CH1-CH4, 4 the recorder's quad picture); the full-frame flag; its recorded
// time; and how it was shown: full size, in its quadrant, or not at all.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "shared/stream/StreamPacket.h"

namespace rd {

struct TraceEntry {
  enum class Shown : uint8_t { kNo, kFull, kQuadrant };
  int64_t ms = 0;
  uint64_t chunk_position = 0;
  uint32_t frame_index = 0;
  uint8_t channel = 0;
  bool full = false;
  RecTime time;
  Shown shown = Shown::kNo;
};

std::string FormatTraceLine(const TraceEntry& entry);  // without the newline

class PlaybackTrace {
 public:
  virtual ~PlaybackTrace() = default;
  // Called on the image thread.
  virtual void Write(const TraceEntry& entry) = 0;
};

// Writes the lines to a file, each as soon as it is walked.
class TraceFile : public PlaybackTrace {
 public:
  ~TraceFile() override;
  // Nothing (with *error) when the file cannot be created.
  static std::unique_ptr<TraceFile> Create(const std::string& path, std::string* error);
  // The file named by RD_PLAYER_TRACE, or nothing when it is unset or empty
  // (or the file cannot be created: *error).
  static std::unique_ptr<TraceFile> FromEnvironment(std::string* error);

  void Write(const TraceEntry& entry) override;

 private:
  explicit TraceFile(std::FILE* file) : file_(file) {}
  std::mutex mutex_;
  std::FILE* file_;
};

}  // namespace rd
