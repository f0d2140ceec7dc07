#include "client/ui/panels/DvrPanel.h"

#include "client/ui/rdclientIds.h"

namespace rd::client::panels {

using namespace ids;

bool IsPlayingMode(uint8_t mode) {
  return mode >= 1 && mode <= 3;
}
bool IsRecordingMode(uint8_t mode) {
  return mode >= 4 && mode <= 7;
}

DvrModeView DvrModeDisplay(uint8_t mode, uint8_t play_speed, bool phase) {
  // Blinking banners: the normal image in the set phase, the bold one in the clear phase.
  auto blink = [phase](int normal, int bold, bool lamp = false) {
    return DvrModeView{phase ? normal : bold, lamp && phase};
  };
  switch (mode) {
    case 0:
      return {kBannerView, false};
    case 1:
      return play_speed == 0 ? blink(kBannerPlay, kBannerPlayBold)
                             : blink(kBannerRew, kBannerRewBold);
    case 2:
      return blink(kBannerPause, kBannerPauseBold);
    case 3:
      return blink(kBannerFf, kBannerFfBold);
    case 4:
      return blink(kBannerRec, kBannerRecBold, true);
    case 5:
      return blink(kBannerNotScheduled, kBannerNotScheduledBold);
    case 6:
      return blink(kBannerAlarm, kBannerAlarmBold, true);
    case 7:
      return blink(kBannerSensor, kBannerSensorBold);
    default:
      return {kBannerNoInfo, false};
  }
}

void DvrControl::Reset() {
  command_pending_ = false;
  play_search_pending_ = false;
  choosing_ = false;
  watchdog_ = 0;
}

std::optional<DvrButtons> DvrControl::ButtonsForMode(uint8_t mode) {
  std::optional<DvrButtons> b;
  if (mode == 0) {
    b = DvrButtons{.rec = !command_pending_, .play = !command_pending_};
  } else if (mode == 1 || mode == 3) {
    b = DvrButtons{.play = true, .stop = true, .pause = true, .rew = true, .ff = true};
  } else if (mode == 2) {
    b = DvrButtons{.play = true, .stop = true, .rew = true, .ff = true};
  } else if (IsRecordingMode(mode)) {
    command_pending_ = false;
    b = DvrButtons{.stop = true};
  }
  watchdog_ = 0;
  return b;
}

bool DvrControl::WatchdogTick(bool rec_or_stop_enabled) {
  if (play_search_pending_) return false;
  if (rec_or_stop_enabled) {
    watchdog_ = 0;
    return false;
  }
  ++watchdog_;  // 8 bits: after 255 seconds it starts over
  if (watchdog_ <= 2) return false;
  command_pending_ = false;
  return true;
}

DvrCommand DvrControl::Rec(uint8_t mode) {
  DvrCommand c;
  c.disable = {kDvrRec, kDvrPlay};
  command_pending_ = true;
  if (IsPlayingMode(mode)) {
    c.box = InvalidRecordBox();
  } else if (IsRecordingMode(mode)) {
    c.enable = {kDvrStop};
    c.ops = {DvrOp::kRequestStatus};
  } else {
    c.ops = {DvrOp::kStartRecording};
  }
  return c;
}

DvrCommand DvrControl::Play(uint8_t mode, bool muted) {
  DvrCommand c;
  c.disable = {kDvrRec, kDvrPlay};
  if (mode == 0) {
    play_search_pending_ = true;
    c.ops = {DvrOp::kRequestEventList};
  } else if (IsPlayingMode(mode)) {
    // PAUSE, FF and REW took the stream's audio away; normal play brings it
    // back unless the user muted it.
    if (!muted) c.ops.push_back(DvrOp::kAudioOn);
    c.ops.push_back(DvrOp::kPlayDvr);
  } else if (IsRecordingMode(mode)) {
    c.box = InvalidPlayBox();
  }
  return c;
}

DvrCommand DvrControl::Stop(uint8_t mode, bool muted) {
  DvrCommand c;
  c.disable = {kDvrRec, kDvrStop, kDvrPlay, kDvrRew, kDvrPause, kDvrFf};
  if (mode == 0) {
    c.ops = {DvrOp::kRequestStatus};
  } else if (IsPlayingMode(mode)) {
    if (!muted) c.ops.push_back(DvrOp::kAudioOn);
    c.ops.push_back(DvrOp::kStopDvrPlay);
  } else if (IsRecordingMode(mode)) {
    c.ops = {DvrOp::kStopRecording};
  }
  return c;
}

namespace {

// The stream's audio off, then the request; the buttons are left to the
// status that follows.
DvrCommand SilentPlayChange(DvrOp op) {
  DvrCommand c;
  c.ops = {DvrOp::kAudioOff, op};
  return c;
}

}  // namespace
DvrCommand DvrControl::Pause() const {
  return SilentPlayChange(DvrOp::kPauseDvr);
}
DvrCommand DvrControl::FastForward() const {
  return SilentPlayChange(DvrOp::kFastForwardDvr);
}
DvrCommand DvrControl::Rewind() const {
  return SilentPlayChange(DvrOp::kRewindDvr);
}

DvrControl::ListStep DvrControl::EventListDone(bool list_valid) {
  if (!play_search_pending_ || choosing_) return ListStep::kIgnore;
  choosing_ = true;
  return list_valid ? ListStep::kChoosePlay : ListStep::kSearchError;
}

void DvrControl::PlaySearchEnded() {
  play_search_pending_ = false;
  choosing_ = false;
}

ui::BoxMessage InvalidRecordBox() {
  return {"Invalid Record Request", "Cannot Start Recording.\nDVR is now playing.",
          ui::BoxIcon::kStop};
}
ui::BoxMessage InvalidPlayBox() {
  return {"Invalid Play Request", "Cannot start playing\nDVR is now recording", ui::BoxIcon::kStop};
}
ui::BoxMessage PlaySearchErrorBox() {
  return {"Play Search Error", "Could not get Play Search Time Information.\nPlease Try Again.",
          ui::BoxIcon::kStop};
}

}  // namespace rd::client::panels
