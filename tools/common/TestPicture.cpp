#include "tools/common/TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rd {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

// Uniform in [0, 1).
double Rand01(uint32_t x, uint32_t y, uint32_t seed) {
  return (Hash(x, y, seed) >> 8) / 16777216.0;
}

// Smooth value noise with cell size `cell`, in [0, 1).
double ValueNoise(double x, double y, double cell, uint32_t seed) {
  double gx = x / cell, gy = y / cell;
  int ix = static_cast<int>(std::floor(gx)), iy = static_cast<int>(std::floor(gy));
  double fx = gx - ix, fy = gy - iy;
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  auto v = [&](int a, int b) {
    return Rand01(static_cast<uint32_t>(ix + a), static_cast<uint32_t>(iy + b), seed);
  };
  double top = v(0, 0) + (v(1, 0) - v(0, 0)) * fx;
  double bottom = v(0, 1) + (v(1, 1) - v(0, 1)) * fx;
  return top + (bottom - top) * fy;
}

double Fractal(double x, double y, double cell, uint32_t seed) {
  double sum = 0, amp = 0.5, norm = 0;
  for (int o = 0; o < 4; ++o) {
    sum += amp * ValueNoise(x, y, cell, seed + static_cast<uint32_t>(o) * 101u);
    norm += amp;
    amp *= 0.5;
    cell *= 0.5;
  }
  return sum / norm;
}

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

uint8_t To8(double v) {
  return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// 5 x 7 font: seven rows of five bits, most significant bit left.
struct Glyph {
  char c;
  uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
};

const uint8_t* GlyphRows(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (const Glyph& g : kFont) {
    if (g.c == c) return g.rows;
  }
  return nullptr;
}

void FillRect(YuvPicture* p, int x0, int y0, int x1, int y1, uint8_t luma) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, p->width);
  y1 = std::min(y1, p->height);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) p->y[static_cast<std::size_t>(y) * p->width + x] = luma;
  }
  const int cw = p->chroma_width();
  for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
    for (int x = x0 / 2; x < (x1 + 1) / 2; ++x) {
      p->cb[static_cast<std::size_t>(y) * cw + x] = 128;
      p->cr[static_cast<std::size_t>(y) * cw + x] = 128;
    }
  }
}

// A disc as displayed: the display doubles every line, so the disc is half
// as high as wide in the picture.
void FillDisc(YuvPicture* p, double cx, double cy, double radius, Yuv colour) {
  const int x0 = std::max(0, static_cast<int>(cx - radius) - 1);
  const int x1 = std::min(p->width, static_cast<int>(cx + radius) + 2);
  const int y0 = std::max(0, static_cast<int>(cy - radius / 2) - 1);
  const int y1 = std::min(p->height, static_cast<int>(cy + radius / 2) + 2);
  const int cw = p->chroma_width();
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      double dx = x + 0.5 - cx, dy = 2 * (y + 0.5 - cy);
      double d = std::sqrt(dx * dx + dy * dy);
      if (d > radius + 0.5) continue;
      std::size_t i = static_cast<std::size_t>(y) * p->width + x;
      // Soft edge over one sample, and a darker rim for some shading.
      double a = std::clamp(radius + 0.5 - d, 0.0, 1.0);
      double shade = 1.0 - 0.35 * (d / radius) * (d / radius);
      double target = colour.y * shade;
      p->y[i] = To8(p->y[i] + (target - p->y[i]) * a);
      if ((x & 1) == 0 && (y & 1) == 0) {
        std::size_t c = static_cast<std::size_t>(y / 2) * cw + x / 2;
        p->cb[c] = colour.cb;
        p->cr[c] = colour.cr;
      }
    }
  }
}

}  // namespace

