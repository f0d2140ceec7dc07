#pragma once
// The save-file question of the windows ("Save as AVI", "Capture"), behind an
// interface so that tests can answer it.

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
};

// The file dialog of the toolkit (its own, not the desktop's, so it looks the
// same everywhere); the read-only option is not offered.
class QtFileChooser : public FileChooser {
 public:
  QString SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                       const QString& preset) override;
};

}  // namespace rd::ui
