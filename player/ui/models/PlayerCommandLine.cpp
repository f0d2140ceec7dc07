#include "player/ui/models/PlayerCommandLine.h"

#include "player/disk/RecordingIndex.h"
#include "player/disk/SectorDevice.h"

namespace rd::player {

const char* PlayerUsage() {
  return "usage: rdplayer [IMAGE | --drive N] [--network] [--time \"YY/MM/DD hh:mm:ss\"]\n"
         "                [--version] [--help]\n"
         "\n"
         "  IMAGE            open this DVR disk image (a dd copy of a DVR disk) or device\n"
         "  --drive N        open drive N (0-10), numbered as RD_DRIVES or /sys/block map them\n"
         "  --network        read the disk in the network layout (\"Network version\")\n"
         "  --time T         play from the recording time T, \"YY/MM/DD hh:mm:ss\", without\n"
         "                   the Search Time dialog\n"
         "  --version        print the version and exit\n"
         "\n"
         "Without IMAGE or --drive the HDD button looks for DVR disks among the drives.\n"
         "RD_DRIVES=\"1=/path/disk.img,3=/dev/sdc\" replaces the drive list,\n"
         "RD_PLAYER_TRACE=FILE writes a line per frame the playback walks,\n"
         "RD_UI_LOG=FILE a line per message box and per window shown or closed.\n"
         "The program ends with exit status 56 when its window closes.\n";
}

bool ParsePlayerCommandLine(const std::vector<std::string>& args, PlayerCommandLine* out,
                            std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty()) continue;  // an empty %f of a desktop launcher
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      out->help = true;
    } else if (a == "--version") {
      out->version = true;
    } else if (a == "--network") {
      out->network = true;
    } else if (a == "--drive") {
      if (!value(&v)) return false;
      if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(v) >= kDriveCount) {
        *error = "--drive: a drive number 0-10 expected: " + v;
        return false;
      }
      out->drive = std::stoi(v);
    } else if (a == "--time") {
      if (!value(&v)) return false;
      out->time = ParseSearchTime(v);
      if (!out->time) {
        *error = "--time: \"YY/MM/DD hh:mm:ss\" expected (month 1-12, day 1-31, hour 0-23): " + v;
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      *error = "unknown option: " + a;
      return false;
    } else if (out->image.empty()) {
      out->image = a;
    } else {
      *error = "one disk image at most: " + a;
      return false;
    }
  }
  if (!out->image.empty() && out->drive) {
    *error = "an IMAGE or --drive N, not both";
    return false;
  }
  if (out->time && out->image.empty() && !out->drive) {
    *error = "--time needs an IMAGE or --drive N";
    return false;
  }
  return true;
}

}  // namespace rd::player