RgbImage MakeNaturalPicture(int width, int height, uint32_t seed) {
  RgbImage img(std::max(width, 0), std::max(height, 0));
  const double w = width, h = height;
  const Rgb sky_top{38, 78, 168}, sky_low{176, 198, 228};
  const Rgb grass{58, 118, 44}, grass_dark{30, 70, 26};
  const Rgb wall{204, 190, 166}, roof{168, 44, 32}, glass{34, 52, 96};
  const Rgb chart[6] = {{220, 30, 30},  {30, 180, 40},  {30, 50, 210},
                        {235, 220, 40}, {40, 200, 210}, {200, 40, 190}};
  const double sun_x = 0.8 * w, sun_y = 0.2 * h, sun_r = 0.07 * h;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double fy = y / h;
      const double horizon =
          0.56 * h + 0.07 * h * std::sin(x * 0.011 + seed * 0.7) + 0.03 * h * std::sin(x * 0.037);
      Rgb c;
      if (y < horizon) {
        c = Mix(sky_top, sky_low, fy / 0.6);
        double cloud = Fractal(x, y * 2.0, 90.0, seed + 7);
        c = Mix(c, Rgb{240, 242, 246}, (cloud - 0.55) * 3.0);
        double ds = std::hypot(x - sun_x, y - sun_y);
        c = Mix(c, Rgb{255, 246, 200}, 1.0 - (ds - sun_r) / (0.6 * sun_r));
      } else {
        double depth = (y - horizon) / (h - horizon + 1);
        double tex = Fractal(x, y, 24.0, seed + 3);
        c = Mix(grass, grass_dark, 0.3 + 0.7 * tex - 0.4 * depth);
        // A road in the foreground: a grey band narrowing to the horizon.
        double road_half = 10 + 140 * depth;
        if (std::abs(x - 0.55 * w - 40 * depth) < road_half) {
          c = Mix(Rgb{96, 96, 100}, Rgb{128, 126, 122}, tex);
          if (std::abs(x - 0.55 * w - 40 * depth) < 1 + 3 * depth &&
              static_cast<int>(y - horizon) % 16 < 9) {
            c = Rgb{235, 235, 225};
          }
        }
      }
      // A house with a pitched roof and a window: hard edges.
      const double hx0 = 0.12 * w, hx1 = 0.34 * w, hy0 = 0.42 * h, hy1 = 0.78 * h;
      if (x >= hx0 && x < hx1 && y >= hy0 && y < hy1) {
        c = wall;
        if ((static_cast<int>(y - hy0) % 6) == 0) c = Mix(wall, Rgb{150, 130, 110}, 0.6);
        if (x >= hx0 + 20 && x < hx0 + 60 && y >= hy0 + 18 && y < hy0 + 48) {
          c = glass;
          if (std::abs(x - (hx0 + 40)) < 1.5 || std::abs(y - (hy0 + 33)) < 1.5)
            c = Rgb{240, 240, 240};
        }
        if (x >= hx1 - 50 && x < hx1 - 26 && y >= hy1 - 46) c = Rgb{96, 56, 30};
      }
      double roof_h = 0.16 * h;
      double mid = (hx0 + hx1) / 2, half = (hx1 - hx0) / 2 + 8;
      if (y < hy0 && y >= hy0 - roof_h) {
        double t = (hy0 - y) / roof_h;  // 0 at the eaves, 1 at the ridge
        if (std::abs(x - mid) < half * (1 - t)) c = Mix(roof, Rgb{120, 30, 24}, t * 0.5);
      }
      // A tree: trunk and a textured crown.
      double tx = 0.45 * w, ty = 0.36 * h;
      if (std::abs(x - tx) < 6 && y > ty && y < 0.7 * h) c = Rgb{80, 52, 30};
      double crown = std::hypot((x - tx) / 1.2, y - ty);
      double leaf = Fractal(x, y, 6.0, seed + 11);
      if (crown < 0.16 * h + 10 * (leaf - 0.5)) c = Mix(Rgb{40, 110, 36}, Rgb{110, 170, 60}, leaf);
      // A colour chart: saturated patches with sharp borders.
      int px = static_cast<int>((x - 0.66 * w) / 30), py = static_cast<int>((y - 0.7 * h) / 24);
      if (x >= 0.66 * w && px < 6 && y >= 0.7 * h && py < 1) c = chart[px];
      if (x >= 0.66 * w && px < 6 && y >= 0.7 * h + 24 && y < 0.7 * h + 40) {
        double g = 255.0 * (x - 0.66 * w) / 180.0;
        c = Rgb{g, g, g};
      }
      // Fine sensor noise.
      double n = (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed) - 0.5) * 6.0;
      uint8_t* p = img.Pixel(x, y);
      p[0] = To8(c.r + n);
      p[1] = To8(c.g + n);
      p[2] = To8(c.b + n);
    }
  }
  return img;
}

YuvPicture MakeNaturalYuv(mjpeg::VideoStandard standard, uint32_t seed) {
  YuvPicture out(standard);
  ConvertRgbToYuv(MakeNaturalPicture(out.width, out.height, seed), &out);
  return out;
}

int TextWidth(const std::string& text, int scale) {
  return static_cast<int>(text.size()) * 6 * scale - (text.empty() ? 0 : scale);
}

