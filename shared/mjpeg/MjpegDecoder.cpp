#include "shared/mjpeg/MjpegDecoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "shared/mjpeg/MjpegBitReader.h"
#include "shared/mjpeg/MjpegColour.h"
#include "shared/mjpeg/MjpegIdct.h"
#include "shared/mjpeg/MjpegSimd.h"
#include "shared/mjpeg/MjpegTables.h"
#include "shared/still/BmpFile.h"

namespace rd::mjpeg {

namespace {

constexpr uint32_t kFrameStartCode = 0x000001F8;
constexpr uint32_t kEndOfDataCode = 0x000001FF;

// Per scan index: the storage position (transposed natural order) and
// whether the position lies outside the top-left 4 x 4 corner.
struct ScanEntry {
  uint16_t qmul;    // S * W[zigzag[i]], set per frame
  uint8_t tpos;     // (p % 8) * 8 + p / 8 for p = zigzag[i]
  uint8_t outside;  // 1 if p's row or column is 4 or more
};

}  // namespace

// ---------------------------------------------------------------------------

struct MjpegDecoder::Impl {
  // Planes in one allocation.
  std::unique_ptr<uint8_t[]> planes;
  // Dither tables of the format definition, built at Open (the clamp and clip tables of
  // the format definition are comparisons here, with the same results).
  DitherTables dither;
  const CoefEntry* coef_lookup = nullptr;
  // Kernels chosen at Open: vector where the CPU has them, unless switched off.
  const IdctKernels* idct = nullptr;
  const ColourKernels* colour = nullptr;
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
  BuildDitherTables(&impl->dither);
  impl->coef_lookup = CoefLookupTable();
  const bool vector = VectorPathsEnabled();
  impl->idct = &ChooseIdctKernels(vector);
  impl->colour = &ChooseColourKernels(vector);
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
// A bitmap information header without image size or resolution.
void FillInfoHeader(uint8_t* p, int width, int height, int bits, int colours) {
  static_assert(kBitmapInfoHeaderSize == kBmpInfoHeaderSize);
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bit_count = static_cast<uint16_t>(bits);
  h.clr_used = static_cast<uint32_t>(colours);
  h.clr_important = static_cast<uint32_t>(colours);
  const auto bytes = h.Pack();
  std::memcpy(p, bytes.data(), bytes.size());
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
  for (int i = 0; i < kPaletteSize; ++i) {
    StoreLe16(palette_info + kBitmapInfoHeaderSize + 2 * i, static_cast<uint16_t>(i));
  }
  StoreLe16(logical_palette, 0x300);
  StoreLe16(logical_palette + 2, kPaletteSize);
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

// Decodes one block's coefficients into `block` (transposed layout, all zero
// before and after) and writes its 64 samples to `out`. Returns false on
// failure (invalid code or index beyond 63); then nothing is written.
static inline bool DecodeBlock(BitReader& br, const CoefEntry* lookup, const ScanEntry* scan,
                               const IdctKernels& idct, int16_t* block, uint8_t* out,
                               std::ptrdiff_t stride) {
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
  (outside == 0 ? idct.sparse : idct.full)(block, out, stride);
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
  const IdctKernels& idct = *im.idct;
  const CoefEntry* lookup = im.coef_lookup;
  const int mb_cols = width_ / 16;
  const int mb_rows = height_ / 16;
  const int total = mb_cols * mb_rows;
  const std::ptrdiff_t ys = width_;
  const std::ptrdiff_t cs = width_ / 2;
  auto decode_block = [&](uint8_t* out, std::ptrdiff_t stride) {
    return DecodeBlock(br, lookup, im.scan.data(), idct, im.block, out, stride);
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

uint8_t MjpegDecoder::ConvertToOutput(uint8_t* output, bool half_size) {
  if (output == nullptr || !open_) return kStatusNullPointer;
  // The colour mode is read once per frame, when the conversion starts.
  const bool true_colour = true_colour_.load(std::memory_order_relaxed);
  half_size_ = half_size;
  const Impl& im = *impl_;
  const int w = width_;
  const int h = height_;
  const std::size_t bpp = true_colour ? 3 : 1;
  const std::size_t pitch = kOutputPitchPixels * bpp;
  const int count = half_size ? w / 2 : w;
  const RowConverter convert =
      (true_colour ? im.colour->true_colour : im.colour->palette)[half_size ? 1 : 0];

  // Converts picture row y (count pixels, every step-th column) into out.
  auto convert_row = [&](int y, uint8_t* out) {
    const uint8_t* yr = y_ + static_cast<std::size_t>(y) * w;
    const uint8_t* cbr = cb_ + static_cast<std::size_t>(y / 2) * (w / 2);
    const uint8_t* crr = cr_ + static_cast<std::size_t>(y / 2) * (w / 2);
    convert(im.dither, yr, cbr, crr, count, y, out);
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

}  // namespace rd::mjpeg
