#include "shared/audio/AudioOutput.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace rd {
namespace {

using Clock = std::chrono::steady_clock;

// Audio held back before the device starts, so that blocks arriving every
// half second with some jitter play back to back.
constexpr int kPrerollMs = 1000;
// A lone block (nothing follows) starts playing after this long.
constexpr auto kLoneBlockStart = std::chrono::milliseconds(600);
// The device's ring holds all four buffers (4 x 4096 samples at 8 kHz).
constexpr unsigned kDeviceLatencyUs = 2'500'000;

snd_pcm_t* Pcm(void* p) {
  return static_cast<snd_pcm_t*>(p);
}

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

std::string DeviceName() {
  const char* env = std::getenv("RD_AUDIO_DEVICE");
  return (env != nullptr && *env != '\0') ? std::string(env) : std::string("default");
}

}  // namespace

const char* AudioResultText(int code) {
  switch (code) {
    case kAudioOk:
      return "done";
    case kAudioOpenFailed:
      return "the sound device cannot be opened";
    case kAudioPrepareFailed:
      return "the sound device refuses the buffer";
    case kAudioWriteFailed:
      return "the sound device failed";
    case kAudioNotOpen:
      return "the sound output is not open";
    default:
      return "unknown result";
  }
}

int16_t ExpandALaw(uint8_t x, float volume) {
  const int b = (x ^ 0x55) & 0x7F;
  int m;
  if (b <= 32) {
    m = 2 * b;
  } else if (b <= 48) {
    m = 4 * b - 64;
  } else if (b <= 64) {
    m = 8 * b - 256;
  } else if (b <= 80) {
    m = 16 * b - 768;
  } else if (b <= 96) {
    m = 32 * b - 2048;
  } else if (b <= 112) {
    m = 64 * b - 5120;
  } else {
    m = 128 * b - 12288;
  }
  const float s = static_cast<float>(m) * volume * 4.0f;
  const int v = static_cast<int>(s);  // toward zero
  return static_cast<int16_t>((x & 0x80) != 0 ? -v : v);
}

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput() {
  Close();
}

int AudioOutput::Open(int samples_per_second, int bits_per_sample, AudioOwner* owner) {
  std::lock_guard api(api_mutex_);
  if (open_.load()) return kAudioOk;
  // The expansion produces 16-bit samples; other depths cannot be played.
  if (bits_per_sample != 16 || samples_per_second <= 0) return kAudioOpenFailed;

  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(&QuietAlsaErrors); });

  snd_pcm_t* pcm = nullptr;
  const std::string name = DeviceName();
  // Non-blocking open: a device held by another program fails instead of hanging.
  if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
    return kAudioOpenFailed;
  }
  snd_pcm_uframes_t buffer_size = 0;
  snd_pcm_uframes_t period_size = 0;
  snd_pcm_sw_params_t* sw = nullptr;
  bool ok =
      snd_pcm_nonblock(pcm, 0) == 0 &&
      snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                         static_cast<unsigned>(samples_per_second), 1, kDeviceLatencyUs) == 0 &&
      snd_pcm_get_params(pcm, &buffer_size, &period_size) == 0;
  if (ok && snd_pcm_sw_params_malloc(&sw) == 0) {
    const auto preroll = static_cast<snd_pcm_uframes_t>(static_cast<long long>(samples_per_second) *
                                                        kPrerollMs / 1000);
    ok = snd_pcm_sw_params_current(pcm, sw) == 0 &&
         snd_pcm_sw_params_set_start_threshold(pcm, sw, std::min(preroll, buffer_size)) == 0 &&
         snd_pcm_sw_params(pcm, sw) == 0;
    snd_pcm_sw_params_free(sw);
  } else {
    ok = false;
  }
  if (!ok) {
    snd_pcm_close(pcm);
    return kAudioOpenFailed;
  }

  pcm_ = pcm;
  rate_ = samples_per_second;
  owner_ = owner;
  for (Buffer& b : buffers_) {
    b.busy = false;
    b.done = false;
    b.written = false;
    b.count = 0;
    b.samples.assign(kMaxBlock, 0);
  }
  write_index_ = 0;
  done_index_ = 0;
  device_failed_ = false;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
    reset_request_ = false;
    next_to_write_ = 0;
    frames_written_ = 0;
    first_write_pending_ = false;
    stats_ = AudioDeviceStats{};
  }
  thread_ = std::thread([this] { DeviceThread(); });
  open_ = true;
  enabled_ = true;
  return kAudioOk;
}

