#pragma once
// The 24-bit bitmap file of the still capture, and the 40-byte bitmap
// information header that also describes the picture of an AVI export.
//
// File layout (little-endian): a 14-byte file header ("BM", file size, two
// reserved words, pixel offset 54), the 40-byte information header, then the
// rows bottom-up, each pixel blue, green, red, each row padded with zero bytes
// to a multiple of 4 bytes. A 640-wide picture needs no padding: the NTSC
// picture (640 x 436) gives 837,174 bytes, the PAL picture (640 x 532)
// 1,021,494 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rd {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpInfoHeaderSize = 40;
inline constexpr std::size_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;  // 54

// Result codes of the writer.
enum BmpResult : int {
  kBmpOk = 0,
  kBmpBadArgument = 1,  // size not positive, too large, no pixels or pitch too small
  kBmpOpenFailed = 2,   // the file cannot be created
  kBmpWriteFailed = 3,  // a short write (the file may be partial)
};
// A result code in words ("the file cannot be created").
const char* BmpResultText(int code);

// The 40-byte bitmap information header, field by field.
struct BitmapInfoHeader {
  uint32_t size = kBmpInfoHeaderSize;
  int32_t width = 0;
  int32_t height = 0;  // positive: rows bottom-up
  uint16_t planes = 1;
  uint16_t bit_count = 24;
  uint32_t compression = 0;  // 0: uncompressed RGB
  uint32_t size_image = 0;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  uint32_t clr_used = 0;
  uint32_t clr_important = 0;

  // The uncompressed 24-bit description of a width x height picture. Its
  // image size, like the resolutions and colour counts, is 0: for an
  // uncompressed picture the size follows from width, height and depth.
  static BitmapInfoHeader Make24(int width, int height);

  std::array<uint8_t, kBmpInfoHeaderSize> Pack() const;
  // Reads 40 bytes (little-endian); nothing is checked.
  static BitmapInfoHeader Parse(const uint8_t* bytes);
};

// Bytes per stored row of a 24-bit picture: width x 3 rounded up to 4.
constexpr std::size_t BmpRowStride24(int width) {
  return (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
}

// Length of the whole file for a width x height 24-bit picture.
constexpr std::size_t BmpFileSize24(int width, int height) {
  return kBmpHeadersSize + BmpRowStride24(width) * static_cast<std::size_t>(height);
}

// The two headers (file header then information header) of a 24-bit picture.
std::array<uint8_t, kBmpHeadersSize> BuildBmp24Headers(int width, int height);

// The whole file in memory. `pixels` holds `height` rows of width x 3 bytes
// (blue, green, red), `pitch` bytes apart (at least width x 3); the rows are
// bottom-up unless `top_down` is set, in which case they are reversed into
// the file's bottom-up order. Returns an empty vector for bad arguments.
std::vector<uint8_t> BuildBmp24(int width, int height, const uint8_t* pixels, std::size_t pitch,
                                bool top_down = false);

// Writes the file at `path` (created or truncated). Returns kBmpOk or one of
// the codes above.
int WriteBmp24(const std::string& path, int width, int height, const uint8_t* pixels,
               std::size_t pitch, bool top_down = false);

}  // namespace rd
