#include "tools/common/MjpegEncoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "shared/mjpeg/MjpegTables.h"
#include "shared/stream/ByteOrder.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

namespace {

constexpr int kBlockBitsMax = 8 + 63 * 28 + 2;  // DC, 63 escapes of 28 bits, end of block
constexpr int kMinDc = 1;                       // never an all-zero DC byte
constexpr int kMaxLevel = 255;
constexpr int kMinLevel = -255;  // never an all-zero escape level byte
constexpr uint8_t kEndOfDataCode = 0xFF;

// Code of (run, level) with its sign bit, for run 0..31 and |level| 1..40:
// length in bits 24..31, code in bits 0..23; 0 when the pair needs an escape.
struct VlcTable {
  uint32_t code[32][81];
  VlcTable() {
    for (int run = 0; run < 32; ++run) {
      for (int level = -40; level <= 40; ++level) {
        uint32_t entry = 0;
        if (level != 0) {
          mjpeg::CoefVlc v = mjpeg::CoefEncode(run, std::abs(level));
          if (v.length != 0) {
            uint32_t bits = (static_cast<uint32_t>(v.bits) << 1) | (level < 0 ? 1u : 0u);
            entry = (static_cast<uint32_t>(v.length + 1) << 24) | bits;
          }
        }
        code[run][level + 40] = entry;
      }
    }
  }
};

const VlcTable& Vlc() {
  static const VlcTable table;
  return table;
}

// Scale of output k of the scaled 8-point forward DCT below relative to the
// orthonormal-style DCT the decoder inverts: 1 for k = 0, cos(k pi/16) sqrt 2.
double AanScale(int k) {
  if (k == 0) return 1.0;
  return std::cos(k * 3.14159265358979323846 / 16.0) * std::sqrt(2.0);
}

// Scaled 8-point forward DCT (Arai, Agui, Nakajima), in place on d[0],
// d[step], ..., d[7 * step]. Output k is the DCT sum times AanScale(k).
template <int kStep>
inline void Fdct8(float* d) {
  float t0 = d[0 * kStep] + d[7 * kStep], t7 = d[0 * kStep] - d[7 * kStep];
  float t1 = d[1 * kStep] + d[6 * kStep], t6 = d[1 * kStep] - d[6 * kStep];
  float t2 = d[2 * kStep] + d[5 * kStep], t5 = d[2 * kStep] - d[5 * kStep];
  float t3 = d[3 * kStep] + d[4 * kStep], t4 = d[3 * kStep] - d[4 * kStep];
  // Even part.
  float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
  d[0 * kStep] = t10 + t11;
  d[4 * kStep] = t10 - t11;
  float z1 = (t12 + t13) * 0.707106781f;
  d[2 * kStep] = t13 + z1;
  d[6 * kStep] = t13 - z1;
  // Odd part.
  t10 = t4 + t5;
  t11 = t5 + t6;
  t12 = t6 + t7;
  float z5 = (t10 - t12) * 0.382683433f;
  float z2 = 0.541196100f * t10 + z5;
  float z4 = 1.306562965f * t12 + z5;
  float z3 = t11 * 0.707106781f;
  float z11 = t7 + z3, z13 = t7 - z3;
  d[5 * kStep] = z13 + z2;
  d[3 * kStep] = z13 - z2;
  d[1 * kStep] = z11 + z4;
  d[7 * kStep] = z11 - z4;
}

inline void ForwardDct(const uint8_t* src, int stride, float out[64]) {
  for (int r = 0; r < 8; ++r) {
    const uint8_t* s = src + static_cast<std::ptrdiff_t>(r) * stride;
    float* d = out + r * 8;
    for (int c = 0; c < 8; ++c) d[c] = s[c];
    Fdct8<1>(d);
  }
  for (int c = 0; c < 8; ++c) Fdct8<8>(out + c);
}

// Natural position (row * 8 + column) -> index of the transposed layout the
// decoder's inverse DCT takes (column * 8 + row), per zigzag index.
struct ScanTables {
  uint8_t transposed[64];
  ScanTables() {
    for (int i = 0; i < 64; ++i) {
      int p = mjpeg::kZigzag[static_cast<std::size_t>(i)];
      transposed[i] = static_cast<uint8_t>((p % 8) * 8 + p / 8);
    }
  }
};

const ScanTables& Scan() {
  static const ScanTables tables;
  return tables;
}

// Sum of absolute differences of two 8 x 8 blocks, above `limit`?
inline bool BlockDiffers(const uint8_t* a, const uint8_t* b, int stride, int limit) {
  int sad = 0;
  for (int r = 0; r < 8; ++r) {
    const uint8_t* pa = a + static_cast<std::ptrdiff_t>(r) * stride;
    const uint8_t* pb = b + static_cast<std::ptrdiff_t>(r) * stride;
    for (int c = 0; c < 8; ++c) sad += std::abs(pa[c] - pb[c]);
  }
  return sad > limit;
}

}  // namespace

