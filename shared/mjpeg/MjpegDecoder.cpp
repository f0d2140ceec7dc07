#include "shared/mjpeg/MjpegDecoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "shared/mjpeg/MjpegTables.h"

#if defined(__x86_64__) || defined(__i386__)
#define RD_MJPEG_X86 1
#include <immintrin.h>
#define RD_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define RD_MJPEG_X86 0
#endif

namespace rd::mjpeg {

namespace {

// ---------------------------------------------------------------------------
// Vector paths: AVX2 where the CPU has it (checked once), scalar otherwise.

std::atomic<bool> g_vector_enabled{true};

bool CpuHasAvx2() {
#if RD_MJPEG_X86
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

bool UseAvx2() {
  return CpuHasAvx2() && g_vector_enabled.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// 32-bit signed arithmetic of the format definition with two's-complement wrap-around
// (the original's int arithmetic on its platform), without undefined behaviour.

inline int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t Shl(int32_t a, int n) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) << n);
}

constexpr int32_t kW1 = 2841;
constexpr int32_t kW2 = 2676;
constexpr int32_t kW3 = 2408;
constexpr int32_t kW5 = 1609;
constexpr int32_t kW6 = 1108;
constexpr int32_t kW7 = 565;

// Row pass on b[0..7] (stride `step` between elements), results as int16.
inline void IdctRow(int16_t* b, int step) {
  int32_t x1 = Shl(b[4 * step], 11);
  int32_t x2 = b[6 * step];
  int32_t x3 = b[2 * step];
  int32_t x4 = b[1 * step];
  int32_t x5 = b[7 * step];
  int32_t x6 = b[5 * step];
  int32_t x7 = b[3 * step];
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    const int16_t v = static_cast<int16_t>(Shl(b[0], 3));
    for (int k = 0; k < 8; ++k) b[k * step] = v;
    return;
  }
  int32_t x0 = Add(Shl(b[0], 11), 128);
  int32_t x8 = Mul(kW7, Add(x4, x5));
  x4 = Add(x8, Mul(kW1 - kW7, x4));
  x5 = Sub(x8, Mul(kW1 + kW7, x5));
  x8 = Mul(kW3, Add(x6, x7));
  x6 = Sub(x8, Mul(kW3 - kW5, x6));
  x7 = Sub(x8, Mul(kW3 + kW5, x7));
  x8 = Add(x0, x1);
  x0 = Sub(x0, x1);
  x1 = Mul(kW6, Add(x3, x2));
  x2 = Sub(x1, Mul(kW2 + kW6, x2));
  x3 = Add(x1, Mul(kW2 - kW6, x3));
  x1 = Add(x4, x6);
  x4 = Sub(x4, x6);
  x6 = Add(x5, x7);
  x5 = Sub(x5, x7);
  x7 = Add(x8, x3);
  x8 = Sub(x8, x3);
  x3 = Add(x0, x2);
  x0 = Sub(x0, x2);
  x2 = Add(Mul(181, Add(x4, x5)), 128) >> 8;
  x4 = Add(Mul(181, Sub(x4, x5)), 128) >> 8;
  b[0 * step] = static_cast<int16_t>(Add(x7, x1) >> 8);
  b[1 * step] = static_cast<int16_t>(Add(x3, x2) >> 8);
  b[2 * step] = static_cast<int16_t>(Add(x0, x4) >> 8);
  b[3 * step] = static_cast<int16_t>(Add(x8, x6) >> 8);
  b[4 * step] = static_cast<int16_t>(Sub(x8, x6) >> 8);
  b[5 * step] = static_cast<int16_t>(Sub(x0, x4) >> 8);
  b[6 * step] = static_cast<int16_t>(Sub(x3, x2) >> 8);
  b[7 * step] = static_cast<int16_t>(Sub(x7, x1) >> 8);
}

inline uint8_t ClipToByte(int32_t v) {
  // clip to -256..255 (the IDCT clip table), then clamp to 0..255.
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Column pass on column b[0], b[8], ..., b[56]; writes 8 samples down `out`.
inline void IdctColumn(const int16_t* b, uint8_t* out, std::ptrdiff_t stride) {
  int32_t x1 = Shl(b[8 * 4], 8);
  int32_t x2 = b[8 * 6];
  int32_t x3 = b[8 * 2];
  int32_t x4 = b[8 * 1];
  int32_t x5 = b[8 * 7];
  int32_t x6 = b[8 * 5];
  int32_t x7 = b[8 * 3];
  if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
    const uint8_t v = ClipToByte((b[0] + 32) >> 6);
    for (int k = 0; k < 8; ++k) out[k * stride] = v;
    return;
  }
  int32_t x0 = Add(Shl(b[0], 8), 8192);
  int32_t x8 = Add(Mul(kW7, Add(x4, x5)), 4);
  x4 = Add(x8, Mul(kW1 - kW7, x4)) >> 3;
  x5 = Sub(x8, Mul(kW1 + kW7, x5)) >> 3;
  x8 = Add(Mul(kW3, Add(x6, x7)), 4);
  x6 = Sub(x8, Mul(kW3 - kW5, x6)) >> 3;
  x7 = Sub(x8, Mul(kW3 + kW5, x7)) >> 3;
  x8 = Add(x0, x1);
  x0 = Sub(x0, x1);
  x1 = Add(Mul(kW6, Add(x3, x2)), 4);
  x2 = Sub(x1, Mul(kW2 + kW6, x2)) >> 3;
  x3 = Add(x1, Mul(kW2 - kW6, x3)) >> 3;
  x1 = Add(x4, x6);
  x4 = Sub(x4, x6);
  x6 = Add(x5, x7);
  x5 = Sub(x5, x7);
  x7 = Add(x8, x3);
  x8 = Sub(x8, x3);
  x3 = Add(x0, x2);
  x0 = Sub(x0, x2);
  x2 = Add(Mul(181, Add(x4, x5)), 128) >> 8;
  x4 = Add(Mul(181, Sub(x4, x5)), 128) >> 8;
  out[0 * stride] = ClipToByte(Add(x7, x1) >> 14);
  out[1 * stride] = ClipToByte(Add(x3, x2) >> 14);
  out[2 * stride] = ClipToByte(Add(x0, x4) >> 14);
  out[3 * stride] = ClipToByte(Add(x8, x6) >> 14);
  out[4 * stride] = ClipToByte(Sub(x8, x6) >> 14);
  out[5 * stride] = ClipToByte(Sub(x0, x4) >> 14);
  out[6 * stride] = ClipToByte(Sub(x3, x2) >> 14);
  out[7 * stride] = ClipToByte(Sub(x7, x1) >> 14);
}

