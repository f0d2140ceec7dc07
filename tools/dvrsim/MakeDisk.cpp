#include "tools/dvrsim/MakeDisk.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <ostream>

#include "shared/stream/RecTimeCalendar.h"
#include "tools/dvrsim/AlawTone.h"
#include "tools/dvrsim/CameraBank.h"
#include "tools/dvrsim/DiskRecorder.h"
#include "tools/dvrsim/DvrSim.h"

namespace rd::sim {

bool ParseEventSpec(const std::string& text, std::vector<EventSpec>* out, std::string* error) {
  out->clear();
  std::size_t pos = 0;
  while (pos <= text.size() && !text.empty()) {
    std::size_t comma = text.find(',', pos);
    std::string item =
        text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (item.empty()) continue;
    auto at = item.find('@');
    if (at == std::string::npos) {
      *error = "--events: '" + item + "' is not KIND@OFFSET[+LENGTH]";
      return false;
    }
    EventSpec e;
    std::string kind = item.substr(0, at);
    if (kind == "time" || kind == "TIME")
      e.timer = true;
    else if (kind == "alarm" || kind == "ALARM")
      e.timer = false;
    else {
      *error = "--events: kind must be time or alarm, got '" + kind + "'";
      return false;
    }
    std::string rest = item.substr(at + 1);
    auto plus = rest.find('+');
    auto off = ParseDuration(rest.substr(0, plus));
    if (!off) {
      *error = "--events: bad offset in '" + item + "'";
      return false;
    }
    e.offset_s = *off;
    if (plus != std::string::npos) {
      auto len = ParseDuration(rest.substr(plus + 1));
      if (!len) {
        *error = "--events: bad length in '" + item + "'";
        return false;
      }
      e.length_s = *len;
    }
    out->push_back(e);
  }
  if (out->size() > kDiskEventSlots) {
    *error = "--events: at most 64 events fit on a disk";
    return false;
  }
  return true;
}

bool MakeDisk(const MakeDiskOptions& o, std::ostream* progress, MakeDiskResult* result,
              std::string* error) {
  std::vector<EventSpec> events;
  if (!ParseEventSpec(o.events, &events, error)) return false;
  const int64_t start =
      o.start >= 0 ? o.start : static_cast<int64_t>(std::floor(LocalCalendarSeconds()));
  if (RecTimeFromSeconds(start).year == 0 || start < 946684800) {
    *error = "--start must lie in 2001-2099 (a start year 2000 marks an empty event record)";
    return false;
  }
  const double fps = o.fps > 0 ? o.fps : (o.pal ? 25.0 : 30.0);
  const uint8_t rate_code = RateCodeFor(fps);

  DiskRecorder disk;
  std::error_code ec;
  std::filesystem::remove(o.out, ec);  // a fresh image, never a continued one
  if (!disk.Create(o.out, o.size, o.network, error)) return false;
  CameraBank cameras(o.pal ? mjpeg::VideoStandard::kPal : mjpeg::VideoStandard::kNtsc);

  const uint64_t want_frames = static_cast<uint64_t>(std::llround(o.duration_s * fps));
  const uint64_t capacity = disk.capacity();
  std::vector<uint8_t> samples(kAudioPayloadSize);
  uint64_t audio_samples = 0;
  std::array<uint64_t, 5> channel_frames{};
  MakeDiskResult r;
  auto last_report = std::chrono::steady_clock::now();
  uint64_t i = 0;
  bool stopped_full = false;
  for (;; ++i) {
    const bool duration_done = i >= want_frames;
    if (duration_done && (!o.wrap || (disk.wrapped() && disk.next_packet() >= capacity / 3))) break;
    if (!o.wrap && disk.next_packet() + 128 >= capacity) {
      stopped_full = true;
      break;
    }
    const double t = static_cast<double>(i) / fps;
    const int64_t secs = start + static_cast<int64_t>(std::floor(t));
    const RecTime now = RecTimeFromSeconds(secs);
    // Audio: every half second of samples goes in before the frames that follow it.
    if (o.audio) {
      while (static_cast<double>(audio_samples) / 8000.0 <= t) {
        FillTone(audio_samples, samples.data(), samples.size());
        const RecTime at = RecTimeFromSeconds(start + static_cast<int64_t>(audio_samples / 8000));
        disk.AddAudio(at, samples.data());
        audio_samples += kAudioPayloadSize;
        ++r.audio_packets;
      }
    }
    const int code = o.quad ? kQuadCode : static_cast<int>(i % 4);
    const uint8_t channel_set = o.quad ? static_cast<uint8_t>(kChannelSetQuad | 0x0F) : 0x0F;
    const uint64_t fno = channel_frames[code]++;
    auto frame = cameras.Encode(code, fno, now, 5, fno % 16 == 0, 0x0F);
    disk.AddFrame(frame.data(), frame.size(), FrameInfo{now, rate_code, channel_set});
    ++r.frames;
    if (!disk.error().empty()) {
      *error = "write failed: " + disk.error();
      return false;
    }
    if (progress && (i & 63) == 0) {
      auto n = std::chrono::steady_clock::now();
      if (n - last_report >= std::chrono::seconds(2)) {
        last_report = n;
        const double total =
            o.wrap ? std::max<double>(want_frames, 1) : std::max<double>(want_frames, 1);
        *progress << "make-disk: " << static_cast<int>(std::min(100.0, 100.0 * i / total)) << "% ("
                  << static_cast<uint64_t>(t) << " s recorded, packet " << disk.next_packet()
                  << " of " << capacity << (disk.wrapped() ? ", wrapped" : "") << ")\n"
                  << std::flush;
      }
    }
  }
  r.seconds = static_cast<uint64_t>(static_cast<double>(i) / fps);
  disk.Sync();
  // Events: the default is one timer recording over the whole time.
  if (events.empty()) events.push_back(EventSpec{true, 0, r.seconds});
  for (const auto& e : events) {
    const uint64_t off = std::min(e.offset_s, r.seconds);
    const uint64_t end = std::min(e.offset_s + e.length_s, r.seconds);
    disk.AppendEvent(RecordedEvent{e.timer, RecTimeFromSeconds(start + static_cast<int64_t>(off)),
                                   RecTimeFromSeconds(start + static_cast<int64_t>(end))});
  }
  r.packets = disk.packets_written();
  r.next_packet = disk.next_packet();
  r.wrapped = disk.wrapped();
  if (!disk.Close()) {
    *error = "closing the image failed: " + disk.image_error();
    return false;
  }
  if (progress && stopped_full)
    *progress << "make-disk: the ring is full after " << r.seconds
              << " s; use --wrap to keep recording over the oldest packets\n";
  if (result) *result = r;
  return true;
}

}  // namespace rd::sim
