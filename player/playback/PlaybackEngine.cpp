#include "player/playback/PlaybackEngine.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "shared/still/BmpFile.h"

namespace rd {
namespace {

using Micros = PlaybackClock::Micros;

constexpr int kSpeedSkip[5] = {1, 2, 4, 8, 16};
constexpr int kSpeedShown[5] = {1, 4, 16, 32, 64};
constexpr const char* kSpeedCaption[5] = {">> 1X", ">> 4X", ">> 16X", ">> 32X", ">> 64X"};

constexpr int kReadTries = 3;
constexpr Micros kOpenRetry{1'000'000};
constexpr int kTimeTextRight = 180;  // the time stamp starts 180 pixels from the right edge
constexpr int kTimeTextBottom = 16;

// (RateCode + 1) / 30 s.
Micros RateInterval(uint8_t rate) {
  return Micros{(int64_t{rate} + 1) * 1'000'000 / 30};
}

// Seconds within the year, as the reverse end rule compares them.
int64_t DaySeconds(const RecTime& t) {
  return int64_t{t.day} * 86'400 + int64_t{t.hour} * 3'600 + int64_t{t.minute} * 60 + t.second;
}

}  // namespace

PlaybackEngine::PlaybackEngine(Options options)
    : options_(std::move(options)),
      clock_(options_.clock ? options_.clock : &steady_clock_),
      loader_(options_.opener),
      chunk_(kChunkBytes),
      output_(1 << 20),
      carry_(StreamBuffer::kAudioCapacity),
      audio_block_(kAudioPayloadSize) {
  epoch_ = clock_->Now();
  loader_.set_box_text_sink([](const std::string&) {});  // the load thread reports, once a start
}

PlaybackEngine::~PlaybackEngine() {
  {
    std::lock_guard lock(mu_);
    running_ = false;
    Notify();
  }
  if (load_thread_.joinable()) load_thread_.join();
  if (image_thread_.joinable()) image_thread_.join();
  clock_->SetWaker({});
}

PlaybackEngine::SetUp PlaybackEngine::Start() {
  if (started_) return SetUp::kOk;
  if (QGuiApplication::instance() == nullptr || !text_.Build()) return SetUp::kNoGuiApplication;
  if (!bank_.ok()) return SetUp::kDecoderFailed;
  palette_ = video::DecoderPalette();
  picture_ = QImage(kWidth, kHeight, QImage::Format_RGB32);
  picture_.fill(Qt::black);
  window_picture_ = picture_.copy();
  stamp_bytes_.resize(std::size_t{kWidth} * kHeight * 3);
  for (int c = 0; c < 4; ++c) labels_[c] = text_.Label(QStringLiteral("CH%1").arg(c + 1));
  clock_->SetWaker([this] {
    std::lock_guard lock(mu_);
    Notify();
  });
  {
    std::lock_guard lock(mu_);
    running_ = true;
  }
  try {
    load_thread_ = std::thread([this] { LoadLoop(); });
  } catch (const std::system_error&) {
    std::lock_guard lock(mu_);
    running_ = false;
    return SetUp::kLoadThreadFailed;
  }
  try {
    image_thread_ = std::thread([this] { ImageLoop(); });
  } catch (const std::system_error&) {
    {
      std::lock_guard lock(mu_);
      running_ = false;
      Notify();
    }
    load_thread_.join();
    return SetUp::kImageThreadFailed;
  }
  started_ = true;
  return SetUp::kOk;
}

AudioPace AudioPaceOf(uint32_t frames, int64_t index, uint32_t remaining,
                      uint32_t frames_per_audio_packet) {
  if (remaining == 0) return AudioPace::kBehind;  // the audio has gone on to the next buffer
  const int64_t x = (int64_t{frames} - index) * 50'000 / remaining;
  const int64_t fpa = frames_per_audio_packet;
  if (fpa > x + 5'000) return AudioPace::kAhead;
  if (fpa < x - 5'000) return AudioPace::kBehind;
  return AudioPace::kOnTime;
}

void PlaybackEngine::Notify() {
  ++wake_seq_;
  cv_.notify_all();
}

void PlaybackEngine::Block(std::unique_lock<std::mutex>& lock, int thread,
                           PlaybackClock::WakePoint wake) {
  waiting_[thread] = true;
  seen_[thread] = wake_seq_;
  if (wake == PlaybackClock::WakePoint::max()) {
    cv_.wait(lock);
  } else {
    cv_.wait_until(lock, wake);
  }
  waiting_[thread] = false;
}

bool PlaybackEngine::quiescent() const {
  std::lock_guard lock(mu_);
  if (!running_) return true;
  for (int t = 0; t < 2; ++t)
    if (!waiting_[t] || seen_[t] != wake_seq_) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Pipeline

void PlaybackEngine::StopPipelineLocked(std::unique_lock<std::mutex>& lock) {
  load_enabled_ = false;
  image_enabled_ = false;
  ++generation_;  // the image thread abandons its buffer; a load begun before is discarded
  Notify();
  // The image thread lets go of its buffer at the latest after the frame it
  // is decoding.
  cv_.wait(lock, [&] { return !running_ || image_generation_ == generation_; });
  go_to_last_ = false;
  load_request_ = false;
  data_ready_ = false;
  fill_ = 0;
  play_ = 0;
  info_ = {};
  audio_ = {};
  carry_count_ = 0;
  walked_.reset();
  last_walk_.reset();
  current_time_.reset();
  frame_interval_us_ = 0;
}

void PlaybackEngine::StartPipelineLocked() {
  load_request_ = false;
  data_ready_ = false;
  fill_ = 0;
  play_ = 0;
  load_enabled_ = true;
  image_enabled_ = true;
  // A turn made before the start belongs to the old position.
  direction_changed_ = false;
  at_end_ = false;
  load_failed_ = false;
  open_reported_ = false;
  open_retry_at_.reset();
  audio_ = {};
  audio_resync_ = true;
  stats_.ended = false;
  Notify();
}

void PlaybackEngine::OpenDisk(const PlaybackDisk& disk, uint64_t position_value) {
  std::unique_lock lock(mu_);
  mode_ = 0;
  StopPipelineLocked(lock);
  mode_ = 255;
  disk_ = disk;
  ring_ = RecordingRing(disk.area_bytes, uint64_t{disk.span.status.next_packet} * kPacketSize,
                        disk.span.status.wrapped);
  disk_open_ = true;
  const uint64_t chunks = disk.area_bytes / kChunkBytes;
  const uint64_t limited = std::min(position_value, chunks) * kChunkBytes;
  const uint64_t last = disk.area_bytes > kChunkBytes ? disk.area_bytes - kChunkBytes : 0;
  play_position_ = static_cast<int64_t>(std::min(limited, last));
}

void PlaybackEngine::PlayFrom(uint64_t position) {
  std::unique_lock lock(mu_);
  if (!disk_open_) return;
  mode_ = 0;
  StopPipelineLocked(lock);
  direction_ = 1;
  mode_ = 1;
  step_hold_forward_ = step_hold_backward_ = false;
  step_credit_ = 0;
  refresh_ = true;
  position -= position % kPacketSize;  // packets only
  play_position_ = static_cast<int64_t>(std::min(position, ring_.area_bytes()));
  StartPipelineLocked();
  load_request_ = true;
  Notify();
}

// ---------------------------------------------------------------------------
// Commands

void PlaybackEngine::Play() {
  std::unique_lock lock(mu_);
  if (mode_ == 1 && !Stepping()) return;
  if (disk_open_ && !load_enabled_) {
    // Nothing started on this disk (the search was cancelled): from the
    // recording's first packet.
    StopPipelineLocked(lock);
    play_position_ = static_cast<int64_t>(ring_.first_position());
    StartPipelineLocked();
    load_request_ = true;
    refresh_ = true;
  } else if (!ring_.wrapped() && current_time_ && AtOrBeforeStart(*current_time_)) {
    // Stopped at the start of the recording by reverse play: from its start.
    StopPipelineLocked(lock);
    play_position_ = 0;
    StartPipelineLocked();
    load_request_ = true;
  }
  step_hold_forward_ = step_hold_backward_ = false;
  step_credit_ = 0;
  if (mode_ == 255) load_request_ = true;
  if (direction_ != 1) direction_changed_ = true;
  direction_ = 1;
  mode_ = 1;
  Notify();
}

void PlaybackEngine::Reverse() {
  std::lock_guard lock(mu_);
  if (mode_ == 2 && !Stepping()) return;
  step_hold_forward_ = step_hold_backward_ = false;
  step_credit_ = 0;
  if (direction_ != 2) direction_changed_ = true;
  direction_ = 2;
  mode_ = 2;
  Notify();
}

void PlaybackEngine::StepForward() {
  Step(1);
}

void PlaybackEngine::StepBackward() {
  Step(2);
}

void PlaybackEngine::Step(int direction) {
  std::lock_guard lock(mu_);
  step_hold_forward_ = direction == 1;
  step_hold_backward_ = direction == 2;
  step_credit_ = 1;  // exactly one more frame
  if (direction_ != direction) direction_changed_ = true;
  direction_ = direction;
  mode_ = direction;
  Notify();
}

void PlaybackEngine::Pause() {
  std::lock_guard lock(mu_);
  if (mode_ == 255) return;
  if (mode_ != 0) {
    saved_mode_ = mode_;
    mode_ = 0;
  } else {
    mode_ = saved_mode_;
  }
  Notify();
}

void PlaybackEngine::Stop() {
  std::lock_guard lock(mu_);
  mode_ = 0;
  Notify();
}

void PlaybackEngine::SelectChannel(int channel) {
  if (channel < 1 || channel > 5) return;
  std::lock_guard lock(mu_);
  selected_ = channel;
  refresh_ = true;
  Notify();
}

void PlaybackEngine::CycleSpeed() {
  std::lock_guard lock(mu_);
  skip_factor_ = kSpeedSkip[speed_index_];
  speed_ = kSpeedShown[speed_index_];
  speed_index_ = (speed_index_ + 1) % 5;
  // Speed plays forward: a reverse in progress turns round, so that the
  // loader does not go on reading backwards.
  if (direction_ == 2) direction_changed_ = true;
  direction_ = 1;
  if (mode_ == 2) mode_ = 1;
  if (saved_mode_ == 2) saved_mode_ = 1;
  Notify();
}

void PlaybackEngine::SetHold(bool hold) {
  std::lock_guard lock(mu_);
  hold_ = hold;
  Notify();
}

bool PlaybackEngine::AtOrBeforeStart(const RecTime& t) const {
  const RecTime& s = disk_.span.start;
  const int ty = t.year & 0x7F, sy = s.year & 0x7F;
  if (ty != sy) return ty < sy;
  if (t.month != s.month) return t.month < s.month;
  return DaySeconds(t) <= DaySeconds(s);
}

bool PlaybackEngine::AtEnd(const RecTime& t) const {
  const RecTime& e = disk_.span.end;
  return (t.year & 0x7F) == (e.year & 0x7F) && t.month == e.month && t.day == e.day &&
         t.hour == e.hour && t.minute == e.minute &&
         (t.second == e.second || t.second + 1 == e.second);
}

// ---------------------------------------------------------------------------
// Load thread

bool PlaybackEngine::LoadWanted() const {
  if (!load_enabled_ || load_failed_ || open_retry_at_) return false;
  return direction_changed_ || load_request_ || fill_ != play_;
}

// A turn of direction: the next chunk is the neighbour of the chunk the image
// thread is in (or has just finished) on the side it now walks to.
void PlaybackEngine::ApplyTurn() {
  direction_changed_ = false;
  at_end_ = false;
  if (!data_ready_) return;  // nothing loaded yet: the first loads follow the direction
  const bool forward = direction_ == 1;
  std::optional<int64_t> next;
  if (image_walking_ || !walked_) {
    // In a buffer (or about to start one): its neighbour into the other buffer.
    const ChunkRange anchor = image_walking_ ? *walked_ : info_[play_].range;
    next = forward ? ring_.NextForward(anchor) : ring_.Before(anchor);
    fill_ = 1 - play_;
  } else {
    // Between buffers: the chunk just finished is walked again the other way.
    const ChunkRange& w = *walked_;
    next = forward ? static_cast<int64_t>(w.start)
                   : static_cast<int64_t>(w.end()) - RecordingRing::kChunk;
    go_to_last_ = !forward;
    fill_ = play_;
    load_request_ = true;
  }
  if (next) {
    play_position_ = *next;
  } else {
    at_end_ = true;
  }
}

// The loader is about to refill `buffer`: audio of it still to be played is
// kept aside.
void PlaybackEngine::CarryAudioOf(int buffer) {
  if (audio_.source != buffer) return;
  const StreamBuffer& buf = loader_.buffer(buffer);
  const uint32_t count = std::min<uint32_t>(buf.audio_packet_count, StreamBuffer::kMaxAudioPackets);
  const uint32_t rest = audio_.next < count ? count - audio_.next : 0;
  std::memcpy(carry_.data(), buf.audio.data() + std::size_t{audio_.next} * kAudioPayloadSize,
              std::size_t{rest} * kAudioPayloadSize);
  carry_count_ = rest;
  audio_ = {kCarry, 0};
}

bool PlaybackEngine::ReadChunk(const ChunkRange& range, std::unique_lock<std::mutex>& lock,
                               uint64_t generation) {
  const std::string path = disk_.device_path;
  lock.unlock();
  const bool opened = loader_.OpenSource(path);
  std::size_t bytes = 0;
  if (opened) {
    for (int attempt = 0; attempt < kReadTries && bytes != range.bytes; ++attempt)
      bytes = loader_.ReadChunk(range.start, range.end(), chunk_.data());
    loader_.Reset();
  }
  lock.lock();
  if (generation != generation_) return false;  // restarted meanwhile: discarded
  if (!opened) {
    ++stats_.open_errors;
    const bool report = !open_reported_;
    open_reported_ = true;
    open_retry_at_ = clock_->Now() + kOpenRetry;
    if (report && options_.view) {
      lock.unlock();
      options_.view->ShowMessage("File Open Error");
      lock.lock();
    }
    return false;
  }
  if (bytes != range.bytes) {
    ++stats_.read_errors;
    load_failed_ = true;  // until a new search or disk open starts the pipeline
    load_request_ = false;
    data_ready_ = false;
    Notify();
    if (options_.view) {
      lock.unlock();
      options_.view->ShowMessage("READ HDD Error");
      lock.lock();
    }
    return false;
  }
  return true;
}

void PlaybackEngine::LoadLoop() {
  std::unique_lock lock(mu_);
  while (running_) {
    if (open_retry_at_) {
      // Wait for the retry of a failed open, or a restart.
      const uint64_t gen = generation_;
      const Micros at = *open_retry_at_;
      const auto wake = clock_->WakeAt(at);
      while (running_ && gen == generation_ && clock_->Now() < at) {
        Block(lock, kLoadThread, wake);
      }
      open_retry_at_.reset();
      continue;
    }
    while (running_ && !LoadWanted()) Block(lock, kLoadThread);
    if (!running_) break;
    if (direction_changed_) {
      ApplyTurn();
      Notify();
      continue;
    }
    const int f = fill_;
    const uint64_t gen = generation_;
    const bool forward = direction_ == 1;
    const ChunkRange range = at_end_   ? ChunkRange{}
                             : forward ? ring_.ForwardChunk(play_position_)
                                       : ring_.ReverseChunk(play_position_);
    CarryAudioOf(f);
    info_[f] = {};
    if (range.empty()) {
      // Nothing of the recording lies there: the end in this direction.
      info_[f].end_direction = forward ? 1 : 2;
      at_end_ = true;
    } else {
      loading_ = true;
      loading_into_ = f;
      bool ok = ReadChunk(range, lock, gen);
      if (ok) {
        lock.unlock();
        PairSwap(chunk_.data(), range.bytes);
        loader_.ParseChunk(chunk_.data(), range.bytes, f);
        loader_.IndexFrames(f);
        lock.lock();
        ok = gen == generation_;  // a load begun before a restart is discarded
      }
      loading_ = false;
      loading_into_ = -1;
      if (!ok) {
        Notify();
        continue;
      }
      StreamBuffer& buf = loader_.buffer(f);
      buf.frames_per_audio_packet =
          buf.audio_packet_count > 0
              ? static_cast<uint32_t>(uint64_t{buf.frame_count} * 50'000 / buf.audio_packet_count)
              : 0;
      info_[f].range = range;
      info_[f].valid = true;
      ++stats_.chunks_loaded;
      // On in the direction of play.
      const auto next =
          direction_ == 1 ? ring_.NextForward(range) : ring_.NextBackward(play_position_);
      if (next) {
        play_position_ = *next;
      } else {
        at_end_ = true;
      }
    }
    fill_ = 1 - fill_;
    load_request_ = false;
    data_ready_ = true;
    Notify();
  }
}

// ---------------------------------------------------------------------------
// Image thread

bool PlaybackEngine::ReadyToPlay() const {
  return image_enabled_ && data_ready_ && fill_ == play_ && !loading_ && !direction_changed_ &&
         !load_request_;
}

void PlaybackEngine::ImageLoop() {
  std::unique_lock lock(mu_);
  while (running_) {
    image_walking_ = false;
    if (image_generation_ != generation_) {
      image_generation_ = generation_;  // the restart is seen: the buffer is let go
      Notify();
    }
    while (running_ && image_generation_ == generation_ && !ReadyToPlay())
      Block(lock, kImageThread);
    if (!running_) break;
    if (image_generation_ != generation_) continue;
    const int b = play_;
    const BufferInfo info = info_[b];
    if (info.end_direction != 0) {
      ReachEnd(lock, info, generation_);
      continue;
    }
    PlayBuffer(lock, b, generation_);
  }
}

void PlaybackEngine::ReachEnd(std::unique_lock<std::mutex>& lock, const BufferInfo& info,
                              uint64_t generation) {
  if ((mode_ == 1 || mode_ == 2) && mode_ != info.end_direction) {
    // Playing the other way: the loader goes on from the last chunk walked.
    direction_changed_ = true;
    Notify();
    return;
  }
  if (mode_ == info.end_direction) {
    mode_ = 0;
    stats_.ended = !ring_.wrapped();
    const unsigned buttons = info.end_direction == 1
                                 ? kButtonPlay | kButtonNextFrame | kButtonPause
                                 : kButtonPreviousFrame | kButtonReverse | kButtonPause;
    if (options_.view) {
      lock.unlock();
      options_.view->DisableTransport(buttons);
      lock.lock();
    }
  }
  // Until a command moves on (a turn reloads, Play in the same direction
  // comes back here).
  while (running_ && generation == generation_ && !direction_changed_ && !load_request_ &&
         (mode_ == 0 || mode_ == 255 || hold_))
    Block(lock, kImageThread);
}

void PlaybackEngine::SyncAtEntry(const BufferInfo& info, bool forward_from_start) {
  // Going on forward straight after the chunk walked before: only the frame
  // cut by the boundary is lost. Any other entry is a jump in the stream.
  if (forward_from_start && last_walk_ && last_walk_->left_forward) {
    const auto next = ring_.NextForward(last_walk_->range);
    if (next && static_cast<uint64_t>(*next) == info.range.start) {
      if (last_walk_->open_channel == 7) {
        bank_.MissedAll();
      } else {
        bank_.Missed(last_walk_->open_channel);
      }
      return;
    }
  }
  bank_.MissedAll();
}

uint32_t PlaybackEngine::AudioRemainingFor(int b) const {
  const StreamBuffer& buf = loader_.buffer(b);
  const uint32_t count = buf.audio_packet_count;
  if (audio_.source == b) return audio_.next < count ? count - audio_.next : 0;
  if (audio_.source == kCarry)
    return (audio_.next < carry_count_ ? carry_count_ - audio_.next : 0) + count;
  if (audio_.source < 0) return count;
  return 0;  // the audio has gone on into the next buffer
}

bool PlaybackEngine::WaitForClock(std::unique_lock<std::mutex>& lock, Micros deadline,
                                  uint64_t generation, int mode, int skip, bool stepping) {
  const auto wake = clock_->WakeAt(deadline);
  clock_deadline_ = deadline;
  bool on = true;
  for (;;) {
    if (!running_ || generation != generation_) {
      on = false;
      break;
    }
    // A command that changes how frames go on ends the wait at once.
    if (mode_ != mode || skip_factor_ != skip || Stepping() != stepping || hold_ ||
        direction_changed_)
      break;
    if (clock_->Now() >= deadline) break;
    Block(lock, kImageThread, wake);
  }
  clock_deadline_.reset();
  return on;
}

bool PlaybackEngine::PaintFrame(const DecoderBank::Result& r, bool quadrant) {
  std::lock_guard pic(picture_mu_);
  if (quadrant) {
    const int x = (r.code % 2) * kQuadWidth;
    const int y = (r.code / 2) * kQuadHeight;
    video::PaintDecoderOutput(output_.data(), r.status, palette_, picture_, x, y, kQuadWidth,
                              kQuadHeight);
    QPainter p(&picture_);
    p.drawImage(x, y, labels_[r.code]);
  } else {
    video::PaintDecoderOutput(output_.data(), r.status, palette_, picture_, 0, 0, kWidth, kHeight);
    QPainter p(&picture_);
    if (r.code == kQuadCode) {
      for (int c = 0; c < 4; ++c)
        p.drawImage((c % 2) * kQuadWidth, (c / 2) * kQuadHeight, labels_[c]);
    } else {
      p.drawImage(0, 0, labels_[r.code]);
    }
  }
  ++picture_generation_;
  return true;
}

void PlaybackEngine::PlayBuffer(std::unique_lock<std::mutex>& lock, int b, uint64_t generation) {
  const BufferInfo info = info_[b];
  const StreamBuffer& buf = loader_.buffer(b);
  const uint32_t count = buf.frame_count;
  image_walking_ = true;
  walked_ = info.range;

  const bool reverse_entry = mode_ == 2 || (mode_ == 0 && direction_ == 2) || go_to_last_;
  int64_t i = 0;
  if (go_to_last_ && count > 0) {
    i = count - 1;
    go_to_last_ = false;
  }
  SyncAtEntry(info, !reverse_entry && i == 0);
  // Audio-paced play: the buffer's audio spread over its frames.
  frame_interval_us_ =
      (buf.audio_packet_count > 0 && count > 0)
          ? static_cast<uint32_t>(uint64_t{buf.audio_packet_count} * 500'000 / count)
          : 0;
  bool left_forward = false;
  bool reached_backwards = reverse_entry;  // the way frame i was reached
  int64_t last_shown = -1;                 // in this buffer

  while (i >= 0 && i < static_cast<int64_t>(count)) {
    const FrameRecord f = buf.frames[static_cast<std::size_t>(i)];
    const uint8_t code = buf.ChannelOf(static_cast<std::size_t>(i));
    const bool full = buf.IsFullFrame(static_cast<std::size_t>(i));
    current_time_ = f.time;

    // The end of a recording that has not wrapped: this frame is the last
    // one shown; play stops after it.
    unsigned stop_after = 0;
    if (!ring_.wrapped()) {
      if (mode_ == 1 && AtEnd(f.time)) {
        stop_after = kButtonPlay | kButtonNextFrame | kButtonPause;
      } else if (mode_ == 2 && AtOrBeforeStart(f.time)) {
        stop_after = kButtonPreviousFrame | kButtonReverse | kButtonPause;
      }
    }
    // Paused, held, or holding for a step: wait here, before the frame.
    bool eligible = false, as_quadrant = false, turned = false;
    for (;;) {
      if (!running_ || generation != generation_) return;  // abandoned
      // Turned round while waiting at a frame not yet shown (it lies ahead
      // in the old direction): play goes on from the frame on the screen, a
      // step shows the one beside it.
      const bool backwards = mode_ == 2 || (mode_ == 0 && direction_ == 2);
      if (backwards != reached_backwards && last_shown >= 0 && mode_ != 0) {
        i = last_shown + (Stepping() ? (backwards ? -1 : 1) : 0);
        reached_backwards = backwards;
        turned = true;
        break;
      }
      // The recorder's quad picture selects all channels.
      if (code == kQuadCode) selected_ = 5;
      eligible = code + 1 == selected_ || (selected_ == 5 && code <= 3);
      as_quadrant = code + 1 != selected_;
      if (mode_ == 0 || mode_ == 255 || hold_ || (eligible && Stepping() && step_credit_ == 0)) {
        Block(lock, kImageThread);
        continue;
      }
      break;
    }
    if (turned) continue;
    if (refresh_) {
      refresh_ = false;
      std::lock_guard pic(picture_mu_);
      picture_.fill(Qt::black);
      ++picture_generation_;
    }
    // ... and locks the channel buttons while it lasts.
    const bool buttons = code != kQuadCode;
    if (buttons != channel_buttons_enabled_) {
      channel_buttons_enabled_ = buttons;
      if (options_.view) {
        lock.unlock();
        options_.view->EnableChannelButtons(buttons);
        lock.lock();
      }
    }

    const int mode = mode_;
    const int skip = skip_factor_;
    const bool stepping = Stepping();
    const bool paced_1x = mode == 1 && skip == 1 && !stepping;
    if (paced_1x && audio_resync_) {
      // Forward play at the recorded rate again: the audio of this frame on.
      audio_ = {b, buf.AudioPacketsBefore(f.start)};
      audio_resync_ = false;
    } else if (!paced_1x) {
      audio_resync_ = true;
    }

    TraceEntry::Shown shown = TraceEntry::Shown::kNo;
    if (eligible && code < kChannelCodes) {
      if (counters_[code] < skip) {
        ++counters_[code];
        bank_.Missed(code);
      } else {
        const bool full_only = mode == 2 || skip != 1;
        lock.unlock();
        const auto r = bank_.Apply(buf.mjpeg.data() + f.start, f.length, full_only, output_.data(),
                                   as_quadrant);
        const bool drawn =
            r.outcome == DecoderBank::Outcome::kDecoded && PaintFrame(r, as_quadrant);
        lock.lock();
        if (drawn) {
          last_shown = i;
          counters_[code] = 1;
          if (Stepping() && step_credit_ > 0) --step_credit_;
          shown = as_quadrant ? TraceEntry::Shown::kQuadrant : TraceEntry::Shown::kFull;
          const bool changed = !drawn_time_ || !(*drawn_time_ == f.time);
          drawn_time_ = f.time;
          drawn_packet_ = info.range.start + uint64_t{buf.PacketOf(f.start)} * kPacketSize;
          ++drawn_count_;
          if (changed && options_.view) {
            lock.unlock();
            options_.view->ShowTime(f.time.Format());
            lock.lock();
          }
        }
      }
    } else {
      bank_.Missed(code);
    }
    if (options_.trace) {
      const TraceEntry e{(clock_->Now() - epoch_).count() / 1000,
                         info.range.start,
                         static_cast<uint32_t>(i),
                         code,
                         full,
                         f.time,
                         shown};
      lock.unlock();
      options_.trace->Write(e);
      lock.lock();
    }
    // Counted once the trace has the line, so that a count seen means a line written.
    ++stats_.frames_walked;
    if (shown != TraceEntry::Shown::kNo) {
      ++stats_.frames_shown;
      if (!stats_.first_shown) stats_.first_shown = f.time;
      stats_.last_shown = f.time;
    }
    if (!running_ || generation != generation_) return;
    if (stop_after != 0) {
      mode_ = 0;
      stats_.ended = true;
      if (options_.view) {
        lock.unlock();
        options_.view->DisableTransport(stop_after);
        lock.lock();
      }
    }

    // Pace and go on.
    int64_t extra = 0;
    if (paced_1x) {
      if (buf.audio_packet_count > 0) {
        // Keep to the audio of this buffer: ahead, wait a frame; behind, skip one.
        const AudioPace pace =
            AudioPaceOf(count, i, AudioRemainingFor(b), buf.frames_per_audio_packet);
        const bool wait = pace == AudioPace::kAhead;
        const bool skip_one = pace == AudioPace::kBehind;
        if (wait && !WaitForClock(lock, clock_->Now() + Micros{frame_interval_us_}, generation,
                                  mode, skip, stepping))
          return;
        if (skip_one && i + 1 < static_cast<int64_t>(count)) extra = 1;
      } else {
        const Micros interval = RateInterval(f.rate);
        const Micros deadline = last_tick_ + interval;
        if (!WaitForClock(lock, deadline, generation, mode, skip, stepping)) return;
        const Micros now = clock_->Now();
        last_tick_ = now - deadline < interval ? deadline : now;
      }
    } else if (!stepping && (mode == 1 || mode == 2)) {
      // Fast and reverse play keep the pace of their speed.
      const Micros interval =
          frame_interval_us_ > 0 ? Micros{frame_interval_us_} : RateInterval(f.rate);
      const Micros deadline = last_tick_ + interval / std::max(1, speed_);
      if (!WaitForClock(lock, deadline, generation, mode, skip, stepping)) return;
      const Micros now = clock_->Now();
      last_tick_ = now - deadline < interval ? deadline : now;
    } else {
      last_tick_ = clock_->Now();
    }
    if (extra > 0) {
      // The frame passed over to catch up with the audio.
      const auto k = static_cast<std::size_t>(i + 1);
      bank_.Missed(buf.ChannelOf(k));
      if (options_.trace) {
        const TraceEntry e{(clock_->Now() - epoch_).count() / 1000,
                           info.range.start,
                           static_cast<uint32_t>(k),
                           buf.ChannelOf(k),
                           buf.IsFullFrame(k),
                           buf.frames[k].time,
                           TraceEntry::Shown::kNo};
        lock.unlock();
        options_.trace->Write(e);
        lock.lock();
      }
      ++stats_.frames_walked;
    }
    const bool backwards = mode_ == 2 || (mode_ == 0 && direction_ == 2);
    reached_backwards = backwards;
    if (!backwards) {
      go_to_last_ = false;
      i += 1 + extra;
    } else {
      --i;
    }
  }
  // Off the start going backwards: the earlier buffer starts at its last frame.
  if (i < 0) go_to_last_ = true;
  if (i >= static_cast<int64_t>(count)) left_forward = !reached_backwards;
  if (count == 0) left_forward = !(mode_ == 2 || (mode_ == 0 && direction_ == 2));
  last_walk_ = LastWalk{info.range, buf.OpenFrameChannel(), left_forward};
  image_walking_ = false;
  play_ = 1 - play_;
  Notify();
}

// ---------------------------------------------------------------------------
// Ticks

void PlaybackEngine::AudioTick() {
  bool have = false;
  PlaybackAviSink* avi = nullptr;
  {
    std::lock_guard lock(mu_);
    avi = avi_;
    if (mode_ == 0 || mode_ == 255 || hold_ || !data_ready_) return;
    // Audio is played in forward play at the recorded rate only.
    if (mode_ != 1 || skip_factor_ != 1 || Stepping()) return;
    if (audio_.source < 0) {
      if (loading_into_ == play_ || !info_[play_].valid) return;
      audio_ = {play_, 0};
    }
    const auto readable = [&](int s) {
      return s == kCarry || (s >= 0 && info_[s].valid && loading_into_ != s);
    };
    const auto count_of = [&](int s) {
      return s == kCarry ? carry_count_ : loader_.buffer(s).audio_packet_count;
    };
    if (readable(audio_.source) && audio_.next < count_of(audio_.source)) {
      const uint8_t* from =
          audio_.source == kCarry ? carry_.data() : loader_.buffer(audio_.source).audio.data();
      std::memcpy(audio_block_.data(), from + std::size_t{audio_.next} * kAudioPayloadSize,
                  kAudioPayloadSize);
      ++audio_.next;
      have = true;
      ++stats_.audio_packets;
    }
    if (readable(audio_.source) && audio_.next >= count_of(audio_.source)) {
      // On to the buffer after it: the carried rest is followed by the buffer
      // being played, a buffer by the other one.
      const int next = audio_.source == kCarry ? play_ : 1 - audio_.source;
      if (readable(next)) audio_ = {next, 0};
    }
  }
  if (!have) return;
  if (options_.audio) options_.audio->PlayAudio(audio_block_.data(), audio_block_.size());
  if (avi) avi->AddAudio(audio_block_.data(), audio_block_.size());
}

QImage PlaybackEngine::StampedPicture() const {
  QImage stamped;
  std::optional<RecTime> time;
  {
    std::lock_guard pic(picture_mu_);
    stamped = picture_.copy();
  }
  {
    std::lock_guard lock(mu_);
    time = drawn_time_;
  }
  if (time && !stamped.isNull()) {
    text_.Draw(stamped, kWidth - kTimeTextRight, kHeight - kTimeTextBottom,
               QString::fromStdString(time->Format()));
  }
  return stamped;
}

void PlaybackEngine::RepaintTick() {
  if (!started_) return;
  bool changed = false;
  {
    std::lock_guard pic(picture_mu_);
    if (picture_generation_ != presented_generation_) {
      std::memcpy(window_picture_.bits(), picture_.constBits(),
                  static_cast<std::size_t>(picture_.sizeInBytes()));
      presented_generation_ = picture_generation_;
      changed = true;
    }
  }
  if (changed && options_.view) options_.view->Present(window_picture_);
  PlaybackAviSink* avi = nullptr;
  {
    std::lock_guard lock(mu_);
    avi = avi_;
  }
  if (avi) {
    // The time stamp goes on a copy; the memory picture stays as drawn.
    stamp_picture_ = StampedPicture();
    video::ReadBottomUp(stamp_picture_, stamp_bytes_.data(), kWidth, kHeight, 3);
    avi->AddVideoFrame(stamp_bytes_.data(), stamp_bytes_.size());
  }
}

void PlaybackEngine::SetAviSink(PlaybackAviSink* sink) {
  std::lock_guard lock(mu_);
  avi_ = sink;
}

int PlaybackEngine::SaveBitmap(const std::string& path) {
  if (!started_) return kBmpBadArgument;
  const QImage stamped = StampedPicture();
  std::vector<uint8_t> bytes(std::size_t{kWidth} * kHeight * 3);
  video::ReadBottomUp(stamped, bytes.data(), kWidth, kHeight, 3);
  return WriteBmp24(path, kWidth, kHeight, bytes.data(), std::size_t{kWidth} * 3);
}

QImage PlaybackEngine::Picture() const {
  std::lock_guard pic(picture_mu_);
  return picture_.copy();
}

// ---------------------------------------------------------------------------
// State

PlaybackEngine::PlayMode PlaybackEngine::play_mode() const {
  std::lock_guard lock(mu_);
  return static_cast<PlayMode>(mode_);
}
int PlaybackEngine::direction() const {
  std::lock_guard lock(mu_);
  return direction_;
}
int PlaybackEngine::selected_channel() const {
  std::lock_guard lock(mu_);
  return selected_;
}
int PlaybackEngine::skip_factor() const {
  std::lock_guard lock(mu_);
  return skip_factor_;
}
int PlaybackEngine::speed_index() const {
  std::lock_guard lock(mu_);
  return speed_index_;
}
std::string PlaybackEngine::speed_caption() const {
  std::lock_guard lock(mu_);
  for (int k = 0; k < 5; ++k)
    if (kSpeedSkip[k] == skip_factor_) return kSpeedCaption[k];
  return kSpeedCaption[0];
}
int64_t PlaybackEngine::play_position() const {
  std::lock_guard lock(mu_);
  return play_position_;
}
uint64_t PlaybackEngine::position_value() const {
  std::lock_guard lock(mu_);
  return play_position_ > 0 ? static_cast<uint64_t>(play_position_) / kChunkBytes : 0;
}
std::string PlaybackEngine::time_text() const {
  std::lock_guard lock(mu_);
  return drawn_time_ ? drawn_time_->Format() : std::string();
}
bool PlaybackEngine::step_hold() const {
  std::lock_guard lock(mu_);
  return Stepping();
}
bool PlaybackEngine::hold() const {
  std::lock_guard lock(mu_);
  return hold_;
}
PlaybackEngine::Stats PlaybackEngine::stats() const {
  std::lock_guard lock(mu_);
  return stats_;
}
std::optional<PlaybackEngine::DrawnFrame> PlaybackEngine::last_drawn() const {
  std::lock_guard lock(mu_);
  if (!drawn_time_) return std::nullopt;
  return DrawnFrame{*drawn_time_, drawn_packet_, drawn_count_};
}
uint32_t PlaybackEngine::frame_interval_us() const {
  std::lock_guard lock(mu_);
  return frame_interval_us_;
}
std::optional<PlaybackClock::Micros> PlaybackEngine::clock_deadline() const {
  std::lock_guard lock(mu_);
  if (clock_deadline_) return clock_deadline_;
  return open_retry_at_;
}

}  // namespace rd
