#include "shared/mjpeg/MjpegReference.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "shared/mjpeg/MjpegTables.h"

namespace rdtest::mjpeg {

using rd::mjpeg::CoefCode;
using rd::mjpeg::kCoefCodes;
using rd::mjpeg::kIntraQuantMatrix;
using rd::mjpeg::kZigzag;

// ---------------------------------------------------------------------------

void BitWriter::Put(uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if ((v >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
    ++bits_;
  }
}

void BitWriter::AlignZero() {
  while (bits_ % 8 != 0) Put(0, 1);
}

std::vector<uint8_t> BitWriter::Bytes() const {
  return bytes_;
}

FrameBuilder& FrameBuilder::Start(bool full, int q, int channel) {
  w.AlignZero();
  w.PutBytes({0x00, 0x00, 0x01, 0xF8});
  w.Put(full ? 1 : 0, 1);
  w.Put(static_cast<uint32_t>(q), 4);
  w.Put(static_cast<uint32_t>(channel), 3);
  return *this;
}

FrameBuilder& FrameBuilder::Slice(int row) {
  w.AlignZero();
  w.PutBytes({0x00, 0x00, 0x01});
  w.Put(static_cast<uint32_t>(row), 5);
  return *this;
}

FrameBuilder& FrameBuilder::Increment(int a, int pattern) {
  w.Put(static_cast<uint32_t>(a), 6);
  if (a != 0) w.Put(static_cast<uint32_t>(pattern), 4);
  return *this;
}

FrameBuilder& FrameBuilder::Block(int dc, const std::vector<Ac>& ac, bool end_of_block) {
  w.Put(static_cast<uint32_t>(dc), 8);
  for (const Ac& c : ac) {
    const int abs_level = c.level < 0 ? -c.level : c.level;
    const rd::mjpeg::CoefVlc vlc = rd::mjpeg::CoefEncode(c.run, abs_level);
    if (vlc.length != 0 && !c.force_escape) {
      w.Put(vlc.bits, vlc.length);
      w.Put(c.level < 0 ? 1 : 0, 1);
    } else {
      uint32_t bits = 0;
      const int n = rd::mjpeg::CoefEscape(c.run, c.level, &bits);
      if (n == 0) throw std::invalid_argument("no escape for this run/level");
      w.Put(bits, n);
    }
  }
  if (end_of_block) w.Put(rd::mjpeg::kEobBits, rd::mjpeg::kEobLength);
  return *this;
}

FrameBuilder& FrameBuilder::FlatMacroblock(int y, int cb, int cr, int pattern) {
  for (int k = 0; k < 4; ++k) {
    if (pattern & (1 << k)) Block(y);
  }
  Block(cb);
  Block(cr);
  return *this;
}

FrameBuilder& FrameBuilder::AlignedBytes(std::initializer_list<uint8_t> bytes) {
  w.AlignZero();
  w.PutBytes(bytes);
  return *this;
}

std::vector<uint8_t> FlatFullFrame(int mb_rows, int y, int cb, int cr, int q) {
  FrameBuilder f;
  f.Start(true, q);
  for (int r = 0; r < mb_rows; ++r) {
    f.Slice(r);
    for (int c = 0; c < 40; ++c) f.FlatMacroblock(y, cb, cr);
  }
  return f.Bytes();
}

// ---------------------------------------------------------------------------
// Literal IDCT. Every intermediate wraps to 32 bits (two's complement), as the
// format's 32-bit signed arithmetic does on the original platform.

namespace {

int32_t Wrap(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

}  // namespace

void ReferenceIdct(const int coefficients[64], uint8_t out[64]) {
  const int64_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;
  int16_t blk[64];
  for (int i = 0; i < 64; ++i) blk[i] = static_cast<int16_t>(coefficients[i]);
  for (int row = 0; row < 8; ++row) {
    int16_t* b = blk + 8 * row;
    int32_t x1 = Wrap(static_cast<int64_t>(b[4]) * 2048), x2 = b[6], x3 = b[2], x4 = b[1],
            x5 = b[7], x6 = b[5], x7 = b[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
      const int16_t v = static_cast<int16_t>(b[0] * 8);
      for (int k = 0; k < 8; ++k) b[k] = v;
      continue;
    }
    int32_t x0 = Wrap(static_cast<int64_t>(b[0]) * 2048 + 128);
    int32_t x8 = Wrap(W7 * (int64_t{x4} + x5));
    x4 = Wrap(int64_t{x8} + (W1 - W7) * x4);
    x5 = Wrap(int64_t{x8} - (W1 + W7) * x5);
    x8 = Wrap(W3 * (int64_t{x6} + x7));
    x6 = Wrap(int64_t{x8} - (W3 - W5) * x6);
    x7 = Wrap(int64_t{x8} - (W3 + W5) * x7);
    x8 = Wrap(int64_t{x0} + x1);
    x0 = Wrap(int64_t{x0} - x1);
    x1 = Wrap(W6 * (int64_t{x3} + x2));
    x2 = Wrap(int64_t{x1} - (W2 + W6) * x2);
    x3 = Wrap(int64_t{x1} + (W2 - W6) * x3);
    x1 = Wrap(int64_t{x4} + x6);
    x4 = Wrap(int64_t{x4} - x6);
    x6 = Wrap(int64_t{x5} + x7);
    x5 = Wrap(int64_t{x5} - x7);
    x7 = Wrap(int64_t{x8} + x3);
    x8 = Wrap(int64_t{x8} - x3);
    x3 = Wrap(int64_t{x0} + x2);
    x0 = Wrap(int64_t{x0} - x2);
    x2 = Wrap(181 * (int64_t{x4} + x5) + 128) >> 8;
    x4 = Wrap(181 * (int64_t{x4} - x5) + 128) >> 8;
    b[0] = static_cast<int16_t>(Wrap(int64_t{x7} + x1) >> 8);
    b[1] = static_cast<int16_t>(Wrap(int64_t{x3} + x2) >> 8);
    b[2] = static_cast<int16_t>(Wrap(int64_t{x0} + x4) >> 8);
    b[3] = static_cast<int16_t>(Wrap(int64_t{x8} + x6) >> 8);
    b[4] = static_cast<int16_t>(Wrap(int64_t{x8} - x6) >> 8);
    b[5] = static_cast<int16_t>(Wrap(int64_t{x0} - x4) >> 8);
    b[6] = static_cast<int16_t>(Wrap(int64_t{x3} - x2) >> 8);
    b[7] = static_cast<int16_t>(Wrap(int64_t{x7} - x1) >> 8);
  }
  auto clip = [](int32_t v) { return std::min(std::max(v, -256), 255); };
  for (int col = 0; col < 8; ++col) {
    int16_t* b = blk + col;
    int32_t res[8];
    int32_t x1 = Wrap(static_cast<int64_t>(b[32]) * 256), x2 = b[48], x3 = b[16], x4 = b[8],
            x5 = b[56], x6 = b[40], x7 = b[24];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
      const int32_t v = clip((b[0] + 32) >> 6);
      for (int k = 0; k < 8; ++k) res[k] = v;
    } else {
      int32_t x0 = Wrap(static_cast<int64_t>(b[0]) * 256 + 8192);
      int32_t x8 = Wrap(W7 * (int64_t{x4} + x5) + 4);
      x4 = Wrap(int64_t{x8} + (W1 - W7) * x4) >> 3;
      x5 = Wrap(int64_t{x8} - (W1 + W7) * x5) >> 3;
      x8 = Wrap(W3 * (int64_t{x6} + x7) + 4);
      x6 = Wrap(int64_t{x8} - (W3 - W5) * x6) >> 3;
      x7 = Wrap(int64_t{x8} - (W3 + W5) * x7) >> 3;
      x8 = Wrap(int64_t{x0} + x1);
      x0 = Wrap(int64_t{x0} - x1);
      x1 = Wrap(W6 * (int64_t{x3} + x2) + 4);
      x2 = Wrap(int64_t{x1} - (W2 + W6) * x2) >> 3;
      x3 = Wrap(int64_t{x1} + (W2 - W6) * x3) >> 3;
      x1 = Wrap(int64_t{x4} + x6);
      x4 = Wrap(int64_t{x4} - x6);
      x6 = Wrap(int64_t{x5} + x7);
      x5 = Wrap(int64_t{x5} - x7);
      x7 = Wrap(int64_t{x8} + x3);
      x8 = Wrap(int64_t{x8} - x3);
      x3 = Wrap(int64_t{x0} + x2);
      x0 = Wrap(int64_t{x0} - x2);
      x2 = Wrap(181 * (int64_t{x4} + x5) + 128) >> 8;
      x4 = Wrap(181 * (int64_t{x4} - x5) + 128) >> 8;
      res[0] = clip(Wrap(int64_t{x7} + x1) >> 14);
      res[1] = clip(Wrap(int64_t{x3} + x2) >> 14);
      res[2] = clip(Wrap(int64_t{x0} + x4) >> 14);
      res[3] = clip(Wrap(int64_t{x8} + x6) >> 14);
      res[4] = clip(Wrap(int64_t{x8} - x6) >> 14);
      res[5] = clip(Wrap(int64_t{x0} - x4) >> 14);
      res[6] = clip(Wrap(int64_t{x3} - x2) >> 14);
      res[7] = clip(Wrap(int64_t{x7} - x1) >> 14);
    }
    for (int k = 0; k < 8; ++k) out[8 * k + col] = static_cast<uint8_t>(std::clamp(res[k], 0, 255));
  }
}

// ---------------------------------------------------------------------------

ReferenceDecoder::ReferenceDecoder(bool pal) : w_(640), h_(pal ? 272 : 224) {
  y.assign(static_cast<std::size_t>(w_) * h_, 0);
  cb.assign(static_cast<std::size_t>(w_ / 2) * (h_ / 2), 0);
  cr.assign(cb.size(), 0);
}

uint8_t ReferenceDecoder::ByteAt(std::size_t p) const {
  if (p < size_) return data_[p];
  const std::size_t round4 = (size_ + 3) / 4 * 4;
  if (p < round4) return 0;
  static const uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xFF};
  return kEnd[(p - round4) % 4];
}

uint32_t ReferenceDecoder::Peek(int n) const {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t bit = bitpos_ + i;
    v = (v << 1) | ((ByteAt(bit / 8) >> (7 - bit % 8)) & 1);
  }
  return v;
}

