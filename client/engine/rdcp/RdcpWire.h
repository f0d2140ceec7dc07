#pragma once
// RDCP on the wire: message type numbers, the 0xF5 framing, and the byte
// layout of every record a message carries. Pure functions without state or
// sockets, safe for any input, shared by the client's control session and by
// the emulated DVR (which builds replies and parses requests with them).
//
// Frame (both directions, single bytes):
//   0: 0xF5   1: payload length N (0..255)   2: message type   3: parameter
//   4..4+N-1: payload
// Multi-byte payload fields are little-endian, except the event id of a
// PlayEvent request (big-endian).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd {

// ---------------------------------------------------------------- records

// 32 bytes, the payload of reply 67. Single bytes are changed by the
// requests 25..31 and 45.
struct DvrSettings {
  uint8_t record_mode = 0;            // 0: EACH, non-zero: QUAD
  uint8_t input_mask = 0;             // bit 3 CH1 .. bit 0 CH4
  uint8_t record_mask = 0;            // same order; EACH mode only
  uint8_t video_quality = 0;          // 0..2
  uint8_t video_standard = 0;         // 0: NTSC, non-zero: PAL
  uint8_t record_frame_rate = 0;      // index into the standard's table
  uint8_t alarm_on_duration = 0;      // s: 0 off, 5..30 step 5, 35 infinite
  uint8_t alarm_record_duration = 0;  // s: 5..30 step 5
  uint8_t disk_installed[2]{};        // master, slave
  uint8_t disk_overwriting[2]{};
  uint32_t disk_capacity[2]{};  // bits 31..8: megabytes
  uint32_t disk_used[2]{};      // bits 31..8: megabytes
  uint8_t audio_flags = 0;      // bit 0 audio recording, bit 1 speaker muted
  uint8_t audio_available = 0;
  uint8_t reserved[2]{};

  friend bool operator==(const DvrSettings&, const DvrSettings&) = default;
};

// Byte offsets inside DvrSettings.
namespace settings_offset {
inline constexpr int kRecordMode = 0;
inline constexpr int kInputMask = 1;
inline constexpr int kRecordMask = 2;
inline constexpr int kVideoQuality = 3;
inline constexpr int kVideoStandard = 4;
inline constexpr int kRecordFrameRate = 5;
inline constexpr int kAlarmOnDuration = 6;
inline constexpr int kAlarmRecordDuration = 7;
inline constexpr int kAudioFlags = 28;
inline constexpr int kAudioAvailable = 29;
}  // namespace settings_offset

inline constexpr std::size_t kDvrSettingsSize = 32;
inline constexpr std::size_t kDvrStatusSize = 8;
inline constexpr std::size_t kDvrTimeSize = 6;
inline constexpr std::size_t kRecordScheduleSize = 6;
inline constexpr std::size_t kEventRecordSize = 18;

// 8 bytes, the payload of reply 90 and notification 91.
struct DvrStatus {
  uint8_t mode = 0;            // 0 VIEW, 1 PLAY, 2 PAUSE, 3 FF, 4 REC, 5 NOT SCHEDULED,
                               // 6 ALARM RECORDING, 7 SENSOR ACTIVATED
  uint8_t frame_interval = 0;  // one frame of every interval + 1 is streamed
  uint8_t stream_filter = 0;   // bits 0..3 CH1..CH4 excluded, 4 audio excluded,
                               // 7 per-channel selection
  uint8_t reserved3 = 0;
  uint8_t reserved4 = 0;
  uint8_t reserved5 = 0;
  uint8_t play_speed = 0;  // mode 3: FF speed 1..5; mode 1: non-zero = backward
  uint8_t reserved7 = 0;

  friend bool operator==(const DvrStatus&, const DvrStatus&) = default;
};

namespace dvr_mode {
inline constexpr uint8_t kView = 0;
inline constexpr uint8_t kPlay = 1;
inline constexpr uint8_t kPause = 2;
inline constexpr uint8_t kFastForward = 3;
inline constexpr uint8_t kRecord = 4;
inline constexpr uint8_t kNotScheduled = 5;
inline constexpr uint8_t kAlarmRecording = 6;
inline constexpr uint8_t kSensorActivated = 7;
}  // namespace dvr_mode

namespace stream_filter {
inline constexpr uint8_t kChannelMask = 0x0F;  // bit 0 = CH1 excluded
inline constexpr uint8_t kAudioExcluded = 0x10;
inline constexpr uint8_t kPerChannel = 0x80;
}  // namespace stream_filter

