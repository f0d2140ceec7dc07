#include "ui/FileChooser.h"

#include <QFileDialog>

namespace rd::ui {

namespace {

QString Ask(QWidget* parent, const QString& filter, const QString& suffix, const QString& directory,
            const QString& preset, bool save) {
  QFileDialog dialog(parent, QString(), directory, filter);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDefaultSuffix(suffix);
  if (!preset.isEmpty()) dialog.selectFile(preset);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

QString QtFileChooser::SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                                    const QString& preset) {
  return Ask(parent, filter, suffix, QString(), preset, true);
}

QString QtFileChooser::OpenFileName(QWidget* parent, const QString& filter, const QString& suffix,
                                    const QString& directory) {
  return Ask(parent, filter, suffix, directory, QString(), false);
}

}  // namespace rd::ui
