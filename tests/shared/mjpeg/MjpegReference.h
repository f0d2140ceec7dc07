#pragma once
// Test-side helpers for the MJPEG decoder tests:
//  - BitWriter / FrameBuilder: hand-build frames bit by bit;
//  - ReferenceDecoder: a slow, literal model of the frame decoding rules (byte-at-a-time bit
//    reader with the end-of-data padding, codes matched one by one against the
//    source table, the IDCT and conversions as written). The decoder under test
//    must give the same planes and output bytes for any input.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace rdtest::mjpeg {

class BitWriter {
 public:
  // Appends the low n bits of v, most significant first (n <= 32).
  void Put(uint32_t v, int n);
  // Pads with zero bits to the next byte boundary.
  void AlignZero();
  void PutByte(uint8_t b) { Put(b, 8); }
  void PutBytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) PutByte(b);
  }
  std::size_t bit_count() const { return bits_; }
  std::vector<uint8_t> Bytes() const;  // the partial last byte zero-padded

 private:
  std::vector<uint8_t> bytes_;
  std::size_t bits_ = 0;
};

// One AC coefficient as coded: run and signed level.
struct Ac {
  int run;
  int level;
  bool force_escape = false;
};

// Builds frames in the frame syntax on top of a BitWriter.
class FrameBuilder {
 public:
  // Frame start code 00 00 01 F8 and the header byte.
  FrameBuilder& Start(bool full, int q, int channel = 0);
  // Zero bits to the byte boundary, 00 00 01, then the 5-bit row.
  FrameBuilder& Slice(int row);
  // 6-bit address increment and, if non-zero, the 4-bit pattern (F = 0 only).
  FrameBuilder& Increment(int a, int pattern = 0xF);
  // Ends the macroblocks of a row (F = 0): zero bits up to the byte boundary.
  // The decoder only LOOKS at the six bits of a zero increment and then skips
  // to the byte boundary, so the zero increment is these zero bits together
  // with the leading zeros of the start code that must follow. (Writing six
  // zero bits and then aligning would add a whole zero byte whenever the last
  // block ended less than six bits before a boundary; the decoder would then
  // take 00 00 00 01 F8 as "row ends" and the F8 as a slice header.)
  FrameBuilder& ZeroIncrement() {
    w.AlignZero();
    return *this;
  }
  // 8-bit DC, the AC codes (table code or escape), end of block.
  FrameBuilder& Block(int dc, const std::vector<Ac>& ac = {}, bool end_of_block = true);
  // A flat macroblock: six blocks with the given DC values (luma, Cb, Cr).
  FrameBuilder& FlatMacroblock(int y, int cb, int cr, int pattern = 0xF);
  // Zero bits to the byte boundary, then raw bytes.
  FrameBuilder& AlignedBytes(std::initializer_list<uint8_t> bytes);
  std::vector<uint8_t> Bytes() const { return w.Bytes(); }

  BitWriter w;
};

// A full frame (F = 1) with every block flat: luma y, chroma cb/cr.
std::vector<uint8_t> FlatFullFrame(int mb_rows, int y, int cb, int cr, int q = 0);

class ReferenceDecoder {
 public:
  explicit ReferenceDecoder(bool pal);
  // As MjpegDecoder::DecodeFrame; output may be null only for status 97.
  uint8_t DecodeFrame(const uint8_t* frame, std::size_t length, uint8_t* output, bool half_size,
                      bool true_colour);
  int width() const { return w_; }
  int height() const { return h_; }
  std::vector<uint8_t> y, cb, cr;
  bool last_complete = false;

 private:
  // Logical input: data, zeros to a multiple of 4, then 00 00 01 FF repeated.
  uint8_t ByteAt(std::size_t p) const;
  uint32_t Peek(int n) const;
  uint32_t Read(int n);
  void Align();
  void NextStartCode();
  bool DecodePicture(bool full, int s);
  bool DecodeBlock(int s, int out[64]);
  void Convert(bool true_colour, std::vector<uint8_t>& conv) const;

  int w_;
  int h_;
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t bitpos_ = 0;
};

// The frame format's IDCT as defined, on natural-order coefficients; 64 samples
// 0..255 in natural order.
void ReferenceIdct(const int coefficients[64], uint8_t out[64]);

}  // namespace rdtest::mjpeg
