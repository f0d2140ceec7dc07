#include "client/ui/models/DvrMgrModel.h"

#include <algorithm>

#include "client/ui/models/DvrTimeChoice.h"

namespace rd::ui {

namespace id = dvrmgr_id;

namespace {

constexpr const char* kCaption = "Remote DVR Control Panel";
constexpr const char* kHourTexts[3] = {"OFF", "ON", "SENSOR"};
constexpr CheckState kHourChecks[3] = {CheckState::kUnchecked, CheckState::kChecked,
                                       CheckState::kIndeterminate};
constexpr int kSettingsLists[] = {id::kQuality,     id::kFrameRate,      id::kAlarmOn,
                                  id::kAlarmRecord, id::kRecordModeList, id::kAudioRecording,
                                  id::kSpeaker};
constexpr int kTimeLists[] = {id::kYear, id::kMonth, id::kDay, id::kHour, id::kMinute, id::kSecond};

// Channel bit of CH1..CH4 in the settings masks.
constexpr uint8_t ChannelBit(int channel) {
  return static_cast<uint8_t>(8u >> channel);
}

std::vector<std::string> Numbers(int first, int count, const char* format) {
  std::vector<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(Format(format, first + i));
  return v;
}

std::vector<std::string> HourEntries() {
  std::vector<std::string> v;
  for (int h = 0; h < 24; ++h)
    v.push_back(Format("%02d %s", h <= 12 ? h : h - 12, h < 12 ? "AM" : "PM"));
  return v;
}

}  // namespace

std::vector<int> RecordFrameRates(uint8_t video_standard, bool audio_available) {
  std::vector<int> rates = video_standard == 0 ? std::vector<int>{30, 15, 10, 7, 5, 4, 3, 2, 1}
                                               : std::vector<int>{25, 12, 8, 6, 4, 3, 2, 1};
  // With audio the DVR records at 4 frames/s at least.
  if (audio_available) rates.resize(rates.size() - 3);
  return rates;
}

bool DvrMgrModel::AnyChanged() const {
  return std::any_of(changed_.begin(), changed_.end(), [](bool c) { return c; });
}

void DvrMgrModel::ShowChannel(int control, bool on, bool enabled) {
  controls_.SetButton(control, on ? "ON" : "OFF",
                      on ? CheckState::kChecked : CheckState::kUnchecked, enabled);
}

void DvrMgrModel::OpenDisconnected() {
  for (int list : kSettingsLists) {
    controls_.SetList(list, {"N/A"}, 0);
    controls_[list].enabled = false;
  }
  for (int list : kTimeLists) {
    controls_.SetList(list, {"00"}, 0);
    controls_[list].enabled = false;
  }
  for (int c = 0; c < 4; ++c) {
    ShowChannel(id::kInput[c], false, false);
    ShowChannel(id::kRecord[c], false, false);
  }
  for (int h = 0; h < 24; ++h) ShowChannel(id::HourButton(h), false, false);
  controls_[id::kUpdate].enabled = false;
}

void DvrMgrModel::Open(const DvrMgrSource& source) {
  source_ = source;
  opened_connected_ = source.connected;
  changed_ = {};
  hours_ = {};
  hour_clicked_ = {};
  controls_ = ControlStates();
  controls_[id::kUpdate].text = "Update Setting";
  controls_[id::kClose].text = "Close Window";
  controls_[id::kRecordModeText].text = "N/A";
  controls_[id::kDiskText].text = "N/A";
  controls_[id::kHddInfo].text = "Detailed HDD Info.";
  controls_[id::kHddInfo].enabled = false;
  controls_[id::kRecordModeList].visible = false;
  if (!source.connected) {
    OpenDisconnected();
    return;
  }

  controls_[id::kRecordModeText].text = source.record_mode != 0 ? "QUAD" : "EACH";

  int disks = 0;
  uint64_t total_mb = 0;
  for (const DiskInfo& d : source.disks) {
    if (d.installed == 0) continue;
    ++disks;
    total_mb += d.capacity_mb;
  }
  controls_[id::kDiskText].text =
      disks == 0 ? "NO HDD"
                 : Format("%d HDD%s, %llu GBytes", disks, disks == 1 ? "" : "s",
                          static_cast<unsigned long long>(total_mb / 1024));
  controls_[id::kHddInfo].enabled = disks > 0;

  // The lists. A DVR value that no entry shows leaves its list without a
  // selection (SetList drops an index outside the list).
  controls_.SetList(id::kQuality, {"Low", "High", "Normal"}, source.video_quality);
  std::vector<std::string> rates;
  for (int r : RecordFrameRates(source.video_standard, source.audio_available != 0))
    rates.push_back(Format("%2d frames/sec", r));
  controls_.SetList(id::kFrameRate, std::move(rates), source.record_frame_rate);
  controls_.SetList(id::kAlarmOn,
                    {"Off", "5 sec", "10 sec", "15 sec", "20 sec", "25 sec", "30 sec", "Infinite"},
                    source.alarm_on_duration / 5);
  controls_.SetList(id::kAlarmRecord, {"5 sec", "10 sec", "15 sec", "20 sec", "25 sec", "30 sec"},
                    source.alarm_record_duration / 5 - 1);
  if (source.audio_available != 0) {
    controls_.SetList(id::kAudioRecording, {"Disable", "Enable"}, source.audio_recording ? 1 : 0);
    controls_.SetList(id::kSpeaker, {"Enable", "Mute"}, source.speaker_muted ? 1 : 0);
  } else {
    for (int list : {id::kAudioRecording, id::kSpeaker}) {
      controls_.SetList(list, {"No Audio Available"}, 0);
      controls_[list].enabled = false;
    }
  }
  const TimeSelection t = SelectionOfTime(source.time);
  controls_.SetList(id::kYear, Numbers(2000, 100, "%d"), t.year);
  controls_.SetList(id::kMonth, Numbers(1, 12, "%02d"), t.month);
  controls_.SetList(id::kDay, Numbers(1, 31, "%02d"), t.day);
  controls_.SetList(id::kHour, HourEntries(), t.hour);
  controls_.SetList(id::kMinute, Numbers(0, 60, "%02d"), t.minute);
  controls_.SetList(id::kSecond, Numbers(0, 60, "%02d"), t.second);

  for (int c = 0; c < 4; ++c) {
    const bool input = (source.input_mask & ChannelBit(c)) != 0;
    ShowChannel(id::kInput[c], input, true);
    // In QUAD mode every input channel is recorded; the record buttons only show it.
    if (EachMode())
      ShowChannel(id::kRecord[c], (source.record_mask & ChannelBit(c)) != 0, true);
    else
      ShowChannel(id::kRecord[c], input, false);
  }

  controls_.SetList(id::kRecordModeList, {"EACH MODE", "QUAD MODE"},
                    source.record_mode != 0 ? 1 : 0);
  controls_[id::kRecordModeList].enabled = false;

  for (int h = 0; h < 24; ++h) {
    const uint8_t v = source.schedule[static_cast<std::size_t>(h)];
    // A value the dialog has no state for (3) leaves the button as it was: OFF.
    hours_[static_cast<std::size_t>(h)] = v <= 2 ? v : 0;
    const uint8_t shown = hours_[static_cast<std::size_t>(h)];
    controls_.SetButton(id::HourButton(h), kHourTexts[shown], kHourChecks[shown], true);
  }
}

uint8_t DvrMgrModel::Mask(const int (&ids)[4]) const {
  uint8_t mask = 0;
  for (int c = 0; c < 4; ++c)
    if (controls_.at(ids[c]).checked()) mask |= ChannelBit(c);
  return mask;
}

void DvrMgrModel::ClickInput(int c) {
  if (!opened_connected_ || c < 0 || c > 3 || !controls_.at(id::kInput[c]).enabled) return;
  const bool on = !controls_.at(id::kInput[c]).checked();
  const bool record_was = controls_.at(id::kRecord[c]).checked();
  ShowChannel(id::kInput[c], on, true);
  if (Mask(id::kInput) == 0) {
    // The last input channel stays on; its record channel keeps what it showed.
    ShowChannel(id::kInput[c], true, true);
    ShowChannel(id::kRecord[c], record_was, EachMode());
    return;
  }
  changed_[kInputItem] = true;
  changed_[kRecordItem] = true;
  ShowChannel(id::kRecord[c], on, EachMode());
}

void DvrMgrModel::ClickRecord(int c) {
  if (!opened_connected_ || c < 0 || c > 3 || !controls_.at(id::kRecord[c]).enabled) return;
  const bool on = !controls_.at(id::kRecord[c]).checked();
  ShowChannel(id::kRecord[c], on, EachMode());
  if (Mask(id::kRecord) == 0) {
    // The last record channel stays on.
    ShowChannel(id::kRecord[c], true, EachMode());
    return;
  }
  changed_[kRecordItem] = true;
  // A channel without input cannot be recorded.
  ShowChannel(id::kRecord[c], on && controls_.at(id::kInput[c]).checked(), EachMode());
}

void DvrMgrModel::ClickHour(int h) {
  if (!opened_connected_ || h < 0 || h > 23) return;
  auto& v = hours_[static_cast<std::size_t>(h)];
  v = static_cast<uint8_t>((v + 1) % 3);
  hour_clicked_[static_cast<std::size_t>(h)] = true;
  controls_.SetButton(id::HourButton(h), kHourTexts[v], kHourChecks[v], true);
  changed_[kScheduleItem] = true;
}

void DvrMgrModel::Choose(int list, int index) {
  if (!opened_connected_ || !controls_.Has(list)) return;
  ControlState& c = controls_[list];
  if (!c.enabled || index < 0 || index >= static_cast<int>(c.items.size()) || index == c.selected)
    return;
  c.selected = index;
  switch (list) {
    case id::kQuality:
      changed_[kQualityItem] = true;
      break;
    case id::kFrameRate:
      changed_[kFrameRateItem] = true;
      break;
    case id::kAlarmOn:
      changed_[kAlarmOnItem] = true;
      break;
    case id::kAlarmRecord:
      changed_[kAlarmRecordItem] = true;
      break;
    case id::kAudioRecording:
      changed_[kAudioRecordingItem] = true;
      break;
    case id::kSpeaker:
      changed_[kSpeakerItem] = true;
      break;
    case id::kYear:
    case id::kMonth:
    case id::kDay:
    case id::kHour:
    case id::kMinute:
    case id::kSecond:
      changed_[kTimeItem] = true;
      break;
    default:
      break;
  }
}

DvrMgrModel::UpdateResult DvrMgrModel::Update(bool connected) {
  UpdateResult result;
  if (!opened_connected_) return result;
  if (!AnyChanged()) {
    result.close = true;
    return result;
  }
  if (!connected) {
    result.steps.push_back(BoxMessage{kCaption,
                                      "The connection to the DVR is closed\n"
                                      "The settings were not sent",
                                      BoxIcon::kStop});
    controls_[id::kUpdate].enabled = false;
    return result;
  }

  // The time is checked before anything is sent, so that a refused time sends nothing.
  DvrTime time;
  if (changed_[kTimeItem]) {
    const std::optional<DvrTime> t =
        TimeFromSelection({Selected(id::kYear), Selected(id::kMonth), Selected(id::kDay),
                           Selected(id::kHour), Selected(id::kMinute), Selected(id::kSecond)});
    if (!t) {
      result.steps.push_back(
          BoxMessage{"DVR Time Input Error",
                     "The DVR time is not complete\n"
                     "Please choose the year, month, day, hour, minute and second",
                     BoxIcon::kStop});
      return result;
    }
    if (!DateExists(*t)) {
      result.steps.push_back(
          BoxMessage{"DVR Time Input Error",
                     Format("The date 20%02u/%02u/%02u does not exist\nPlease check again", t->year,
                            t->month, t->day),
                     BoxIcon::kStop});
      return result;
    }
    time = *t;
  }

  auto send = [&](DvrRequest r) { result.steps.emplace_back(std::move(r)); };
  // A changed list always has a selection (only a choice sets the flag), but a
  // list without one is never sent as an index of 255.
  auto send_index = [&](Item item, int list, DvrRequestKind kind, auto value_of) {
    if (changed_[item] && Selected(list) >= 0)
      send(DvrRequest::Value(kind, value_of(Selected(list))));
  };
  send_index(kQualityItem, id::kQuality, DvrRequestKind::kVideoQuality, [](int i) { return i; });
  send_index(kFrameRateItem, id::kFrameRate, DvrRequestKind::kRecordFrameRate,
             [](int i) { return i; });
  send_index(kAlarmOnItem, id::kAlarmOn, DvrRequestKind::kAlarmOnDuration,
             [](int i) { return i * 5; });
  send_index(kAlarmRecordItem, id::kAlarmRecord, DvrRequestKind::kAlarmRecordDuration,
             [](int i) { return (i + 1) * 5; });
  if (changed_[kInputItem])
    send(DvrRequest::Value(DvrRequestKind::kInputChannels, Mask(id::kInput)));
  if (changed_[kRecordItem]) {
    const uint8_t mask = Mask(id::kRecord);
    if (mask == 0)
      result.steps.push_back(BoxMessage{"Channel setting change notification",
                                        "You have turned off all 4 channels\n"
                                        "Display area will not be updated",
                                        BoxIcon::kStop});
    send(DvrRequest::Value(DvrRequestKind::kRecordChannels, mask));
    ChannelDisplayState wanted;
    for (int c = 0; c < 4; ++c) wanted.channel[c] = controls_.at(id::kRecord[c]).checked() ? 1 : 0;
    send(DvrRequest::ChannelFilter(wanted));
  }
  if (changed_[kTimeItem]) send(DvrRequest::Time(time));
  if (changed_[kScheduleItem]) {
    std::array<uint8_t, 24> hours{};
    for (std::size_t h = 0; h < 24; ++h) {
      // An hour the user did not touch keeps the DVR's own value, even one the
      // dialog cannot show.
      const uint8_t dvr = source_.schedule[h];
      hours[h] = hour_clicked_[h] || dvr <= 2 ? hours_[h] : static_cast<uint8_t>(dvr & 3);
    }
    send(DvrRequest::Schedule(hours));
  }
  send_index(kAudioRecordingItem, id::kAudioRecording, DvrRequestKind::kAudioRecording,
             [](int i) { return i; });
  send_index(kSpeakerItem, id::kSpeaker, DvrRequestKind::kSpeakerMute, [](int i) { return i; });
  result.close = true;
  return result;
}

}  // namespace rd::ui
