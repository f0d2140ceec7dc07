#pragma once
// Fonts of the windows. The layouts are designed for "MS Sans Serif" 8 point
// and the video texts for "Courier New"; fontconfig resolves them to the
// metric-compatible Liberation Sans and Liberation Mono, so a layout and a
// screenshot are the same on every machine.

#include <QFont>

namespace rd::ui {

// Adds the aliases to the process's fontconfig configuration. Call once,
// before the QApplication is created (its font database reads them).
// Returns false when fontconfig refused the configuration.
bool InstallFontAliases();

// The dialog font: "MS Sans Serif" 8 point at 96 dots per inch (11 pixels),
// sized in pixels so that the screen's resolution does not change a layout.
QFont DialogFont();

// The family the dialog font resolves to on this machine ("Liberation Sans"
// once the aliases are installed).
QString ResolvedDialogFamily();

}  // namespace rd::ui
