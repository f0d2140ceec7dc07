#pragma once
// The lines of the Select DVR HDD dialog: "Hard Disk 1", "Hard Disk 2", ...
// for the DVR disks found, each remembering its drive number.

#include <optional>
#include <string>
#include <vector>

#include "player/disk/DvrDisk.h"

namespace rd::player {

struct HddLine {
  std::string text;
  int drive = 0;
};

// Drives 1..10 in order whose table entry is non-zero, counted 1, 2, 3 ...
std::vector<HddLine> HddLines(const DiskTable& table);

// OK with line `selected` (-1: none selected, which takes the first line):
// its drive, or nothing when the list is empty.
std::optional<int> ChosenDrive(const std::vector<HddLine>& lines, int selected);

}  // namespace rd::player
