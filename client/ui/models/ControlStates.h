#pragma once
// What a dialog model tells its widgets: for each control, by its resource id,
// the text, the enabled, visible and check state and a list's entries with the
// selected one. The widget layer copies these into its widgets after every
// user action; the model never touches a widget. Message boxes are data too:
// caption, text and icon.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rd::ui {

// A push-like check box or an auto check box; kIndeterminate only for the
// three-state hour buttons of the record schedule.
enum class CheckState : uint8_t { kUnchecked = 0, kChecked = 1, kIndeterminate = 2 };

struct ControlState {
  std::string text;
  bool enabled = true;
  bool visible = true;
  CheckState check = CheckState::kUnchecked;
  std::vector<std::string> items;  // entries of a list, in order
  int selected = -1;               // index into items, -1: nothing selected

  bool checked() const { return check == CheckState::kChecked; }
  // The selected entry's text, "" without a selection.
  std::string SelectedText() const;

  friend bool operator==(const ControlState&, const ControlState&) = default;
};

// The controls of one dialog, keyed by resource id.
class ControlStates {
 public:
  // The control with this id, created with default state on first use.
  ControlState& operator[](int id) { return controls_[id]; }
  // The control with this id; a default state for an id the dialog lacks.
  const ControlState& at(int id) const;
  bool Has(int id) const { return controls_.count(id) != 0; }
  const std::map<int, ControlState>& all() const { return controls_; }

  // A list's entries with one of them selected (-1: none), enabled.
  void SetList(int id, std::vector<std::string> items, int selected);
  // A check box or push-like check box with its text.
  void SetButton(int id, const std::string& text, CheckState check, bool enabled);

 private:
  std::map<int, ControlState> controls_;
};

enum class BoxIcon : uint8_t { kStop, kExclamation, kInformation, kQuestion };

// One message box to show, modally, with an OK button.
struct BoxMessage {
  std::string caption;
  std::string text;
  BoxIcon icon = BoxIcon::kStop;

  friend bool operator==(const BoxMessage&, const BoxMessage&) = default;
};

// printf into a std::string (the dialogs' texts are printf formats).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rd::ui
