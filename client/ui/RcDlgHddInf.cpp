#include "client/ui/RcDlgHddInf.h"

#include <QPushButton>

#include "client/ui/DialogBinding.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;
using ui::kNoId;
namespace id = ui::hddinf_id;

constexpr int kWidth = 249, kHeight = 158;  // dialog units
constexpr int kOk = 1, kCancel = 2;

const ControlEntry kControls[] = {
    {kNoId, ControlKind::kGroupBox, "General DVR Hard Disk Information", 5, 5, 240, 130},
    {id::kCount, ControlKind::kText, "", 15, 20, 225, 8},
    {id::kTotal, ControlKind::kText, "", 15, 30, 225, 8},
    {kNoId, ControlKind::kText, "Master Hard Drive (Device 0)", 15, 45, 115, 8},
    {id::kMasterStatus, ControlKind::kText, "", 135, 45, 105, 8},
    {kNoId, ControlKind::kTextRight, "Total Space:", 20, 54, 65, 8},
    {id::kMasterTotal, ControlKind::kText, "", 90, 54, 150, 8},
    {kNoId, ControlKind::kTextRight, "Used Space:", 20, 65, 65, 8},
    {id::kMasterUsed, ControlKind::kText, "", 90, 65, 150, 8},
    {kNoId, ControlKind::kTextRight, "Free Space:", 20, 75, 65, 8},
    {id::kMasterFree, ControlKind::kText, "", 90, 75, 150, 8},
    {kNoId, ControlKind::kText, "Slave Hard Drive (Device 1)", 15, 90, 115, 8},
    {id::kSlaveStatus, ControlKind::kText, "", 135, 90, 105, 8},
    {kNoId, ControlKind::kTextRight, "Total Space:", 20, 100, 65, 8},
    {id::kSlaveTotal, ControlKind::kText, "", 90, 100, 150, 8},
    {kNoId, ControlKind::kTextRight, "Used Space:", 20, 110, 65, 8},
    {id::kSlaveUsed, ControlKind::kText, "", 90, 110, 150, 8},
    {kNoId, ControlKind::kTextRight, "Free Space:", 20, 119, 65, 8},
    {id::kSlaveFree, ControlKind::kText, "", 90, 119, 150, 8},
    {kOk, ControlKind::kDefaultButton, "OK", 140, 140, 50, 14},
    {kCancel, ControlKind::kButton, "Cancel", 195, 140, 50, 14},
};

// "Courier New" 8 point, as the dialog font is sized: 11 pixels.
QFont HddFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(11);
  font.setStyleHint(QFont::TypeWriter);
  return font;
}

}  // namespace

RcDlgHddInf::RcDlgHddInf(QWidget* parent) : QDialog(parent) {
  BuildDialog(*this, 211, "DVR Hard Drive Information", {kWidth, kHeight}, kControls, controls_,
              HddFont());
  connect(controls_.Button(kOk), &QAbstractButton::clicked, this, &QDialog::accept);
  connect(controls_.Button(kCancel), &QAbstractButton::clicked, this, &QDialog::reject);
  SetDisks({}, {});
}

void RcDlgHddInf::SetDisks(const ui::DiskInfo& master, const ui::DiskInfo& slave) {
  model_.SetDisks(master, slave);
  ApplyStates(model_.Controls(), controls_);
}

}  // namespace rd::client