int AudioOutput::Close() {
  std::lock_guard api(api_mutex_);
  if (!open_.load()) return kAudioOk;
  open_ = false;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  snd_pcm_drop(Pcm(pcm_));
  snd_pcm_close(Pcm(pcm_));
  pcm_ = nullptr;
  owner_ = nullptr;
  for (Buffer& b : buffers_) {
    b.busy = false;
    b.done = false;
    b.written = false;
    b.count = 0;
    std::vector<int16_t>().swap(b.samples);
  }
  return kAudioOk;
}

int AudioOutput::Reset() {
  std::lock_guard api(api_mutex_);
  if (!open_.load()) return kAudioOk;
  std::unique_lock lock(mutex_);
  reset_request_ = true;
  wake_.notify_all();
  reset_done_.wait(lock, [this] { return !reset_request_; });
  return kAudioOk;
}

int AudioOutput::PlayBlock(uint8_t* block, std::size_t length) {
  return Queue(block, block, length);
}

int AudioOutput::PlayBlockInOrder(const uint8_t* block, std::size_t length) {
  return Queue(nullptr, block, length);
}

int AudioOutput::Queue(uint8_t* exchange_in_place, const uint8_t* block, std::size_t length) {
  int full_reports = 0;
  AudioOwner* owner = nullptr;
  {
    std::lock_guard api(api_mutex_);
    if (!enabled_.load() || !open_.load()) return kAudioOk;
    if (device_failed_.load()) return kAudioWriteFailed;
    if (block == nullptr || length == 0) return kAudioOk;
    owner = owner_;
    for (std::size_t off = 0; off < length; off += kMaxBlock) {
      const int r = QueueOne(exchange_in_place ? exchange_in_place + off : nullptr, block + off,
                             std::min(kMaxBlock, length - off));
      if (r == 1) ++full_reports;
    }
  }
  // The owner may call back into this object: no lock is held here.
  if (owner != nullptr) {
    for (int i = 0; i < full_reports; ++i) owner->OnAudioQueueFull();
  }
  return kAudioOk;
}

// Returns -1 dropped, 0 queued, 1 queued and no buffer is free any more.
int AudioOutput::QueueOne(uint8_t* exchange_in_place, const uint8_t* block, std::size_t length) {
  Buffer& b = buffers_[write_index_];
  if (b.busy.load()) return -1;
  if (exchange_in_place != nullptr) {
    for (std::size_t i = 0; i + 1 < length; i += 2)
      std::swap(exchange_in_place[i], exchange_in_place[i + 1]);
  }
  const float volume = volume_.load();
  for (std::size_t i = 0; i < length; ++i) b.samples[i] = ExpandALaw(block[i], volume);
  b.count = length;
  b.queued_at = Clock::now();
  {
    std::lock_guard lock(mutex_);
    b.busy = true;
    b.done = false;
  }
  wake_.notify_all();
  write_index_ = (write_index_ + 1) % kBufferCount;
  return write_index_ == done_index_.load() ? 1 : 0;
}

int AudioOutput::SetEnabled(int flag) {
  if (flag != 0) {
    enabled_ = true;
    return 1;
  }
  Reset();
  enabled_ = false;
  return 0;
}

int AudioOutput::SetVolume(int percent) {
  std::lock_guard api(api_mutex_);
  if (!open_.load()) return kAudioNotOpen;
  percent = std::clamp(percent, 0, 100);
  volume_ = static_cast<float>(percent * 0.01);
  return kAudioOk;
}

int AudioOutput::GetVolume(int16_t* percent) const {
  std::lock_guard api(api_mutex_);
  if (!open_.load()) return kAudioNotOpen;
  // Rounded, so that a volume set is the volume read back (53 % is stored as
  // 0.52999997f, which truncation would read as 52).
  if (percent != nullptr) *percent = static_cast<int16_t>(std::lround(volume_.load() * 100.0f));
  return kAudioOk;
}

int AudioOutput::QueuedBuffers() const {
  int n = 0;
  for (const Buffer& b : buffers_) n += b.busy.load() ? 1 : 0;
  return n;
}

bool AudioOutput::BufferBusy(int index) const {
  return buffers_.at(index).busy.load();
}
bool AudioOutput::BufferDone(int index) const {
  return buffers_.at(index).done.load();
}

const int16_t* AudioOutput::BufferSamples(int index) const {
  const Buffer& b = buffers_.at(index);
  return b.samples.empty() ? nullptr : b.samples.data();
}

std::size_t AudioOutput::BufferSampleCount(int index) const {
  return buffers_.at(index).count;
}

