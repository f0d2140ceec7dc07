#pragma once
// The "DVR Play" dialog (modal): a start time within the recorded range of the
// master or the slave disk ("Start Timed Play"), or one recorded event
// ("Start Event Play", or a double-click on it). It sends nothing itself: on
// OK the caller reads the choice and asks the control main to play it.
// "Cancel" is the default button.

#include <QDialog>

#include <vector>

#include "client/ui/models/PlayDialogModel.h"
#include "ui/ControlTable.h"

namespace rd::client {

class RcDlgPlyMgr : public QDialog {
 public:
  explicit RcDlgPlyMgr(QWidget* parent = nullptr);

  // The session's event list, newest first; fills every control.
  void SetEvents(const std::vector<EventRecord>& events);
  // The timed or event play chosen, read after OK.
  const ui::PlayChoice& Choice() const { return model_.Result(); }

  const ui::ControlSet& Controls() const { return controls_; }

 private:
  void Show();
  void Outcome(const ui::PlayDialogModel::Outcome& outcome);

  ui::PlayDialogModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