// Scalar IDCT on transposed coefficients: row r of the block is
// coefficients_t[r], coefficients_t[8 + r], ... (stride 8).
void IdctTransposedScalar(const int16_t coefficients_t[64], uint8_t* out, std::ptrdiff_t stride) {
  int16_t b[64];
  for (int r = 0; r < 8; ++r) {
    for (int k = 0; k < 8; ++k) b[r * 8 + k] = coefficients_t[k * 8 + r];
  }
  for (int r = 0; r < 8; ++r) IdctRow(b + r * 8, 1);
  for (int c = 0; c < 8; ++c) IdctColumn(b + c, out + c, stride);
}

#if RD_MJPEG_X86
// The same arithmetic in eight 32-bit lanes (wrap-around, arithmetic shifts).
// The all-AC-zero shortcuts of the format definition give exactly what the general formulas
// give on such rows and columns, so the vector code needs no branches.
RD_TARGET_AVX2 inline void Transpose8x8(__m256i r[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
  const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
  const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
  const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
  const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

#define RD_SET1(v) _mm256_set1_epi32(v)

// One pass over eight lanes: kRow selects the row pass constants and shifts,
// else the column pass. b[0..7] in, results in b[0..7].
// kSparse: b[4..7] are zero (all coefficients of the block lie in its top-left
// 4 x 4 corner; then rows 4..7 of the row pass output are zero too). The
// products of the format definition then reduce to single terms, e.g. W7 (b1 + 0) +
// (W1 - W7) b1 = W1 b1: the same values modulo 2^32 before every shift, so
// the results are identical.
template <bool kRow, bool kSparse>
RD_TARGET_AVX2 inline void IdctPass(__m256i b[8]) {
  const __m256i round = RD_SET1(kRow ? 0 : 4);
  __m256i x0 = _mm256_add_epi32(_mm256_slli_epi32(b[0], kRow ? 11 : 8), RD_SET1(kRow ? 128 : 8192));
  __m256i x1, x2, x3, x4, x5, x6, x7, x8;
  if (kSparse) {
    // x4 = W1 b1, x5 = W7 b1, x6 = W3 b3, x7 = -W5 b3, x2 = W6 b2, x3 = W2 b2
    // (plus the column pass rounding), x8 = x0 since b4 = 0.
    x4 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW1), b[1]), round);
    x5 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW7), b[1]), round);
    x6 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW3), b[3]), round);
    x7 = _mm256_sub_epi32(round, _mm256_mullo_epi32(RD_SET1(kW5), b[3]));
    x2 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW6), b[2]), round);
    x3 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW2), b[2]), round);
    if (!kRow) {
      x4 = _mm256_srai_epi32(x4, 3);
      x5 = _mm256_srai_epi32(x5, 3);
      x6 = _mm256_srai_epi32(x6, 3);
      x7 = _mm256_srai_epi32(x7, 3);
      x2 = _mm256_srai_epi32(x2, 3);
      x3 = _mm256_srai_epi32(x3, 3);
    }
    x8 = x0;
  } else {
    x1 = _mm256_slli_epi32(b[4], kRow ? 11 : 8);
    x2 = b[6];
    x3 = b[2];
    x4 = b[1];
    x5 = b[7];
    x6 = b[5];
    x7 = b[3];
    x8 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW7), _mm256_add_epi32(x4, x5)), round);
    x4 = _mm256_add_epi32(x8, _mm256_mullo_epi32(RD_SET1(kW1 - kW7), x4));
    x5 = _mm256_sub_epi32(x8, _mm256_mullo_epi32(RD_SET1(kW1 + kW7), x5));
    x8 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW3), _mm256_add_epi32(x6, x7)), round);
    x6 = _mm256_sub_epi32(x8, _mm256_mullo_epi32(RD_SET1(kW3 - kW5), x6));
    x7 = _mm256_sub_epi32(x8, _mm256_mullo_epi32(RD_SET1(kW3 + kW5), x7));
    if (!kRow) {
      x4 = _mm256_srai_epi32(x4, 3);
      x5 = _mm256_srai_epi32(x5, 3);
      x6 = _mm256_srai_epi32(x6, 3);
      x7 = _mm256_srai_epi32(x7, 3);
    }
    x8 = _mm256_add_epi32(x0, x1);
    x0 = _mm256_sub_epi32(x0, x1);
    x1 = _mm256_add_epi32(_mm256_mullo_epi32(RD_SET1(kW6), _mm256_add_epi32(x3, x2)), round);
    x2 = _mm256_sub_epi32(x1, _mm256_mullo_epi32(RD_SET1(kW2 + kW6), x2));
    x3 = _mm256_add_epi32(x1, _mm256_mullo_epi32(RD_SET1(kW2 - kW6), x3));
    if (!kRow) {
      x2 = _mm256_srai_epi32(x2, 3);
      x3 = _mm256_srai_epi32(x3, 3);
    }
  }
  x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  const __m256i c181 = RD_SET1(181);
  const __m256i c128 = RD_SET1(128);
  x2 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(c181, _mm256_add_epi32(x4, x5)), c128),
                         8);
  x4 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(c181, _mm256_sub_epi32(x4, x5)), c128),
                         8);
  constexpr int kShift = kRow ? 8 : 14;
  b[0] = _mm256_srai_epi32(_mm256_add_epi32(x7, x1), kShift);
  b[1] = _mm256_srai_epi32(_mm256_add_epi32(x3, x2), kShift);
  b[2] = _mm256_srai_epi32(_mm256_add_epi32(x0, x4), kShift);
  b[3] = _mm256_srai_epi32(_mm256_add_epi32(x8, x6), kShift);
  b[4] = _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), kShift);
  b[5] = _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), kShift);
  b[6] = _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), kShift);
  b[7] = _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), kShift);
}

