#include "client/ui/models/DvrRequest.h"

namespace rd::ui {

DvrRequest DvrRequest::Value(DvrRequestKind kind, uint32_t value) {
  DvrRequest r;
  r.kind = kind;
  r.value = value;
  return r;
}

DvrRequest DvrRequest::ChannelFilter(const ChannelDisplayState& wanted) {
  DvrRequest r;
  r.kind = DvrRequestKind::kChannelFilter;
  r.channels = wanted;
  return r;
}

DvrRequest DvrRequest::Time(const DvrTime& time) {
  DvrRequest r;
  r.kind = DvrRequestKind::kTime;
  r.time = time;
  return r;
}

DvrRequest DvrRequest::Schedule(const std::array<uint8_t, 24>& hours) {
  DvrRequest r;
  r.kind = DvrRequestKind::kSchedule;
  r.hours = hours;
  return r;
}

DvrRequest DvrRequest::PlayFrom(uint8_t disk, const DvrTime& start) {
  DvrRequest r;
  r.kind = DvrRequestKind::kPlayFrom;
  r.disk = disk;
  r.time = start;
  return r;
}

DvrRequest DvrRequest::PlayEvent(uint8_t disk, uint32_t id) {
  DvrRequest r;
  r.kind = DvrRequestKind::kPlayEvent;
  r.disk = disk;
  r.value = id;
  return r;
}

namespace {

std::string TimeText(const DvrTime& t) {
  return Format("20%02u/%02u/%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

}  // namespace

std::string Describe(const DvrRequest& r) {
  switch (r.kind) {
    case DvrRequestKind::kVideoQuality:
      return Format("SetVideoQuality(%u)", r.value);
    case DvrRequestKind::kRecordFrameRate:
      return Format("SetRecordFrameRate(%u)", r.value);
    case DvrRequestKind::kAlarmOnDuration:
      return Format("SetAlarmOnDuration(%u)", r.value);
    case DvrRequestKind::kAlarmRecordDuration:
      return Format("SetAlarmRecordDuration(%u)", r.value);
    case DvrRequestKind::kInputChannels:
      return Format("SetInputChannels(%u)", r.value);
    case DvrRequestKind::kRecordChannels:
      return Format("SetRecordChannels(%u)", r.value);
    case DvrRequestKind::kChannelFilter:
      return Format("SetChannelFilter(%u, %u %u %u %u)", r.channels.quad, r.channels.channel[0],
                    r.channels.channel[1], r.channels.channel[2], r.channels.channel[3]);
    case DvrRequestKind::kTime:
      return "SetTime(" + TimeText(r.time) + ")";
    case DvrRequestKind::kSchedule: {
      std::string s = "SetSchedule(";
      for (uint8_t h : r.hours) s += static_cast<char>('0' + (h % 10));
      return s + ")";
    }
    case DvrRequestKind::kAudioRecording:
      return Format("SetAudioRecording(%u)", r.value);
    case DvrRequestKind::kSpeakerMute:
      return Format("SetSpeakerMute(%u)", r.value);
    case DvrRequestKind::kPlayFrom:
      return Format("PlayDvrFrom(%u, ", r.disk) + TimeText(r.time) + ")";
    case DvrRequestKind::kPlayEvent:
      return Format("PlayDvrEvent(%u, %u)", r.disk, r.value);
  }
  return "?";
}

void Apply(const DvrRequest& r, DvrRequestSink& sink) {
  const auto byte = static_cast<uint8_t>(r.value);
  switch (r.kind) {
    case DvrRequestKind::kVideoQuality:
      sink.SetVideoQuality(byte);
      break;
    case DvrRequestKind::kRecordFrameRate:
      sink.SetRecordFrameRate(byte);
      break;
    case DvrRequestKind::kAlarmOnDuration:
      sink.SetAlarmOnDuration(byte);
      break;
    case DvrRequestKind::kAlarmRecordDuration:
      sink.SetAlarmRecordDuration(byte);
      break;
    case DvrRequestKind::kInputChannels:
      sink.SetInputChannels(byte);
      break;
    case DvrRequestKind::kRecordChannels:
      sink.SetRecordChannels(byte);
      break;
    case DvrRequestKind::kChannelFilter:
      sink.SetChannelFilter(r.channels);
      break;
    case DvrRequestKind::kTime:
      sink.SetTime(r.time);
      break;
    case DvrRequestKind::kSchedule:
      sink.SetSchedule(r.hours.data());
      break;
    case DvrRequestKind::kAudioRecording:
      sink.SetAudioRecording(r.value != 0);
      break;
    case DvrRequestKind::kSpeakerMute:
      sink.SetSpeakerMute(r.value != 0);
      break;
    case DvrRequestKind::kPlayFrom:
      sink.PlayDvrFrom(r.disk, r.time);
      break;
    case DvrRequestKind::kPlayEvent:
      sink.PlayDvrEvent(r.disk, r.value);
      break;
  }
}

std::vector<DvrRequest> RequestsOf(const std::vector<DialogStep>& steps) {
  std::vector<DvrRequest> out;
  for (const DialogStep& s : steps)
    if (const auto* r = std::get_if<DvrRequest>(&s)) out.push_back(*r);
  return out;
}

std::vector<BoxMessage> BoxesOf(const std::vector<DialogStep>& steps) {
  std::vector<BoxMessage> out;
  for (const DialogStep& s : steps)
    if (const auto* b = std::get_if<BoxMessage>(&s)) out.push_back(*b);
  return out;
}

}  // namespace rd::ui
