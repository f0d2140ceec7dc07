#include "client/media/RcLocalPlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace rd {
namespace {

struct StateRow {
  int skip;
  int direction;
  int adjust_ms;
};

// States 16..27: records skipped per shown video record, direction, and the
// adjustment of the recorded interval slept after a shown record.
constexpr StateRow kRows[12] = {
    {0, +1, -8},  // 16 LOCAL PLAY
    {0, 0, 0},    // 17 LOCAL PLAY PAUSE
    {2, +1, 0},   // 18 >> 1
    {4, +1, 0},   // 19 >> 2
    {8, +1, 0},   // 20 >> 4
    {16, +1, 0},  // 21 >>32
    {32, +1, 0},  // 22 >>64
    {6, -1, 0},   // 23 << 1
    {8, -1, 0},   // 24 << 2
    {12, -1, 0},  // 25 << 4
    {20, -1, 0},  // 26 <<32
    {36, -1, 0},  // 27 <<64
};

const StateRow* RowOf(uint8_t state) {
  if (state < 16 || state > 27) return nullptr;
  return &kRows[state - 16];
}

}  // namespace

RcLocalPlayer::RcLocalPlayer(EngineEvents* owner) : owner_(owner) {}

RcLocalPlayer::~RcLocalPlayer() {
  Close();
}

int RcLocalPlayer::SkipCount(uint8_t state) {
  const StateRow* r = RowOf(state);
  return r != nullptr ? r->skip : 0;
}

int RcLocalPlayer::Direction(uint8_t state) {
  const StateRow* r = RowOf(state);
  return r != nullptr ? r->direction : 0;
}