// Most significant bit first into a 64-bit accumulator; 32 bits are stored at
// a time. The output buffer is sized for the largest possible frame, so the
// writer needs no bounds checks.
struct MjpegEncoder::BitWriter {
  uint8_t* p;
  uint64_t acc = 0;
  int n = 0;  // valid bits in the low end of acc

  explicit BitWriter(uint8_t* out) : p(out) {}

  inline void Put(uint32_t bits, int length) {  // length <= 32
    acc = (acc << length) | bits;
    n += length;
    if (n >= 32) {
      n -= 32;
      uint32_t w = static_cast<uint32_t>(acc >> n);
      StoreBe32(p, w);
      p += 4;
    }
  }
  // Zero bits up to the next byte boundary; leaves nothing pending.
  void Align() {
    int pad = (8 - (n & 7)) & 7;
    acc <<= pad;
    n += pad;
    while (n >= 8) {
      n -= 8;
      *p++ = static_cast<uint8_t>(acc >> n);
    }
  }
  void StartCode(uint8_t value) {
    Align();
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    *p++ = value;
  }
  // Byte-aligned 00 00 01, then the 5-bit macroblock row.
  void SliceHeader(int row) {
    Align();
    *p++ = 0x00;
    *p++ = 0x00;
    *p++ = 0x01;
    Put(static_cast<uint32_t>(row), 5);
  }
};

MjpegEncoder::MjpegEncoder(mjpeg::VideoStandard standard)
    : standard_(standard),
      width_(kPictureWidth),
      height_(PictureHeight(standard)),
      mb_cols_(width_ / 16),
      mb_rows_(height_ / 16),
      out_(MaxFrameSize(standard) + 8),
      mb_plan_(static_cast<std::size_t>(mb_cols_) * mb_rows_),
      recon_(standard),
      coded_(standard),
      rgb_conv_(standard) {
  Vlc();
  Scan();
}

std::size_t MjpegEncoder::MaxFrameSize(mjpeg::VideoStandard standard) {
  const std::size_t mbs =
      static_cast<std::size_t>(kPictureWidth / 16) * (PictureHeight(standard) / 16);
  const std::size_t rows = static_cast<std::size_t>(PictureHeight(standard) / 16);
  const std::size_t mb_bits = 6 + 4 + 6 * static_cast<std::size_t>(kBlockBitsMax);
  // Start code and header; per row a slice header, its row number, a row end
  // and alignment; a final terminating slice.
  return 5 + rows * 5 + (mbs * mb_bits + rows * 13) / 8 + rows + 6;
}

void MjpegEncoder::SetQuantiser(int q) {
  if (q == q_) return;
  q_ = q;
  for (int i = 0; i < 64; ++i) {
    int p = mjpeg::kZigzag[static_cast<std::size_t>(i)];
    int w = mjpeg::kIntraQuantMatrix[static_cast<std::size_t>(p)];
    // The decoder reconstructs (|level| * 2Q * W) >> 3, so one level step is
    // Q * W / 4 in coefficient units; the forward DCT's outputs carry a scale
    // of 8 * AanScale(row) * AanScale(column) on top.
    double step = q * w / 4.0;
    double scale = 8.0 * AanScale(p / 8) * AanScale(p % 8);
    quant_mul_[i] = (q == 0 || i == 0) ? 0.0f : static_cast<float>(1.0 / (step * scale));
    dequant_[i] = static_cast<int16_t>(2 * q * w);
  }
}

bool MjpegEncoder::Valid(const YuvPicture& picture, int q, int channel) const {
  return picture.width == width_ && picture.height == height_ &&
         picture.y.size() == static_cast<std::size_t>(width_) * height_ &&
         picture.cb.size() == static_cast<std::size_t>(width_ / 2) * (height_ / 2) &&
         picture.cr.size() == picture.cb.size() && q >= 0 && q <= 15 && channel >= 0 &&
         channel <= 7;
}

