#include "ui/UiFonts.h"

#include <fontconfig/fontconfig.h>

#include <QFontInfo>

namespace rd::ui {
namespace {

// "same" binding: the alias replaces the family as if it had been asked for.
constexpr char kAliases[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <alias binding="same">
    <family>MS Sans Serif</family>
    <prefer><family>Liberation Sans</family></prefer>
  </alias>
  <alias binding="same">
    <family>Courier New</family>
    <prefer><family>Liberation Mono</family></prefer>
  </alias>
</fontconfig>
)";

constexpr int kDialogPixelSize = 11;  // 8 point at 96 dots per inch

}  // namespace

bool InstallFontAliases() {
  static const bool installed = [] {
    if (FcInit() == FcFalse) return false;
    FcConfig* config = FcConfigGetCurrent();
    return config != nullptr &&
           FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kAliases),
                                          FcTrue) == FcTrue;
  }();
  return installed;
}

QFont DialogFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(kDialogPixelSize);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QString ResolvedDialogFamily() {
  return QFontInfo(DialogFont()).family();
}

}  // namespace rd::ui
