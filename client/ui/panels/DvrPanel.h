#pragma once
// The DVR Management panel of the main window without its widgets: which
// status banner and recording lamp the DVR mode shows in each blink phase,
// which of the six DVR control buttons each mode allows, the REC/PLAY
// watchdog, and what each DVR control button does in each mode (buttons to
// disable and enable, the requests in order, or the box that refuses it).

#include <cstdint>
#include <optional>
#include <vector>

#include "client/ui/models/ControlStates.h"

namespace rd::client::panels {

// The DVR's modes: 1..3 play, 4..7 record; anything above 7 is unknown.
bool IsPlayingMode(uint8_t mode);
bool IsRecordingMode(uint8_t mode);

// The banner (control id) and the recording lamp of a mode in a blink phase.
struct DvrModeView {
  int banner = 0;
  bool lamp_lit = false;

  friend bool operator==(const DvrModeView&, const DvrModeView&) = default;
};
DvrModeView DvrModeDisplay(uint8_t mode, uint8_t play_speed, bool phase);

// Enabled states of the DVR control buttons.
struct DvrButtons {
  bool rec = false, play = false, stop = false, pause = false, rew = false, ff = false;

  friend bool operator==(const DvrButtons&, const DvrButtons&) = default;
};

// What the window asks of the control main, in order.
enum class DvrOp : uint8_t {
  kRequestStatus,
  kStartRecording,
  kStopRecording,
  kRequestEventList,
  kPlayDvr,
  kStopDvrPlay,
  kPauseDvr,
  kFastForwardDvr,
  kRewindDvr,
  kAudioOn,   // the audio output enabled, then SetAudioEnabled(true)
  kAudioOff,  // the audio output disabled, then SetAudioEnabled(false)
};

// A DVR control button's press: buttons (control ids) to disable, then to
// enable, then either a refusal box or the requests.
struct DvrCommand {
  std::vector<int> disable;
  std::vector<int> enable;
  std::vector<DvrOp> ops;
  std::optional<ui::BoxMessage> box;

  friend bool operator==(const DvrCommand&, const DvrCommand&) = default;
};

// The DVR control state of the window: "command pending" (REC pressed, no
// recording mode reported yet), "play search pending" (PLAY in VIEW mode
// waits for the event list) and the watchdog's count of seconds in which
// neither REC nor STOP was enabled.
class DvrControl {
 public:
  bool CommandPending() const { return command_pending_; }
  bool PlaySearchPending() const { return play_search_pending_; }
  uint8_t WatchdogCount() const { return watchdog_; }
  // Window initialisation and every teardown: nothing pending any more.
  void Reset();

  // A status (0x463) or a cancelled play dialog: the buttons for the mode
  // (nullopt: an unknown mode leaves them as they are). Clears "command
  // pending" in a recording mode and the watchdog count in every case.
  std::optional<DvrButtons> ButtonsForMode(uint8_t mode);

  // Each second (timer 3): true when the window is to request the status.
  // Paused during a play search; counting while neither REC nor STOP is
  // enabled, and from the third second on it clears "command pending".
  bool WatchdogTick(bool rec_or_stop_enabled);

  DvrCommand Rec(uint8_t mode);
  DvrCommand Play(uint8_t mode, bool muted);
  DvrCommand Stop(uint8_t mode, bool muted);
  DvrCommand Pause() const;
  DvrCommand FastForward() const;
  DvrCommand Rewind() const;

  // Event list complete (0x436): ignored without a search, and while the
  // box or the play dialog of this search is open (another 0x436 may arrive
  // meanwhile); the watchdog stays paused until the search has ended.
  enum class ListStep : uint8_t { kIgnore, kSearchError, kChoosePlay };
  ListStep EventListDone(bool list_valid);
  // After the box or the play dialog: the search is over.
  void PlaySearchEnded();

 private:
  bool command_pending_ = false;
  bool play_search_pending_ = false;
  bool choosing_ = false;
  uint8_t watchdog_ = 0;
};

// The boxes of the panel.
ui::BoxMessage InvalidRecordBox();
ui::BoxMessage InvalidPlayBox();
ui::BoxMessage PlaySearchErrorBox();

}  // namespace rd::client::panels
