#include "shared/video/VideoSurface.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cstring>

#include "shared/mjpeg/MjpegDecoder.h"

namespace rd::video {
namespace {

// Outline offsets: black at the eight neighbours of (1, 1), white on top at (1, 1).
constexpr int kOutline[8][2] = {{0, 0}, {0, 2}, {0, 1}, {2, 0}, {1, 0}, {2, 1}, {1, 2}, {2, 2}};

}  // namespace

QVector<QRgb> DecoderPalette() {
  QVector<QRgb> palette(256, qRgb(0, 0, 0));
  for (int i = mjpeg::kFirstPaletteIndex; i < mjpeg::kPaletteSize; ++i) {
    uint8_t r, g, b;
    mjpeg::MjpegDecoder::PaletteColour(i, &r, &g, &b);
    palette[i] = qRgb(r, g, b);
  }
  return palette;
}

void PaintDecoderOutput(const uint8_t* output, int status, const QVector<QRgb>& palette,
                        QImage& surface, int x0, int y0, int width, int height) {
  if (output == nullptr || x0 < 0 || y0 < 0) return;
  if (status != mjpeg::kStatusTrueColour && status != mjpeg::kStatusPalette) return;
  const int w = std::min(width, surface.width() - x0);
  const int h = std::min(height, surface.height() - y0);
  if (w <= 0 || h <= 0) return;
  if (status == mjpeg::kStatusPalette) {
    if (palette.size() < 256) return;
    const std::size_t pitch = mjpeg::kOutputPitchPixels;
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = output + static_cast<std::size_t>(height - 1 - y) * pitch;
      QRgb* dst = reinterpret_cast<QRgb*>(surface.scanLine(y0 + y)) + x0;
      for (int x = 0; x < w; ++x) dst[x] = palette[src[x]];
    }
    return;
  }
  const std::size_t pitch = static_cast<std::size_t>(mjpeg::kOutputPitchPixels) * 3;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = output + static_cast<std::size_t>(height - 1 - y) * pitch;
    QRgb* dst = reinterpret_cast<QRgb*>(surface.scanLine(y0 + y)) + x0;
    for (int x = 0; x < w; ++x) dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
  }
}

void ReadBottomUp(const QImage& picture, uint8_t* out, int width, int height, int bytes_per_pixel) {
  if (out == nullptr || width <= 0 || height <= 0 || (bytes_per_pixel != 3 && bytes_per_pixel != 4))
    return;
  const std::size_t row = static_cast<std::size_t>(width) * bytes_per_pixel;
  const int w = std::min(width, picture.width());
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = out + static_cast<std::size_t>(y) * row;
    const int source_row = height - 1 - y;
    if (source_row >= picture.height() || w <= 0) {
      std::memset(dst, 0, row);
      continue;
    }
    const QRgb* src = reinterpret_cast<const QRgb*>(picture.constScanLine(source_row));
    for (int x = 0; x < w; ++x) {
      dst[x * bytes_per_pixel] = static_cast<uint8_t>(qBlue(src[x]));
      dst[x * bytes_per_pixel + 1] = static_cast<uint8_t>(qGreen(src[x]));
      dst[x * bytes_per_pixel + 2] = static_cast<uint8_t>(qRed(src[x]));
      if (bytes_per_pixel == 4) dst[x * bytes_per_pixel + 3] = 0;
    }
    if (w < width)
      std::memset(dst + static_cast<std::size_t>(w) * bytes_per_pixel, 0,
                  static_cast<std::size_t>(width - w) * bytes_per_pixel);
  }
}

bool OverlayText::Build() {
  if (built_) return true;
  if (QGuiApplication::instance() == nullptr) return false;
  font_ = QFont(QStringLiteral("courier new"));
  font_.setStyleHint(QFont::TypeWriter);
  font_.setWeight(QFont::Light);  // 300
  font_.setStyleStrategy(QFont::NoAntialias);
  font_.setPixelSize(16);  // an 18-pixel cell
  {
    QFontMetrics fm(font_);
    const int advance = fm.horizontalAdvance(QLatin1Char('0'));
    if (advance > 0 && advance != 9) font_.setStretch(900 / advance);  // 9 pixels a character
  }
  ascent_ = QFontMetrics(font_).ascent();
  built_ = true;
  return true;
}

void OverlayText::Draw(QImage& surface, int x, int y, const QString& text) const {
  if (!built_) return;
  QPainter p(&surface);
  p.setFont(font_);
  p.setPen(Qt::black);
  const int base = y + ascent_;
  for (const auto& o : kOutline) p.drawText(x + o[0], base + o[1], text);
  p.setPen(Qt::white);
  p.drawText(x + 1, base + 1, text);
}

QImage OverlayText::Label(const QString& text) const {
  if (!built_) return {};
  QFontMetrics fm(font_);
  QImage label(fm.horizontalAdvance(text) + 4, fm.height() + 4,
               QImage::Format_ARGB32_Premultiplied);
  label.fill(Qt::transparent);
  Draw(label, 0, 0, text);
  return label;
}

}  // namespace rd::video