void MjpegEncoder::EncodeBlock(BitWriter& bw, const uint8_t* src, int src_stride, uint8_t* recon,
                               uint8_t* coded, int stride) {
  alignas(32) float f[64];
  ForwardDct(src, src_stride, f);

  // DC: the block mean (no prediction), never 0 (see the header).
  int dc = static_cast<int>(f[0] * (1.0f / 64.0f) + 0.5f);
  dc = std::clamp(dc, kMinDc, 255);
  bw.Put(static_cast<uint32_t>(dc), 8);

  alignas(32) int16_t coef_t[64] = {};
  coef_t[0] = static_cast<int16_t>(8 * dc);

  if (q_ != 0) {
    const VlcTable& vlc = Vlc();
    const uint8_t* tr = Scan().transposed;
    int last = 0;
    for (int i = 1; i < 64; ++i) {
      float v = f[mjpeg::kZigzag[static_cast<std::size_t>(i)]] * quant_mul_[i];
      int level = static_cast<int>(v + (v >= 0.0f ? 0.5f : -0.5f));
      if (level == 0) continue;
      level = std::clamp(level, kMinLevel, kMaxLevel);
      int run = i - last - 1;
      last = i;
      uint32_t entry = (run < 32 && level >= -40 && level <= 40) ? vlc.code[run][level + 40] : 0;
      if (entry != 0) {
        bw.Put(entry & 0xFFFFFF, static_cast<int>(entry >> 24));
      } else {
        uint32_t bits = 0;
        int length = mjpeg::CoefEscape(run, level, &bits);
        bw.Put(bits, length);
      }
      // The decoder's dequantisation, with its saturation.
      int m = (std::abs(level) * dequant_[i]) >> 3;
      coef_t[tr[i]] = static_cast<int16_t>(level > 0 ? std::min(m, 2047) : -std::min(m, 2048));
    }
  }
  bw.Put(mjpeg::kEobBits, mjpeg::kEobLength);

  mjpeg::InverseDctTransposed(coef_t, recon, stride);
  for (int r = 0; r < 8; ++r) {
    std::memcpy(coded + static_cast<std::ptrdiff_t>(r) * stride,
                src + static_cast<std::ptrdiff_t>(r) * src_stride, 8);
  }
}

void MjpegEncoder::EncodeMacroblock(BitWriter& bw, const YuvPicture& picture, int row, int col,
                                    unsigned cbp, bool full) {
  const int w = width_, cw = width_ / 2;
  for (int k = 0; k < 4; ++k) {
    if (!full && (cbp & (1u << k)) == 0) continue;
    std::size_t off =
        static_cast<std::size_t>(16 * row + 8 * (k >> 1)) * w + 16 * col + 8 * (k & 1);
    EncodeBlock(bw, picture.y.data() + off, w, recon_.y.data() + off, coded_.y.data() + off, w);
  }
  std::size_t coff = static_cast<std::size_t>(8 * row) * cw + 8 * col;
  EncodeBlock(bw, picture.cb.data() + coff, cw, recon_.cb.data() + coff, coded_.cb.data() + coff,
              cw);
  EncodeBlock(bw, picture.cr.data() + coff, cw, recon_.cr.data() + coff, coded_.cr.data() + coff,
              cw);
}

std::span<const uint8_t> MjpegEncoder::Finish(BitWriter& bw) {
  bw.Align();
  return {out_.data(), static_cast<std::size_t>(bw.p - out_.data())};
}

std::span<const uint8_t> MjpegEncoder::EncodeFull(const YuvPicture& picture, int q, int channel) {
  if (!Valid(picture, q, channel)) return {};
  SetQuantiser(q);
  BitWriter bw(out_.data());
  bw.StartCode(0xF8);
  bw.Put(FrameHeaderByte{true, static_cast<uint8_t>(q), static_cast<uint8_t>(channel)}.Pack(), 8);
  for (int r = 0; r < mb_rows_; ++r) {
    bw.SliceHeader(r);
    for (int c = 0; c < mb_cols_; ++c) EncodeMacroblock(bw, picture, r, c, 0xF, true);
  }
  has_reference_ = true;
  coded_macroblocks_ = mb_rows_ * mb_cols_;
  return Finish(bw);
}

