#pragma once
// The pictures of the windows, drawn at start from their sizes, texts and
// colours (no image files): status banners, lamps, dots, the title picture
// and the application icon.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

namespace rd::ui {

// Colours of the banners and lamps.
namespace colour {
inline const QColor kOrange{0xF0, 0x8C, 0x00};
inline const QColor kGrey{0x80, 0x80, 0x80};
inline const QColor kRedOrange{0xE8, 0x40, 0x10};
inline const QColor kBlue{0x20, 0x50, 0xC8};
inline const QColor kYellow{0xFF, 0xE0, 0x20};
inline const QColor kRed{0xD0, 0x10, 0x10};
inline const QColor kGreen{0x10, 0xC0, 0x30};
}  // namespace colour

inline constexpr int kBannerWidth = 195, kBannerHeight = 20;
inline constexpr int kLampWidth = 40, kLampHeight = 18;
inline constexpr int kDotSize = 8;
inline constexpr int kTitleWidth = 203, kTitleHeight = 33;

enum class PictureKind { kNone, kBanner, kLamp, kDot, kTitle };

// What a picture control shows; its text comes from the control's text.
struct PictureStyle {
  PictureKind kind = PictureKind::kNone;
  QColor colour;      // banner band, dot colour
  bool bold = false;  // banner: the bold image of a blinking pair
  bool lit = false;   // lamp: "OnAir" colours; dot: lit
};

inline PictureStyle Banner(const QColor& c, bool bold = false) {
  return {PictureKind::kBanner, c, bold, false};
}
inline PictureStyle Lamp(bool on_air) {
  return {PictureKind::kLamp, {}, false, on_air};
}
inline PictureStyle Dot(const QColor& c, bool lit) {
  return {PictureKind::kDot, c, false, lit};
}
inline PictureStyle Title() {
  return {PictureKind::kTitle, {}, false, false};
}

// 195 x 20, 24-bit: the text centred on a band of `band`; `bold` draws the
// text bold (the second image of a blinking banner).
QImage MakeBanner(const QString& text, const QColor& band, bool bold);
// 40 x 18: "OnAir" red letters on yellow, or the "Off" lamp in grey.
QImage MakeLamp(const QString& text, bool on_air);
// 8 x 8: a round dot, dark or lit.
QImage MakeDot(const QColor& colour, bool lit);
// 203 x 33: the program title.
QImage MakeTitle(const QString& text);
QImage MakePicture(const PictureStyle& style, const QString& text);

// The application icon (a small camera lens), at the usual sizes.
QIcon AppIcon();

}  // namespace rd::ui
