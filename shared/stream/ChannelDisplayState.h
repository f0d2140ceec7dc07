#pragma once
// The channel state that travels with every frame to the image handler, and
// the shape of the engine's channel-set getters: a quad flag followed by one
// flag per channel CH1..CH4. Five 32-bit integers, 20 bytes, compared byte for
// byte.

#include <cstdint>

namespace rd {

struct ChannelDisplayState {
  uint32_t quad = 0;      // non-zero: the picture already holds all four channels
  uint32_t channel[4]{};  // CH1..CH4 enabled (0 or 1)

  // Index 0 = quad flag, 1..4 = CH1..CH4.
  uint32_t& operator[](int i) { return i == 0 ? quad : channel[i - 1]; }
  uint32_t operator[](int i) const { return i == 0 ? quad : channel[i - 1]; }

  friend bool operator==(const ChannelDisplayState&, const ChannelDisplayState&) = default;
};

static_assert(sizeof(ChannelDisplayState) == 20, "five 32-bit flags");

}  // namespace rd
