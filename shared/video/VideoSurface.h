#pragma once
// What both programs draw onto the video picture (QtGui surfaces only): the
// decoder's bottom-up output painted into a picture, the 256-colour palette as
// a colour table, the on-video font ("courier new" in an 18 x 9 pixel cell,
// weight 300) with its outlined text (black at the eight neighbouring
// offsets, white on top), and a picture read back as bottom-up rows for
// bitmap files and AVI frames.
//
// Pictures are QImage::Format_RGB32.

#include <QFont>
#include <QImage>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

namespace rd::video {

// The decoder's 240-colour palette as a 256-entry colour table (entries
// 0..15 black).
QVector<QRgb> DecoderPalette();

// Paints decoder output (bottom-up rows, 640 pixels apart; 3 bytes a pixel
// for status 0, palette indices for status 1) into the width x height
// rectangle of `surface` at (x0, y0): output row height - 1 is the top row.
// The rectangle is clipped to the surface. Other statuses paint nothing.
void PaintDecoderOutput(const uint8_t* output, int status, const QVector<QRgb>& palette,
                        QImage& surface, int x0, int y0, int width, int height);

// The top-left width x height of `picture` as bottom-up rows of
// width * bytes_per_pixel bytes (3: blue, green, red; 4: the same and a zero
// byte). Parts outside the picture are black.
void ReadBottomUp(const QImage& picture, uint8_t* out, int width, int height, int bytes_per_pixel);

// The on-video text. Build() needs a QGuiApplication (the offscreen platform
// is enough) and must run before the other calls.
class OverlayText {
 public:
  bool Build();
  bool built() const { return built_; }
  const QFont& font() const { return font_; }

  // Draws `text` with the top-left corner of its outline at (x, y): black at
  // the eight neighbours of (x + 1, y + 1), then white at (x + 1, y + 1).
  void Draw(QImage& surface, int x, int y, const QString& text) const;
  // `text` drawn as above at (0, 0) on a transparent ground, to be blended
  // onto pictures many times without laying out text again.
  QImage Label(const QString& text) const;

 private:
  QFont font_;
  int ascent_ = 0;
  bool built_ = false;
};

}  // namespace rd::video
