#pragma once
// The requests a dialog asks the control main to send, as data: a dialog
// model returns them in the order they are to go out, the widget layer hands
// them to a DvrRequestSink (the control main, or a recorder in a test).

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "client/engine/rdcp/RdcpWire.h"
#include "client/ui/models/ControlStates.h"
#include "shared/stream/ChannelDisplayState.h"

namespace rd::ui {

enum class DvrRequestKind : uint8_t {
  kVideoQuality,         // value: quality index
  kRecordFrameRate,      // value: frame-rate index
  kAlarmOnDuration,      // value: seconds
  kAlarmRecordDuration,  // value: seconds
  kInputChannels,        // value: mask, CH1 = 8 .. CH4 = 1
  kRecordChannels,       // value: mask, same order
  kChannelFilter,        // channels: the channels wanted on the stream; audio as it is
  kTime,                 // time
  kSchedule,             // hours: 24 values, hour 0 first
  kAudioRecording,       // value: 1 enable
  kSpeakerMute,          // value: 1 mute
  kPlayFrom,             // disk, time
  kPlayEvent,            // disk, value: event id
};

struct DvrRequest {
  DvrRequestKind kind = DvrRequestKind::kVideoQuality;
  uint32_t value = 0;
  uint8_t disk = 0;
  DvrTime time;
  std::array<uint8_t, 24> hours{};
  ChannelDisplayState channels;

  static DvrRequest Value(DvrRequestKind kind, uint32_t value);
  static DvrRequest ChannelFilter(const ChannelDisplayState& wanted);
  static DvrRequest Time(const DvrTime& time);
  static DvrRequest Schedule(const std::array<uint8_t, 24>& hours);
  static DvrRequest PlayFrom(uint8_t disk, const DvrTime& start);
  static DvrRequest PlayEvent(uint8_t disk, uint32_t id);

  friend bool operator==(const DvrRequest&, const DvrRequest&) = default;
};

// One line, for logs and test failures: "SetVideoQuality(2)".
std::string Describe(const DvrRequest& request);

// The receiving end of the requests: the control main's operations.
class DvrRequestSink {
 public:
  virtual ~DvrRequestSink() = default;
  // Whether the control session is up, so that requests can reach the DVR.
  virtual bool IsConnected() const = 0;
  virtual void SetVideoQuality(uint8_t value) = 0;
  virtual void SetRecordFrameRate(uint8_t value) = 0;
  virtual void SetAlarmOnDuration(uint8_t seconds) = 0;
  virtual void SetAlarmRecordDuration(uint8_t seconds) = 0;
  virtual void SetInputChannels(uint8_t mask) = 0;
  virtual void SetRecordChannels(uint8_t mask) = 0;
  virtual void SetChannelFilter(const ChannelDisplayState& wanted) = 0;
  virtual void SetTime(const DvrTime& time) = 0;
  virtual void SetSchedule(const uint8_t hours[24]) = 0;
  virtual void SetAudioRecording(bool on) = 0;
  virtual void SetSpeakerMute(bool on) = 0;
  virtual void PlayDvrFrom(uint8_t disk, const DvrTime& time) = 0;
  virtual void PlayDvrEvent(uint8_t disk, uint32_t id) = 0;
};

void Apply(const DvrRequest& request, DvrRequestSink& sink);

// A step of a dialog's action: a request to send or a message box to show.
using DialogStep = std::variant<DvrRequest, BoxMessage>;

std::vector<DvrRequest> RequestsOf(const std::vector<DialogStep>& steps);
std::vector<BoxMessage> BoxesOf(const std::vector<DialogStep>& steps);

}  // namespace rd::ui