uint32_t ReferenceDecoder::Read(int n) {
  const uint32_t v = Peek(n);
  bitpos_ += n;
  return v;
}

void ReferenceDecoder::Align() {
  bitpos_ = (bitpos_ + 7) / 8 * 8;
}

void ReferenceDecoder::NextStartCode() {
  Align();
  while (Peek(24) != 0x000001) bitpos_ += 8;
}

bool ReferenceDecoder::DecodeBlock(int s, int out[64]) {
  for (int k = 0; k < 64; ++k) out[k] = 0;
  out[0] = 8 * static_cast<int>(Read(8));
  int i = 0;
  for (;;) {
    const uint32_t la = Peek(16);
    if (la < 16) return false;
    int run;
    int level;
    if ((la >> 14) == 0x2) {
      Read(2);
      return true;
    }
    if ((la >> 10) == 0x1) {
      Read(6);
      run = static_cast<int>(Read(6));
      const int v = static_cast<int>(Read(8));
      if (v == 0) {
        level = static_cast<int>(Read(8));
      } else if (v == 128) {
        level = static_cast<int>(Read(8)) - 256;
      } else if (v > 128) {
        level = v - 256;
      } else {
        level = v;
      }
    } else {
      const CoefCode* found = nullptr;
      for (const CoefCode& c : kCoefCodes) {
        if ((la >> (16 - c.length)) == c.bits) found = &c;
      }
      if (found == nullptr) throw std::logic_error("lookahead matches no code");
      Read(found->length);
      run = found->run;
      level = Read(1) ? -found->level : found->level;
    }
    i = i + run + 1;
    if (i > 63) return false;
    const int p = kZigzag[i];
    const int m = ((level < 0 ? -level : level) * s * kIntraQuantMatrix[p]) >> 3;
    if (level > 0) out[p] = std::min(m, 2047);
    if (level < 0) out[p] = -std::min(m, 2048);
  }
}

