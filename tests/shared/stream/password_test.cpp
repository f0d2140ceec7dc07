// The command-line password: six hexadecimal digits of either case.

#include "shared/stream/Password.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rd {
namespace {

TEST(Password, SixHexDigitsOfEitherCase) {
  using Digits = std::array<uint8_t, 6>;
  EXPECT_EQ(ParsePassword("123456"), (Digits{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ParsePassword("09aF17"), (Digits{0, 9, 10, 15, 1, 7}));
  EXPECT_EQ(ParsePassword("ABCDEF"), (Digits{10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(ParsePassword("abcdef"), (Digits{10, 11, 12, 13, 14, 15}));
  const std::string with_nul(
      "123\0"
      "56",
      6);
  for (const std::string& bad :
       std::vector<std::string>{"", "12345", "1234567", "12345G", "12345g", " 12345", "12 456",
                                "-12345", "0x1234", with_nul})
    EXPECT_FALSE(ParsePassword(bad)) << bad;
}

}  // namespace
}  // namespace rd
