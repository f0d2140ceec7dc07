#pragma once
// The "DVR Hard Drive Information" dialog (modal): the size, use and free
// space of the DVR's master and slave disks, in a fixed-width font so that
// the columns of digits line up. OK and Cancel both just close it.

#include <QDialog>

#include "client/ui/models/HddInfoModel.h"
#include "ui/ControlTable.h"

namespace rd::client {

class RcDlgHddInf : public QDialog {
 public:
  explicit RcDlgHddInf(QWidget* parent = nullptr);

  // Master (device 0), then slave (device 1); fills every text.
  void SetDisks(const ui::DiskInfo& master, const ui::DiskInfo& slave);

  const ui::ControlSet& Controls() const { return controls_; }

 private:
  ui::HddInfoModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