// 6 bytes: second, minute, hour, day, month, year - 2000 (the reverse of the
// stream's RecTime).
struct DvrTime {
  uint8_t second = 0;
  uint8_t minute = 0;
  uint8_t hour = 0;
  uint8_t day = 0;
  uint8_t month = 0;
  uint8_t year = 0;

  static DvrTime FromRecTime(const RecTime& t);
  RecTime ToRecTime() const;
  // Orders by year, month, day, hour, minute, second.
  friend bool operator==(const DvrTime&, const DvrTime&) = default;
};
int CompareDvrTime(const DvrTime& a, const DvrTime& b);  // <0, 0, >0

// 6 bytes, 24 two-bit values: hour h in byte h/4, bits 2*(h%4) and 2*(h%4)+1.
struct RecordSchedule {
  std::array<uint8_t, kRecordScheduleSize> bytes{};

  // Packs 24 values (hour 0 first, low 2 bits of each); bytes start at 0.
  static RecordSchedule Pack(const uint8_t hours[24]);
  void Unpack(uint8_t hours[24]) const;
  uint8_t Hour(int h) const;

  friend bool operator==(const RecordSchedule&, const RecordSchedule&) = default;
};

// One entry of the recorded-event list; 18 bytes on the wire.
struct EventRecord {
  uint32_t id = 0;   // little-endian on the wire
  uint8_t disk = 0;  // 0 master, non-zero slave
  uint8_t kind = 0;  // 0 whole recorded range, 1 "Time", other "Sensor"
  DvrTime start;
  DvrTime end;

  friend bool operator==(const EventRecord&, const EventRecord&) = default;
};

// Pack writes exactly the record's size; Unpack reads at most `size` bytes.
void PackSettings(const DvrSettings& s, uint8_t out[kDvrSettingsSize]);
// Copies min(size, 32) bytes over the start of `inout`, leaving the rest.
void UnpackSettingsOver(const uint8_t* data, std::size_t size, DvrSettings& inout);
DvrSettings UnpackSettings(const uint8_t* data, std::size_t size);  // missing bytes are 0
// Byte access by offset (0..31); out-of-range reads give 0, writes do nothing.
uint8_t SettingsByte(const DvrSettings& s, int offset);
void SetSettingsByte(DvrSettings& s, int offset, uint8_t value);

void PackStatus(const DvrStatus& s, uint8_t out[kDvrStatusSize]);
DvrStatus UnpackStatus(const uint8_t* data, std::size_t size);  // missing bytes are 0

void PackTime(const DvrTime& t, uint8_t out[kDvrTimeSize]);
DvrTime UnpackTime(const uint8_t* data, std::size_t size);

void PackEvent(const EventRecord& e, uint8_t out[kEventRecordSize]);
EventRecord UnpackEvent(const uint8_t* data, std::size_t size);

// ---------------------------------------------------------------- framing

namespace rdcp {

inline constexpr uint8_t kStartByte = 0xF5;
inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::size_t kMaxPayload = 255;
inline constexpr std::size_t kMaxMessage = kHeaderSize + kMaxPayload;  // 259
inline constexpr uint8_t kChallengeXor = 0x6E;

// Message types. Client to DVR: 16..45; DVR to client: 64..93 and 241.
enum Type : uint8_t {
  kOpenSession = 16,
  kCloseSession = 17,
  kChallengeAnswer = 18,
  kGetSettings = 19,
  kGetSchedule = 20,
  kSetSchedule = 21,
  kGetTime = 22,
  kSetTime = 23,
  kSetRecordMode = 25,
  kSetInputChannels = 26,
  kSetRecordChannels = 27,
  kSetVideoQuality = 28,
  kSetRecordFrameRate = 29,
  kSetAlarmOnDuration = 30,
  kSetAlarmRecordDuration = 31,
  kStartRecording = 32,
  kStopRecording = 33,
  kGetEventList = 34,
  kPlay = 35,
  kStopPlay = 37,
  kPause = 38,
  kFastForward = 39,
  kRewind = 40,
  kSetStreamFilter = 41,
  kGetStatus = 42,
  kKeepAlive = 44,
  kSetAudioFlags = 45,

