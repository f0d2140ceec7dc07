#include "player/ui/models/SelectHddModel.h"

namespace rd::player {

std::vector<HddLine> HddLines(const DiskTable& table) {
  std::vector<HddLine> lines;
  for (int n = 1; n <= 10; ++n) {
    if (table[static_cast<std::size_t>(n)] == 0) continue;
    lines.push_back({"Hard Disk " + std::to_string(lines.size() + 1), n});
  }
  return lines;
}

std::optional<int> ChosenDrive(const std::vector<HddLine>& lines, int selected) {
  if (lines.empty()) return std::nullopt;
  if (selected < 0 || selected >= static_cast<int>(lines.size())) selected = 0;
  return lines[static_cast<std::size_t>(selected)].drive;
}

}  // namespace rd::player
