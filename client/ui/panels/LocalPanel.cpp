#include "client/ui/panels/LocalPanel.h"

#include <cstdio>

#include "client/ui/rdclientIds.h"

namespace rd::client::panels {

using namespace ids;

LocalBannerView LocalBanners(uint8_t local_mode, uint8_t player_state, bool phase) {
  LocalBannerView v;
  if (local_mode == kLocalModePlayback) {
    v.green_lit = phase;
    if (player_state == 0)
      v.banner = kLocalNotActivated;
    else if (player_state == 16)
      v.banner = phase ? kLocalPlayBold : kLocalPlay;
    else if (player_state == 17)
      v.banner = phase ? kLocalPause : kLocalPauseBold;
    else if (player_state >= 18 && player_state <= 22)
      v.banner = phase ? kLocalForward : kLocalForwardBold;
    else if (player_state >= 23 && player_state <= 27)
      v.banner = phase ? kLocalRewind : kLocalRewindBold;
    return v;
  }
  if (local_mode == kLocalModeRecording) {
    v.red_lit = phase;
    v.banner = phase ? kLocalRecordingBold : kLocalRecording;
    return v;
  }
  v.banner = kLocalNotActivated;
  return v;
}

namespace {

// The playback buttons REW, PAUSE and FF together.
LocalButtons WithSpeedButtons(LocalButtons b, bool on) {
  b.rew = on;
  b.pause = on;
  b.ff = on;
  return b;
}

// Connect and Close Window together with REC, STOP and PLAY.
LocalButtons Buttons(std::optional<bool> window, bool rec, bool stop, bool play) {
  LocalButtons b;
  b.connect = window;
  b.close_window = window;
  b.rec = rec;
  b.stop = stop;
  b.play = play;
  return b;
}

}  // namespace

LocalButtons LocalRecordingStarted() {
  return Buttons(false, false, true, false);
}

LocalButtons LocalPlaybackStarted() {
  return WithSpeedButtons(Buttons(false, false, true, false), true);
}

LocalButtons LocalPlaybackResumed() {
  return WithSpeedButtons(Buttons(std::nullopt, false, true, false), true);
}

LocalButtons LocalSpeedChanged() {
  return WithSpeedButtons(Buttons(std::nullopt, false, true, true), true);
}

LocalButtons LocalPlaybackStopped(bool control_up) {
  return Buttons(true, control_up, false, true);
}

LocalButtons LocalRecordingStopped(bool stream_connected) {
  return Buttons(true, stream_connected, false, true);
}

LocalButtons LocalPlayerEnded(bool stream_connected) {
  return WithSpeedButtons(Buttons(true, stream_connected, false, true), false);
}

std::string VolumeText(int slider_position) {
  char text[16];
  std::snprintf(text, sizeof text, "%2u %%", static_cast<unsigned>(100 - slider_position));
  return text;
}

}  // namespace rd::client::panels