// Results are stored back as 16-bit values: keep the low 16 bits, sign-extended.
RD_TARGET_AVX2 inline __m256i Truncate16(__m256i v) {
  return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
}

// Clips and clamps rows v[0..7] (lane = column) to 0..255 and stores them.
RD_TARGET_AVX2 inline void StoreRows(__m256i v[8], uint8_t* out, std::ptrdiff_t stride) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i max = RD_SET1(255);
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) v[j] = _mm256_max_epi32(_mm256_min_epi32(v[j], max), zero);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
#pragma GCC unroll 8
  for (int j = 0; j < 8; j += 4) {
    const __m256i p01 = _mm256_packus_epi32(v[j], v[j + 1]);
    const __m256i p23 = _mm256_packus_epi32(v[j + 2], v[j + 3]);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p01, p23), order);
    const __m128i lo = _mm256_castsi256_si128(bytes);
    const __m128i hi = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (j + 0) * stride), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (j + 1) * stride),
                     _mm_unpackhi_epi64(lo, lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (j + 2) * stride), hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (j + 3) * stride),
                     _mm_unpackhi_epi64(hi, hi));
  }
}

RD_TARGET_AVX2 void IdctTransposedAvx2(const int16_t coefficients_t[64], uint8_t* out,
                                       std::ptrdiff_t stride) {
  // Vector j = coefficient j of rows 0..7 (the transposed layout makes it one load).
  __m256i v[8];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) {
    v[j] = _mm256_cvtepi16_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients_t + 8 * j)));
  }
  IdctPass<true, false>(v);
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) v[j] = Truncate16(v[j]);
  // v[k] lane r = sample (row r, column k); the column pass wants lane = column.
  Transpose8x8(v);
  IdctPass<false, false>(v);
  // v[j] lane c = sample (row j, column c).
  StoreRows(v, out, stride);
}

// The same for a block whose coefficients all lie in rows 0..3 and columns
// 0..3 (natural order).
RD_TARGET_AVX2 void IdctTransposedAvx2Sparse(const int16_t coefficients_t[64], uint8_t* out,
                                             std::ptrdiff_t stride) {
  __m256i v[8];
#pragma GCC unroll 8
  for (int j = 0; j < 4; ++j) {
    v[j] = _mm256_cvtepi16_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coefficients_t + 8 * j)));
  }
  IdctPass<true, true>(v);
  // v[k] lane r: only rows r = 0..3 can be non-zero. Put v[k] (k = 0..3) and
  // v[k + 4] in one vector, then transpose 4 x 4 within each 128-bit half:
  // the low half gives columns 0..3 of row j, the high half columns 4..7.
  __m256i w[4];
