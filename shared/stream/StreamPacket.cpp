#include "shared/stream/StreamPacket.h"

#include <cstdio>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace rd {

RecTime RecTime::FromHeader(const uint8_t* header) {
  return RecTime{static_cast<uint8_t>(header[0] & 0x7F),
                 header[1],
                 header[2],
                 header[3],
                 header[4],
                 header[5]};
}

void RecTime::ToHeader(uint8_t* header) const {
  header[0] = static_cast<uint8_t>(year & 0x7F);
  header[1] = month;
  header[2] = day;
  header[3] = hour;
  header[4] = minute;
  header[5] = second;
}

std::string RecTime::Format() const {
  char text[40];
  std::snprintf(text, sizeof text, "20%02d/%02d/%02d %02d:%02d:%02d", year, month, day, hour,
                minute, second);
  return text;
}

namespace {

// Exchanges the bytes of the 16-bit words of 8 bytes.
inline uint64_t SwapPairs64(uint64_t x) {
  return ((x & 0x00FF00FF00FF00FFull) << 8) | ((x >> 8) & 0x00FF00FF00FF00FFull);
}

#if defined(__x86_64__)
// 128 bytes per step in four 256-bit lanes; a shuffle exchanges each pair.
__attribute__((target("avx2"))) std::size_t PairSwapAvx2(uint8_t* data, std::size_t size) {
  const __m256i order = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0,
                                         3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  std::size_t i = 0;
  for (; i + 128 <= size; i += 128) {
    auto* p = reinterpret_cast<__m256i*>(data + i);
    const __m256i a = _mm256_loadu_si256(p);
    const __m256i b = _mm256_loadu_si256(p + 1);
    const __m256i c = _mm256_loadu_si256(p + 2);
    const __m256i d = _mm256_loadu_si256(p + 3);
    _mm256_storeu_si256(p, _mm256_shuffle_epi8(a, order));
    _mm256_storeu_si256(p + 1, _mm256_shuffle_epi8(b, order));
    _mm256_storeu_si256(p + 2, _mm256_shuffle_epi8(c, order));
    _mm256_storeu_si256(p + 3, _mm256_shuffle_epi8(d, order));
  }
  return i;
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

void PairSwap(uint8_t* data, std::size_t size) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (HasAvx2()) i = PairSwapAvx2(data, size);
#endif
  for (; i + 8 <= size; i += 8) {
    uint64_t x;
    std::memcpy(&x, data + i, 8);
    x = SwapPairs64(x);
    std::memcpy(data + i, &x, 8);
  }
  for (; i + 1 < size; i += 2) std::swap(data[i], data[i + 1]);
}

}  // namespace rd
