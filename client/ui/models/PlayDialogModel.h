#pragma once
// The "DVR Play" dialog without widgets: the recorded time range of the
// master and slave disks with a start time to choose in each ("Timed Play"),
// the list of recorded events ("Event Play"), and the result the main window
// turns into a play request.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "client/ui/models/ControlStates.h"
#include "client/ui/models/DvrRequest.h"
#include "client/ui/models/DvrTimeChoice.h"

namespace rd::ui {

namespace plymgr_id {
inline constexpr int kStartTimedPlay = 1;  // OK
inline constexpr int kCancel = 2;          // the default button
inline constexpr int kStartEventPlay = 3;
inline constexpr int kEventNote = 1336;
inline constexpr int kEventList = 1338;

// The controls of one disk's row group.
struct DiskIds {
  int check;
  int note;
  int start[6];  // range start texts: year, month, day, hour, minute, second
  int end[6];    // range end texts
  int lists[6];  // "Start from:" lists, same order
};
inline constexpr DiskIds kMaster = {1334,
                                    1333,
                                    {1188, 1189, 1191, 1192, 1193, 1194},
                                    {1190, 1195, 1196, 1197, 1198, 1199},
                                    {1182, 1183, 1184, 1185, 1186, 1187}};
inline constexpr DiskIds kSlave = {1335,
                                   1332,
                                   {1206, 1207, 1208, 1209, 1210, 1211},
                                   {1212, 1213, 1214, 1215, 1216, 1217},
                                   {1200, 1201, 1202, 1203, 1204, 1205}};
}  // namespace plymgr_id

// What the dialog hands back after OK.
struct PlayChoice {
  bool timed = true;  // timed play (disk, start) or event play (disk, event id)
  uint8_t disk = 0;   // 0 master, 1 slave; an event's own disk byte
  DvrTime start;
  uint32_t event_id = 0;

  // PlayDvrFrom or PlayDvrEvent.
  DvrRequest Request() const;
};

class PlayDialogModel {
 public:
  // A start-button press or a double-click: a box to show, and whether the
  // dialog closes with OK.
  struct Outcome {
    std::optional<BoxMessage> box;
    bool accept = false;
  };

  // The session's event list, newest first; fills every control.
  void SetEvents(const std::vector<EventRecord>& events);

  // User actions.
  void ClickMaster();  // the check box has toggled
  void ClickSlave();
  // Entry `index` of a "Start from:" list (by control id) chosen.
  void Choose(int list_id, int index);
  // The event list's selection; -1 for none.
  void SelectEvent(int position);
  Outcome StartTimedPlay();
  Outcome StartEventPlay();
  Outcome DoubleClickEvent(int position);

  const PlayChoice& Result() const { return result_; }
  const ControlStates& Controls() const { return controls_; }
  int EventCount() const { return static_cast<int>(listed_.size()); }

 private:
  struct Range {
    bool present = false;
    uint64_t start_key = 0, end_key = 0;
  };
  void ClickDisk(int disk);
  void EnableLists(const plymgr_id::DiskIds& ids, bool enabled);
  Outcome TimedPlay(int disk);

  std::vector<EventRecord> events_;
  Range ranges_[2];
  std::vector<std::size_t> listed_;  // list position -> entry index
  PlayChoice result_;
  ControlStates controls_;
};

}  // namespace rd::ui
