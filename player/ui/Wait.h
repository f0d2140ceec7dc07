#pragma once
// WaitDialog: "Search DVR HDD / Please wait a moment..." with a four-step
// animation, shown while the drives are scanned. The animation runs on the
// user-interface thread (a window timer) while the scan runs on a worker
// thread; the dialog goes once the worker has been joined.

#include <QDialog>

#include <atomic>
#include <functional>

class QLabel;

namespace rd::player {

class WaitDialog : public QDialog {
 public:
  explicit WaitDialog(QWidget* parent = nullptr);

  // Shows the dialog, runs `work` on a worker thread while the event loop
  // animates, joins the worker and closes the dialog. (Without a thread,
  // `work` runs here, without animation.)
  static void RunWhile(QWidget* parent, const std::function<void()>& work,
                       WaitDialog** shown = nullptr);

  int step() const { return step_; }
  // Animation steps shown so far (readable from any thread).
  int steps_shown() const { return steps_shown_.load(); }
  QLabel* PictureLabel() const { return picture_; }

 protected:
  void reject() override {}  // Esc does not end the scan

 private:
  void Advance();

  QLabel* picture_ = nullptr;
  int step_ = 0;
  std::atomic<int> steps_shown_{0};
};

}  // namespace rd::player
