#include "client/ui/models/ControlStates.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace rd::ui {

std::string ControlState::SelectedText() const {
  if (selected < 0 || selected >= static_cast<int>(items.size())) return {};
  return items[static_cast<std::size_t>(selected)];
}

const ControlState& ControlStates::at(int id) const {
  static const ControlState kNone;
  auto it = controls_.find(id);
  return it == controls_.end() ? kNone : it->second;
}

void ControlStates::SetList(int id, std::vector<std::string> items, int selected) {
  ControlState& c = controls_[id];
  c.items = std::move(items);
  c.selected = selected >= 0 && selected < static_cast<int>(c.items.size()) ? selected : -1;
  c.enabled = true;
}

void ControlStates::SetButton(int id, const std::string& text, CheckState check, bool enabled) {
  ControlState& c = controls_[id];
  c.text = text;
  c.check = check;
  c.enabled = enabled;
}

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buffer, static_cast<std::size_t>(std::min<int>(n, sizeof buffer - 1)));
}

}  // namespace rd::ui
