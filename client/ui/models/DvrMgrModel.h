#pragma once
// The "Remote DVR Control Panel" (DVR management dialog) without widgets: the
// DVR's basic settings, its clock and its 24-hour recording schedule as
// controls, the click rules of the channel and hour buttons, and the ordered
// requests "Update Setting" sends for what the user changed.

#include <array>
#include <cstdint>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "client/ui/models/ControlStates.h"
#include "client/ui/models/DvrRequest.h"
#include "client/ui/models/HddInfoModel.h"

namespace rd::ui {

namespace dvrmgr_id {
inline constexpr int kUpdate = 1;
inline constexpr int kClose = 2;
inline constexpr int kRecordModeText = 1311;
inline constexpr int kDiskText = 1312;
inline constexpr int kHddInfo = 1324;
inline constexpr int kQuality = 1112;
inline constexpr int kFrameRate = 1113;
inline constexpr int kAlarmOn = 1114;
inline constexpr int kAlarmRecord = 1115;
inline constexpr int kRecordModeList = 1116;  // hidden
inline constexpr int kAudioRecording = 1117;
inline constexpr int kSpeaker = 1119;
inline constexpr int kInput[4] = {1303, 1304, 1305, 1306};   // CH1..CH4
inline constexpr int kRecord[4] = {1307, 1308, 1309, 1310};  // CH1..CH4
inline constexpr int kYear = 1118;
inline constexpr int kMonth = 1121;
inline constexpr int kDay = 1122;
inline constexpr int kHour = 1123;
inline constexpr int kMinute = 1125;
inline constexpr int kSecond = 1126;
// Hour 0 (12 AM) is 1315; hours 1..23 are 1339..1361.
constexpr int HourButton(int hour) {
  return hour == 0 ? 1315 : 1338 + hour;
}
}  // namespace dvrmgr_id

// What the dialog reads from the session cache when it opens.
struct DvrMgrSource {
  bool connected = false;   // the control connection is up
  uint8_t record_mode = 0;  // 0 EACH, else QUAD
  uint8_t input_mask = 0;   // CH1 = bit 3 .. CH4 = bit 0
  uint8_t record_mask = 0;
  uint8_t video_quality = 0;
  uint8_t video_standard = 0;  // 0 NTSC, else PAL
  uint8_t record_frame_rate = 0;
  uint8_t alarm_on_duration = 0;      // seconds
  uint8_t alarm_record_duration = 0;  // seconds
  uint8_t audio_available = 0;
  bool audio_recording = false;
  bool speaker_muted = false;
  std::array<DiskInfo, 2> disks{};  // master, slave
  DvrTime time;                     // all 0 when the DVR time is not known
  std::array<uint8_t, 24> schedule{};
};

// The base frame rates of a video standard, in list order, and how many of
// them the Record Frame Rate list offers.
std::vector<int> RecordFrameRates(uint8_t video_standard, bool audio_available);

class DvrMgrModel {
 public:
  // The eleven "changed" flags.
  enum Item : int {
    kQualityItem,
    kFrameRateItem,
    kAlarmOnItem,
    kAlarmRecordItem,
    kInputItem,
    kRecordItem,
    kRecordModeItem,
    kAudioRecordingItem,
    kSpeakerItem,
    kTimeItem,
    kScheduleItem,
    kItemCount
  };

  // What "Update Setting" leads to: the requests and boxes in order, and
  // whether the dialog then closes.
  struct UpdateResult {
    std::vector<DialogStep> steps;
    bool close = false;
  };

  // Fills every control from the source; clears the changed flags.
  void Open(const DvrMgrSource& source);

  // User actions. A click on a channel or hour button is reported after the
  // button has toggled, as a click (the model keeps the state itself).
  void ClickInput(int channel);   // 0..3 = CH1..CH4
  void ClickRecord(int channel);  // 0..3
  void ClickHour(int hour);       // 0..23
  // The user chose entry `index` of a list (by its control id).
  void Choose(int list_id, int index);

  // "Update Setting": `connected` tells whether the control session is still up.
  UpdateResult Update(bool connected);

  // The disks for "Detailed HDD Info.".
  const std::array<DiskInfo, 2>& Disks() const { return source_.disks; }

  const ControlStates& Controls() const { return controls_; }
  bool Changed(Item item) const { return changed_[item]; }
  bool AnyChanged() const;

 private:
  void OpenDisconnected();
  void ShowChannel(int id, bool on, bool enabled);
  bool EachMode() const { return source_.record_mode == 0; }
  uint8_t Mask(const int (&ids)[4]) const;
  int Selected(int id) const { return controls_.at(id).selected; }

  DvrMgrSource source_;
  bool opened_connected_ = false;
  ControlStates controls_;
  std::array<bool, kItemCount> changed_{};
  std::array<uint8_t, 24> hours_{};      // 0 OFF, 1 ON, 2 SENSOR as shown
  std::array<bool, 24> hour_clicked_{};  // hours the user has clicked
};

}  // namespace rd::ui
