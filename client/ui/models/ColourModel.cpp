#include "client/ui/models/ColourModel.h"

namespace rd::ui {

void ColourModel::SetColourMode(bool true_colour) {
  chosen_256_ = true_colour ? 0 : 1;
  Show();
}

void ColourModel::Click256Colour() {
  chosen_256_ = 1;
  Show();
}

void ColourModel::ClickTrueColour() {
  chosen_256_ = 0;
  Show();
}

void ColourModel::Show() {
  const bool is256 = chosen_256_ != 0;
  controls_.SetButton(colmgr_id::k256Colour, "256 Color",
                      is256 ? CheckState::kChecked : CheckState::kUnchecked, true);
  controls_.SetButton(colmgr_id::kTrueColour, "True Color",
                      is256 ? CheckState::kUnchecked : CheckState::kChecked, true);
}

}  // namespace rd::ui
