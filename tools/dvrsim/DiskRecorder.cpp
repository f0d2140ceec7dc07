#include "tools/dvrsim/DiskRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "tools/common/DvrDiskImage.h"
#include "tools/common/PacketStreamBuilder.h"

namespace rd::sim {

struct DiskRecorder::Impl {
  DvrDiskImage image;
  PacketStreamBuilder builder;
};

namespace {

DiskEventRecord ToDisk(const RecordedEvent& e) {
  return DiskEventRecord{e.timer, e.start, e.end};
}
RecordedEvent FromDisk(const DiskEventRecord& e) {
  return RecordedEvent{e.timer, e.start, e.end};
}

// A frame longer than this (the receiver's assembly limit) is not a frame.
constexpr std::size_t kMaxFrameBytes = 0x3F000;

// Packets between two status sector writes (about one second of recording).
constexpr uint64_t kStatusEvery = 64;

int CompareRec(const RecTime& a, const RecTime& b) {
  const uint8_t x[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const uint8_t y[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  return std::memcmp(x, y, 6);
}

std::optional<std::size_t> FindStartCode(const std::vector<uint8_t>& s, std::size_t from) {
  if (s.size() < 4) return std::nullopt;
  for (std::size_t i = from; i + 4 <= s.size(); ++i) {
    if (s[i + 2] > 1) {  // quick skip: byte 2 of a start code is 01
      i += 2;
      continue;
    }
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == 0xF8) return i;
  }
  return std::nullopt;
}

}  // namespace

DiskRecorder::DiskRecorder() : impl_(std::make_unique<Impl>()) {}

bool DiskRecorder::is_open() const {
  return impl_->image.is_open();
}
uint64_t DiskRecorder::capacity() const {
  return impl_->image.packet_capacity();
}
const std::string& DiskRecorder::image_error() const {
  return impl_->image.error();
}

DiskRecorder::~DiskRecorder() {
  Close();
}

bool DiskRecorder::Create(const std::filesystem::path& path, uint64_t size_bytes, bool network,
                          std::string* error) {
  const DiskLayout layout = network ? DiskLayout::kNetwork : DiskLayout::kStandard;
  std::filesystem::path real = path;
  bool temporary = path.empty();
  if (temporary) {
    std::string templ = (std::filesystem::temp_directory_path() / "dvrsim-disk-XXXXXX").string();
    int fd = ::mkstemp(templ.data());
    if (fd < 0) {
      if (error) *error = "cannot create a temporary disk image";
      return false;
    }
    ::close(fd);
    real = templ;
  }
  const uint64_t sectors = size_bytes / kSectorSize;
  bool ok = impl_->image.Create(real, sectors, layout);
  if (temporary) {
    std::error_code ec;
    std::filesystem::remove(real, ec);  // the open descriptor keeps it alive
  }
  if (!ok) {
    if (error) *error = "disk image " + path.string() + ": " + impl_->image.error();
    return false;
  }
  next_ = 0;
  wrapped_ = false;
  packets_written_ = 0;
  event_slot_.reset();
  return true;
}

bool DiskRecorder::OpenOrCreate(const std::filesystem::path& path, uint64_t size_bytes,
                                bool network, std::string* error) {
  const DiskLayout layout = network ? DiskLayout::kNetwork : DiskLayout::kStandard;
  std::error_code ec;
  if (!path.empty() && std::filesystem::exists(path, ec)) {
    if (!impl_->image.Open(path, layout)) {
      if (error) *error = "disk image " + path.string() + ": " + impl_->image.error();
      return false;
    }
    auto st = impl_->image.ReadStatus();
    next_ = st ? st->next_packet : 0;
    wrapped_ = st ? st->wrapped : false;
    if (next_ >= capacity()) {
      next_ = 0;
      wrapped_ = true;
    }
    packets_written_ = 0;
    event_slot_.reset();
    return true;
  }
  return Create(path, size_bytes, network, error);
}

void DiskRecorder::WritePacket(const uint8_t* packet) {
  if (!impl_->image.is_open() || capacity() == 0) return;
  if (!impl_->image.WritePacket(next_, packet)) {
    error_ = impl_->image.error();
    return;
  }
  ++packets_written_;
  if (++next_ >= capacity()) {
    next_ = 0;
    wrapped_ = true;
  }
  if (++since_status_ >= kStatusEvery) {
    since_status_ = 0;
    impl_->image.WriteStatus(DiskStatus{static_cast<uint32_t>(next_), wrapped_});
  }
}

void DiskRecorder::Drain() {
  for (const auto& p : impl_->builder.packets()) WritePacket(p.data());
  impl_->builder.packets().clear();
}

void DiskRecorder::AddFrame(const uint8_t* frame, std::size_t len, const FrameInfo& info) {
  impl_->builder.set_time(info.time);
  impl_->builder.set_rate(info.rate_code);
  impl_->builder.set_channel_set(info.channel_set);
  impl_->builder.AppendVideo(frame, len);
  Drain();
}

void DiskRecorder::AddAudio(const RecTime& time, const uint8_t* samples4000) {
  impl_->builder.set_time(time);
  impl_->builder.AppendAudio(samples4000);
  Drain();
}

bool DiskRecorder::Sync() {
  if (!impl_->image.is_open()) return false;
  impl_->builder.Flush();
  Drain();
  since_status_ = 0;
  if (packets_written_ == 0 && next_ == 0 && !wrapped_) return true;
  return impl_->image.WriteStatus(DiskStatus{static_cast<uint32_t>(next_), wrapped_});
}

bool DiskRecorder::Close() {
  if (!impl_->image.is_open()) return true;
  bool ok = Sync();
  ok = impl_->image.Finish() && ok;
  return ok;
}

void DiskRecorder::BeginEvent(bool timer, const RecTime& start) {
  if (!impl_->image.is_open()) return;
  event_ = RecordedEvent{timer, start, start};
  event_slot_ = impl_->image.AppendEvent(ToDisk(event_));
}

void DiskRecorder::UpdateEvent(const RecTime& end) {
  if (!event_slot_ || end == event_.end) return;
  event_.end = end;
  impl_->image.WriteEvent(*event_slot_, ToDisk(event_));
}

void DiskRecorder::EndEvent(const RecTime& end) {
  UpdateEvent(end);
  event_slot_.reset();
}

bool DiskRecorder::ReadLogical(uint64_t l, uint8_t* packet) {
  if (l >= recorded_packets()) return false;
  return impl_->image.ReadPacket((first() + l) % capacity(), packet);
}

std::optional<RecTime> DiskRecorder::TimeOfLogical(uint64_t l) {
  uint8_t packet[kPacketSize];
  if (!ReadLogical(l, packet)) return std::nullopt;
  return RecTime::FromHeader(packet);
}

std::optional<uint64_t> DiskRecorder::FindTime(const RecTime& t) {
  uint64_t n = recorded_packets();
  if (n == 0) return std::nullopt;
  uint64_t lo = 0, hi = n;  // first l in [lo, hi) with time >= t
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    auto mt = TimeOfLogical(mid);
    if (!mt) return std::nullopt;
    if (CompareRec(*mt, t) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return std::min(lo, n - 1);
}

std::vector<std::pair<std::size_t, RecordedEvent>> DiskRecorder::Events() {
  std::vector<std::pair<std::size_t, RecordedEvent>> out;
  if (!impl_->image.is_open()) return out;
  for (std::size_t slot = 0; slot < kDiskEventSlots; ++slot)
    if (auto e = impl_->image.ReadEvent(slot)) out.emplace_back(slot, FromDisk(*e));
  return out;
}

std::optional<RecordedEvent> DiskRecorder::Event(std::size_t slot) {
  if (!impl_->image.is_open() || slot >= kDiskEventSlots) return std::nullopt;
  if (auto e = impl_->image.ReadEvent(slot)) return FromDisk(*e);
  return std::nullopt;
}

bool DiskRecorder::AppendEvent(const RecordedEvent& event) {
  return impl_->image.is_open() && impl_->image.AppendEvent(ToDisk(event)).has_value();
}

// ---------------------------------------------------------------- playback

void PlaybackCursor::Seek(uint64_t l) {
  next_packet_ = l;
  stream_.clear();
  segments_.clear();
  audio_queue_.clear();
  at_end_ = false;
}

void PlaybackCursor::Drop(std::size_t n) {
  n = std::min(n, stream_.size());
  stream_.erase(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(n));
  for (auto& s : segments_) s.offset = s.offset > n ? s.offset - n : 0;
  // Keep only the last segment that starts at 0 and those after it.
  while (segments_.size() > 1 && segments_[1].offset == 0) segments_.pop_front();
}

bool PlaybackCursor::LoadPacket() {
  if (at_end_ || next_packet_ >= disk_->recorded_packets()) {
    at_end_ = true;
    return false;
  }
  packet_.resize(kPacketSize);
  const uint64_t l = next_packet_++;
  if (!disk_->ReadLogical(l, packet_.data())) {
    at_end_ = true;
    return false;
  }
  if (ClassifyPacket(packet_.data()) == PacketKind::kAudio) {
    Item item;
    item.audio = true;
    item.bytes.assign(packet_.begin() + kPacketHeaderSize,
                      packet_.begin() + kPacketHeaderSize + kAudioPayloadSize);
    item.info.time = RecTime::FromHeader(packet_.data());
    item.packet = l;
    audio_queue_.push_back(std::move(item));
    return true;
  }
  FrameInfo info;
  info.time = RecTime::FromHeader(packet_.data());
  info.rate_code = packet_[6];
  info.channel_set = packet_[7];
  segments_.push_back(Segment{stream_.size(), info, l});
  stream_.insert(stream_.end(), packet_.begin() + kPacketHeaderSize, packet_.end());
  return true;
}

bool PlaybackCursor::Next(Item* out) {
  while (true) {
    if (!audio_queue_.empty()) {
      *out = std::move(audio_queue_.front());
      audio_queue_.pop_front();
      return true;
    }
    auto s0 = FindStartCode(stream_, 0);
    if (!s0) {
      if (stream_.size() > 3) Drop(stream_.size() - 3);
      if (!LoadPacket()) return false;
      continue;
    }
    if (*s0 > 0) Drop(*s0);
    auto s1 = FindStartCode(stream_, 4);
    if (!s1 && stream_.size() > kMaxFrameBytes) {
      // No frame is this long: the image holds something else here. Skip it.
      Drop(stream_.size() - 3);
      continue;
    }
    if (!s1) {
      if (LoadPacket()) continue;
      if (stream_.size() <= 4) return false;
      s1 = stream_.size();  // the last frame of the recording
    }
    out->audio = false;
    out->bytes.assign(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(*s1));
    out->info = segments_.empty() ? FrameInfo{} : segments_.front().info;
    out->packet = segments_.empty() ? 0 : segments_.front().packet;
    Drop(*s1);
    return true;
  }
}

}  // namespace rd::sim
