#pragma once
// The session password as it is typed on a command line: six hexadecimal
// digits, upper or lower case.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace rd {

// Six hexadecimal digits to their six values 0..15 in typed order; nullopt
// when the text is not exactly six hexadecimal digits.
std::optional<std::array<uint8_t, 6>> ParsePassword(std::string_view text);

}  // namespace rd
