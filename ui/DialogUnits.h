#pragma once
// The one conversion from dialog units to pixels. The base units come from
// the dialog font: the average width of the 52 Latin letters (rounded as the
// dialog layouts expect) and the font's character height; a rectangle of
// dialog units becomes x * base_x / 4, y * base_y / 8 pixels, each rounded to
// the nearest pixel.

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace rd::ui {

class DialogUnits {
 public:
  DialogUnits(int base_x, int base_y);
  // From the font's metrics.
  explicit DialogUnits(const QFont& font);
  // The dialog font's units (DialogFont()).
  static DialogUnits Dialog();

  int base_x() const { return base_x_; }
  int base_y() const { return base_y_; }
  int X(int dialog_units) const;
  int Y(int dialog_units) const;
  QPoint Point(int x, int y) const { return {X(x), Y(y)}; }
  QSize Size(int w, int h) const { return {X(w), Y(h)}; }
  // Position and size are converted on their own, as the layouts are made.
  QRect Rect(int x, int y, int w, int h) const { return {Point(x, y), Size(w, h)}; }

 private:
  int base_x_;
  int base_y_;
};

}  // namespace rd::ui