#pragma GCC unroll 8
  for (int k = 0; k < 4; ++k) {
    w[k] = Truncate16(_mm256_permute2x128_si256(v[k], v[k + 4], 0x20));
  }
  const __m256i t0 = _mm256_unpacklo_epi32(w[0], w[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(w[0], w[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(w[2], w[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(w[2], w[3]);
  v[0] = _mm256_unpacklo_epi64(t0, t2);
  v[1] = _mm256_unpackhi_epi64(t0, t2);
  v[2] = _mm256_unpacklo_epi64(t1, t3);
  v[3] = _mm256_unpackhi_epi64(t1, t3);
  IdctPass<false, true>(v);
  StoreRows(v, out, stride);
}
#undef RD_SET1
#endif

// ---------------------------------------------------------------------------
// Bit reader over the frame bytes plus the format's end-of-data padding: zero
// bytes up to the next multiple of four bytes from the start of the data, then
// 00 00 01 FF repeated without end. Bits are read most significant first.

class BitReader {
 public:
  BitReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {
    round4_ = size + ((4 - (size & 3)) & 3);
    tail_start_ = size > 8 ? size - 8 : 0;
    for (std::size_t k = 0; k < sizeof(tail_); ++k) tail_[k] = ByteAt(tail_start_ + k);
    pattern_offset_ = round4_ - tail_start_;
    Refill();
  }

  // The logical byte at position p (data, then padding).
  uint8_t ByteAt(std::size_t p) const {
    if (p < size_) return data_[p];
    if (p < round4_) return 0;
    static constexpr uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xFF};
    return kEnd[(p - round4_) & 3];
  }

  // Makes at least 56 bits available.
  inline void Refill() {
    window_ |= Load64(pos_) >> count_;
    pos_ += (63 - count_) >> 3;
    count_ |= 56;
  }
  inline void Need(int n) {
    if (count_ < n) Refill();
  }
  // Next n bits (1..32) without consuming them; needs Need(n) before.
  inline uint32_t Peek(int n) const { return static_cast<uint32_t>(window_ >> (64 - n)); }
  inline void Skip(int n) {
    window_ <<= n;
    count_ -= n;
  }
  inline uint32_t Get(int n) {
    Need(n);
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  inline uint32_t Show(int n) {
    Need(n);
    return Peek(n);
  }
  void ByteAlign() { Skip(count_ & 7); }

  // Byte position of the next unread bit (reader byte-aligned).
  std::size_t BytePosition() const { return pos_ - static_cast<std::size_t>(count_ >> 3); }
  void Seek(std::size_t byte_position) {
    pos_ = byte_position;
    window_ = 0;
    count_ = 0;
    Refill();
  }

  // Slice search: skip to the byte boundary, then advance byte by byte until
  // the next 24 bits are 00 00 01. Always ends: the padding has start codes.
  void NextStartCode() {
    ByteAlign();
    std::size_t p = BytePosition();
    // Fast scan inside the data for the 01 of 00 00 01.
    while (size_ >= 3 && p + 3 <= size_) {
      const void* hit = std::memchr(data_ + p + 2, 0x01, size_ - p - 2);
      if (hit == nullptr) {
        p = size_ - 2;
        break;
      }
      const std::size_t k = static_cast<const uint8_t*>(hit) - data_;
      if (data_[k - 1] == 0 && data_[k - 2] == 0) {
        Seek(k - 2);
        return;
      }
      p = k - 1;
    }
    // Near the end and in the padding: byte by byte over the logical stream.
    while (!(ByteAt(p) == 0 && ByteAt(p + 1) == 0 && ByteAt(p + 2) == 1)) ++p;
    Seek(p);
  }

  // The window as a value, for hot loops that keep it in registers.
  struct State {
    uint64_t window;
    int count;
    std::size_t pos;
  };
  State state() const { return State{window_, count_, pos_}; }
  void set_state(const State& s) {
    window_ = s.window;
    count_ = s.count;
    pos_ = s.pos;
  }
  inline void Need(State& s, int n) const {
    if (s.count < n) {
      s.window |= Load64(s.pos) >> s.count;
      s.pos += (63 - s.count) >> 3;
      s.count |= 56;
    }
  }
  static inline void Skip(State& s, int n) {
    s.window <<= n;
    s.count -= n;
  }

 private:
  static inline uint64_t LoadBigEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
  }
  inline uint64_t Load64(std::size_t p) const {
    if (p + 8 <= size_) return LoadBigEndian64(data_ + p);
    std::size_t off = p - tail_start_;
    if (off >= pattern_offset_ + 4) off = pattern_offset_ + ((off - pattern_offset_) & 3);
    return LoadBigEndian64(tail_ + off);
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t round4_;
  std::size_t tail_start_;
  std::size_t pattern_offset_;
  uint8_t tail_[32];
  std::size_t pos_ = 0;  // next byte to load into the window
  uint64_t window_ = 0;  // left-aligned bits
  int count_ = 0;        // valid bits in window_
};

constexpr uint32_t kFrameStartCode = 0x000001F8;
constexpr uint32_t kEndOfDataCode = 0x000001FF;

// Per scan index: the storage position (transposed natural order) and
// whether the position lies outside the top-left 4 x 4 corner.
struct ScanEntry {
  uint16_t qmul;    // S * W[zigzag[i]], set per frame
  uint8_t tpos;     // (p % 8) * 8 + p / 8 for p = zigzag[i]
  uint8_t outside;  // 1 if p's row or column is 4 or more
};

struct DitherTables {
  std::array<uint8_t, 272> level_y{};   // t = -8..263
  std::array<uint8_t, 144> cb_level{};  // c(t) * 4, t = 0..143
  std::array<uint8_t, 144> cr_level{};  // c(t)
};

// Dither offsets by row mod 4 and column mod 4.
constexpr uint8_t kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

}  // namespace

// ---------------------------------------------------------------------------

struct MjpegDecoder::Impl {
  // Planes in one allocation.
  std::unique_ptr<uint8_t[]> planes;
  // Dither tables of the format definition, built at Open (the clamp and clip tables of
  // the format definition are comparisons here, with the same results).
  DitherTables dither;
  const CoefEntry* coef_lookup = nullptr;
  // Per frame: quantiser products S * W[p] and storage positions by scan index.
  std::array<ScanEntry, 64> scan{};
  alignas(32) int16_t block[64] = {};
};

MjpegDecoder::MjpegDecoder() = default;

MjpegDecoder::~MjpegDecoder() {
  Close();
}

void MjpegDecoder::Open(VideoStandard standard) {
  if (open_) return;
  const int w = 640;
  const int h = standard == VideoStandard::kPal ? 272 : 224;
  std::unique_ptr<Impl> impl(new (std::nothrow) Impl);
  const std::size_t plane_bytes = static_cast<std::size_t>(w) * h + 2 * (w / 2) * (h / 2);
  if (impl) impl->planes.reset(new (std::nothrow) uint8_t[plane_bytes]());
  if (!impl || !impl->planes) {
    std::fputs("malloc failed\n", stderr);
    return;
  }
  for (int t = -8; t <= 263; ++t) {
    impl->dither.level_y[t + 8] = static_cast<uint8_t>(std::clamp(t >> 4, 1, 14) * 16);
  }
  for (int t = 0; t < 144; ++t) {
    const int c = std::clamp((t - 40) >> 4, 0, 3);
    impl->dither.cb_level[t] = static_cast<uint8_t>(c * 4);
    impl->dither.cr_level[t] = static_cast<uint8_t>(c);
  }
  impl->coef_lookup = CoefLookupTable();
  for (int i = 0; i < 64; ++i) {
    const int p = kZigzag[i];
    impl->scan[i].tpos = static_cast<uint8_t>((p & 7) * 8 + (p >> 3));
    impl->scan[i].outside = (p & 7) >= 4 || (p >> 3) >= 4 ? 1 : 0;
  }
  width_ = w;
  height_ = h;
  y_ = impl->planes.get();
  cb_ = y_ + static_cast<std::size_t>(w) * h;
  cr_ = cb_ + static_cast<std::size_t>(w / 2) * (h / 2);
  impl_ = std::move(impl);
  picture_end_ = PictureEnd::kNone;
  open_ = true;
}

void MjpegDecoder::Close() {
  if (!open_) return;
  impl_.reset();
  y_ = cb_ = cr_ = nullptr;
  width_ = height_ = 0;
  open_ = false;
}

void MjpegDecoder::PaletteColour(int index, uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (index < kFirstPaletteIndex || index >= kPaletteSize) {
    *red = *green = *blue = 0;
    return;
  }
  const int32_t u = 32 * ((index >> 2) & 3) - 48;
  const int32_t v = 32 * (index & 3) - 48;
  const int32_t y = 1220944 * (index >> 4) - 610472;
  auto clamp8 = [](int32_t x) { return static_cast<uint8_t>(std::clamp(x, 0, 255)); };
  *red = clamp8((y + 104597 * v + 32768) >> 16);
  *green = clamp8((y - 25675 * u - 53279 * v + 32768) >> 16);
  *blue = clamp8((y + 132201 * u + 32768) >> 16);
}

namespace {
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
void FillInfoHeader(uint8_t* p, int width, int height, int bits, int colours) {
  std::memset(p, 0, kBitmapInfoHeaderSize);
  Put32(p + 0, 40);
  Put32(p + 4, static_cast<uint32_t>(width));
  Put32(p + 8, static_cast<uint32_t>(height));
  Put16(p + 12, 1);
  Put16(p + 14, static_cast<uint32_t>(bits));
  Put32(p + 32, static_cast<uint32_t>(colours));
  Put32(p + 36, static_cast<uint32_t>(colours));
}
}  // namespace

int MjpegDecoder::BuildBitmapInfo(uint8_t* true_colour_info, uint8_t* palette_info,
                                  uint8_t* logical_palette) const {
  if (true_colour_info == nullptr || palette_info == nullptr || logical_palette == nullptr ||
      !open_) {
    return kStatusNullPointer;
  }
  FillInfoHeader(true_colour_info, width_, 2 * height_, 24, 0);
  FillInfoHeader(palette_info, width_, 2 * height_, 8, kPaletteSize);
  for (int i = 0; i < kPaletteSize; ++i) Put16(palette_info + kBitmapInfoHeaderSize + 2 * i, i);
  Put16(logical_palette, 0x300);
  Put16(logical_palette + 2, kPaletteSize);
  for (int i = 0; i < kPaletteSize; ++i) {
    uint8_t* e = logical_palette + 4 + 4 * i;
    PaletteColour(i, &e[0], &e[1], &e[2]);
    e[3] = 0;
  }
  return 0;
}

std::size_t MjpegDecoder::OutputBytes(bool true_colour, bool half_size) const {
  if (!open_) return 0;
  const std::size_t bpp = true_colour ? 3 : 1;
  const std::size_t pitch = kOutputPitchPixels * bpp;
  if (half_size) return static_cast<std::size_t>(height_ - 7) * pitch + 320 * bpp;
  return static_cast<std::size_t>(2 * height_ - 11) * pitch;
}

uint8_t MjpegDecoder::DecodeFrame(const uint8_t* frame, std::size_t length, uint8_t* output,
                                  bool half_size) {
  if (frame == nullptr || output == nullptr || !open_) return kStatusNullPointer;
  const uint8_t status = DecodeToPlanes(frame, length);
  if (status != 0) return status;
  return ConvertToOutput(output, half_size);
}

// ---------------------------------------------------------------------------
// Picture decoding.

// Decodes one block's coefficients into impl->block (transposed layout, zeroed
// before) and writes its 64 samples to `out`. Returns false on failure (invalid
// code or index beyond 63); then nothing is written.
// Decodes one block's coefficients into `block` (transposed layout, all zero
// before and after) and writes its 64 samples to `out`. Returns false on
// failure (invalid code or index beyond 63); then nothing is written.
template <bool kAvx2>
static inline bool DecodeBlock(BitReader& br, const CoefEntry* lookup, const ScanEntry* scan,
                               int16_t* block, uint8_t* out, std::ptrdiff_t stride) {
  BitReader::State st = br.state();
  br.Need(st, 8);
  const int dc = static_cast<int>(st.window >> 56);
  BitReader::Skip(st, 8);
  int nonzero = 0;
  int outside = 0;
  int i = 0;
  bool ok = true;
  for (;;) {
    br.Need(st, 32);
    const uint64_t w = st.window;
    const CoefEntry e = lookup[w >> 48];
    if (e >= 32) {  // regular code: level >= 1
      const int len = CoefEntryLength(e);
      i += CoefEntryRun(e) + 1;
      if (i > 63) {
        ok = false;
        break;
      }
      const int negative = static_cast<int>((w << len) >> 63);
      BitReader::Skip(st, len + 1);
      const ScanEntry& se = scan[i];
      const int m = std::min((CoefEntryLevel(e) * se.qmul) >> 3, 2047 + negative);
      const int value = (m ^ -negative) + negative;  // negated when negative
      block[se.tpos] = static_cast<int16_t>(value);
      nonzero |= value;
      outside |= se.outside;
      continue;
    }
    if (e == kCoefEntryEob) {
      BitReader::Skip(st, kEobLength);
      break;
    }
    if (e != kCoefEntryEscape) {  // twelve leading zeros
      ok = false;
      break;
    }
    // 000001, run (6 bits), v (8 bits): 20 of the 32 bits ensured.
    const int run = static_cast<int>((w >> 52) & 63);
    const uint32_t v = static_cast<uint32_t>((w >> 44) & 255);
    BitReader::Skip(st, 20);
    int level;
    if (v == 0 || v == 128) {
      br.Need(st, 8);
      level = static_cast<int>(st.window >> 56) - (v == 128 ? 256 : 0);
      BitReader::Skip(st, 8);
    } else if (v > 128) {
      level = static_cast<int>(v) - 256;
    } else {
      level = static_cast<int>(v);
    }
    i += run + 1;
    if (i > 63) {
      ok = false;
      break;
    }
    const ScanEntry& se = scan[i];
    const int abs_level = level < 0 ? -level : level;
    const int m = (abs_level * se.qmul) >> 3;
    const int value = level < 0 ? -std::min(m, 2048) : std::min(m, 2047);
    block[se.tpos] = static_cast<int16_t>(value);
    nonzero |= value;
    outside |= se.outside;
  }
  br.set_state(st);
  if (!ok) {
    std::memset(block, 0, 64 * sizeof(int16_t));
    return false;
  }
  if (nonzero == 0) {
    // Only the DC term: both passes take their shortcuts, every sample is
    // clip((8 * dc * 8 + 32) >> 6) = dc. (Coefficients stored as 0 need no clearing.)
    for (int r = 0; r < 8; ++r) std::memset(out + r * stride, dc, 8);
    return true;
  }
  block[0] = static_cast<int16_t>(dc * 8);
#if RD_MJPEG_X86
  if (kAvx2) {
    if (outside == 0) {
      IdctTransposedAvx2Sparse(block, out, stride);
    } else {
      IdctTransposedAvx2(block, out, stride);
    }
  } else {
    IdctTransposedScalar(block, out, stride);
  }
#else
  IdctTransposedScalar(block, out, stride);
#endif
  std::memset(block, 0, 64 * sizeof(int16_t));
  return true;
}

uint8_t MjpegDecoder::DecodeToPlanes(const uint8_t* frame, std::size_t length) {
  if (frame == nullptr || !open_) return kStatusNullPointer;
  BitReader br(frame, length);
  br.NextStartCode();
  if (br.Show(32) == kEndOfDataCode) return kStatusNoStartCode;
  if (br.Get(32) != kFrameStartCode) return kStatusNotFrameStart;
  const bool full = br.Get(1) != 0;
  const int q = static_cast<int>(br.Get(4));
  br.Get(3);  // ChannelCode, not used by the decoder
  const int s = 2 * q;

  Impl& im = *impl_;
  for (int i = 0; i < 64; ++i)
    im.scan[i].qmul = static_cast<uint16_t>(s * kIntraQuantMatrix[kZigzag[i]]);
  std::memset(im.block, 0, sizeof(im.block));
  const bool avx2 = UseAvx2();
  const CoefEntry* lookup = im.coef_lookup;
  const int mb_cols = width_ / 16;
  const int mb_rows = height_ / 16;
  const int total = mb_cols * mb_rows;
  const std::ptrdiff_t ys = width_;
  const std::ptrdiff_t cs = width_ / 2;
  auto decode_block = [&](uint8_t* out, std::ptrdiff_t stride) {
    return avx2 ? DecodeBlock<true>(br, lookup, im.scan.data(), im.block, out, stride)
                : DecodeBlock<false>(br, lookup, im.scan.data(), im.block, out, stride);
  };

  int c = 0;
  int r = 0;
  PictureEnd end = PictureEnd::kFailed;
  for (;;) {
    if (c == mb_cols) c = 0;
    if (c == 0) {
      br.NextStartCode();
      br.Get(24);
      r = static_cast<int>(br.Get(5));
    }
    unsigned pattern = 0x0F;
    if (!full) {
      const uint32_t a = br.Show(6);
      if (a == 0) {
        br.ByteAlign();
        if (br.Show(28) > 30) {
          end = PictureEnd::kComplete;
          break;
        }
        c = mb_cols;
        continue;
      }
      br.Skip(6);
      c += static_cast<int>(a) - 1;
      pattern = br.Get(4);
    }
    // A macroblock outside the picture fails at its first block (blocks 4 and
    // 5 are always present), before anything of it is written; decoding that
    // block's coefficients first cannot change the outcome.
    if (r >= mb_rows || c >= mb_cols) break;
    bool ok = true;
    uint8_t* yblock = y_ + (16 * r) * ys + 16 * c;
    for (int k = 0; k < 4 && ok; ++k) {
      if ((pattern & (1u << k)) == 0) continue;
      uint8_t* out = yblock + (8 * (k >> 1)) * ys + 8 * (k & 1);
      ok = decode_block(out, ys);
    }
    if (ok) {
      ok = decode_block(cb_ + (8 * r) * cs + 8 * c, cs);
    }
    if (ok) {
      ok = decode_block(cr_ + (8 * r) * cs + 8 * c, cs);
    }
    if (!ok) {
      std::memset(im.block, 0, sizeof(im.block));
      break;
    }
    ++c;
    if (r * mb_cols + c == total) {
      end = PictureEnd::kComplete;
      break;
    }
  }
  picture_end_ = end;
  return 0;
}

// ---------------------------------------------------------------------------
// Colour conversion and output stage.

namespace {

inline uint8_t FloatToByte(float f) {
  if (f < 0.0f) f = 0.0f;
  if (f > 255.0f) f = 255.0f;
  return static_cast<uint8_t>(static_cast<int>(f));
}

// True colour, scalar: `count` output pixels; output pixel j takes luma
// y_row[j * step] and chroma (j * step) / 2.
void ConvertTrueColourScalar(const uint8_t* y_row, const uint8_t* cb_row, const uint8_t* cr_row,
                             int count, int step, uint8_t* out) {
  for (int j = 0; j < count; ++j) {
    const int x = j * step;
    const float y = static_cast<float>(y_row[x]);
    const float u = static_cast<float>(cb_row[x >> 1] - 128);
    const float v = static_cast<float>(cr_row[x >> 1] - 128);
    const float rv = 1.371f * v;
    const float gu = 0.336f * u;
    const float gv = 0.698f * v;
    const float bu = 1.732f * u;
    const float r = y + rv;
    const float g = (y - gu) - gv;
    const float b = y + bu;
    out[3 * j + 0] = FloatToByte(b);
    out[3 * j + 1] = FloatToByte(g);
    out[3 * j + 2] = FloatToByte(r);
  }
}

void ConvertPaletteScalar(const DitherTables& im, const uint8_t* y_row, const uint8_t* cb_row,
                          const uint8_t* cr_row, int count, int step, int picture_row,
                          uint8_t* out) {
  const uint8_t* dither = kDither[picture_row & 3];
  for (int j = 0; j < count; ++j) {
    const int x = j * step;
    const int d = dither[x & 3];
    const int t = y_row[x] + d - 8;
    out[j] = static_cast<uint8_t>(im.level_y[t + 8] + im.cb_level[(cb_row[x >> 1] >> 1) + d] +
                                  im.cr_level[(cr_row[x >> 1] >> 1) + d]);
  }
}

#if RD_MJPEG_X86
// Byte shuffles that interleave 16 B, 16 G and 16 R bytes into 48 bytes:
// output byte n = component n % 3 (B, G, R) of pixel n / 3.
struct InterleaveMasks {
  alignas(16) int8_t m[3][3][16];
};
constexpr InterleaveMasks MakeInterleaveMasks() {
  InterleaveMasks masks{};
  for (int part = 0; part < 3; ++part) {
    for (int comp = 0; comp < 3; ++comp) {
      for (int j = 0; j < 16; ++j) {
        const int n = part * 16 + j;
        masks.m[part][comp][j] = static_cast<int8_t>(n % 3 == comp ? n / 3 : -1);
      }
    }
  }
  return masks;
}
constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

// Sixteen 32-bit lanes (0..255) -> 16 bytes in order.
RD_TARGET_AVX2 inline __m128i PackBytes(__m256i a, __m256i b) {
  const __m256i w = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
  return _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
}

// 16 pixels: luma y16, chroma u16/v16 (already one per pixel) -> 48 bytes B,G,R.
RD_TARGET_AVX2 inline void TrueColour16(__m128i y16, __m128i u16, __m128i v16, uint8_t* out) {
  const __m256 k1371 = _mm256_set1_ps(1.371f);
  const __m256 k0336 = _mm256_set1_ps(0.336f);
  const __m256 k0698 = _mm256_set1_ps(0.698f);
  const __m256 k1732 = _mm256_set1_ps(1.732f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 max = _mm256_set1_ps(255.0f);
  const __m256i c128 = _mm256_set1_epi32(128);
  __m256i bi[2], gi[2], ri[2];
  for (int h = 0; h < 2; ++h) {
    const __m128i ys = h == 0 ? y16 : _mm_srli_si128(y16, 8);
    const __m128i us = h == 0 ? u16 : _mm_srli_si128(u16, 8);
    const __m128i vs = h == 0 ? v16 : _mm_srli_si128(v16, 8);
    const __m256 y = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(ys));
    const __m256 u = _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(us), c128));
    const __m256 v = _mm256_cvtepi32_ps(_mm256_sub_epi32(_mm256_cvtepu8_epi32(vs), c128));
    const __m256 r = _mm256_add_ps(y, _mm256_mul_ps(k1371, v));
    const __m256 g =
        _mm256_sub_ps(_mm256_sub_ps(y, _mm256_mul_ps(k0336, u)), _mm256_mul_ps(k0698, v));
    const __m256 b = _mm256_add_ps(y, _mm256_mul_ps(k1732, u));
    ri[h] = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(r, zero), max));
    gi[h] = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(g, zero), max));
    bi[h] = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(b, zero), max));
  }
  const __m128i B = PackBytes(bi[0], bi[1]);
  const __m128i G = PackBytes(gi[0], gi[1]);
  const __m128i R = PackBytes(ri[0], ri[1]);
  for (int part = 0; part < 3; ++part) {
    const __m128i mb = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][0]));
    const __m128i mg = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][1]));
    const __m128i mr = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[part][2]));
    const __m128i o = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(B, mb), _mm_shuffle_epi8(G, mg)),
                                   _mm_shuffle_epi8(R, mr));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * part), o);
  }
}

