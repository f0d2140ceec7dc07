#include "player/ui/Wait.h"

#include <QEventLoop>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <system_error>
#include <thread>

#include "player/ui/PlayerPictures.h"
#include "player/ui/rdplayerIds.h"
#include "ui/ControlTable.h"
#include "ui/UiFonts.h"

namespace rd::player {
namespace {

using namespace ids;
using ui::ControlKind;

const ui::ControlEntry kControls[] = {
    {ui::kNoId, ControlKind::kText, "Search DVR HDD", 19, 7, 100, 8, 0, {}},
    {ui::kNoId, ControlKind::kText, "Please wait a moment...", 49, 18, 95, 8, 0, {}},
    {kWaitPicture, ControlKind::kText, "Searching", 148, 6, 20, 20, 0, {}},
};

// Where the animation's pictures are drawn in the picture area.
constexpr int kPictureAt = 12;

}  // namespace

WaitDialog::WaitDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("wait"));
  setWindowTitle(QStringLiteral("Search DVR HDD"));
  setFont(ui::DialogFont());
  setWindowModality(Qt::ApplicationModal);
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  ui::ControlSet controls;
  controls.Build(this, kControls, du);
  picture_ = controls.Label(kWaitPicture);
  picture_->setText(QString());
  picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture_->setContentsMargins(std::min(kPictureAt, picture_->width() - kWaitPictureSize),
                               std::min(kPictureAt, picture_->height() - kWaitPictureSize), 0, 0);
  setFixedSize(du.Size(kWaitWidth, kWaitHeight));
  ui::SetLayoutInfo(this, this, du);
  picture_->setPixmap(QPixmap::fromImage(WaitPicture(0)));
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &WaitDialog::Advance);
  timer->start(kWaitStepMs);
}

void WaitDialog::Advance() {
  step_ = (step_ + 1) % 4;  // after the fourth comes the first
  ++steps_shown_;
  picture_->setPixmap(QPixmap::fromImage(WaitPicture(step_)));
}

void WaitDialog::RunWhile(QWidget* parent, const std::function<void()>& work, WaitDialog** shown) {
  WaitDialog dialog(parent);
  if (shown) *shown = &dialog;
  dialog.show();
  QEventLoop loop;
  std::atomic<bool> done{false};
  std::thread worker;
  try {
    worker = std::thread([&] {
      work();
      done = true;
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
  } catch (const std::system_error&) {
    work();
    done = true;
  }
  if (!done) loop.exec();
  if (worker.joinable()) worker.join();
  if (shown) *shown = nullptr;
  dialog.hide();
}

}  // namespace rd::player
