#include "client/engine/rdcp/RdcpWire.h"

#include <algorithm>
#include <cstring>

#include "shared/stream/ByteOrder.h"

namespace rd {

// ---------------------------------------------------------------- records

DvrTime DvrTime::FromRecTime(const RecTime& t) {
  DvrTime d;
  d.second = t.second;
  d.minute = t.minute;
  d.hour = t.hour;
  d.day = t.day;
  d.month = t.month;
  d.year = t.year;
  return d;
}

RecTime DvrTime::ToRecTime() const {
  RecTime t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

int CompareDvrTime(const DvrTime& a, const DvrTime& b) {
  const uint8_t ka[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const uint8_t kb[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  for (int i = 0; i < 6; ++i) {
    if (ka[i] != kb[i]) return ka[i] < kb[i] ? -1 : 1;
  }
  return 0;
}

RecordSchedule RecordSchedule::Pack(const uint8_t hours[24]) {
  RecordSchedule s;
  for (int h = 0; h < 24; ++h)
    s.bytes[h / 4] |= static_cast<uint8_t>((hours[h] & 3) << (2 * (h % 4)));
  return s;
}

uint8_t RecordSchedule::Hour(int h) const {
  if (h < 0 || h >= 24) return 0;
  return static_cast<uint8_t>((bytes[h / 4] >> (2 * (h % 4))) & 3);
}

void RecordSchedule::Unpack(uint8_t hours[24]) const {
  for (int h = 0; h < 24; ++h) hours[h] = Hour(h);
}

void PackSettings(const DvrSettings& s, uint8_t out[kDvrSettingsSize]) {
  out[0] = s.record_mode;
  out[1] = s.input_mask;
  out[2] = s.record_mask;
  out[3] = s.video_quality;
  out[4] = s.video_standard;
  out[5] = s.record_frame_rate;
  out[6] = s.alarm_on_duration;
  out[7] = s.alarm_record_duration;
  out[8] = s.disk_installed[0];
  out[9] = s.disk_installed[1];
  out[10] = s.disk_overwriting[0];
  out[11] = s.disk_overwriting[1];
  StoreLe32(out + 12, s.disk_capacity[0]);
  StoreLe32(out + 16, s.disk_capacity[1]);
  StoreLe32(out + 20, s.disk_used[0]);
  StoreLe32(out + 24, s.disk_used[1]);
  out[28] = s.audio_flags;
  out[29] = s.audio_available;
  out[30] = s.reserved[0];
  out[31] = s.reserved[1];
}

static DvrSettings SettingsFromBytes(const uint8_t* b) {
  DvrSettings s;
  s.record_mode = b[0];
  s.input_mask = b[1];
  s.record_mask = b[2];
  s.video_quality = b[3];
  s.video_standard = b[4];
  s.record_frame_rate = b[5];
  s.alarm_on_duration = b[6];
  s.alarm_record_duration = b[7];
  s.disk_installed[0] = b[8];
  s.disk_installed[1] = b[9];
  s.disk_overwriting[0] = b[10];
  s.disk_overwriting[1] = b[11];
  s.disk_capacity[0] = LoadLe32(b + 12);
  s.disk_capacity[1] = LoadLe32(b + 16);
  s.disk_used[0] = LoadLe32(b + 20);
  s.disk_used[1] = LoadLe32(b + 24);
  s.audio_flags = b[28];
  s.audio_available = b[29];
  s.reserved[0] = b[30];
  s.reserved[1] = b[31];
  return s;
}

void UnpackSettingsOver(const uint8_t* data, std::size_t size, DvrSettings& inout) {
  uint8_t raw[kDvrSettingsSize];
  PackSettings(inout, raw);
  if (data != nullptr) std::memcpy(raw, data, std::min(size, kDvrSettingsSize));
  inout = SettingsFromBytes(raw);
}

DvrSettings UnpackSettings(const uint8_t* data, std::size_t size) {
  DvrSettings s;
  UnpackSettingsOver(data, size, s);
  return s;
}

uint8_t SettingsByte(const DvrSettings& s, int offset) {
  if (offset < 0 || offset >= static_cast<int>(kDvrSettingsSize)) return 0;
  uint8_t raw[kDvrSettingsSize];
  PackSettings(s, raw);
  return raw[offset];
}

void SetSettingsByte(DvrSettings& s, int offset, uint8_t value) {
  if (offset < 0 || offset >= static_cast<int>(kDvrSettingsSize)) return;
  uint8_t raw[kDvrSettingsSize];
  PackSettings(s, raw);
  raw[offset] = value;
  s = SettingsFromBytes(raw);
}

void PackStatus(const DvrStatus& s, uint8_t out[kDvrStatusSize]) {
  out[0] = s.mode;
  out[1] = s.frame_interval;
  out[2] = s.stream_filter;
  out[3] = s.reserved3;
  out[4] = s.reserved4;
  out[5] = s.reserved5;
  out[6] = s.play_speed;
  out[7] = s.reserved7;
}

DvrStatus UnpackStatus(const uint8_t* data, std::size_t size) {
  uint8_t b[kDvrStatusSize] = {};
  if (data != nullptr) std::memcpy(b, data, std::min(size, kDvrStatusSize));
  DvrStatus s;
  s.mode = b[0];
  s.frame_interval = b[1];
  s.stream_filter = b[2];
  s.reserved3 = b[3];
  s.reserved4 = b[4];
  s.reserved5 = b[5];
  s.play_speed = b[6];
  s.reserved7 = b[7];
  return s;
}

void PackTime(const DvrTime& t, uint8_t out[kDvrTimeSize]) {
  out[0] = t.second;
  out[1] = t.minute;
  out[2] = t.hour;
  out[3] = t.day;
  out[4] = t.month;
  out[5] = t.year;
}

DvrTime UnpackTime(const uint8_t* data, std::size_t size) {
  uint8_t b[kDvrTimeSize] = {};
  if (data != nullptr) std::memcpy(b, data, std::min(size, kDvrTimeSize));
  DvrTime t;
  t.second = b[0];
  t.minute = b[1];
  t.hour = b[2];
  t.day = b[3];
  t.month = b[4];
  t.year = b[5];
  return t;
}

void PackEvent(const EventRecord& e, uint8_t out[kEventRecordSize]) {
  StoreLe32(out, e.id);
  out[4] = e.disk;
  out[5] = e.kind;
  PackTime(e.start, out + 6);
  PackTime(e.end, out + 12);
}

EventRecord UnpackEvent(const uint8_t* data, std::size_t size) {
  uint8_t b[kEventRecordSize] = {};
  if (data != nullptr) std::memcpy(b, data, std::min(size, kEventRecordSize));
  EventRecord e;
  e.id = LoadLe32(b);
  e.disk = b[4];
  e.kind = b[5];
  e.start = UnpackTime(b + 6, 6);
  e.end = UnpackTime(b + 12, 6);
  return e;
}

// ---------------------------------------------------------------- framing

namespace rdcp {

uint8_t ReplyTypeFor(uint8_t request_type) {
  switch (request_type) {
    case kOpenSession:
      return kSessionAccepted;
    case kGetSettings:
      return kSettingsReply;
    case kGetSchedule:
      return kScheduleReply;
    case kSetSchedule:
      return kScheduleChanged;
    case kGetTime:
      return kTimeReply;
    case kSetTime:
      return kTimeChanged;
    case kSetRecordMode:
      return kRecordModeChanged;
    case kSetInputChannels:
      return kInputChannelsChanged;
    case kSetRecordChannels:
      return kRecordChannelsChanged;
    case kSetVideoQuality:
      return kVideoQualityChanged;
    case kSetRecordFrameRate:
      return kRecordFrameRateChanged;
    case kSetAlarmOnDuration:
      return kAlarmOnDurationChanged;
    case kSetAlarmRecordDuration:
      return kAlarmRecordDurationChanged;
    case kStartRecording:
      return kRecordingStarted;
    case kStopRecording:
      return kRecordingStopped;
    case kGetEventList:
      return kEventListPart;
    case kPlay:
      return kPlayAccepted;
    case kStopPlay:
      return kPlayStopped;
    case kPause:
      return kPaused;
    case kFastForward:
      return kFastForwardAccepted;
    case kRewind:
      return kRewindAccepted;
    case kSetStreamFilter:
      return kStreamFilterChanged;
    case kGetStatus:
      return kStatusReply;
    case kKeepAlive:
      return kKeepAliveReply;
    case kSetAudioFlags:
      return kAudioFlagsChanged;
    default:
      return 0;
  }
}

bool IsLongWait(uint8_t t) {
  return t == kGetSettings || t == kGetSchedule || t == kGetTime || t == kGetEventList ||
         t == kGetStatus;
}

std::size_t BuildFrame(uint8_t type, uint8_t param, const uint8_t* payload, std::size_t n,
                       uint8_t* out, std::size_t out_size) {
  if (n > kMaxPayload || out == nullptr || out_size < kHeaderSize + n) return 0;
  if (n > 0 && payload == nullptr) return 0;
  out[0] = kStartByte;
  out[1] = static_cast<uint8_t>(n);
  out[2] = type;
  out[3] = param;
  if (n > 0) std::memcpy(out + kHeaderSize, payload, n);
  return kHeaderSize + n;
}

std::vector<uint8_t> BuildFrame(uint8_t type, uint8_t param, const uint8_t* payload,
                                std::size_t n) {
  std::vector<uint8_t> out(kHeaderSize + std::min(n, kMaxPayload));
  std::size_t len = BuildFrame(type, param, payload, n, out.data(), out.size());
  out.resize(len);
  return out;
}

ParseResult ParseFrame(const uint8_t* data, std::size_t size, Frame* out) {
  if (size == 0 || data == nullptr) return ParseResult::kNeedMore;
  if (data[0] != kStartByte) return ParseResult::kBadStart;
  if (size < kHeaderSize) return ParseResult::kNeedMore;
  std::size_t n = data[1];
  if (size < kHeaderSize + n) return ParseResult::kNeedMore;
  if (out != nullptr) {
    out->type = data[2];
    out->param = data[3];
    out->payload = data + kHeaderSize;
    out->length = n;
  }
  return ParseResult::kOk;
}

void FrameReader::Feed(const uint8_t* data, std::size_t size) {
  if (pos_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  if (data != nullptr && size > 0) buffer_.insert(buffer_.end(), data, data + size);
}

bool FrameReader::Next(Frame* out) {
  while (pos_ < buffer_.size()) {
    ParseResult r = ParseFrame(buffer_.data() + pos_, buffer_.size() - pos_, out);
    if (r == ParseResult::kOk) {
      pos_ += kHeaderSize + buffer_[pos_ + 1];
      return true;
    }
    if (r == ParseResult::kNeedMore) return false;
    ++pos_;  // not a frame start: skip to the next 0xF5
  }
  return false;
}

bool PackPassword(const char digits[6], uint8_t out[6]) {
  for (int i = 0; i < 6; ++i) {
    unsigned char c = static_cast<unsigned char>(digits[i]);
    uint8_t v;
    if (c <= 15)
      v = c;
    else if (c >= '0' && c <= '9')
      v = static_cast<uint8_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      v = static_cast<uint8_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'f')
      v = static_cast<uint8_t>(c - 'a' + 10);
    else
      return false;
    out[i] = v;
  }
  return true;
}

void PackPlayFrom(uint8_t disk, const DvrTime& start, uint8_t out[7]) {
  out[0] = disk;
  PackTime(start, out + 1);
}

void PackPlayEvent(uint8_t disk, uint32_t id, uint8_t out[5]) {
  out[0] = disk;
  StoreBe32(out + 1, id);
}

bool UnpackPlayEvent(const uint8_t* data, std::size_t size, uint8_t* disk, uint32_t* id) {
  if (data == nullptr || size != 5) return false;
  if (disk) *disk = data[0];
  if (id) *id = LoadBe32(data + 1);
  return true;
}

bool UnpackPlayFrom(const uint8_t* data, std::size_t size, uint8_t* disk, DvrTime* start) {
  if (data == nullptr || size != 7) return false;
  if (disk) *disk = data[0];
  if (start) *start = UnpackTime(data + 1, 6);
  return true;
}

}  // namespace rdcp
}  // namespace rd
