#pragma once
// The video area. Present (user-interface thread) copies the refreshed
// picture into the widget's own surface, allocated once for the picture's
// size, and schedules a repaint; the paint draws it with its aspect ratio
// kept, centred on black: 1:1 while it fits up to a tenth larger, scaled
// otherwise (a PAL picture in the NTSC-sized area is made smaller, never
// clipped). Double-click or F11 shows the video full screen, Esc, F11 or a
// double-click return it to its window.

#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>

namespace rd::ui {

class VideoWidget : public QWidget {
 public:
  explicit VideoWidget(QWidget* parent = nullptr);

  void Present(const QImage& picture);
  // A copy of the last picture presented (null before the first).
  QImage Picture() const { return surface_.copy(); }
  // Where the picture is drawn in the widget.
  QRect PictureRect() const;

  void ToggleFullScreen();
  bool IsFullScreen() const { return full_screen_; }
  // The geometry in the parent window; kept for the return while full screen.
  void SetHomeGeometry(const QRect& rect);

  // Called at the end of each paint that drew a picture, with the time that
  // picture was presented (latency measurements).
  using PaintProbe = std::function<void(std::chrono::steady_clock::time_point presented)>;
  void SetPaintProbe(PaintProbe probe) { probe_ = std::move(probe); }
  uint64_t Presents() const { return presents_; }
  uint64_t Paints() const { return paints_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage surface_;
  std::chrono::steady_clock::time_point presented_at_{};
  PaintProbe probe_;
  uint64_t presents_ = 0;
  uint64_t paints_ = 0;
  bool full_screen_ = false;
  QWidget* home_parent_ = nullptr;
  QRect home_geometry_;
};

}  // namespace rd::ui