// Full width row: 640 pixels.
RD_TARGET_AVX2 void TrueColourRowFullAvx2(const uint8_t* y_row, const uint8_t* cb_row,
                                          const uint8_t* cr_row, int width, uint8_t* out) {
  for (int x = 0; x < width; x += 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + x));
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb_row + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr_row + x / 2));
    TrueColour16(y, _mm_unpacklo_epi8(u8, u8), _mm_unpacklo_epi8(v8, v8), out + 3 * x);
  }
}

// Half width: output pixel j takes luma 2j and chroma j.
RD_TARGET_AVX2 void TrueColourRowHalfAvx2(const uint8_t* y_row, const uint8_t* cb_row,
                                          const uint8_t* cr_row, int count, uint8_t* out) {
  const __m128i even = _mm_set1_epi16(0x00FF);
  for (int j = 0; j < count; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + 2 * j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + 2 * j + 16));
    const __m128i y = _mm_packus_epi16(_mm_and_si128(a, even), _mm_and_si128(b, even));
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb_row + j));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr_row + j));
    TrueColour16(y, u, v, out + 3 * j);
  }
}

// 16 pixels of 256-colour indices, all in 16-bit lanes. d16 holds the dither
// offsets of the 16 pixels. The defined tables are these formulas:
// level_Y(t) = clamp(t >> 4, 1, 14) * 16, c(t) = clamp((t - 40) >> 4, 0, 3).
RD_TARGET_AVX2 inline __m128i Palette16(__m128i y16, __m128i u16, __m128i v16, __m256i d) {
  const __m256i y = _mm256_cvtepu8_epi16(y16);
  const __m256i u = _mm256_srli_epi16(_mm256_cvtepu8_epi16(u16), 1);
  const __m256i v = _mm256_srli_epi16(_mm256_cvtepu8_epi16(v16), 1);
  const __m256i t = _mm256_add_epi16(y, _mm256_sub_epi16(d, _mm256_set1_epi16(8)));
  __m256i ly = _mm256_srai_epi16(t, 4);
  ly = _mm256_min_epi16(_mm256_max_epi16(ly, _mm256_set1_epi16(1)), _mm256_set1_epi16(14));
  const __m256i c40 = _mm256_set1_epi16(40);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i three = _mm256_set1_epi16(3);
  __m256i cu = _mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(u, d), c40), 4);
  cu = _mm256_min_epi16(_mm256_max_epi16(cu, zero), three);
  __m256i cv = _mm256_srai_epi16(_mm256_sub_epi16(_mm256_add_epi16(v, d), c40), 4);
  cv = _mm256_min_epi16(_mm256_max_epi16(cv, zero), three);
  const __m256i index =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(ly, 4), _mm256_slli_epi16(cu, 2)), cv);
  return _mm_packus_epi16(_mm256_castsi256_si128(index), _mm256_extracti128_si256(index, 1));
}

