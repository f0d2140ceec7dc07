#pragma once
// The "Display Color Setting" dialog (modal): "256 Color" or "True Color",
// two push-like buttons of which exactly one is down. The caller applies the
// choice only when the dialog ends with OK.

#include <QDialog>

#include "client/ui/models/ColourModel.h"
#include "ui/ControlTable.h"

namespace rd::client {

class RcDlgColMgr : public QDialog {
 public:
  explicit RcDlgColMgr(QWidget* parent = nullptr);

  // Whether the output is true colour now, before the dialog runs.
  void SetColourMode(bool true_colour);
  // The choice, read after OK.
  bool TrueColourChosen() const { return model_.TrueColourChosen(); }

  const ui::ControlSet& Controls() const { return controls_; }

 private:
  ui::ColourModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