  kSessionAccepted = 64,
  kSessionEndedReply = 65,
  kClosedByKeypad = 66,
  kSettingsReply = 67,
  kScheduleReply = 68,
  kScheduleChanged = 69,
  kTimeReply = 70,
  kTimeChanged = 71,
  kMasterDiskCleared = 72,
  kRecordModeChanged = 73,
  kInputChannelsChanged = 74,
  kRecordChannelsChanged = 75,
  kVideoQualityChanged = 76,
  kRecordFrameRateChanged = 77,
  kAlarmOnDurationChanged = 78,
  kAlarmRecordDurationChanged = 79,
  kRecordingStarted = 80,
  kRecordingStopped = 81,
  kEventListPart = 82,
  kPlayAccepted = 83,
  kStatusChanged = 84,
  kPlayStopped = 85,
  kPaused = 86,
  kFastForwardAccepted = 87,
  kRewindAccepted = 88,
  kStreamFilterChanged = 89,
  kStatusReply = 90,
  kStatusPush = 91,
  kKeepAliveReply = 92,
  kAudioFlagsChanged = 93,

  kNak = 241,
};

// Requests the DVR answers with a reply of their own or a refusal, always and
// in order: the changes (each has its "changed" reply) and the recording
// commands. The challenge answer, CloseSession and the keep-alive are not.
constexpr bool AnsweredInOrder(uint8_t type) {
  return type == kSetSchedule || type == kSetTime ||
         (type >= kSetRecordMode && type <= kStopRecording) || type == kSetStreamFilter ||
         type == kSetAudioFlags;
}

// The reply type that completes a request (0 for 17, 18 and unknown types).
uint8_t ReplyTypeFor(uint8_t request_type);
// Requests retransmitted after 2 s instead of 1 s: 19, 20, 22, 34, 42.
bool IsLongWait(uint8_t request_type);

// Negative-acknowledgement codes of OpenSession.
inline constexpr uint8_t kNakInvalidPassword = 1;
inline constexpr uint8_t kNakNetworkDisabled = 10;

// Writes one frame into `out`. Returns the total length (4 + n), or 0 when the
// payload exceeds 255 bytes or `out_size` is too small.
std::size_t BuildFrame(uint8_t type, uint8_t param, const uint8_t* payload, std::size_t n,
                       uint8_t* out, std::size_t out_size);
std::vector<uint8_t> BuildFrame(uint8_t type, uint8_t param = 0, const uint8_t* payload = nullptr,
                                std::size_t n = 0);
inline std::vector<uint8_t> BuildFrame(uint8_t type, uint8_t param,
                                       const std::vector<uint8_t>& payload) {
  return BuildFrame(type, param, payload.data(), payload.size());
}

// A frame viewed in place; `payload` points into the parsed bytes.
struct Frame {
  uint8_t type = 0;
  uint8_t param = 0;
  const uint8_t* payload = nullptr;
  std::size_t length = 0;  // payload length N
  std::size_t size() const { return kHeaderSize + length; }
};

enum class ParseResult {
  kOk,        // a whole frame at the start of the bytes
  kNeedMore,  // starts like a frame but its declared length runs past the bytes
  kBadStart,  // the first byte is not 0xF5 (or there are no bytes... see kNeedMore)
};
// Parses the frame at the start of data[0..size). With size 0 the result is
// kNeedMore. Never reads beyond `size`.
ParseResult ParseFrame(const uint8_t* data, std::size_t size, Frame* out);

// Accumulates a byte stream and hands out whole frames; used by a DVR-side
// reader. Bytes that cannot start a frame are skipped up to the next 0xF5.
class FrameReader {
 public:
  void Feed(const uint8_t* data, std::size_t size);
  // Returns true and fills `out` with the next whole frame. The frame's payload
  // stays valid until the next Feed or Next call.
  bool Next(Frame* out);
  std::size_t Pending() const { return buffer_.size() - pos_; }

 private:
  std::vector<uint8_t> buffer_;
  std::size_t pos_ = 0;
};

// --- request payloads (client side builds, DVR side parses)

// Six password digits given as characters '0'..'9', 'A'..'F' / 'a'..'f' (or
// as values 0..15): one byte per digit holding its value. False when a digit
// is not hexadecimal.
bool PackPassword(const char digits[6], uint8_t out[6]);
// PlayFrom: disk, then the DvrTime (7 bytes).
void PackPlayFrom(uint8_t disk, const DvrTime& start, uint8_t out[7]);
// PlayEvent: disk, then the event id big-endian (5 bytes).
void PackPlayEvent(uint8_t disk, uint32_t event_id, uint8_t out[5]);
bool UnpackPlayEvent(const uint8_t* data, std::size_t size, uint8_t* disk, uint32_t* event_id);
bool UnpackPlayFrom(const uint8_t* data, std::size_t size, uint8_t* disk, DvrTime* start);

}  // namespace rdcp
}  // namespace rd