bool ReferenceDecoder::DecodePicture(bool full, int s) {
  const int mbw = w_ / 16;
  const int mbh = h_ / 16;
  int c = 0;
  int r = 0;
  for (;;) {
    if (c == mbw) c = 0;
    if (c == 0) {
      NextStartCode();
      Read(24);
      r = static_cast<int>(Read(5));
    }
    int pattern = 0xF;
    if (!full) {
      if (Peek(6) == 0) {
        Align();
        if (Peek(28) > 30) return true;
        c = mbw;
        continue;
      }
      c += static_cast<int>(Read(6)) - 1;
      pattern = static_cast<int>(Read(4));
    }
    for (int k = 0; k < 6; ++k) {
      if (k < 4 && !(pattern & (1 << k))) continue;
      int coef[64];
      if (!DecodeBlock(s, coef)) return false;
      uint8_t samples[64];
      ReferenceIdct(coef, samples);
      if (r >= mbh || c >= mbw) return false;
      for (int yy = 0; yy < 8; ++yy) {
        for (int xx = 0; xx < 8; ++xx) {
          if (k < 4) {
            const int x = 16 * c + 8 * (k % 2) + xx;
            const int yv = 16 * r + 8 * (k / 2) + yy;
            y[static_cast<std::size_t>(yv) * w_ + x] = samples[8 * yy + xx];
          } else {
            auto& plane = k == 4 ? cb : cr;
            plane[static_cast<std::size_t>(8 * r + yy) * (w_ / 2) + 8 * c + xx] =
                samples[8 * yy + xx];
          }
        }
      }
    }
    c += 1;
    if (r * mbw + c == mbw * mbh) return true;
  }
}

