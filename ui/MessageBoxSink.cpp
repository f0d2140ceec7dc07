#include "ui/MessageBoxSink.h"

#include <QApplication>
#include <QThread>

namespace rd::ui {

QtMessageBoxSink::QtMessageBoxSink(QString application_title, UiLog& log)
    : title_(std::move(application_title)), log_(log), previous_(SetMessageBoxSink(this)) {}

QtMessageBoxSink::~QtMessageBoxSink() {
  SetMessageBoxSink(previous_);
}

QString QtMessageBoxSink::CaptionFor(const Message& m) const {
  return m.caption.empty() ? title_ : QString::fromStdString(m.caption);
}

QMessageBox::Icon QtMessageBoxSink::QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kStop:
      return QMessageBox::Critical;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

void QtMessageBoxSink::Show(const Message& message) {
  if (QThread::currentThread() == thread()) {
    ShowNow(message);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, message] { ShowNow(message); }, Qt::QueuedConnection);
}

void QtMessageBoxSink::ShowNow(const Message& m) {
  const QString caption = CaptionFor(m);
  log_.Box(m, caption);
  QMessageBox box(QtIcon(m.icon), caption, QString::fromStdString(m.text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.setObjectName(QStringLiteral("messagebox"));
  box.setAccessibleName(caption);
  box.exec();
}

}  // namespace rd::ui
