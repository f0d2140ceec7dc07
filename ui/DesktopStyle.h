#pragma once
// The look of both programs' windows: the toolkit's own style (the same on
// every desktop), the dialog font and group boxes whose title sits on the
// frame line. Call once the QApplication exists.

namespace rd::ui {

void ApplyDesktopStyle();

}  // namespace rd::ui
