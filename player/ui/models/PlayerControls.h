#pragma once
// Which of the main window's controls are enabled, after each command and
// each report of the engine. The playback buttons (Previous Frame, Reverse,
// Pause, Play, Stop, Next Frame, Speed, Search, Capture, AVI, and the
// position, event and clip controls) are disabled at start and while no disk
// with data is open; each transport button changes only the controls its
// row names, and nothing disables Play when it is pressed.

#include <map>
#include <vector>

namespace rd::player {

class PlayerControls {
 public:
  PlayerControls();

  bool enabled(int id) const;
  const std::map<int, bool>& all() const { return enabled_; }
  // The controls disabled at start and without a disk with data.
  static const std::vector<int>& PlaybackControls();

  // A disk was opened and holds data (events: the event list is not empty).
  void DiskOpened(bool has_events);
  // The disk opened holds no recording.
  void NoData();
  // A transport, channel or speed button was pressed.
  void Pressed(int id);
  // Playback starts at a found time (Search, an event, the position).
  void Found();
  // The engine stopped at an end of the recording: TransportButton bits.
  void EngineDisabled(unsigned transport_buttons);
  // CH1..CH4 and ALL, while quad pictures of the recorder are shown.
  void SetChannelButtons(bool enabled);
  // Both marks of a clip are set.
  void SetMarks(bool both);

 private:
  void Set(int id, bool on) { enabled_[id] = on; }
  void Refresh();  // the controls that follow the disk, event and mark state

  std::map<int, bool> enabled_;
  bool disk_ = false;
  bool events_ = false;
  bool marks_ = false;
};

}  // namespace rd::player
