#include "shared/stream/ByteOrder.h"

#include <gtest/gtest.h>

#include <array>

namespace rd {
namespace {

TEST(ByteOrder, LoadsAndStoresEachOrderAtAnyAddress) {
  // An odd offset: nothing may assume alignment.
  std::array<uint8_t, 12> b{};
  uint8_t* p = b.data() + 3;
  StoreLe32(p, 0x11223344u);
  EXPECT_EQ((std::array<uint8_t, 4>{p[0], p[1], p[2], p[3]}),
            (std::array<uint8_t, 4>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(LoadLe32(p), 0x11223344u);
  EXPECT_EQ(LoadBe32(p), 0x44332211u);
  EXPECT_EQ(LoadLe16(p), 0x3344);
  EXPECT_EQ(LoadBe16(p), 0x4433);

  StoreBe32(p, 0xA1B2C3D4u);
  EXPECT_EQ(p[0], 0xA1);
  EXPECT_EQ(p[3], 0xD4);
  EXPECT_EQ(LoadBe32(p), 0xA1B2C3D4u);
  StoreLe16(p, 0xBEEF);
  EXPECT_EQ(p[0], 0xEF);
  EXPECT_EQ(p[1], 0xBE);
  StoreBe16(p, 0xBEEF);
  EXPECT_EQ(p[0], 0xBE);
  EXPECT_EQ(p[1], 0xEF);
  EXPECT_EQ(p[2], 0xC3);  // only two bytes written

  const uint8_t eight[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8};
  EXPECT_EQ(LoadBe64(eight), 0x01020304050607F8ull);
}

}  // namespace
}  // namespace rd