RD_TARGET_AVX2 void PaletteRowFullAvx2(const uint8_t* y_row, const uint8_t* cb_row,
                                       const uint8_t* cr_row, int width, int picture_row,
                                       uint8_t* out) {
  const uint8_t* dr = kDither[picture_row & 3];
  const __m256i d = _mm256_setr_epi16(dr[0], dr[1], dr[2], dr[3], dr[0], dr[1], dr[2], dr[3], dr[0],
                                      dr[1], dr[2], dr[3], dr[0], dr[1], dr[2], dr[3]);
  for (int x = 0; x < width; x += 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + x));
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb_row + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr_row + x / 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                     Palette16(y, _mm_unpacklo_epi8(u8, u8), _mm_unpacklo_epi8(v8, v8), d));
  }
}

RD_TARGET_AVX2 void PaletteRowHalfAvx2(const uint8_t* y_row, const uint8_t* cb_row,
                                       const uint8_t* cr_row, int count, int picture_row,
                                       uint8_t* out) {
  const uint8_t* dr = kDither[picture_row & 3];
  // Output pixel j is picture column 2j: columns mod 4 alternate 0, 2.
  const __m256i d = _mm256_setr_epi16(dr[0], dr[2], dr[0], dr[2], dr[0], dr[2], dr[0], dr[2], dr[0],
                                      dr[2], dr[0], dr[2], dr[0], dr[2], dr[0], dr[2]);
  const __m128i even = _mm_set1_epi16(0x00FF);
  for (int j = 0; j < count; j += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + 2 * j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_row + 2 * j + 16));
    const __m128i y = _mm_packus_epi16(_mm_and_si128(a, even), _mm_and_si128(b, even));
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb_row + j));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr_row + j));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), Palette16(y, u, v, d));
  }
}
#endif

}  // namespace

