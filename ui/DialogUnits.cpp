#include "ui/DialogUnits.h"

#include <QFontMetrics>

#include <cmath>

#include "ui/UiFonts.h"

namespace rd::ui {
namespace {

// a * b / c rounded to the nearest integer (halves away from zero).
int MulDiv(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(int base_x, int base_y)
    : base_x_(base_x > 0 ? base_x : 1), base_y_(base_y > 0 ? base_y : 1) {}

DialogUnits::DialogUnits(const QFont& font) : DialogUnits(1, 1) {
  const QFontMetrics fm(font);
  const int letters =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  // The average over 52 letters, rounded: (width / 26 + 1) / 2.
  base_x_ = std::max(1, (letters / 26 + 1) / 2);
  // The character height as the layouts were made with it: the ascent and
  // the descent each rounded up to whole pixels.
  const QFontMetricsF fmf(font);
  base_y_ = std::max(1, static_cast<int>(std::ceil(fmf.ascent() - 0.01)) +
                            static_cast<int>(std::ceil(fmf.descent() - 0.01)));
}

DialogUnits DialogUnits::Dialog() {
  return DialogUnits(DialogFont());
}

int DialogUnits::X(int dialog_units) const {
  return MulDiv(dialog_units, base_x_, 4);
}

int DialogUnits::Y(int dialog_units) const {
  return MulDiv(dialog_units, base_y_, 8);
}

}  // namespace rd::ui
