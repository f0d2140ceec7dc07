#pragma once
// The Capture and Play panel of the main window without its widgets: the
// local status banner and lamps by local mode, player state and blink phase;
// which buttons each local command leaves enabled; the volume text.

#include <cstdint>
#include <optional>
#include <string>

namespace rd::client::panels {

// Local modes of the window.
inline constexpr uint8_t kLocalModeIdle = 0;
inline constexpr uint8_t kLocalModePlayback = 1;
inline constexpr uint8_t kLocalModeRecording = 2;

// The local player's states: 16 play, 17 pause, 18..22 fast forward, 23..27
// fast rewind; 0 without a file.
struct LocalBannerView {
  std::optional<int> banner;  // control id; nullopt: the banner stays as it is
  bool red_lit = false;       // local recording lamp
  bool green_lit = false;     // local playback lamp

  friend bool operator==(const LocalBannerView&, const LocalBannerView&) = default;
};
LocalBannerView LocalBanners(uint8_t local_mode, uint8_t player_state, bool phase);

// Enabled states a local command sets; nullopt leaves a control as it is.
struct LocalButtons {
  std::optional<bool> connect, close_window;
  std::optional<bool> rec, stop, play, rew, pause, ff;

  friend bool operator==(const LocalButtons&, const LocalButtons&) = default;
};

LocalButtons LocalRecordingStarted();
// A file started playing / a paused or fast playback resumed at normal speed.
LocalButtons LocalPlaybackStarted();
LocalButtons LocalPlaybackResumed();
// FF, PAUSE or REW while playing.
LocalButtons LocalSpeedChanged();
// STOP of a playback: REC only while the control connection is up.
LocalButtons LocalPlaybackStopped(bool control_up);
// STOP of a recording: REC only while the stream is connected.
LocalButtons LocalRecordingStopped(bool stream_connected);
// The player stopped (0x450): REC only while the stream is connected.
LocalButtons LocalPlayerEnded(bool stream_connected);

// The volume text of a slider position (0 at the top = loud): "%2u %%" of
// 100 - position.
std::string VolumeText(int slider_position);

}  // namespace rd::client::panels
