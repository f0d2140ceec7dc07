#include "shared/stream/Password.h"

namespace rd {

std::optional<std::array<uint8_t, 6>> ParsePassword(std::string_view text) {
  if (text.size() != 6) return std::nullopt;
  std::array<uint8_t, 6> digits{};
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9')
      digits[i] = static_cast<uint8_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      digits[i] = static_cast<uint8_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      digits[i] = static_cast<uint8_t>(c - 'a' + 10);
    else
      return std::nullopt;
  }
  return digits;
}

}  // namespace rd
