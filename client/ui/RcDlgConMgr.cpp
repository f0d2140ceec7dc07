#include "client/ui/RcDlgConMgr.h"

#include <QCheckBox>
#include <QPushButton>

#include "ui/DialogUnits.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;

constexpr int kWidth = 150, kHeight = 124;  // dialog units

const ControlEntry kControls[] = {
    {conmgr::kTitle, ControlKind::kPicture, "Tessaro", 7, 5, 136, 22, 0, ui::Title()},
    {ui::kNoId, ControlKind::kText, "Please Input Following Information to Connect", 7, 34, 140, 8},
    {ui::kNoId, ControlKind::kText, "DVR IP:", 12, 51, 40, 8},
    {conmgr::kAddress, ControlKind::kIpAddress, "DVR IP", 55, 49, 88, 13},
    {conmgr::kSaveAddress, ControlKind::kCheckBox, "Save IP Address", 55, 65, 88, 10, ui::kChecked},
    {ui::kNoId, ControlKind::kText, "Password:", 12, 82, 40, 8},
    {conmgr::kPassword, ControlKind::kPassword, "", 55, 80, 88, 13, 0, {}, 6},
    {conmgr::kOk, ControlKind::kDefaultButton, "OK", 22, 102, 50, 14},
    {conmgr::kCancel, ControlKind::kButton, "Cancel", 78, 102, 50, 14},
};

}  // namespace

RcDlgConMgr::RcDlgConMgr(QWidget* parent, const ConfigFile& file) : QDialog(parent), model_(file) {
  setWindowTitle(QStringLiteral("DVR Client Connection Manager"));
  setObjectName(QStringLiteral("135"));
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  setFixedSize(du.Size(kWidth, kHeight));
  controls_.Build(this, kControls, du);
  ui::SetLayoutInfo(this, this, du);
  ui::CentreOverParent(this);
  controls_.Get<QLineEdit>(conmgr::kPassword)->setAccessibleName(QStringLiteral("Password"));
  controls_.Ip(conmgr::kAddress)->setAccessibleName(QStringLiteral("DVR IP"));
  // The title picture centred over the dialog.
  if (QWidget* title = controls_.Widget(conmgr::kTitle))
    title->move((width() - title->width()) / 2, title->y());
  controls_.Ip(conmgr::kAddress)->SetAddress(model_.OpeningAddress());
  connect(static_cast<QPushButton*>(controls_.Widget(conmgr::kOk)), &QPushButton::clicked, this,
          &RcDlgConMgr::accept);
  connect(static_cast<QPushButton*>(controls_.Widget(conmgr::kCancel)), &QPushButton::clicked, this,
          &RcDlgConMgr::reject);
  controls_.Widget(conmgr::kAddress)->setFocus();
}

std::string RcDlgConMgr::PasswordText() const {
  return controls_.Edit(conmgr::kPassword)->text().toStdString();
}

void RcDlgConMgr::accept() {
  const bool save = controls_.Get<QCheckBox>(conmgr::kSaveAddress)->isChecked();
  const ConMgrResult r = model_.Ok(controls_.Ip(conmgr::kAddress)->Address(), PasswordText(), save);
  if (r.clear_password) controls_.Edit(conmgr::kPassword)->clear();
  if (r.box) ShowMessage(r.box->caption, r.box->text, r.box->icon);
  if (r.accepted) QDialog::accept();
}

}  // namespace rd::client
