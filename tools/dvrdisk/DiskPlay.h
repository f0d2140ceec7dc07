#pragma once
// dvrdisk play: the player's playback engine without windows. Plays a disk
// from a found position at a speed, backwards or step by step, for some
// seconds of real time, with the engine's own ticks driven by a loop, and
// reports what it walked and showed.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "player/playback/PlaybackEngine.h"

namespace rd::dvrdisk {

struct PlayJob {
  PlaybackDisk disk;
  uint64_t start_position = 0;
  int speed = 1;  // 1, 4, 16, 32, 64
  bool reverse = false;
  std::optional<int> steps;  // N single steps instead of playing
  double seconds = 10;       // real time to play (with steps: at most)
  int channel = 5;
  std::optional<std::string> trace_file;
  std::optional<std::string> snapshot;
  std::optional<std::string> avi_file;
  std::string codec = "uncompressed";
};

struct PlayResult {
  PlaybackEngine::Stats stats;
  int steps_done = 0;
  std::string time_text;
};

// Returns an exit status (DvrDiskTool.h); messages go to `err`.
int RunPlay(const PlayJob& job, PlayResult* result, std::ostream& err);

}  // namespace rd::dvrdisk