uint8_t MjpegDecoder::ConvertToOutput(uint8_t* output, bool half_size) {
  if (output == nullptr || !open_) return kStatusNullPointer;
  // The colour mode is read once per frame, when the conversion starts.
  const bool true_colour = true_colour_.load(std::memory_order_relaxed);
  half_size_ = half_size;
  const bool avx2 = UseAvx2();
  const Impl& im = *impl_;
  const int w = width_;
  const int h = height_;
  const std::size_t bpp = true_colour ? 3 : 1;
  const std::size_t pitch = kOutputPitchPixels * bpp;
  const int count = half_size ? w / 2 : w;
  const int step = half_size ? 2 : 1;

  // Converts picture row y (count pixels, every step-th column) into out.
  auto convert_row = [&](int y, uint8_t* out) {
    const uint8_t* yr = y_ + static_cast<std::size_t>(y) * w;
    const uint8_t* cbr = cb_ + static_cast<std::size_t>(y / 2) * (w / 2);
    const uint8_t* crr = cr_ + static_cast<std::size_t>(y / 2) * (w / 2);
#if RD_MJPEG_X86
    if (avx2) {
      if (true_colour) {
        if (half_size) {
          TrueColourRowHalfAvx2(yr, cbr, crr, count, out);
        } else {
          TrueColourRowFullAvx2(yr, cbr, crr, count, out);
        }
      } else {
        if (half_size) {
          PaletteRowHalfAvx2(yr, cbr, crr, count, y, out);
        } else {
          PaletteRowFullAvx2(yr, cbr, crr, count, y, out);
        }
      }
      return;
    }
#else
    (void)avx2;
#endif
    if (true_colour) {
      ConvertTrueColourScalar(yr, cbr, crr, count, step, out);
    } else {
      ConvertPaletteScalar(im.dither, yr, cbr, crr, count, step, y, out);
    }
  };

  // Conversion row k holds picture row H - 1 - k.
  if (half_size) {
    // Output row k (0..H-7) = conversion row k, pixel x from pixel 2x.
    for (int k = 0; k <= h - 7; ++k) convert_row(h - 1 - k, output + k * pitch);
  } else {
    // Output rows 2k and 2k+1 = conversion row k + 1 (k = 0..H-7); then output
    // row 2(H-6) = conversion row H-5.
    const std::size_t row_bytes = static_cast<std::size_t>(w) * bpp;
    for (int k = 0; k <= h - 7; ++k) {
      uint8_t* out = output + 2 * k * pitch;
      convert_row(h - 2 - k, out);
      std::memcpy(out + pitch, out, row_bytes);
    }
    convert_row(4, output + 2 * (h - 6) * pitch);
  }
  return true_colour ? kStatusTrueColour : kStatusPalette;
}

// ---------------------------------------------------------------------------

void InverseDctReference(const int16_t coefficients[64], uint8_t* out, std::ptrdiff_t stride) {
  int16_t b[64];
  std::memcpy(b, coefficients, sizeof(b));
  for (int r = 0; r < 8; ++r) IdctRow(b + r * 8, 1);
  for (int c = 0; c < 8; ++c) IdctColumn(b + c, out + c, stride);
}

void InverseDctTransposed(const int16_t coefficients_t[64], uint8_t* out, std::ptrdiff_t stride) {
#if RD_MJPEG_X86
  if (UseAvx2()) {
    IdctTransposedAvx2(coefficients_t, out, stride);
    return;
  }
#endif
  IdctTransposedScalar(coefficients_t, out, stride);
}

void SetVectorPathsEnabled(bool enabled) {
  g_vector_enabled.store(enabled, std::memory_order_relaxed);
}
bool VectorPathsAvailable() {
  return CpuHasAvx2();
}

}  // namespace rd::mjpeg
