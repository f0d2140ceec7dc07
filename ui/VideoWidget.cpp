#include "ui/VideoWidget.h"

#include <QKeyEvent>
#include <QPainter>

#include <cstring>

namespace rd::ui {
namespace {

constexpr double kOneToOneUpTo = 1.1;  // a picture this much smaller than the area is not enlarged

}  // namespace

VideoWidget::VideoWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAccessibleName(QStringLiteral("Video"));
  setFocusPolicy(Qt::ClickFocus);
}

void VideoWidget::Present(const QImage& picture) {
  if (picture.isNull()) return;
  const QImage::Format format =
      picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
          ? QImage::Format_RGB32
          : picture.format();
  if (surface_.size() != picture.size() || surface_.format() != format)
    surface_ = QImage(picture.size(), format);
  if (picture.format() == format && picture.bytesPerLine() == surface_.bytesPerLine()) {
    std::memcpy(surface_.bits(), picture.constBits(),
                static_cast<std::size_t>(picture.sizeInBytes()));
  } else {
    QPainter p(&surface_);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, picture);
  }
  presented_at_ = std::chrono::steady_clock::now();
  ++presents_;
  update();
}

QRect VideoWidget::PictureRect() const {
  if (surface_.isNull() || width() <= 0 || height() <= 0) return {};
  const double sx = static_cast<double>(width()) / surface_.width();
  const double sy = static_cast<double>(height()) / surface_.height();
  double scale = std::min(sx, sy);
  if (scale >= 1.0 && scale <= kOneToOneUpTo) scale = 1.0;
  const int w = static_cast<int>(surface_.width() * scale + 0.5);
  const int h = static_cast<int>(surface_.height() * scale + 0.5);
  return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void VideoWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = PictureRect();
  if (r.isNull()) {
    p.fillRect(rect(), Qt::black);
    return;
  }
  // Black bars around the picture only.
  const QRegion bars = QRegion(rect()).subtracted(QRegion(r));
  for (const QRect& b : bars) p.fillRect(b, Qt::black);
  if (r.size() == surface_.size()) {
    p.drawImage(r.topLeft(), surface_);
  } else {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, surface_);
  }
  ++paints_;
  if (probe_) probe_(presented_at_);
}

void VideoWidget::ToggleFullScreen() {
  if (!full_screen_) {
    home_parent_ = parentWidget();
    home_geometry_ = geometry();
    full_screen_ = true;
    setParent(nullptr, Qt::Window);
    setWindowTitle(QStringLiteral("Video"));
    showFullScreen();
    setFocus();
  } else {
    full_screen_ = false;
    setParent(home_parent_, Qt::Widget);
    setGeometry(home_geometry_);
    show();
    if (home_parent_ != nullptr) home_parent_->window()->activateWindow();
  }
}

void VideoWidget::SetHomeGeometry(const QRect& rect) {
  if (full_screen_)
    home_geometry_ = rect;
  else
    setGeometry(rect);
}

void VideoWidget::mouseDoubleClickEvent(QMouseEvent*) {
  ToggleFullScreen();
}

void VideoWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F11 || (full_screen_ && event->key() == Qt::Key_Escape)) {
    ToggleFullScreen();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace rd::ui
