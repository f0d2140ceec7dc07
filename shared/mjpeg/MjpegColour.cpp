#include "shared/mjpeg/MjpegColour.h"

#include <algorithm>

#include "shared/mjpeg/MjpegSimd.h"

namespace rd::mjpeg {

namespace {

// Dither offsets by row mod 4 and column mod 4.
constexpr uint8_t kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

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

// The kernels in the one signature of the table.
void TrueColourFullScalar(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                          const uint8_t* cr_row, int count, int, uint8_t* out) {
  ConvertTrueColourScalar(y_row, cb_row, cr_row, count, 1, out);
}
void TrueColourHalfScalar(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                          const uint8_t* cr_row, int count, int, uint8_t* out) {
  ConvertTrueColourScalar(y_row, cb_row, cr_row, count, 2, out);
}
void PaletteFullScalar(const DitherTables& tables, const uint8_t* y_row, const uint8_t* cb_row,
                       const uint8_t* cr_row, int count, int picture_row, uint8_t* out) {
  ConvertPaletteScalar(tables, y_row, cb_row, cr_row, count, 1, picture_row, out);
}
void PaletteHalfScalar(const DitherTables& tables, const uint8_t* y_row, const uint8_t* cb_row,
                       const uint8_t* cr_row, int count, int picture_row, uint8_t* out) {
  ConvertPaletteScalar(tables, y_row, cb_row, cr_row, count, 2, picture_row, out);
}
constexpr ColourKernels kScalarColour{{TrueColourFullScalar, TrueColourHalfScalar},
                                      {PaletteFullScalar, PaletteHalfScalar}};

#if RD_MJPEG_X86
void TrueColourFullVector(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                          const uint8_t* cr_row, int count, int, uint8_t* out) {
  TrueColourRowFullAvx2(y_row, cb_row, cr_row, count, out);
}
void TrueColourHalfVector(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                          const uint8_t* cr_row, int count, int, uint8_t* out) {
  TrueColourRowHalfAvx2(y_row, cb_row, cr_row, count, out);
}
void PaletteFullVector(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                       const uint8_t* cr_row, int count, int picture_row, uint8_t* out) {
  PaletteRowFullAvx2(y_row, cb_row, cr_row, count, picture_row, out);
}
void PaletteHalfVector(const DitherTables&, const uint8_t* y_row, const uint8_t* cb_row,
                       const uint8_t* cr_row, int count, int picture_row, uint8_t* out) {
  PaletteRowHalfAvx2(y_row, cb_row, cr_row, count, picture_row, out);
}
constexpr ColourKernels kVectorColour{{TrueColourFullVector, TrueColourHalfVector},
                                      {PaletteFullVector, PaletteHalfVector}};
#endif

}  // namespace

void BuildDitherTables(DitherTables* tables) {
  for (int t = -8; t <= 263; ++t) {
    tables->level_y[t + 8] = static_cast<uint8_t>(std::clamp(t >> 4, 1, 14) * 16);
  }
  for (int t = 0; t < 144; ++t) {
    const int c = std::clamp((t - 40) >> 4, 0, 3);
    tables->cb_level[t] = static_cast<uint8_t>(c * 4);
    tables->cr_level[t] = static_cast<uint8_t>(c);
  }
}

const ColourKernels& ChooseColourKernels(bool vector) {
#if RD_MJPEG_X86
  if (vector && CpuHasAvx2()) return kVectorColour;
#else
  (void)vector;
#endif
  return kScalarColour;
}

}  // namespace rd::mjpeg
