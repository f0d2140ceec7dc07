#include "ui/UiLog.h"

#include <QEvent>
#include <QMessageBox>
#include <QWidget>

#include <cstdlib>

#include "ui/ControlTable.h"

namespace rd::ui {
namespace {

std::string Escaped(const QString& s) {
  QString t = s;
  t.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  t.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  t.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
  t.remove(QLatin1Char('\r'));
  return t.toStdString();
}

}  // namespace

UiLog& UiLog::Instance() {
  static UiLog log([] {
    const char* path = std::getenv("RD_UI_LOG");
    return std::string(path != nullptr ? path : "");
  }());
  return log;
}

UiLog::UiLog(const std::string& path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

UiLog::~UiLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::string UiLog::BoxLine(const QString& caption, const QString& text, MessageIcon icon) {
  return "box\t" + Escaped(caption) + "\t" + Escaped(text) + "\t" + IconName(icon);
}

std::string UiLog::WindowLine(bool open, const QString& caption, int x, int y, int bx, int by) {
  return std::string("window\t") + (open ? "open" : "close") + "\t" + Escaped(caption) + "\t" +
         std::to_string(x) + "," + std::to_string(y) + "\t" + std::to_string(bx) + "," +
         std::to_string(by);
}

void UiLog::Box(const Message& m, const QString& shown_caption) {
  if (enabled()) Write(BoxLine(shown_caption, QString::fromStdString(m.text), m.icon));
}

void UiLog::Window(bool open, const QString& caption, int x, int y, int bx, int by) {
  if (enabled()) Write(WindowLine(open, caption, x, y, bx, by));
}

void UiLog::Write(const std::string& line) {
  std::lock_guard lock(mu_);
  if (file_ == nullptr) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

bool WindowLogFilter::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type t = event->type();
  if ((t == QEvent::Show || t == QEvent::Hide) && !event->spontaneous() &&
      watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(watched);
    if (w->isWindow() && dynamic_cast<QMessageBox*>(w) == nullptr &&
        (w->windowFlags() & Qt::WindowType_Mask) != Qt::ToolTip &&
        (w->windowFlags() & Qt::WindowType_Mask) != Qt::Popup) {
      const QPoint origin = ClientArea(w)->mapToGlobal(QPoint(0, 0));
      const QSize units = BaseUnits(w);
      log_.Window(t == QEvent::Show, w->windowTitle(), origin.x(), origin.y(), units.width(),
                  units.height());
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rd::ui
