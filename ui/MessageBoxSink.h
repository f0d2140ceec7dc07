#pragma once
// The windows' message-box sink: on the user-interface thread a modal box
// with the caption, text and icon exactly as given (an empty caption is the
// application's title) and an OK button; from any other thread the box is
// queued to the user-interface thread and Show returns at once. Every box
// shown is written to RD_UI_LOG.

#include <QMessageBox>
#include <QObject>
#include <QString>

#include "platform/MessageBox.h"
#include "ui/UiLog.h"

namespace rd::ui {

class QtMessageBoxSink : public QObject, public MessageBoxSink {
 public:
  // Installs itself as the process's sink; the destructor puts back the previous one.
  explicit QtMessageBoxSink(QString application_title, UiLog& log = UiLog::Instance());
  ~QtMessageBoxSink() override;
  QtMessageBoxSink(const QtMessageBoxSink&) = delete;
  QtMessageBoxSink& operator=(const QtMessageBoxSink&) = delete;

  void Show(const Message& message) override;

  QString CaptionFor(const Message& message) const;
  static QMessageBox::Icon QtIcon(MessageIcon icon);

 private:
  void ShowNow(const Message& message);

  QString title_;
  UiLog& log_;
  MessageBoxSink* previous_ = nullptr;
};

}  // namespace rd::ui
