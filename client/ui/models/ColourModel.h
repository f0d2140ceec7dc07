#pragma once
// The "Display Color Setting" dialog without widgets: two push-like buttons,
// "256 Color" and "True Color", of which exactly one is checked. The caller
// applies the choice only when the dialog ends with OK.

#include <cstdint>

#include "client/ui/models/ControlStates.h"

namespace rd::ui {

namespace colmgr_id {
inline constexpr int k256Colour = 1352;
inline constexpr int kTrueColour = 1353;
}  // namespace colmgr_id

class ColourModel {
 public:
  ColourModel() { Show(); }

  // The current output mode, before the dialog opens.
  void SetColourMode(bool true_colour);
  void Click256Colour();
  void ClickTrueColour();

  // The choice, read after OK.
  bool Is256ColourChosen() const { return chosen_256_ != 0; }
  bool TrueColourChosen() const { return chosen_256_ == 0; }

  const ControlStates& Controls() const { return controls_; }

 private:
  void Show();

  uint8_t chosen_256_ = 0;
  ControlStates controls_;
};

}  // namespace rd::ui
