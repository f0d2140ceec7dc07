#pragma once
// SelectHddDialog: the list of DVR disks found ("Hard Disk 1", ...). OK takes
// the selected line (the first when none is selected), Esc cancels.

#include <QDialog>

#include <optional>
#include <vector>

#include "player/ui/models/SelectHddModel.h"
#include "ui/ControlTable.h"

class QListWidget;

namespace rd::player {

class SelectHddDialog : public QDialog {
 public:
  SelectHddDialog(QWidget* parent, const DiskTable& table);

  // The drive chosen with OK.
  std::optional<int> drive() const { return drive_; }
  QListWidget* List() const;
  QAbstractButton* OkButton() const;

  void accept() override;

 private:
  ui::ControlSet controls_;
  std::vector<HddLine> lines_;
  std::optional<int> drive_;
};

}  // namespace rd::player
