#pragma once
// Local playback of a .mys recording. A reader thread walks the file's records
// forwards or backwards, paces them by their recorded intervals, and hands each
// chosen video frame and audio block to the owner. The state byte is also the
// play-mode code the image handler shows.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "client/events/EngineEvents.h"
#include "client/media/MysFormat.h"
#include "shared/stream/ChannelDisplayState.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

class RcLocalPlayer {
 public:
  // Results.
  static constexpr int kOk = 0;
  static constexpr int kOpenFailed = 81;
  static constexpr int kHeaderReadFailed = 82;
  static constexpr int kRecordHeaderReadFailed = 84;
  static constexpr int kRecordDataReadFailed = 85;
  static constexpr int kAlreadyRunning = 88;
  static constexpr int kNotRunning = 89;
  static constexpr int kThreadCreateFailed = 90;
  static constexpr int kThreadPriorityFailed = 91;

  // States (also the on-screen play-mode codes).
  static constexpr uint8_t kNoFile = 0;
  static constexpr uint8_t kPlay = 16;
  static constexpr uint8_t kPause = 17;
  static constexpr uint8_t kForward1 = 18;   // .. 22
  static constexpr uint8_t kBackward1 = 23;  // .. 27
  // ReadNext result for an audio record (states never take this value).
  static constexpr int kAudioRecord = 1;

  explicit RcLocalPlayer(EngineEvents* owner = nullptr);
  ~RcLocalPlayer();
  RcLocalPlayer(const RcLocalPlayer&) = delete;
  RcLocalPlayer& operator=(const RcLocalPlayer&) = delete;

  void SetOwner(EngineEvents* owner) { owner_ = owner; }

  int Open(const std::string& path);
  void Close();
  int Start();
  int Stop();
  bool IsRunning() const { return running_.load(); }

  void ResumePlay() { state_.store(kPlay); }
  void PausePlay() { state_.store(kPause); }
  void FasterForward();
  void FasterBackward();
  uint8_t GetState() const { return state_.load(); }
  void SetState(uint8_t state) { state_.store(state); }
  int GetVideoStandard() const;  // 1 PAL, 0 NTSC or no file
  // With pacing off the records follow each other without the recorded
  // intervals (tools that convert or inspect files); on by default.
  void SetPacing(bool on) { pacing_.store(on); }

  // One step of the reader: reads up to the next record to deliver in the
  // current state. Returns the state (a video record was read), kAudioRecord,
  // kPause (nothing to deliver: paused, at an end or a failed seek), 84 or 85.
  // The reader thread calls it; tests may call it while the thread is stopped.
  int ReadNext();

  // Outputs of the last record read by ReadNext.
  const uint8_t* Data() const { return buffer_.get(); }
  std::size_t DataLength() const { return data_length_; }
  const ChannelDisplayState& Channels() const { return channels_; }
  const RecTime& Time() const { return time_; }
  const MysRecordHeader& LastRecordHeader() const { return record_; }
  uint32_t Index() const { return index_.load(); }

  // The header as read at Open, and the number of records playback uses: the
  // header's count, or the records found by walking the file when the header
  // was never finished (a recording whose writer was killed).
  const MysFileHeader& FileHeader() const { return file_header_; }
  uint32_t RecordCount() const { return count_; }
  bool HeaderWasRepaired() const { return repaired_; }

  // Skip count of a state (video records passed over per shown one), its
  // direction (+1 forward, -1 backward, 0 none).
  static int SkipCount(uint8_t state);
  static int Direction(uint8_t state);

 private:
  void ReaderLoop();
  // Sleeps up to `ms`, returning early when Stop is called.
  void PaceSleep(int64_t ms);
  bool ReadAt(uint64_t pos, uint8_t* out, std::size_t size);

  EngineEvents* owner_;
  int fd_ = -1;
  MysFileHeader file_header_;
  uint32_t count_ = 0;
  bool repaired_ = false;
  MysRecordHeader record_;
  std::atomic<uint32_t> index_{0};
  uint64_t pos_ = 0;  // start of record number index_
  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t data_length_ = 0;
  ChannelDisplayState channels_;
  RecTime time_;

  std::atomic<uint8_t> state_{kNoFile};
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> pacing_{true};
  std::thread reader_;
  std::mutex sleep_mu_;
  std::condition_variable sleep_cv_;
};

}  // namespace rd
