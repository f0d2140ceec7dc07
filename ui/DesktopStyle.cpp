#include "ui/DesktopStyle.h"

#include <QApplication>
#include <QStyleFactory>

#include "ui/UiFonts.h"

namespace rd::ui {

void ApplyDesktopStyle() {
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(DialogFont());
  qApp->setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid #a0a0a0; margin-top: 6px; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                     " left: 5px; top: 0px; padding: 0px 2px; }"
                     "QGroupBox:disabled { color: #909090; }"));
}

}  // namespace rd::ui
