#pragma once
// dvrsim make-disk: writes a DVR disk image offline, far faster than real
// time: the same cameras, encoder, audio and recorder as the live emulator,
// driven by a virtual clock.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/dvrsim/SimConfig.h"

namespace rd::sim {

struct EventSpec {
  bool timer = true;
  uint64_t offset_s = 0;
  uint64_t length_s = 60;
};

// "KIND@OFFSET[+LENGTH],..." (see make-disk --help); false with *error set.
bool ParseEventSpec(const std::string& text, std::vector<EventSpec>* out, std::string* error);

struct MakeDiskResult {
  uint64_t frames = 0;
  uint64_t audio_packets = 0;
  uint64_t packets = 0;
  uint64_t next_packet = 0;
  bool wrapped = false;
  uint64_t seconds = 0;  // recorded time
};

// Writes the image; progress goes to `progress` (may be null). Returns false
// with *error set on failure.
bool MakeDisk(const MakeDiskOptions& options, std::ostream* progress, MakeDiskResult* result,
              std::string* error);

}  // namespace rd::sim
