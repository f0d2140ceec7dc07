#pragma once
// The "Remote DVR Control Panel" (DVR management dialog, modeless): the DVR's
// basic settings, its clock and its 24-hour recording schedule as the session
// cache held them when it opened; "Update Setting" sends what the user
// changed, "Detailed HDD Info." shows the disks. Closed in any way, it posts
// 0x461 to the main window, which then deletes it.

#include <QDialog>

#include "client/engine/rcctrlmain.h"
#include "client/ui/models/DvrMgrModel.h"
#include "ui/ControlTable.h"

namespace rd::client {

class RcDlgDvrMgr : public QDialog {
 public:
  explicit RcDlgDvrMgr(QWidget* parent = nullptr);

  // The main window's port (the closing message goes there) and the control
  // main; false, and nothing kept, when either is null.
  bool SetContext(RcWindow* owner, RcCtrlMain* main);
  // Fills the dialog from the session cache (no DVR data without a
  // connection); needs the context.
  void Open();

  const ui::ControlSet& Controls() const { return controls_; }
  const ui::DvrMgrModel& Model() const { return model_; }

  void done(int result) override;

 private:
  void Show();
  void OnUpdate();
  void OnHddInfo();

  RcWindow* owner_ = nullptr;
  RcCtrlMain* main_ = nullptr;
  bool closed_ = false;
  ui::DvrMgrModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
