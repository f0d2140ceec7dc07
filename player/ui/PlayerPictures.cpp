#include "player/ui/PlayerPictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

#include "player/ui/rdplayerIds.h"
#include "ui/Pictures.h"

namespace rd::player {
namespace {

using namespace ids;

const QColor kInk(0x20, 0x20, 0x28);

QImage Canvas(QSize size) {
  QImage img(size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QFont Font(int pixels, bool bold) {
  QFont f(QStringLiteral("Liberation Sans"));
  f.setPixelSize(std::max(6, pixels));
  f.setBold(bold);
  return f;
}

// A triangle pointing right (or left) in the box.
QPolygonF Triangle(const QRectF& r, bool right) {
  if (right) return QPolygonF({r.topLeft(), QPointF(r.right(), r.center().y()), r.bottomLeft()});
  return QPolygonF({r.topRight(), QPointF(r.left(), r.center().y()), r.bottomRight()});
}

// The glyph area: a square centred in the picture.
QRectF GlyphBox(QSize size, double fill = 0.62) {
  const double s = std::min(size.width(), size.height()) * fill;
  return {(size.width() - s) / 2.0, (size.height() - s) / 2.0, s, s};
}

void Flag(QPainter& p, const QRectF& r) {
  p.fillRect(QRectF(r.left(), r.top(), r.width() * 0.1, r.height()), kInk);
  p.fillRect(QRectF(r.left() + r.width() * 0.1, r.top(), r.width() * 0.55, r.height() * 0.45),
             ui::colour::kRedOrange);
}

void Film(QPainter& p, const QRectF& r) {
  p.fillRect(r, kInk);
  const double hole = r.height() / 7;
  for (int i = 0; i < 4; ++i) {
    const double x = r.left() + r.width() * (0.1 + 0.22 * i);
    p.fillRect(QRectF(x, r.top() + hole * 0.6, hole, hole), Qt::white);
    p.fillRect(QRectF(x, r.bottom() - hole * 1.6, hole, hole), Qt::white);
  }
  p.fillRect(QRectF(r.left() + r.width() * 0.08, r.top() + hole * 2.2, r.width() * 0.84,
                    r.height() - hole * 4.4),
             QColor(0x60, 0x90, 0xD0));
}

void Text(QPainter& p, const QRectF& r, const QString& text, int pixels, bool bold,
          const QColor& colour = kInk) {
  p.setFont(Font(pixels, bold));
  p.setPen(colour);
  p.drawText(r, Qt::AlignCenter, text);
}

}  // namespace

QImage ButtonPicture(int id, QSize size) {
  QImage img = Canvas(size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  const QRectF g = GlyphBox(size);
  const double w = g.width();
  for (int c = 0; c < 4; ++c) {
    if (id == kChannel[c]) {
      Text(p, QRectF(QPointF(0, 0), QSizeF(size)), QStringLiteral("CH%1").arg(c + 1),
           size.height() * 3 / 4, true);
      return img;
    }
  }
  switch (id) {
    case kAll:
      Text(p, QRectF(QPointF(0, 0), QSizeF(size)), QStringLiteral("ALL"), size.height() * 3 / 4,
           true);
      break;
    case kPreviousFrame:
      p.drawRect(QRectF(g.left(), g.top(), w * 0.18, w));
      p.drawPolygon(Triangle(QRectF(g.left() + w * 0.25, g.top(), w * 0.75, w), false));
      break;
    case kReverse:
      p.drawPolygon(Triangle(g, false));
      break;
    case kPause:
      p.drawRect(QRectF(g.left() + w * 0.1, g.top(), w * 0.28, w));
      p.drawRect(QRectF(g.left() + w * 0.62, g.top(), w * 0.28, w));
      break;
    case kPlay:
      p.setBrush(QColor(0x10, 0x90, 0x30));
      p.drawPolygon(Triangle(g, true));
      break;
    case kNextFrame:
      p.drawPolygon(Triangle(QRectF(g.left(), g.top(), w * 0.75, w), true));
      p.drawRect(QRectF(g.right() - w * 0.18, g.top(), w * 0.18, w));
      break;
    case kStop:
      p.drawRect(g.adjusted(w * 0.08, w * 0.08, -w * 0.08, -w * 0.08));
      break;
    case kSearch: {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kInk, std::max(2.0, w * 0.14)));
      const QRectF lens(g.left(), g.top(), w * 0.65, w * 0.65);
      p.drawEllipse(lens);
      p.drawLine(QPointF(lens.right() - w * 0.08, lens.bottom() - w * 0.08),
                 QPointF(g.right(), g.bottom()));
      break;
    }
    case kHdd: {
      const QRectF box = g.adjusted(-w * 0.15, w * 0.2, w * 0.15, -w * 0.2);
      p.setBrush(QColor(0x70, 0x70, 0x78));
      p.drawRoundedRect(box, 2, 2);
      p.setBrush(ui::colour::kGreen);
      p.drawEllipse(QRectF(box.right() - w * 0.28, box.bottom() - w * 0.25, w * 0.16, w * 0.16));
      p.setBrush(QColor(0xC0, 0xC0, 0xC8));
      p.drawRect(QRectF(box.left() + w * 0.12, box.top() + w * 0.12, w * 0.6, w * 0.1));
      break;
    }
    case kCapture: {
      const QRectF body = g.adjusted(-w * 0.12, w * 0.2, w * 0.12, -w * 0.05);
      p.drawRoundedRect(body, 2, 2);
      p.drawRect(QRectF(body.left() + w * 0.2, g.top() + w * 0.05, w * 0.35, w * 0.2));
      p.setBrush(Qt::white);
      p.drawEllipse(body.center(), w * 0.24, w * 0.24);
      p.setBrush(kInk);
      p.drawEllipse(body.center(), w * 0.13, w * 0.13);
      break;
    }
    case kPreviousEvent:
      Flag(p, QRectF(g.left() + w * 0.45, g.top(), w * 0.55, w));
      p.setBrush(kInk);
      p.drawPolygon(
          Triangle(QRectF(g.left() - w * 0.1, g.top() + w * 0.2, w * 0.5, w * 0.6), false));
      break;
    case kNextEvent:
      Flag(p, QRectF(g.left(), g.top(), w * 0.55, w));
      p.setBrush(kInk);
      p.drawPolygon(
          Triangle(QRectF(g.left() + w * 0.6, g.top() + w * 0.2, w * 0.5, w * 0.6), true));
      break;
    case kMarkIn:
    case kMarkOut: {
      const bool in = id == kMarkIn;
      const QRectF all(QPointF(0, 0), QSizeF(size));
      Text(p, all.adjusted(in ? size.width() * 0.3 : 0, 0, in ? 0 : -size.width() * 0.3, 0),
           in ? QStringLiteral("IN") : QStringLiteral("OUT"), size.height() / 2, true);
      const double x = in ? size.width() * 0.18 : size.width() * 0.82;
      const double t = size.height() * 0.15, b = size.height() * 0.85, arm = size.width() * 0.08;
      p.setPen(QPen(ui::colour::kBlue, 2.2));
      p.drawLine(QPointF(x, t), QPointF(x, b));
      p.drawLine(QPointF(x, t), QPointF(x + (in ? arm : -arm), t));
      p.drawLine(QPointF(x, b), QPointF(x + (in ? arm : -arm), b));
      break;
    }
    case kExportClip: {
      const QRectF film = GlyphBox(size, 0.7).adjusted(-w * 0.3, w * 0.05, 0, -w * 0.05);
      Film(p, film);
      p.setBrush(ui::colour::kGreen);
      p.drawPolygon(Triangle(QRectF(film.right() + 1, film.top() + film.height() * 0.2,
                                    film.height() * 0.5, film.height() * 0.6),
                             true));
      break;
    }
    default:
      return {};
  }
  return img;
}

QImage SpeedPicture(const QString& caption, QSize size) {
  QImage img = Canvas(size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  const double w = std::min(size.width(), size.height()) * 0.45;
  const double top = size.height() * 0.12;
  const double left = (size.width() - w * 1.4) / 2.0;
  // The faster, the redder.
  const QString speed = caption.mid(caption.lastIndexOf(QLatin1Char(' ')) + 1);
  const int n = speed.left(speed.size() - 1).toInt();
  const QColor c = n <= 1 ? kInk : (n <= 16 ? ui::colour::kBlue : ui::colour::kRedOrange);
  p.setBrush(c);
  p.drawPolygon(Triangle(QRectF(left, top, w * 0.7, w), true));
  p.drawPolygon(Triangle(QRectF(left + w * 0.7, top, w * 0.7, w), true));
  Text(p, QRectF(0, top + w, size.width(), size.height() - top - w), speed, size.height() / 4, true,
       c);
  return img;
}

QImage AviPicture(bool recording, QSize size) {
  QImage img = Canvas(size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  const QRectF g = GlyphBox(size, 0.7);
  const double w = g.width();
  if (recording) {
    p.setBrush(ui::colour::kRed);
    p.drawEllipse(QRectF(g.left() + w * 0.1, g.top() + w * 0.1, w * 0.8, w * 0.8));
    Text(p, g, QStringLiteral("REC"), static_cast<int>(w * 0.3), true, Qt::white);
  } else {
    Film(p, g.adjusted(-w * 0.15, w * 0.1, w * 0.15, -w * 0.1));
    Text(p, g, QStringLiteral("AVI"), static_cast<int>(w * 0.3), true, Qt::white);
  }
  return img;
}

QImage WaitPicture(int step) {
  QImage img(kWaitPictureSize, kWaitPictureSize, QImage::Format_RGB888);
  img.fill(QColor(0xD4, 0xD0, 0xC8));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  // A disk platter with the lit sector going round.
  p.setBrush(QColor(0x70, 0x70, 0x78));
  p.drawEllipse(QRectF(0.5, 0.5, kWaitPictureSize - 1, kWaitPictureSize - 1));
  p.setBrush(ui::colour::kGreen);
  p.drawPie(QRectF(0.5, 0.5, kWaitPictureSize - 1, kWaitPictureSize - 1),
            (90 - 90 * (step % 4)) * 16, -90 * 16);
  p.setBrush(QColor(0xE0, 0xE0, 0xE8));
  p.drawEllipse(QPointF(kWaitPictureSize / 2.0, kWaitPictureSize / 2.0), 2, 2);
  return img;
}

}  // namespace rd::player
