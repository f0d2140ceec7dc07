#include "shared/mjpeg/MjpegTables.h"

namespace rd::mjpeg {

const std::array<uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

const std::array<uint8_t, 64> kIntraQuantMatrix = {8,  16, 19, 22, 26, 27, 29, 34,  //
                                                   16, 16, 22, 24, 27, 29, 34, 37,  //
                                                   19, 22, 26, 27, 29, 34, 34, 38,  //
                                                   22, 22, 26, 27, 29, 34, 37, 40,  //
                                                   22, 26, 27, 29, 32, 35, 40, 48,  //
                                                   26, 27, 29, 32, 35, 40, 48, 58,  //
                                                   26, 27, 29, 34, 38, 46, 56, 69,  //
                                                   27, 29, 35, 38, 46, 56, 69, 83};

namespace {

// A code written as in the standard's table, '0'/'1' with spaces for reading.
constexpr CoefCode Code(int run, int level, const char* text) {
  uint16_t bits = 0;
  uint8_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == ' ') continue;
    bits = static_cast<uint16_t>((bits << 1) | (*p == '1' ? 1 : 0));
    ++length;
  }
  return CoefCode{static_cast<uint8_t>(run), static_cast<uint8_t>(level), length, bits};
}

}  // namespace

// ISO/IEC 13818-2 Table B.14 (DCT coefficients table zero), codes without the
// trailing sign bit; run 0 level 1 in its "11" form (not first coefficient).
const std::array<CoefCode, kCoefCodeCount> kCoefCodes = {{
    Code(0, 1, "11"),
    Code(1, 1, "011"),
    Code(0, 2, "0100"),
    Code(2, 1, "0101"),
    Code(0, 3, "0010 1"),
    Code(3, 1, "0011 1"),
    Code(4, 1, "0011 0"),
    Code(1, 2, "0001 10"),
    Code(5, 1, "0001 11"),
    Code(6, 1, "0001 01"),
    Code(7, 1, "0001 00"),
    Code(0, 4, "0000 110"),
    Code(2, 2, "0000 100"),
    Code(8, 1, "0000 111"),
    Code(9, 1, "0000 101"),
    Code(0, 5, "0010 0110"),
    Code(0, 6, "0010 0001"),
    Code(1, 3, "0010 0101"),
    Code(3, 2, "0010 0100"),
    Code(10, 1, "0010 0111"),
    Code(11, 1, "0010 0011"),
    Code(12, 1, "0010 0010"),
    Code(13, 1, "0010 0000"),
    Code(0, 7, "0000 0010 10"),
    Code(1, 4, "0000 0011 00"),
    Code(2, 3, "0000 0010 11"),
    Code(4, 2, "0000 0011 11"),
    Code(5, 2, "0000 0010 01"),
    Code(14, 1, "0000 0011 10"),
    Code(15, 1, "0000 0011 01"),
    Code(16, 1, "0000 0010 00"),
    Code(0, 8, "0000 0001 1101"),
    Code(0, 9, "0000 0001 1000"),
    Code(0, 10, "0000 0001 0011"),
    Code(0, 11, "0000 0001 0000"),
    Code(1, 5, "0000 0001 1011"),
    Code(2, 4, "0000 0001 0100"),
    Code(3, 3, "0000 0001 1100"),
    Code(4, 3, "0000 0001 0010"),
    Code(6, 2, "0000 0001 1110"),
    Code(7, 2, "0000 0001 0101"),
    Code(8, 2, "0000 0001 0001"),
    Code(17, 1, "0000 0001 1111"),
    Code(18, 1, "0000 0001 1010"),
    Code(19, 1, "0000 0001 1001"),
    Code(20, 1, "0000 0001 0111"),
    Code(21, 1, "0000 0001 0110"),
    Code(0, 12, "0000 0000 1101 0"),
    Code(0, 13, "0000 0000 1100 1"),
    Code(0, 14, "0000 0000 1100 0"),
    Code(0, 15, "0000 0000 1011 1"),
    Code(1, 6, "0000 0000 1011 0"),
    Code(1, 7, "0000 0000 1010 1"),
    Code(2, 5, "0000 0000 1010 0"),
    Code(3, 4, "0000 0000 1001 1"),
    Code(5, 3, "0000 0000 1001 0"),
    Code(9, 2, "0000 0000 1000 1"),
    Code(10, 2, "0000 0000 1000 0"),
    Code(22, 1, "0000 0000 1111 1"),
    Code(23, 1, "0000 0000 1111 0"),
    Code(24, 1, "0000 0000 1110 1"),
    Code(25, 1, "0000 0000 1110 0"),
    Code(26, 1, "0000 0000 1101 1"),
    Code(0, 16, "0000 0000 0111 11"),
    Code(0, 17, "0000 0000 0111 10"),
    Code(0, 18, "0000 0000 0111 01"),
    Code(0, 19, "0000 0000 0111 00"),
    Code(0, 20, "0000 0000 0110 11"),
    Code(0, 21, "0000 0000 0110 10"),
    Code(0, 22, "0000 0000 0110 01"),
    Code(0, 23, "0000 0000 0110 00"),
    Code(0, 24, "0000 0000 0101 11"),
    Code(0, 25, "0000 0000 0101 10"),
    Code(0, 26, "0000 0000 0101 01"),
    Code(0, 27, "0000 0000 0101 00"),
    Code(0, 28, "0000 0000 0100 11"),
    Code(0, 29, "0000 0000 0100 10"),
    Code(0, 30, "0000 0000 0100 01"),
    Code(0, 31, "0000 0000 0100 00"),
    Code(0, 32, "0000 0000 0011 000"),
    Code(0, 33, "0000 0000 0010 111"),
    Code(0, 34, "0000 0000 0010 110"),
    Code(0, 35, "0000 0000 0010 101"),
    Code(0, 36, "0000 0000 0010 100"),
    Code(0, 37, "0000 0000 0010 011"),
    Code(0, 38, "0000 0000 0010 010"),
    Code(0, 39, "0000 0000 0010 001"),
    Code(0, 40, "0000 0000 0010 000"),
    Code(1, 8, "0000 0000 0011 111"),
    Code(1, 9, "0000 0000 0011 110"),
    Code(1, 10, "0000 0000 0011 101"),
    Code(1, 11, "0000 0000 0011 100"),
    Code(1, 12, "0000 0000 0011 011"),
    Code(1, 13, "0000 0000 0011 010"),
    Code(1, 14, "0000 0000 0011 001"),
    Code(1, 15, "0000 0000 0001 0011"),
    Code(1, 16, "0000 0000 0001 0010"),
    Code(1, 17, "0000 0000 0001 0001"),
    Code(1, 18, "0000 0000 0001 0000"),
    Code(6, 3, "0000 0000 0001 0100"),
    Code(11, 2, "0000 0000 0001 1010"),
    Code(12, 2, "0000 0000 0001 1001"),
    Code(13, 2, "0000 0000 0001 1000"),
    Code(14, 2, "0000 0000 0001 0111"),
    Code(15, 2, "0000 0000 0001 0110"),
    Code(16, 2, "0000 0000 0001 0101"),
    Code(27, 1, "0000 0000 0001 1111"),
    Code(28, 1, "0000 0000 0001 1110"),
    Code(29, 1, "0000 0000 0001 1101"),
    Code(30, 1, "0000 0000 0001 1100"),
    Code(31, 1, "0000 0000 0001 1011"),
}};

