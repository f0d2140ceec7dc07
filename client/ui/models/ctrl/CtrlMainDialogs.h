#pragma once
// The dialog models' link to the control main: the requests go to RcCtrlMain's
// operations, and the dialogs' inputs are read through its getters.

#include <array>
#include <vector>

#include "client/engine/rcctrlmain.h"
#include "client/ui/models/DvrMgrModel.h"
#include "client/ui/models/DvrRequest.h"
#include "client/ui/models/StatsModel.h"

namespace rd::ui {

class CtrlMainRequestSink : public DvrRequestSink {
 public:
  explicit CtrlMainRequestSink(RcCtrlMain& main) : main_(main) {}

  bool IsConnected() const override { return main_.IsSessionConnected(); }
  void SetVideoQuality(uint8_t v) override { main_.SetVideoQuality(v); }
  void SetRecordFrameRate(uint8_t v) override { main_.SetRecordFrameRate(v); }
  void SetAlarmOnDuration(uint8_t s) override { main_.SetAlarmOnDuration(s); }
  void SetAlarmRecordDuration(uint8_t s) override { main_.SetAlarmRecordDuration(s); }
  void SetInputChannels(uint8_t m) override { main_.SetInputChannels(m); }
  void SetRecordChannels(uint8_t m) override { main_.SetRecordChannels(m); }
  // The audio part of the stream filter stays as it is.
  void SetChannelFilter(const ChannelDisplayState& wanted) override {
    main_.SetChannelFilter(&wanted, nullptr);
  }
  void SetTime(const DvrTime& t) override { main_.SetTime(t); }
  void SetSchedule(const uint8_t hours[24]) override { main_.SetSchedule(hours); }
  void SetAudioRecording(bool on) override { main_.SetAudioRecording(on); }
  void SetSpeakerMute(bool on) override { main_.SetSpeakerMute(on); }
  void PlayDvrFrom(uint8_t disk, const DvrTime& t) override { main_.PlayDvrFrom(disk, t); }
  void PlayDvrEvent(uint8_t disk, uint32_t id) override { main_.PlayDvrEvent(disk, id); }

 private:
  RcCtrlMain& main_;
};

// The DVR management dialog's input from the session cache; "not connected"
// without a connected session or before the DVR's settings have arrived.
DvrMgrSource ReadDvrMgrSource(const RcCtrlMain& main);

// The master and slave disks from the session cache (all 0 for a disk that
// is not installed, or without a session).
std::array<DiskInfo, 2> ReadDisks(const RcCtrlMain& main);

// The recorded-event list, newest first; empty until the list is complete.
std::vector<EventRecord> ReadEventList(const RcCtrlMain& main);

// One reading of the streaming statistics.
StatsSnapshot ReadStats(const StreamStats& stats);

}  // namespace rd::ui
