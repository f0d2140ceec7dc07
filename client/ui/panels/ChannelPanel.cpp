#include "client/ui/panels/ChannelPanel.h"

namespace rd::client::panels {

int CountChannels(const ChannelDisplayState& set) {
  if (set.quad != 0) return 1;
  int n = 0;
  for (uint32_t c : set.channel) n += c != 0 ? 1 : 0;
  return n;
}

void ApplyChannelsPresent(ChannelView& view, const ChannelDisplayState& present,
                          const ChannelDisplayState& wanted) {
  if (present.quad != 0) {
    view.quad = ChannelRow{.enabled = true, .checked = true, .on_air = true, .lit = true};
    for (ChannelRow& row : view.channel) row = ChannelRow{};
    return;
  }
  view.quad = ChannelRow{};
  for (int i = 0; i < 4; ++i) {
    const bool here = present.channel[i] != 0;
    const bool want = wanted.channel[i] != 0;
    view.channel[i] =
        ChannelRow{.enabled = here, .checked = here && want, .on_air = here, .lit = here && want};
  }
}

void ApplyChannelRefresh(ChannelView& view, const ChannelDisplayState& present,
                         const ChannelDisplayState& shown) {
  if (present.quad != 0) {
    for (ChannelRow& row : view.channel) {
      row.enabled = false;
      row.checked = false;
      row.lit = false;
    }
    view.quad.enabled = true;
    view.quad.checked = true;
    view.quad.lit = true;
    return;
  }
  view.quad.enabled = false;
  view.quad.checked = false;
  view.quad.lit = false;
  for (int i = 0; i < 4; ++i) {
    // A channel not shown keeps its buttons' enabled state but shows
    // unchecked with a dark dot: a refresh that answered an earlier click must
    // not leave a later click's channel checked once the stream has it off.
    const bool on = shown.channel[i] != 0;
    view.channel[i].checked = on;
    view.channel[i].lit = on;
    if (on) view.channel[i].enabled = true;
  }
}

std::optional<ChannelDisplayState> ChannelClick(const std::array<bool, 4>& checks) {
  ChannelDisplayState wanted;
  bool any = false;
  for (int i = 0; i < 4; ++i) {
    wanted.channel[i] = checks[i] ? 1 : 0;
    any |= checks[i];
  }
  if (!any) return std::nullopt;
  return wanted;
}

}  // namespace rd::client::panels
