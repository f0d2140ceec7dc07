#pragma once
// The save-file question of the windows ("Save as AVI", "Capture") and the
// open-file question (a disk image), behind an interface so that tests can
// answer them.

#include <QString>
#include <QWidget>

namespace rd::ui {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen path, or an empty string when the user cancels. `filter` is
  // like "Avi Files (*.avi)", `suffix` the default extension, `preset` the
  // name the field shows at first.
  virtual QString SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                               const QString& preset) = 0;
  // An existing file to open, or an empty string when the user cancels.
  // `filter` like "Disk images (*.img *.dd);;All files (*)". The toolkit's
  // dialog unless overridden.
  virtual QString OpenFileName(QWidget* parent, const QString& filter);
};

// The file dialog of the toolkit (its own, not the desktop's, so it looks the
// same everywhere); the read-only option is not offered.
class QtFileChooser : public FileChooser {
 public:
  QString SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                       const QString& preset) override;
};

}  // namespace rd::ui
