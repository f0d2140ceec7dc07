#pragma once
// The file questions of the windows ("Save as AVI", "Capture", the local
// recording to play, a disk image to open), behind an interface so that tests
// can answer them.

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
  // An existing file to open, starting in `directory`; empty when the user
  // cancels (and from a chooser that does not offer the question).
  virtual QString OpenFileName(QWidget* parent, const QString& filter, const QString& suffix,
                               const QString& directory) {
    (void)parent;
    (void)filter;
    (void)suffix;
    (void)directory;
    return {};
  }
};

// The file dialog of the toolkit (its own, not the desktop's, so it looks the
// same everywhere); the read-only option is not offered.
class QtFileChooser : public FileChooser {
 public:
  QString SaveFileName(QWidget* parent, const QString& filter, const QString& suffix,
                       const QString& preset) override;
  QString OpenFileName(QWidget* parent, const QString& filter, const QString& suffix,
                       const QString& directory) override;
};

}  // namespace rd::ui
