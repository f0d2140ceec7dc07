#include "ui/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace rd::ui {
namespace {

QFont PictureFont(int pixel_size, bool bold) {
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(pixel_size);
  f.setBold(bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QImage Surface(int w, int h) {
  QImage img(w, h, QImage::Format_RGB888);  // 24 bits a pixel
  img.fill(Qt::black);
  return img;
}

}  // namespace

QImage MakeBanner(const QString& text, const QColor& band, bool bold) {
  QImage img = Surface(kBannerWidth, kBannerHeight);
  QPainter p(&img);
  QLinearGradient g(0, 0, 0, kBannerHeight);
  g.setColorAt(0, band.lighter(125));
  g.setColorAt(1, band.darker(115));
  p.fillRect(img.rect(), g);
  p.setPen(band.darker(160));
  p.drawRect(0, 0, kBannerWidth - 1, kBannerHeight - 1);
  p.setFont(PictureFont(13, bold));
  p.setPen(Qt::white);
  p.drawText(img.rect(), Qt::AlignCenter, text);
  return img;
}

QImage MakeLamp(const QString& text, bool on_air) {
  QImage img = Surface(kLampWidth, kLampHeight);
  QPainter p(&img);
  p.fillRect(img.rect(), on_air ? colour::kYellow : QColor(0xC0, 0xC0, 0xC0));
  p.setPen(on_air ? colour::kRed.darker(130) : colour::kGrey);
  p.drawRect(0, 0, kLampWidth - 1, kLampHeight - 1);
  p.setFont(PictureFont(11, on_air));
  p.setPen(on_air ? colour::kRed : colour::kGrey.darker(130));
  p.drawText(img.rect(), Qt::AlignCenter, text);
  return img;
}

QImage MakeDot(const QColor& c, bool lit) {
  QImage img = Surface(kDotSize, kDotSize);
  img.fill(QColor(0xD4, 0xD0, 0xC8));  // the dialog ground around the dot
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(c.darker(lit ? 140 : 250));
  p.setBrush(lit ? c.lighter(115) : c.darker(300));
  p.drawEllipse(QRectF(0.5, 0.5, kDotSize - 1, kDotSize - 1));
  return img;
}

QImage MakeTitle(const QString& text) {
  QImage img = Surface(kTitleWidth, kTitleHeight);
  QPainter p(&img);
  QLinearGradient g(0, 0, kTitleWidth, 0);
  g.setColorAt(0, QColor(0x10, 0x20, 0x50));
  g.setColorAt(1, colour::kBlue);
  p.fillRect(img.rect(), g);
  p.setFont(PictureFont(24, true));
  p.setPen(Qt::white);
  p.drawText(img.rect(), Qt::AlignCenter, text);
  return img;
}

QImage MakePicture(const PictureStyle& style, const QString& text) {
  switch (style.kind) {
    case PictureKind::kBanner:
      return MakeBanner(text, style.colour, style.bold);
    case PictureKind::kLamp:
      return MakeLamp(text, style.lit);
    case PictureKind::kDot:
      return MakeDot(style.colour, style.lit);
    case PictureKind::kTitle:
      return MakeTitle(text);
    case PictureKind::kNone:
      break;
  }
  return {};
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x30, 0x38));
    p.drawRoundedRect(QRectF(s * 0.06, s * 0.2, s * 0.88, s * 0.64), s * 0.1, s * 0.1);
    p.setBrush(colour::kBlue);
    p.drawEllipse(QRectF(s * 0.28, s * 0.28, s * 0.44, s * 0.44));
    p.setBrush(QColor(0xE0, 0xF0, 0xFF));
    p.drawEllipse(QRectF(s * 0.42, s * 0.38, s * 0.12, s * 0.12));
    p.setBrush(colour::kRed);
    p.drawEllipse(QRectF(s * 0.76, s * 0.26, s * 0.1, s * 0.1));
    icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}

}  // namespace rd::ui