bool RcLocalPlayer::ReadAt(uint64_t pos, uint8_t* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(pos + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int RcLocalPlayer::Open(const std::string& path) {
  // The reader must not touch the file while it is replaced.
  Stop();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  count_ = 0;
  repaired_ = false;
  file_header_ = MysFileHeader{};
  state_.store(kNoFile);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kOpenFailed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kOpenFailed;
  }
  fd_ = fd;
  uint8_t raw[kMysFileHeaderSize];
  if (!ReadAt(0, raw, sizeof raw)) {
    ::close(fd_);
    fd_ = -1;
    return kHeaderReadFailed;
  }
  file_header_ = MysFileHeader::Read(raw);
  if (file_header_.magic != kMysFileMagic) {
    ::close(fd_);
    fd_ = -1;
    return kHeaderReadFailed;
  }
  // A finished file states its own length. Anything else (a header still as
  // written at creation, a truncated or appended file) is walked record by
  // record, and playback uses the records that are really there.
  uint64_t size = static_cast<uint64_t>(st.st_size);
  count_ = file_header_.count;
  if (file_header_.length != size || file_header_.count == 0) {
    MysWalk walk = WalkMysRecords(size, [this](uint64_t pos, uint8_t* out, std::size_t n) {
      return ReadAt(pos, out, n) ? n : std::size_t{0};
    });
    repaired_ = walk.records != file_header_.count;
    count_ = walk.records;
  }
  if (!buffer_) buffer_.reset(new uint8_t[kMysMaxRecordData]);
  index_ = 0;
  pos_ = kMysFileHeaderSize;
  data_length_ = 0;
  state_.store(kPlay);
  return kOk;
}

void RcLocalPlayer::Close() {
  Stop();
  buffer_.reset();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  count_ = 0;
  file_header_ = MysFileHeader{};
  state_.store(kNoFile);
}

int RcLocalPlayer::Start() {
  if (running_.load()) return kAlreadyRunning;
  stop_.store(false);
  running_.store(true);
  try {
    reader_ = std::thread([this] { ReaderLoop(); });
  } catch (const std::system_error&) {
    running_.store(false);
    return kThreadCreateFailed;
  }
  return kOk;
}

int RcLocalPlayer::Stop() {
  if (!running_.load()) return kNotRunning;
  if (reader_.get_id() == std::this_thread::get_id()) {
    // Asked from the owner's callback on the reader thread: the loop ends after it.
    stop_.store(true);
    return kOk;
  }
  {
    std::lock_guard lock(sleep_mu_);
    stop_.store(true);
  }
  sleep_cv_.notify_all();
  if (reader_.joinable()) reader_.join();
  running_.store(false);
  return kOk;
}

void RcLocalPlayer::FasterForward() {
  uint8_t s = state_.load();
  if (s < 16 || s > 29) return;
  state_.store(s >= 18 && s <= 21 ? static_cast<uint8_t>(s + 1) : kForward1);
}

void RcLocalPlayer::FasterBackward() {
  uint8_t s = state_.load();
  if (s < 16 || s > 29) return;
  state_.store(s >= 23 && s <= 26 ? static_cast<uint8_t>(s + 1) : kBackward1);
}

int RcLocalPlayer::GetVideoStandard() const {
  if (fd_ < 0) return 0;
  return (file_header_.flags & kMysFlagPal) != 0 ? 1 : 0;
}

void RcLocalPlayer::PaceSleep(int64_t ms) {
  if (ms <= 0 || !pacing_.load()) return;
  std::unique_lock lock(sleep_mu_);
  sleep_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

int RcLocalPlayer::ReadNext() {
  uint8_t state = state_.load();
  const StateRow* row = RowOf(state);
  if (fd_ < 0 || row == nullptr || row->direction == 0) return kPause;
  int n = row->skip;
  const bool forward = row->direction > 0;
  const int64_t count = count_;
  // At an end of the file: pause, unless a command changed the state since
  // this read began (a rewind pressed as forward play reaches the end wins).
  auto pause = [this, state] {
    uint8_t seen = state;
    state_.compare_exchange_strong(seen, kPause);
    return static_cast<int>(kPause);
  };

  if (forward && static_cast<int64_t>(index_) >= count - 1) return pause();
  if (!forward && index_ < 1) return pause();

  for (;;) {
    uint8_t raw[kMysRecordHeaderSize];
    if (!ReadAt(pos_, raw, sizeof raw)) return kRecordHeaderReadFailed;
    MysRecordHeader rh = MysRecordHeader::Read(raw);
    if (!rh.IsValid()) return kRecordHeaderReadFailed;
    record_ = rh;

    bool take = false;
    if (rh.IsVideo()) {
      if (n == 0)
        take = true;
      else
        --n;
    } else if (state == kPlay) {
      if (rh.millis >= 8) PaceSleep(static_cast<int64_t>(rh.millis) - 8);
      take = true;
    }

    if (take) {
      if (!ReadAt(pos_ + kMysRecordHeaderSize, buffer_.get(), rh.length))
        return kRecordDataReadFailed;
      data_length_ = rh.length;
      channels_ = ChannelStateFromByte(rh.state);
      time_ = rh.time;
      pos_ += kMysRecordHeaderSize + rh.length;
      ++index_;
      if (rh.IsAudio()) return kAudioRecord;
      PaceSleep(static_cast<int64_t>(row->adjust_ms) + rh.millis);
      return state;
    }

    if (forward) {
      if (static_cast<int64_t>(index_) >= count - 2) return pause();
      pos_ += kMysRecordHeaderSize + rh.length;
      ++index_;
    } else {
      if (index_ <= 1) return pause();
      // To the header of the record before: its header and data (the previous
      // length). From just past the header read that is 56 + previous length.
      uint64_t back = kMysRecordHeaderSize + static_cast<uint64_t>(rh.prev_length);
      if (back > pos_) return pause();  // a seek before the start of the file
      pos_ -= back;
      --index_;
    }
  }
}

void RcLocalPlayer::ReaderLoop() {
  while (!stop_.load()) {
    int r = ReadNext();
    if (r == kAudioRecord) {
      if (owner_ != nullptr)
        owner_->OnPlaybackAudio(buffer_.get(), static_cast<uint32_t>(data_length_));
    } else if (r == kPause) {
      PaceSleep(1);
    } else if (r == kRecordHeaderReadFailed || r == kRecordDataReadFailed) {
      // No valid record to deliver: hold at this position.
      state_.store(kPause);
    } else {
      if (owner_ != nullptr)
        owner_->OnPlaybackFrame(buffer_.get(), static_cast<uint32_t>(data_length_), channels_,
                                time_, static_cast<uint8_t>(r));
    }
  }
}

}  // namespace rd
