#pragma once
// Pictures as the tools handle them: 24-bit RGB pictures (input files, test
// pictures) and 4:2:0 Y/Cb/Cr planes (what an MJPEG frame codes).
//
// The colour conversion is the inverse of the decoder's true-colour
// conversion (R = Y + 1.371 V, G = Y - 0.336 U - 0.698 V, B = Y + 1.732 U with
// U = Cb - 128, V = Cr - 128; full range, no video-range offsets), so a
// picture converted here and decoded there comes back with its colours.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shared/mjpeg/MjpegDecoder.h"

namespace rd {

// Coded size of an MJPEG frame by video standard.
inline constexpr int kPictureWidth = 640;
constexpr int PictureHeight(mjpeg::VideoStandard s) {
  return s == mjpeg::VideoStandard::kPal ? 272 : 224;
}

// 24-bit picture, rows top-down, 3 bytes per pixel in the order red, green,
// blue, no row padding.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3

  RgbImage() = default;
  RgbImage(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3) {}
  uint8_t* Pixel(int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
  const uint8_t* Pixel(int x, int y) const {
    return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  }
};

// 4:2:0 planes, row-major, top row first: Y is width x height, Cb and Cr are
// width/2 x height/2. Width and height are even.
struct YuvPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y;
  std::vector<uint8_t> cb;
  std::vector<uint8_t> cr;

  YuvPicture() = default;
  YuvPicture(int w, int h)
      : width(w),
        height(h),
        y(static_cast<std::size_t>(w) * h),
        cb(static_cast<std::size_t>(w / 2) * (h / 2)),
        cr(static_cast<std::size_t>(w / 2) * (h / 2)) {}
  explicit YuvPicture(mjpeg::VideoStandard s) : YuvPicture(kPictureWidth, PictureHeight(s)) {}

  int chroma_width() const { return width / 2; }
  int chroma_height() const { return height / 2; }
  friend bool operator==(const YuvPicture&, const YuvPicture&) = default;
};

struct Yuv {
  uint8_t y, cb, cr;
};
// One colour, rounded and clamped to 0..255.
Yuv RgbToYuv(int r, int g, int b);

// Converts an RGB picture of the same size as `out` (even width and height):
// luma per pixel, chroma from the mean of each 2 x 2 block.
void ConvertRgbToYuv(const RgbImage& in, YuvPicture* out);

// The planes back to RGB with the decoder's true-colour arithmetic.
RgbImage ConvertYuvToRgb(const YuvPicture& in);

// Scales `in` to width x height by averaging the covered source area (exact
// copies when the sizes agree; a 640 x 448 frame becomes 640 x 224 by
// averaging line pairs).
RgbImage ResampleRgb(const RgbImage& in, int width, int height);

// Peak signal-to-noise ratio in dB of two equally sized sample arrays
// (peak 255); 99 when they are equal.
double Psnr(const uint8_t* a, const uint8_t* b, std::size_t count);

}  // namespace rd
