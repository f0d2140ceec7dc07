#include "ui/FileChooser.h"

#include <QFileDialog>

namespace rd::ui {

QString QtFileChooser::SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                                    const QString& preset) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDefaultSuffix(suffix);
  if (!preset.isEmpty()) dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

QString FileChooser::OpenFileName(QWidget* parent, const QString& filter) {
  QFileDialog dialog(parent, QString(), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace rd::ui
