#pragma once
// The project's MJPEG frame encoder: writes the frames the DVR sends and
// MjpegDecoder reads (frame start code 00 00 01 F8, header byte, one slice per
// macroblock row, intra DCT blocks with an 8-bit DC value and the AC codes of
// the shared coefficient table).
//
// Full frames (F = 1) code every block. Partial frames (F = 0) code only the
// macroblocks whose content changed by more than a threshold since it was last
// coded; within such a macroblock, luma blocks that did not change are left
// out through the coded block pattern. The encoder keeps the reconstructed
// picture (exactly the planes a decoder holds after decoding every frame
// produced so far) as its reference.
//
// Start-code emulation: the coded data of a frame never contains a run of 23
// zero bits, so no byte-aligned 00 00 01 can appear anywhere except at the
// frame start code, at the slice headers the encoder writes on purpose, and
// at the end-of-data code 00 00 01 FF that closes a partial frame whose last
// macroblock is not coded.
// Two restrictions make that hold: the DC value is at least 1 (never an
// all-zero byte), and escaped levels stay within -255..255 (never an all-zero
// level byte). Every other element has at most 11 leading and 7 trailing zero
// bits, so the longest possible run is 18 bits. A slice header's row byte is
// at most 0x87, so 00 00 01 F8 occurs only at the start of a frame.
//
// Buffers are allocated once by the constructor; encoding allocates nothing.
// One instance per video channel; not thread-safe.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/common/Picture.h"

namespace rd {

class MjpegEncoder {
 public:
  // Mean absolute sample difference per 8 x 8 block above which a block
  // counts as changed in a partial frame.
  static constexpr int kDefaultThreshold = 3;

  explicit MjpegEncoder(mjpeg::VideoStandard standard = mjpeg::VideoStandard::kNtsc);

  mjpeg::VideoStandard standard() const { return standard_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // Upper bound of the size of any frame of the standard.
  static std::size_t MaxFrameSize(mjpeg::VideoStandard standard);

  // A full frame of `picture` (width() x height()) at quantisation level
  // code q (0..15) with channel code `channel` (0..7). Returns the frame
  // bytes, valid until the next Encode call; empty for bad arguments.
  std::span<const uint8_t> EncodeFull(const YuvPicture& picture, int q, int channel);
  std::span<const uint8_t> EncodeFull(const RgbImage& picture, int q, int channel);

  // A partial frame: codes the macroblocks of which some 8 x 8 block's mean
  // absolute difference to what was last coded there exceeds `threshold`
  // (0: any difference). Without a reference (first frame, after Reset) a
  // full frame is written instead. Empty for bad arguments.
  std::span<const uint8_t> EncodePartial(const YuvPicture& picture, int q, int channel,
                                         int threshold = kDefaultThreshold);

  // Forgets the reference: the next partial frame is written as a full one.
  void Reset() { has_reference_ = false; }
  bool has_reference() const { return has_reference_; }
  // The planes a decoder holds after decoding the frames written so far
  // (meaningful when has_reference()).
  const YuvPicture& reference() const { return recon_; }
  // Macroblocks coded in the last frame.
  int coded_macroblocks() const { return coded_macroblocks_; }

 private:
  struct BitWriter;
  void SetQuantiser(int q);
  void EncodeMacroblock(BitWriter& bw, const YuvPicture& picture, int row, int col, unsigned cbp,
                        bool full);
  void EncodeBlock(BitWriter& bw, const uint8_t* src, int src_stride, uint8_t* recon,
                   uint8_t* coded, int stride);
  std::span<const uint8_t> Finish(BitWriter& bw);
  bool Valid(const YuvPicture& picture, int q, int channel) const;

  mjpeg::VideoStandard standard_;
  int width_;
  int height_;
  int mb_cols_;
  int mb_rows_;
  int q_ = -1;
  // Quantiser multipliers in zigzag order (forward DCT scale folded in) and
  // the decoder's dequantisation steps (2 * Q * W[p]) in zigzag order.
  float quant_mul_[64] = {};
  int16_t dequant_[64] = {};
  std::vector<uint8_t> out_;
  std::vector<uint8_t> mb_plan_;  // per macroblock of a partial frame: 0x10 | pattern, or 0
  YuvPicture recon_;              // what the decoder holds
  YuvPicture coded_;              // the source samples last coded per block
  YuvPicture rgb_conv_;
  bool has_reference_ = false;
  int coded_macroblocks_ = 0;
};

// Byte offsets of every 00 00 01 in `data` (byte-aligned start-code
// prefixes); used to check frames for start-code emulation.
std::vector<std::size_t> FindStartCodePrefixes(std::span<const uint8_t> data);

}  // namespace rd
