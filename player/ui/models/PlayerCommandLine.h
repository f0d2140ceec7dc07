#pragma once
// rdplayer's command line:
//   rdplayer [IMAGE | --drive N] [--network] [--time "YY/MM/DD hh:mm:ss"]
//            [--version] [--help]

#include <optional>
#include <string>
#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd::player {

struct PlayerCommandLine {
  bool help = false;
  bool version = false;
  std::string image;            // a disk image (or device) to open at start
  std::optional<int> drive;     // or a drive number 0..10
  bool network = false;         // "Network version" checked at start
  std::optional<RecTime> time;  // play from this time instead of asking
};

// False with a message in *error on bad input.
bool ParsePlayerCommandLine(const std::vector<std::string>& args, PlayerCommandLine* out,
                            std::string* error);
const char* PlayerUsage();

}  // namespace rd::player
