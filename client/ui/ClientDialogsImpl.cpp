#include "client/ui/ClientDialogsImpl.h"

#include "client/ui/RcDlgColMgr.h"
#include "client/ui/RcDlgDvrMgr.h"
#include "client/ui/RcDlgPlyMgr.h"
#include "client/ui/RcDlgStat.h"

namespace rd::client {

QDialog* ClientDialogsImpl::CreateDvrManagement(RdclientDlg& owner, RcCtrlMain& main) {
  auto* dialog = new RcDlgDvrMgr(&owner);
  dialog->SetContext(&owner.Port(), &main);
  dialog->Open();
  return dialog;
}

QDialog* ClientDialogsImpl::CreateStatistics(RdclientDlg& owner, RcCtrlMain& main) {
  return new RcDlgStat(&owner, main, owner.Port());
}

bool ClientDialogsImpl::ChooseColours(RdclientDlg& owner, bool currently_true_colour,
                                      bool* true_colour) {
  RcDlgColMgr dialog(&owner);
  dialog.SetColourMode(currently_true_colour);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (true_colour != nullptr) *true_colour = dialog.TrueColourChosen();
  return true;
}

bool ClientDialogsImpl::ChoosePlay(RdclientDlg& owner, const std::vector<EventRecord>& events,
                                   ui::PlayChoice* choice) {
  RcDlgPlyMgr dialog(&owner);
  dialog.SetEvents(events);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (choice != nullptr) *choice = dialog.Choice();
  return true;
}

}  // namespace rd::client
