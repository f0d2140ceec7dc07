#include "shared/mjpeg/MjpegIdct.h"

#include <atomic>
#include <cstring>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/mjpeg/MjpegSimd.h"

namespace rd::mjpeg {

namespace {

std::atomic<bool> g_vector_enabled{true};

// ---------------------------------------------------------------------------
// 32-bit signed arithmetic of the format definition with two's-complement wrap-around
// without undefined behaviour.

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

constexpr IdctKernels kScalarIdct{IdctTransposedScalar, IdctTransposedScalar};
#if RD_MJPEG_X86
constexpr IdctKernels kAvx2Idct{IdctTransposedAvx2, IdctTransposedAvx2Sparse};
#endif

}  // namespace

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

bool VectorPathsEnabled() {
  return g_vector_enabled.load(std::memory_order_relaxed);
}

void SetVectorPathsEnabled(bool enabled) {
  g_vector_enabled.store(enabled, std::memory_order_relaxed);
}

bool VectorPathsAvailable() {
  return CpuHasAvx2();
}

const IdctKernels& ChooseIdctKernels(bool vector) {
#if RD_MJPEG_X86
  if (vector && CpuHasAvx2()) return kAvx2Idct;
#else
  (void)vector;
#endif
  return kScalarIdct;
}

void InverseDctReference(const int16_t coefficients[64], uint8_t* out, std::ptrdiff_t stride) {
  int16_t b[64];
  std::memcpy(b, coefficients, sizeof(b));
  for (int r = 0; r < 8; ++r) IdctRow(b + r * 8, 1);
  for (int c = 0; c < 8; ++c) IdctColumn(b + c, out + c, stride);
}

void InverseDctTransposed(const int16_t coefficients_t[64], uint8_t* out, std::ptrdiff_t stride) {
  ChooseIdctKernels(VectorPathsEnabled()).full(coefficients_t, out, stride);
}

}  // namespace rd::mjpeg