AudioDeviceStats AudioOutput::Stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void AudioOutput::SetDeviceCredit(int buffers) {
  {
    std::lock_guard lock(mutex_);
    credit_ = buffers;
  }
  wake_.notify_all();
}

// ---- device thread -------------------------------------------------------

void AudioOutput::DeviceThread() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (reset_request_) {
      ResetOnDevice();
      reset_request_ = false;
      reset_done_.notify_all();
      continue;
    }
    Buffer& next = buffers_[next_to_write_];
    if (next.busy.load() && !next.written && credit_ != 0) {
      if (credit_ > 0) --credit_;
      WriteBuffer(next_to_write_, lock);
      next_to_write_ = (next_to_write_ + 1) % kBufferCount;
      continue;
    }

    // Report the buffers the device has played, in the order written.
    const uint64_t played = FramesPlayed();
    for (;;) {
      const int d = done_index_.load();
      Buffer& b = buffers_[d];
      if (!b.busy.load() || !b.written || b.end_frame > played) break;
      CompleteBuffer(d);
    }

    auto timeout = std::chrono::milliseconds(-1);  // none: wait for a block
    snd_pcm_t* pcm = Pcm(pcm_);
    if (first_write_pending_ && snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
      // Nothing followed the first block soon enough to fill the pre-roll.
      const auto waited = Clock::now() - first_write_at_;
      if (waited >= kLoneBlockStart) {
        snd_pcm_start(pcm);
        first_write_pending_ = false;
        continue;
      }
      timeout = std::chrono::duration_cast<std::chrono::milliseconds>(kLoneBlockStart - waited) +
                std::chrono::milliseconds(1);
    }
    const Buffer& oldest = buffers_[done_index_.load()];
    if (oldest.busy.load() && oldest.written) {
      const uint64_t left = oldest.end_frame > played ? oldest.end_frame - played : 0;
      auto ms = std::chrono::milliseconds(static_cast<long long>(left * 1000 / rate_));
      ms = std::clamp(ms, std::chrono::milliseconds(1), std::chrono::milliseconds(50));
      if (timeout.count() < 0 || ms < timeout) timeout = ms;
    }
    if (timeout.count() < 0) {
      wake_.wait(lock);
    } else {
      wake_.wait_for(lock, timeout);
    }
  }
}

bool AudioOutput::WriteBuffer(int index, std::unique_lock<std::mutex>& lock) {
  Buffer& b = buffers_[index];
  snd_pcm_t* pcm = Pcm(pcm_);
  const std::size_t count = b.count;
  const auto queued_at = b.queued_at;
  const bool was_idle = snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING;
  uint64_t underruns = 0;
  bool failed = false;

  lock.unlock();
  const int16_t* p = b.samples.data();
  std::size_t left = count;
  while (left > 0) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, left);
    if (n < 0) {
      if (n == -EPIPE) ++underruns;
      if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) {
        failed = true;
        break;
      }
      continue;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  const auto handoff = Clock::now() - queued_at;
  lock.lock();

  frames_written_ += count - left;
  b.end_frame = frames_written_;
  b.written = true;
  if (failed) device_failed_ = true;
  if (was_idle && !first_write_pending_ && snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
    first_write_pending_ = true;
    first_write_at_ = Clock::now();
  }
  if (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) first_write_pending_ = false;
  ++stats_.buffers_written;
  stats_.frames_written += count - left;
  stats_.underruns += underruns;
  stats_.last_handoff = std::chrono::duration_cast<std::chrono::nanoseconds>(handoff);
  stats_.max_handoff = std::max(stats_.max_handoff, stats_.last_handoff);
  return !failed;
}

void AudioOutput::CompleteBuffer(int index) {
  Buffer& b = buffers_[index];
  b.written = false;
  b.done = true;
  b.busy = false;
  done_index_ = (index + 1) % kBufferCount;
}

void AudioOutput::ResetOnDevice() {
  snd_pcm_t* pcm = Pcm(pcm_);
  snd_pcm_drop(pcm);
  snd_pcm_prepare(pcm);
  first_write_pending_ = false;
  // The device returns every queued buffer, in order.
  while (buffers_[done_index_.load()].busy.load()) CompleteBuffer(done_index_.load());
  next_to_write_ = done_index_.load();
}

uint64_t AudioOutput::FramesPlayed() {
  snd_pcm_sframes_t delay = 0;
  if (snd_pcm_delay(Pcm(pcm_), &delay) < 0) return frames_written_;  // stopped: all played
  if (delay < 0) delay = 0;
  const auto queued = static_cast<uint64_t>(delay);
  return queued >= frames_written_ ? 0 : frames_written_ - queued;
}

}  // namespace rd