std::span<const uint8_t> MjpegEncoder::EncodeFull(const RgbImage& picture, int q, int channel) {
  if (picture.width != width_ || picture.height != height_ ||
      picture.rgb.size() != static_cast<std::size_t>(width_) * height_ * 3) {
    return {};
  }
  ConvertRgbToYuv(picture, &rgb_conv_);
  return EncodeFull(rgb_conv_, q, channel);
}

std::span<const uint8_t> MjpegEncoder::EncodePartial(const YuvPicture& picture, int q, int channel,
                                                     int threshold) {
  if (!Valid(picture, q, channel) || threshold < 0) return {};
  if (!has_reference_) return EncodeFull(picture, q, channel);
  SetQuantiser(q);
  const int limit = std::min(threshold, 255) * 64;
  const int w = width_, cw = width_ / 2;
  BitWriter bw(out_.data());
  bw.StartCode(0xF8);
  bw.Put(FrameHeaderByte{false, static_cast<uint8_t>(q), static_cast<uint8_t>(channel)}.Pack(), 8);
  // Which macroblocks to code, and their coded block patterns.
  coded_macroblocks_ = 0;
  int last_row = -1, last_col = -1;  // last macroblock to code
  for (int r = 0; r < mb_rows_; ++r) {
    for (int c = 0; c < mb_cols_; ++c) {
      unsigned cbp = 0;
      for (int k = 0; k < 4; ++k) {
        std::size_t off =
            static_cast<std::size_t>(16 * r + 8 * (k >> 1)) * w + 16 * c + 8 * (k & 1);
        if (BlockDiffers(picture.y.data() + off, coded_.y.data() + off, w, limit)) cbp |= 1u << k;
      }
      std::size_t coff = static_cast<std::size_t>(8 * r) * cw + 8 * c;
      bool chroma = BlockDiffers(picture.cb.data() + coff, coded_.cb.data() + coff, cw, limit) ||
                    BlockDiffers(picture.cr.data() + coff, coded_.cr.data() + coff, cw, limit);
      bool code = cbp != 0 || chroma;
      mb_plan_[static_cast<std::size_t>(r) * mb_cols_ + c] =
          static_cast<uint8_t>(code ? (0x10 | cbp) : 0);
      if (code) {
        last_row = r;
        last_col = c;
        ++coded_macroblocks_;
      }
    }
  }
  for (int r = 0; r <= last_row; ++r) {
    int prev = -1;  // column of the previous coded macroblock in this row
    for (int c = 0; c < mb_cols_; ++c) {
      const uint8_t plan = mb_plan_[static_cast<std::size_t>(r) * mb_cols_ + c];
      if (plan == 0) continue;
      if (prev < 0) bw.SliceHeader(r);
      bw.Put(static_cast<uint32_t>(c - prev), 6);  // address increment 1..40
      bw.Put(plan & 0xFu, 4);
      EncodeMacroblock(bw, picture, r, c, plan & 0xFu, false);
      prev = c;
    }
    // A row that stops before its last column ends with a zero increment
    // padded with zero bits (except the last row coded: see below); after the
    // last column the decoder looks for the next slice by itself.
    if (prev >= 0 && prev != mb_cols_ - 1 && r != last_row) {
      bw.Put(0, 6);
      bw.Align();
    }
  }
  // End of the picture. After its last macroblock nothing more is needed.
  // Otherwise the decoder ends the picture where it finds a zero increment
  // and, from the byte boundary at or after the position of that increment
  // (the increment is only looked at, not consumed), 28 bits above 30. So
  // the last zero increment is padded with one bits, not zero bits, and the
  // end-of-data code 00 00 01 FF follows: whatever comes after the frame (the
  // next frame, the end of the data, zero padding) cannot prolong it.
  const bool ends_itself = last_row == mb_rows_ - 1 && last_col == mb_cols_ - 1;
  if (!ends_itself) {
    if (last_row < 0 || last_col == mb_cols_ - 1) bw.SliceHeader(last_row >= 0 ? last_row : 0);
    bw.Put(0, 6);
    const int pad = (8 - (bw.n & 7)) & 7;
    bw.Put((1u << pad) - 1, pad);
    bw.StartCode(kEndOfDataCode);
  }
  return Finish(bw);
}

std::vector<std::size_t> FindStartCodePrefixes(std::span<const uint8_t> data) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i + 2 < data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) found.push_back(i);
  }
  return found;
}

}  // namespace rd
