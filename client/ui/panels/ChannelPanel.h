#pragma once
// The Channel Control rows of the main window without their widgets: for
// CH1..CH4 and Quad, whether the row's buttons (the wide and the narrow one,
// always set together) are enabled and checked, whether the on-air lamp and
// the lit dot show. The rules of the stream's channel presence (0x433), of
// the display refresh (0x434) and of a channel button's click.

#include <array>
#include <optional>

#include "shared/stream/ChannelDisplayState.h"

namespace rd::client::panels {

struct ChannelRow {
  bool enabled = false;
  bool checked = false;
  bool on_air = false;  // "OnAir" lamp, else "Off"
  bool lit = false;     // lit dot, else dark

  friend bool operator==(const ChannelRow&, const ChannelRow&) = default;
};

struct ChannelView {
  std::array<ChannelRow, 4> channel;  // CH1..CH4
  ChannelRow quad;

  friend bool operator==(const ChannelView&, const ChannelView&) = default;
};

// 1 for a quad picture, else the number of channels set.
int CountChannels(const ChannelDisplayState& set);

// The channels present on the stream changed (0x433): `wanted` is the
// snapshot of the last refresh.
void ApplyChannelsPresent(ChannelView& view, const ChannelDisplayState& present,
                          const ChannelDisplayState& wanted);

// The display refresh (0x434): the channels shown are enabled and checked
// with a lit dot, the others unchecked with a dark dot (enabled as they
// were); the on-air lamps are not touched.
void ApplyChannelRefresh(ChannelView& view, const ChannelDisplayState& present,
                         const ChannelDisplayState& shown);

// A channel button was clicked; `checks` are the four check states of the
// clicked layout after the click. Nullopt when no channel would be left:
// the clicked channel is to be checked again and nothing sent. Otherwise the
// channels wanted (quad flag 0) for the stream filter.
std::optional<ChannelDisplayState> ChannelClick(const std::array<bool, 4>& checks);

}  // namespace rd::client::panels
