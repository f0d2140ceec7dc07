#pragma once
// The "Streaming Status" dialog (modeless): the connection lines and the
// streaming statistics, refreshed on every one-second tick (0x4F0). It is a
// window of the control main of its own: "Connected" on a stream connect
// result of 0 (0x431), closed when the client closes the stream (0x432).
// Closed in any way, it unregisters, posts 0x462 to the main window (which
// then forgets it) and deletes itself.

#include <QDialog>

#include "client/engine/rcctrlmain.h"
#include "client/ui/models/StatsModel.h"
#include "ui/ControlTable.h"
#include "ui/WindowPort.h"

namespace rd::client {

class RcDlgStat : public QDialog {
 public:
  // Reads the connection lines and registers with `main`; `owner` is the
  // main window's port.
  RcDlgStat(QWidget* parent, RcCtrlMain& main, RcWindow& owner);
  ~RcDlgStat() override;

  const ui::ControlSet& Controls() const { return controls_; }
  // The dialog's side of the window messages.
  RcWindow& Port() { return port_; }

  void done(int result) override;

 private:
  void OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);
  void Show();

  RcCtrlMain& main_;
  RcWindow& owner_;
  ui::WindowPort port_;
  bool closed_ = false;
  ui::StatsModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
