#pragma once
// The dialogs of the main window's menu and of the DVR play search: the DVR
// management and statistics dialogs (modeless), the display colour and the
// DVR play dialogs (modal).

#include "client/ui/rdclientDlg.h"

namespace rd::client {

class ClientDialogsImpl : public ClientDialogs {
 public:
  QDialog* CreateDvrManagement(RdclientDlg& owner, RcCtrlMain& main) override;
  QDialog* CreateStatistics(RdclientDlg& owner, RcCtrlMain& main) override;
  bool ChooseColours(RdclientDlg& owner, bool currently_true_colour, bool* true_colour) override;
  bool ChoosePlay(RdclientDlg& owner, const std::vector<EventRecord>& events,
                  ui::PlayChoice* choice) override;
};

}  // namespace rd::client
