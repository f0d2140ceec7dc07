#include "client/media/RcLocalRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>

namespace rd {
namespace {

uint64_t MonotonicTicks100ns() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

RcLocalRecorder::RcLocalRecorder(EngineEvents* owner)
    : owner_(owner), dir_("stream_files"), clock_(MonotonicTicks100ns) {}

RcLocalRecorder::~RcLocalRecorder() {
  Stop();
  if (writer_.joinable()) writer_.join();
}

void RcLocalRecorder::SetDirectory(std::filesystem::path dir) {
  dir_ = std::move(dir);
}

void RcLocalRecorder::SetClock(Clock clock) {
  std::lock_guard lock(producer_mu_);
  clock_ = clock ? std::move(clock) : Clock(MonotonicTicks100ns);
}

std::vector<std::filesystem::path> RcLocalRecorder::Files() const {
  std::lock_guard lock(files_mu_);
  return files_;
}

void RcLocalRecorder::Reset() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  header_ = MysFileHeader{};
  continuing_ = false;
  std::lock_guard lock(producer_mu_);
  for (Slot& s : slots_) {
    s.busy.store(false);
    s.data.reset();
  }
  produced_ = 0;
  consumed_ = 0;
  sequence_ = 0;
  first_record_ = true;
  prev_clock_ = 0;
  prev_length_ = 0;
}

int RcLocalRecorder::Start(int video_standard) {
  if (running_.load()) return kAlreadyRunning;
  // A writer that ended by itself on an error is collected here.
  if (writer_.joinable()) writer_.join();
  Reset();
  {
    std::lock_guard lock(files_mu_);
    files_.clear();
  }
  lost_.store(0);
  standard_ = video_standard;
  stop_.store(false);
  running_.store(true);
  try {
    writer_ = std::thread([this] { WriterLoop(); });
  } catch (const std::system_error&) {
    running_.store(false);
    return kThreadCreateFailed;
  }
  return kOk;
}

int RcLocalRecorder::Stop() {
  if (writer_.joinable() && writer_.get_id() == std::this_thread::get_id()) return kNotRunning;
  if (!running_.load()) {
    if (writer_.joinable()) writer_.join();
    return kNotRunning;
  }
  {
    // No producer is inside Add once the flag is down under the lock.
    std::lock_guard lock(producer_mu_);
    running_.store(false);
  }
  stop_.store(true);
  if (writer_.joinable()) writer_.join();
  return kOk;
}

void RcLocalRecorder::AddVideo(const uint8_t* data, std::size_t length,
                               const ChannelDisplayState* channels, const RecTime& time) {
  Add(true, data, length, channels, time);
}

void RcLocalRecorder::AddAudio(const uint8_t* data, std::size_t length) {
  Add(false, data, length, nullptr, RecTime{});
}

void RcLocalRecorder::Add(bool video, const uint8_t* data, std::size_t length,
                          const ChannelDisplayState* channels, const RecTime& time) {
  if (!running_.load() || data == nullptr) return;
  std::lock_guard lock(producer_mu_);
  if (!running_.load()) return;
  Slot& slot = slots_[produced_ % kSlots];
  if (slot.busy.load(std::memory_order_acquire) || length > kMysMaxRecordData) {
    // Lost. The producer count stays, so the ring keeps the order of the
    // records it holds and their previous-length chain stays intact.
    lost_.fetch_add(1);
    return;
  }
  ++produced_;
  MysRecordHeader& h = slot.header;
  h = MysRecordHeader{};
  h.magic = video ? kMysVideoMagic : kMysAudioMagic;
  uint64_t now = clock_();
  if (first_record_) {
    h.millis = 0;
    first_record_ = false;
  } else {
    h.millis = (static_cast<uint32_t>(now) - static_cast<uint32_t>(prev_clock_)) / 10000u;
  }
  h.prev_length = prev_length_;
  h.length = static_cast<uint32_t>(length);
  prev_clock_ = now;
  prev_length_ = static_cast<uint32_t>(length);
  if (video) {
    h.sequence = sequence_++;
    h.time = time;
    h.state = channels != nullptr ? ChannelStateByte(*channels) : 0;
  }
  if (!slot.data) slot.data.reset(new uint8_t[kMysMaxRecordData]);
  if (length > 0) std::memcpy(slot.data.get(), data, length);
  slot.busy.store(true, std::memory_order_release);
}

bool RcLocalRecorder::CreateNextFile() {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // An existing file is never overwritten: a second file started within the
  // same second gets a suffix.
  for (int suffix = 0; suffix < 1000; ++suffix) {
    std::filesystem::path path =
        dir_ / MysFileName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec, suffix);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      fd_ = fd;
      std::lock_guard lock(files_mu_);
      files_.push_back(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

void RcLocalRecorder::FinishFile() {
  if (fd_ < 0) return;
  uint8_t raw[kMysFileHeaderSize];
  header_.Write(raw);
  // The header is rewritten in place; a failure here leaves the header written
  // at creation, which the player can still walk.
  (void)!::pwrite(fd_, raw, sizeof raw, 0);
  ::close(fd_);
  fd_ = -1;
}

bool RcLocalRecorder::WriteRecord(Slot& slot, bool& failed_create) {
  const MysRecordHeader& rh = slot.header;
  if (fd_ < 0 || header_.length > roll_over_bytes_) {
    if (fd_ >= 0) {
      FinishFile();
      continuing_ = true;
    }
    if (!CreateNextFile()) {
      failed_create = true;
      return false;
    }
    header_.first = rh.time;
    header_.last = rh.time;
    if (!continuing_) header_.flags = standard_ != 0 ? kMysFlagPal : 0;
    header_.magic = kMysFileMagic;
    header_.length = kMysFileHeaderSize;
    if (continuing_) header_.count = 0;
    uint8_t raw[kMysFileHeaderSize];
    header_.Write(raw);
    if (!WriteAll(fd_, raw, sizeof raw)) return false;
  }
  ++header_.count;
  header_.length += static_cast<uint32_t>(kMysRecordHeaderSize + rh.length);
  header_.last = rh.time;
  header_.flags = static_cast<uint8_t>(header_.flags | rh.state);
  uint8_t raw[kMysRecordHeaderSize];
  rh.Write(raw);
  if (!WriteAll(fd_, raw, sizeof raw)) return false;
  if (rh.length > 0 && !WriteAll(fd_, slot.data.get(), rh.length)) return false;
  return true;
}

void RcLocalRecorder::WriterLoop() {
  bool failed = false;
  bool failed_create = false;
  for (;;) {
    bool stopping = stop_.load();
    Slot& slot = slots_[consumed_ % kSlots];
    if (slot.busy.load(std::memory_order_acquire)) {
      if (!WriteRecord(slot, failed_create)) {
        failed = true;
        break;
      }
      slot.busy.store(false, std::memory_order_release);
      ++consumed_;
      // Records queued before Stop are drained without the pause.
      if (stopping) continue;
    } else if (stopping) {
      break;  // producers are stopped and the ring is empty
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (failed) {
    std::lock_guard lock(producer_mu_);
    running_.store(false);
  }
  FinishFile();
  Reset();
  if (failed && owner_ != nullptr) {
    if (failed_create)
      owner_->OnRecordFileCreateError();
    else
      owner_->OnRecordFileWriteError();
  }
}

}  // namespace rd
