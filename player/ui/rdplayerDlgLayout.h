#pragma once
// The main window's controls, in reading order (dialog units).

#include <span>

#include "ui/ControlTable.h"

namespace rd::player {

std::span<const ui::ControlEntry> MainWindowControls();

}  // namespace rd::player
