#pragma once
// Audio output: plays the DVR's 8 kHz A-law audio on an ALSA playback device.
//
// Each block of A-law bytes is expanded into 16-bit linear PCM with a software
// volume factor and queued in one of four 8192-byte buffers; a block that finds
// no free buffer is dropped. A device thread writes queued buffers to the
// device back to back and reports each buffer done once the device has played
// it, which frees the buffer for the next block. So at most four blocks (two
// seconds of 4000-byte blocks) are ever waiting or playing.
//
// Playback starts once one second of audio is in the device, or 0.6 s after
// the first block if nothing follows, so that blocks arriving every 500 ms
// with some jitter play without gaps; after an underrun the same pre-roll
// applies again.
//
// The device is "default", or the one named by the environment variable
// RD_AUDIO_DEVICE (the tests use "null").

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "shared/audio/AudioOwner.h"

namespace rd {

// Result codes.
enum AudioResult : int {
  kAudioOk = 0,
  kAudioOpenFailed = 129,     // the device cannot be opened
  kAudioPrepareFailed = 130,  // the device refuses the buffer
  kAudioWriteFailed = 135,    // the device failed; the block is lost
  kAudioNotOpen = 136,        // volume calls on a closed output
};
// A result code in words ("the sound device cannot be opened").
const char* AudioResultText(int code);

// One A-law byte expanded to a 16-bit sample at a volume factor (0.0-1.0):
// magnitude from the 7-bit segment/step code, times volume x 4, truncated
// toward zero, negative when bit 7 of x is set.
int16_t ExpandALaw(uint8_t x, float volume);

// Counters of the device thread (for diagnostics and the benchmark).
struct AudioDeviceStats {
  uint64_t buffers_written = 0;
  uint64_t frames_written = 0;
  uint64_t underruns = 0;
  // Time from PlayBlock queuing a buffer to the device accepting its samples.
  std::chrono::nanoseconds last_handoff{0};
  std::chrono::nanoseconds max_handoff{0};
};

class AudioOutput {
 public:
  static constexpr int kBufferCount = 4;
  static constexpr std::size_t kBufferBytes = 8192;
  static constexpr std::size_t kMaxBlock = kBufferBytes / 2;  // samples per buffer

  AudioOutput();
  ~AudioOutput();  // closes
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Opens the device for mono 16-bit PCM at `samples_per_second`. 0 (also
  // when already open); 129 when the device or the format cannot be opened
  // (only 16 bits per sample are played). Leaves the output enabled and empty.
  int Open(int samples_per_second, int bits_per_sample, AudioOwner* owner);
  // Stops playback, throws queued audio away and closes the device. 0.
  int Close();
  // Stops the device and returns every queued buffer, if open. 0.
  int Reset();

  // Queues one block of A-law bytes. Not enabled or not open: ignored.
  // No free buffer: dropped. Otherwise the byte pairs of `block` are
  // exchanged in place (a last odd byte stays) and the exchanged bytes are
  // expanded and queued. A block longer than 4096 bytes is queued as several
  // buffers of 4096 bytes, each accepted or dropped on its own. Returns 0
  // (played or dropped), or 135 when the device has failed.
  int PlayBlock(uint8_t* block, std::size_t length);
  // The same for a block whose bytes are already in playing order (the
  // player's audio, taken from chunks in stream order): nothing is exchanged
  // and the caller's bytes stay as they are.
  int PlayBlockInOrder(const uint8_t* block, std::size_t length);

  // Non-zero: enabled, result 1. Zero: Reset, disabled, result 0.
  int SetEnabled(int flag);
  bool IsEnabled() const { return enabled_.load(); }
  bool IsOpen() const { return open_.load(); }

  // 0 and volume factor = percent x 0.01 (percent clamped to 0-100); 136 when closed.
  int SetVolume(int percent);
  // 0 and the factor x 100 in *percent; 136 when closed (*percent unchanged).
  int GetVolume(int16_t* percent) const;

  // Buffers queued and not yet reported done by the device.
  int QueuedBuffers() const;
  bool BufferBusy(int index) const;
  bool BufferDone(int index) const;
  // The samples last expanded into buffer `index` and their count.
  const int16_t* BufferSamples(int index) const;
  std::size_t BufferSampleCount(int index) const;
  int WriteIndex() const { return write_index_; }
  int DoneIndex() const { return done_index_.load(); }
  AudioDeviceStats Stats() const;

  // Lets the device take at most `buffers` more buffers (-1: no limit), as a
  // slow device would; queued buffers then wait. For tests of a full queue.
  void SetDeviceCredit(int buffers);

 private:
  struct Buffer {
    std::atomic<bool> busy{false};
    std::atomic<bool> done{false};
    std::chrono::steady_clock::time_point queued_at{};
    std::vector<int16_t> samples;  // kMaxBlock samples (8192 bytes), allocated at Open
    std::size_t count = 0;
    // Device thread only:
    bool written = false;
    uint64_t end_frame = 0;
  };

  // `exchange_in_place` (null or the caller's block) has its byte pairs
  // exchanged once the block is accepted; `block` is expanded.
  int Queue(uint8_t* exchange_in_place, const uint8_t* block, std::size_t length);
  int QueueOne(uint8_t* exchange_in_place, const uint8_t* block, std::size_t length);
  void DeviceThread();
  bool WriteBuffer(int index, std::unique_lock<std::mutex>& lock);
  void CompleteBuffer(int index);
  void ResetOnDevice();
  uint64_t FramesPlayed();

  // Serialises the public operations of the owner's threads.
  mutable std::mutex api_mutex_;

  std::atomic<bool> open_{false};
  std::atomic<bool> enabled_{false};
  std::atomic<float> volume_{0.5f};
  AudioOwner* owner_ = nullptr;
  int rate_ = 8000;
  void* pcm_ = nullptr;  // snd_pcm_t*

  std::array<Buffer, kBufferCount> buffers_;
  int write_index_ = 0;             // owner's threads
  std::atomic<int> done_index_{0};  // device thread
  std::atomic<bool> device_failed_{false};

  // Device thread hand-off.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable reset_done_;
  std::thread thread_;
  bool stop_ = false;
  bool reset_request_ = false;
  int credit_ = -1;
  int next_to_write_ = 0;
  uint64_t frames_written_ = 0;  // frames handed to the device since Open
  bool first_write_pending_ = false;
  std::chrono::steady_clock::time_point first_write_at_{};
  AudioDeviceStats stats_;
};

}  // namespace rd