namespace {

struct LookupTable {
  std::array<CoefEntry, 65536> entries{};
  LookupTable() {
    auto fill = [this](uint32_t bits, int length, CoefEntry entry) {
      const uint32_t first = bits << (16 - length);
      const uint32_t count = 1u << (16 - length);
      for (uint32_t i = 0; i < count; ++i) entries[first + i] = entry;
    };
    for (const CoefCode& c : kCoefCodes)
      fill(c.bits, c.length, MakeCoefEntry(c.run, c.level, c.length));
    fill(kEobBits, kEobLength, kCoefEntryEob);
    fill(kEscapeBits, kEscapeLength, kCoefEntryEscape);
  }
};

struct EncodeTable {
  std::array<std::array<CoefVlc, kMaxCodedLevel + 1>, kMaxCodedRun + 1> codes{};
  EncodeTable() {
    for (const CoefCode& c : kCoefCodes) codes[c.run][c.level] = CoefVlc{c.bits, c.length};
  }
};

const EncodeTable& Encoder() {
  static const EncodeTable table;
  return table;
}

}  // namespace

const CoefEntry* CoefLookupTable() {
  static const LookupTable table;
  return table.entries.data();
}

CoefVlc CoefEncode(int run, int abs_level) {
  if (run < 0 || run > kMaxCodedRun || abs_level < 1 || abs_level > kMaxCodedLevel) return {0, 0};
  return Encoder().codes[run][abs_level];
}

int CoefEscape(int run, int level, uint32_t* bits) {
  if (bits == nullptr || run < 0 || run > 63 || level < -256 || level > 255 || level == 0) return 0;
  uint32_t head = (kEscapeBits << 6) | static_cast<uint32_t>(run);  // 12 bits
  if (level >= 1 && level <= 127) {
    *bits = (head << 8) | static_cast<uint32_t>(level);
    return 20;
  }
  if (level >= -127 && level <= -1) {
    *bits = (head << 8) | static_cast<uint32_t>(level + 256);  // v = 129..255
    return 20;
  }
  if (level > 0) {  // 128..255: v = 0, then the level
    *bits = (head << 16) | static_cast<uint32_t>(level);
    return 28;
  }
  // -256..-128: v = 128, then level + 256
  *bits = (head << 16) | (128u << 8) | static_cast<uint32_t>(level + 256);
  return 28;
}

}  // namespace rd::mjpeg
