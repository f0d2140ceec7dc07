#pragma once
// RD_UI_LOG=FILE: one line per message box shown and per window shown or
// closed, so scripts and support can follow what a person saw:
//   box<TAB>caption<TAB>text (newlines as \n)<TAB>icon
//   window<TAB>open|close<TAB>caption<TAB>x,y<TAB>bx,by
// (x,y: the client area's top left on the screen; bx,by: the dialog base
// units of the window's layout). Nothing is written when it is unset.

#include <QObject>
#include <QString>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/MessageBox.h"

namespace rd::ui {

class UiLog {
 public:
  // The log of RD_UI_LOG (opened on first use, appended to).
  static UiLog& Instance();
  explicit UiLog(const std::string& path);  // empty: disabled
  ~UiLog();
  UiLog(const UiLog&) = delete;
  UiLog& operator=(const UiLog&) = delete;

  bool enabled() const { return file_ != nullptr; }
  void Box(const Message& message, const QString& shown_caption);
  void Window(bool open, const QString& caption, int x, int y, int bx, int by);

  static std::string BoxLine(const QString& caption, const QString& text, MessageIcon icon);
  static std::string WindowLine(bool open, const QString& caption, int x, int y, int bx, int by);

 private:
  void Write(const std::string& line);
  std::mutex mu_;
  std::FILE* file_ = nullptr;
};

// Installed on the application: writes the window lines for every top-level
// window (message boxes have their own box line) as it is shown or closed.
class WindowLogFilter : public QObject {
 public:
  explicit WindowLogFilter(UiLog& log) : log_(log) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  UiLog& log_;
};

}  // namespace rd::ui
