#pragma once
// The main window's controls, in reading order (dialog units).

#include <span>

#include "ui/ControlTable.h"

namespace rd::client {

std::span<const ui::ControlEntry> MainWindowControls();

}  // namespace rd::client
