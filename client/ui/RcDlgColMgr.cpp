#include "client/ui/RcDlgColMgr.h"

#include <QPushButton>

#include "client/ui/DialogBinding.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;
using ui::kNoId;
namespace id = ui::colmgr_id;

constexpr int kWidth = 137, kHeight = 66;  // dialog units
constexpr int kOk = 1, kCancel = 2;

const ControlEntry kControls[] = {
    {kNoId, ControlKind::kGroupBox, "Display Color Setting", 5, 6, 125, 34},
    {id::k256Colour, ControlKind::kPushCheck, "256 Color", 15, 20, 50, 14},
    {id::kTrueColour, ControlKind::kPushCheck, "True Color", 70, 20, 50, 14},
    {kOk, ControlKind::kDefaultButton, "OK", 15, 45, 50, 14},
    {kCancel, ControlKind::kButton, "Cancel", 70, 45, 50, 14},
};

}  // namespace

RcDlgColMgr::RcDlgColMgr(QWidget* parent) : QDialog(parent) {
  BuildDialog(*this, 260, "Display Color Setting", {kWidth, kHeight}, kControls, controls_);
  // The buttons do not toggle by themselves: each click sets the choice, and
  // both show it.
  connect(controls_.Button(id::k256Colour), &QAbstractButton::clicked, this, [this] {
    model_.Click256Colour();
    ApplyStates(model_.Controls(), controls_);
  });
  connect(controls_.Button(id::kTrueColour), &QAbstractButton::clicked, this, [this] {
    model_.ClickTrueColour();
    ApplyStates(model_.Controls(), controls_);
  });
  connect(controls_.Button(kOk), &QAbstractButton::clicked, this, &QDialog::accept);
  connect(controls_.Button(kCancel), &QAbstractButton::clicked, this, &QDialog::reject);
  ApplyStates(model_.Controls(), controls_);
}

void RcDlgColMgr::SetColourMode(bool true_colour) {
  model_.SetColourMode(true_colour);
  ApplyStates(model_.Controls(), controls_);
}

}  // namespace rd::client