void ReferenceDecoder::Convert(bool true_colour, std::vector<uint8_t>& conv) const {
  const int bpp = true_colour ? 3 : 1;
  conv.assign(static_cast<std::size_t>(w_) * h_ * bpp, 0);
  static const int kD[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  auto level_y = [](int t) { return std::clamp(t >> 4, 1, 14) * 16; };
  auto c_of = [](int t) { return std::clamp((t - 40) >> 4, 0, 3); };
  auto to_byte = [](float f) {
    f = std::min(std::max(f, 0.0f), 255.0f);
    return static_cast<uint8_t>(static_cast<int>(f));
  };
  for (int yy = 0; yy < h_; ++yy) {
    uint8_t* row = conv.data() + static_cast<std::size_t>(h_ - 1 - yy) * w_ * bpp;
    for (int x = 0; x < w_; ++x) {
      const int Y = y[static_cast<std::size_t>(yy) * w_ + x];
      const int Cb = cb[static_cast<std::size_t>(yy / 2) * (w_ / 2) + x / 2];
      const int Cr = cr[static_cast<std::size_t>(yy / 2) * (w_ / 2) + x / 2];
      if (true_colour) {
        const int U = Cb - 128;
        const int V = Cr - 128;
        const float R = Y + 1.371f * V;
        const float G = Y - 0.336f * U - 0.698f * V;
        const float B = Y + 1.732f * U;
        row[3 * x + 0] = to_byte(B);
        row[3 * x + 1] = to_byte(G);
        row[3 * x + 2] = to_byte(R);
      } else {
        const int d = kD[yy % 4][x % 4];
        row[x] = static_cast<uint8_t>(level_y(Y + d - 8) + 4 * c_of((Cb >> 1) + d) +
                                      c_of((Cr >> 1) + d));
      }
    }
  }
}

uint8_t ReferenceDecoder::DecodeFrame(const uint8_t* frame, std::size_t length, uint8_t* output,
                                      bool half_size, bool true_colour) {
  if (frame == nullptr || output == nullptr) return 97;
  data_ = frame;
  size_ = length;
  bitpos_ = 0;
  NextStartCode();
  if (Peek(32) == 0x000001FF) return 99;
  if (Read(32) != 0x000001F8) return 100;
  const bool full = Read(1) != 0;
  const int q = static_cast<int>(Read(4));
  Read(3);
  last_complete = DecodePicture(full, 2 * q);
  std::vector<uint8_t> conv;
  Convert(true_colour, conv);
  const int bpp = true_colour ? 3 : 1;
  const std::size_t pitch = 640 * bpp;
  const std::size_t conv_pitch = static_cast<std::size_t>(w_) * bpp;
  if (!half_size) {
    for (int k = 0; k <= h_ - 7; ++k) {
      std::memcpy(output + 2 * k * pitch, conv.data() + (k + 1) * conv_pitch, conv_pitch);
      std::memcpy(output + (2 * k + 1) * pitch, conv.data() + (k + 1) * conv_pitch, conv_pitch);
    }
    std::memcpy(output + 2 * (h_ - 6) * pitch, conv.data() + (h_ - 5) * conv_pitch, conv_pitch);
  } else {
    for (int k = 0; k <= h_ - 7; ++k) {
      for (int x = 0; x < 320; ++x) {
        std::memcpy(output + k * pitch + x * bpp, conv.data() + k * conv_pitch + 2 * x * bpp, bpp);
      }
    }
  }
  return true_colour ? 0 : 1;
}

}  // namespace rdtest::mjpeg
