#include "tools/common/Picture.h"

#include <algorithm>
#include <cmath>

namespace rd {

namespace {

uint8_t Clamp8(float v) {
  int i = static_cast<int>(std::lround(v));
  return static_cast<uint8_t>(std::clamp(i, 0, 255));
}

// Luma weights of the decoder's conversion (its inverse with G solved for).
constexpr float kKr = 0.299f, kKg = 0.587f, kKb = 0.114f;
constexpr float kCbScale = 1.0f / 1.732f, kCrScale = 1.0f / 1.371f;

}  // namespace

Yuv RgbToYuv(int r, int g, int b) {
  float y = kKr * r + kKg * g + kKb * b;
  return Yuv{Clamp8(y), Clamp8(128.0f + (b - y) * kCbScale), Clamp8(128.0f + (r - y) * kCrScale)};
}

void ConvertRgbToYuv(const RgbImage& in, YuvPicture* out) {
  const int w = out->width, h = out->height, cw = w / 2;
  for (int y = 0; y < h; y += 2) {
    for (int x = 0; x < w; x += 2) {
      float sum_b = 0, sum_r = 0, sum_y = 0;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const uint8_t* p = in.Pixel(x + dx, y + dy);
          float ly = kKr * p[0] + kKg * p[1] + kKb * p[2];
          out->y[static_cast<std::size_t>(y + dy) * w + x + dx] = Clamp8(ly);
          sum_y += ly;
          sum_r += p[0];
          sum_b += p[2];
        }
      }
      std::size_t c = static_cast<std::size_t>(y / 2) * cw + x / 2;
      out->cb[c] = Clamp8(128.0f + (sum_b - sum_y) * 0.25f * kCbScale);
      out->cr[c] = Clamp8(128.0f + (sum_r - sum_y) * 0.25f * kCrScale);
    }
  }
}

RgbImage ConvertYuvToRgb(const YuvPicture& in) {
  RgbImage out(in.width, in.height);
  const int cw = in.chroma_width();
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      float ly = in.y[static_cast<std::size_t>(y) * in.width + x];
      std::size_t c = static_cast<std::size_t>(y / 2) * cw + x / 2;
      float u = static_cast<float>(in.cb[c]) - 128.0f;
      float v = static_cast<float>(in.cr[c]) - 128.0f;
      auto clamp = [](float f) { return static_cast<uint8_t>(std::clamp(f, 0.0f, 255.0f)); };
      uint8_t* p = out.Pixel(x, y);
      p[0] = clamp(ly + 1.371f * v);
      p[1] = clamp(ly - 0.336f * u - 0.698f * v);
      p[2] = clamp(ly + 1.732f * u);
    }
  }
  return out;
}

RgbImage ResampleRgb(const RgbImage& in, int width, int height) {
  if (in.width == width && in.height == height) return in;
  RgbImage out(width, height);
  // Each output pixel averages the source rectangle it covers, with
  // fractional weights at the edges (separable: rows first, then columns).
  const double sx = static_cast<double>(in.width) / width;
  const double sy = static_cast<double>(in.height) / height;
  std::vector<float> row(static_cast<std::size_t>(in.width) * 3);
  for (int oy = 0; oy < height; ++oy) {
    double y0 = oy * sy, y1 = (oy + 1) * sy;
    std::fill(row.begin(), row.end(), 0.0f);
    double wsum = 0;
    for (int iy = static_cast<int>(y0); iy < in.height && iy < y1; ++iy) {
      double wgt = std::min<double>(iy + 1, y1) - std::max<double>(iy, y0);
      if (wgt <= 0) continue;
      const uint8_t* src = in.Pixel(0, iy);
      for (std::size_t i = 0; i < row.size(); ++i) row[i] += static_cast<float>(wgt * src[i]);
      wsum += wgt;
    }
    for (int ox = 0; ox < width; ++ox) {
      double x0 = ox * sx, x1 = (ox + 1) * sx;
      double acc[3] = {0, 0, 0}, xw = 0;
      for (int ix = static_cast<int>(x0); ix < in.width && ix < x1; ++ix) {
        double wgt = std::min<double>(ix + 1, x1) - std::max<double>(ix, x0);
        if (wgt <= 0) continue;
        for (int c = 0; c < 3; ++c) acc[c] += wgt * row[static_cast<std::size_t>(ix) * 3 + c];
        xw += wgt;
      }
      uint8_t* p = out.Pixel(ox, oy);
      for (int c = 0; c < 3; ++c) {
        double v = (wsum > 0 && xw > 0) ? acc[c] / (wsum * xw) : 0.0;
        p[c] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
  return out;
}

double Psnr(const uint8_t* a, const uint8_t* b, std::size_t count) {
  if (count == 0) return 99.0;
  double se = 0;
  for (std::size_t i = 0; i < count; ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / se);
}

}  // namespace rd
