#include "client/ui/RcDlgStat.h"

#include <QPushButton>

#include "client/ui/DialogBinding.h"
#include "client/ui/models/ctrl/CtrlMainDialogs.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;
using ui::kNoId;
namespace id = ui::stat_id;

constexpr int kWidth = 282, kHeight = 178;  // dialog units
constexpr int kClose = 2;

constexpr int kLabelX = 10, kLabelW = 80, kValueX = 95, kValueW = 180, kRowH = 8;

const ControlEntry kControls[] = {
    {kNoId, ControlKind::kGroupBox, "General Information", 5, 3, 272, 57},
    {kNoId, ControlKind::kTextRight, "Connection Status :", kLabelX, 14, kLabelW, kRowH},
    {id::kStatus, ControlKind::kText, "Not Connected", kValueX, 14, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "DVR IP :", kLabelX, 25, kLabelW, kRowH},
    {id::kAddress, ControlKind::kText, "N/A", kValueX, 25, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Streaming Port :", kLabelX, 36, kLabelW, kRowH},
    {id::kPort, ControlKind::kText, "N/A", kValueX, 36, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Connection Time :", kLabelX, 47, kLabelW, kRowH},
    {id::kTime, ControlKind::kText, "0 sec", kValueX, 47, kValueW, kRowH},
    {kNoId, ControlKind::kGroupBox, "Statistical Information", 5, 63, 272, 90},
    {kNoId, ControlKind::kTextRight, "Connection Speed :", kLabelX, 75, kLabelW, kRowH},
    {id::kSpeed, ControlKind::kText, "", kValueX, 75, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Incomming Packet :", kLabelX, 86, kLabelW, kRowH},
    {id::kPackets, ControlKind::kText, "", kValueX, 86, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Packet Size :", kLabelX, 97, kLabelW, kRowH},
    {id::kPacketSize, ControlKind::kText, "", kValueX, 97, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Total Frame :", kLabelX, 108, kLabelW, kRowH},
    {id::kFrames, ControlKind::kText, "", kValueX, 108, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Frame Rate :", kLabelX, 119, kLabelW, kRowH},
    {id::kFrameRate, ControlKind::kText, "", kValueX, 119, kValueW, kRowH},
    {kNoId, ControlKind::kTextRight, "Frame Size :", kLabelX, 130, kLabelW, kRowH},
    {id::kFrameSize, ControlKind::kText, "", kValueX, 130, kValueW, kRowH},
    {id::kLegend, ControlKind::kText, "", kValueX, 141, kValueW, kRowH},
    {kClose, ControlKind::kButton, "Close Window", 212, 158, 65, 14},
};

}  // namespace

RcDlgStat::RcDlgStat(QWidget* parent, RcCtrlMain& main, RcWindow& owner)
    : QDialog(parent),
      main_(main),
      owner_(owner),
      port_([this](uint32_t m, uintptr_t w, intptr_t l) { OnMessage(m, w, l); }) {
  setAttribute(Qt::WA_DeleteOnClose);
  BuildDialog(*this, 134, "Streaming Status", {kWidth, kHeight}, kControls, controls_);
  connect(controls_.Button(kClose), &QAbstractButton::clicked, this, &QDialog::reject);
  model_.SetConnection(main_.IsStreamLive(), main_.StreamAddress(), main_.StreamPort());
  Show();
  main_.RegisterWindow(&port_);
}

RcDlgStat::~RcDlgStat() {
  main_.UnregisterWindow(&port_);
}

void RcDlgStat::Show() {
  ApplyStates(model_.Controls(), controls_);
}

void RcDlgStat::OnMessage(uint32_t message, uintptr_t wparam, intptr_t) {
  switch (message) {
    case rcmsg::kStreamConnectResult:
      model_.StreamConnectResult(wparam);
      Show();
      return;
    case rcmsg::kStreamClosed:
      reject();
      return;
    case rcmsg::kSecondTick:
      model_.Refresh(ui::ReadStats(main_.Stats()));
      Show();
      return;
    default:
      return;
  }
}

// Every way of closing ends here: no more messages, the main window forgets
// the dialog, and the dialog is deleted once the current event is handled
// (it deletes itself on close).
void RcDlgStat::done(int result) {
  if (!closed_) {
    closed_ = true;
    main_.UnregisterWindow(&port_);
    owner_.Post(rcmsg::kStatDestroyed, 0, 0);
  }
  QDialog::done(result);
}

}  // namespace rd::client