void DrawText(YuvPicture* picture, int x, int y, const std::string& text, int scale) {
  const int outline = std::max(1, scale / 2);
  for (int pass = 0; pass < 2; ++pass) {
    int gx = x;
    for (char ch : text) {
      const uint8_t* rows = GlyphRows(ch);
      for (int r = 0; rows != nullptr && r < 7; ++r) {
        for (int c = 0; c < 5; ++c) {
          if ((rows[r] & (0x10 >> c)) == 0) continue;
          int x0 = gx + c * scale, y0 = y + r * scale;
          if (pass == 0) {
            FillRect(picture, x0 - outline, y0 - outline, x0 + scale + outline,
                     y0 + scale + outline, 0);
          } else {
            FillRect(picture, x0, y0, x0 + scale, y0 + scale, 255);
          }
        }
      }
      gx += 6 * scale;
    }
  }
}

TestCard::TestCard(int channel, mjpeg::VideoStandard standard)
    : channel_(((channel - 1) % 4 + 4) % 4 + 1), background_(standard) {
  const int w = background_.width, h = background_.height;
  const int ch = channel_;
  // Per channel: a tint and a pattern.
  const Rgb tints[4] = {{200, 60, 50}, {60, 170, 70}, {60, 90, 210}, {220, 170, 40}};
  const Rgb tint = tints[ch - 1];
  RgbImage img(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double v = 0;  // pattern value 0..1
      switch (ch) {
        case 1:  // vertical bars of falling brightness
          v = 1.0 - (x * 8 / w) / 8.0;
          break;
        case 2:  // checkerboard
          v = (((x / 40) + (y / 28)) & 1) ? 0.85 : 0.25;
          break;
        case 3: {  // concentric rings
          double d = std::hypot(x - w / 2.0, (y - h / 2.0) * 1.6);
          v = 0.5 + 0.45 * std::cos(d * 2 * kPi / 48.0);
          break;
        }
        default:  // diagonal stripes
          v = (((x + 2 * y) / 32) & 1) ? 0.9 : 0.35;
          break;
      }
      Rgb c = Mix(Rgb{20, 20, 24}, tint, v);
      c = Mix(c, Rgb{255, 255, 255}, v > 0.8 ? (v - 0.8) : 0.0);
      // Grey ramp across the lower part, the same on every channel.
      if (y >= h - 56 && y < h - 44) {
        double g = 255.0 * x / (w - 1);
        c = Rgb{g, g, g};
      }
      // Centre cross and circle outline (test-card style).
      double d = std::hypot(x - w / 2.0, (y - h / 2.0) * 2.0);
      if (std::abs(d - 0.42 * h * 2.0) < 1.5 || std::abs(x - w / 2) < 1 ||
          std::abs(y - h / 2) < 1) {
        c = Rgb{235, 235, 235};
      }
      double n = (Rand01(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 77u + ch) - 0.5) * 4;
      uint8_t* p = img.Pixel(x, y);
      p[0] = To8(c.r + n);
      p[1] = To8(c.g + n);
      p[2] = To8(c.b + n);
    }
  }
  ConvertRgbToYuv(img, &background_);
  DrawText(&background_, 12, 14, "CH" + std::to_string(ch), 4);
}

void TestCard::Render(uint64_t frame, const RecTime& time, YuvPicture* out) const {
  if (out->width != background_.width || out->height != background_.height) {
    *out = background_;
  } else {
    std::memcpy(out->y.data(), background_.y.data(), background_.y.size());
    std::memcpy(out->cb.data(), background_.cb.data(), background_.cb.size());
    std::memcpy(out->cr.data(), background_.cr.data(), background_.cr.size());
  }
  const int w = out->width, h = out->height;
  const double f = static_cast<double>(frame % 1000000u);
  // A sweep bar that moves 4 samples per frame.
  int bar = static_cast<int>((frame * 4 + static_cast<uint64_t>(channel_) * 97) % w);
  FillRect(out, bar, 60, bar + 6, h - 60, 40);
  // A ball on a slow Lissajous path, different per channel.
  double px = (160.0 + 20 * channel_), py = (110.0 + 13 * channel_);
  double cx = w / 2.0 + (w / 2.0 - 48) * std::sin(2 * kPi * f / px + channel_);
  double cy = h / 2.0 + (h / 2.0 - 48) * std::sin(2 * kPi * f / py + 2 * channel_);
  const Yuv balls[4] = {RgbToYuv(250, 230, 90), RgbToYuv(240, 120, 220), RgbToYuv(250, 160, 60),
                        RgbToYuv(90, 220, 250)};
  FillDisc(out, cx, cy, 24, balls[channel_ - 1]);
  // The clock, bottom left.
  DrawText(out, 12, h - 30, time.Format(), 2);
}

}  // namespace rd
