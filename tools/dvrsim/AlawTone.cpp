#include "tools/dvrsim/AlawTone.h"

#include <cmath>
#include <numbers>

namespace rd::sim {

uint8_t LinearToAlaw(int16_t pcm) {
  int sample = pcm;
  uint8_t sign = 0x80;
  if (sample < 0) {
    sign = 0x00;
    sample = -sample - 1;
  }
  if (sample > 32767) sample = 32767;
  sample >>= 3;  // 13-bit magnitude
  uint8_t code;
  if (sample < 32) {
    code = static_cast<uint8_t>(sample >> 1);
  } else {
    int seg = 1;
    for (int v = sample >> 5; v > 1 && seg < 7; v >>= 1) ++seg;
    code = static_cast<uint8_t>((seg << 4) | ((sample >> seg) & 0x0F));
  }
  return static_cast<uint8_t>((code | sign) ^ 0x55);
}

int16_t AlawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  int seg = (a & 0x70) >> 4;
  switch (seg) {
    case 0:
      t += 8;
      break;
    case 1:
      t += 0x108;
      break;
    default:
      t += 0x108;
      t <<= seg - 1;
      break;
  }
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

void FillTone(uint64_t first, uint8_t* out, std::size_t count) {
  constexpr double kRate = 8000.0;
  for (std::size_t i = 0; i < count; ++i) {
    uint64_t n = first + i;
    double t = static_cast<double>(n % 8000) / kRate;  // position within the second
    double base = static_cast<double>(n) / kRate;
    double v = 0.25 * std::sin(2 * std::numbers::pi * 440.0 * base);
    if (t < 0.08) v += 0.35 * std::sin(2 * std::numbers::pi * 1000.0 * base);
    out[i] = LinearToAlaw(static_cast<int16_t>(v * 32767.0));
  }
}

}  // namespace rd::sim
