#pragma once
// Local recording: every video frame and audio block the client receives is
// copied into a 64-slot ring by the producer and written to a .mys file by a
// writer thread of the recorder's own. Files live in stream_files/ under the
// current directory, are named by the local time at which they are created,
// and a recording continues in a new file once a file passes 700 MiB.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "client/events/EngineEvents.h"
#include "client/media/MysFormat.h"
#include "shared/stream/ChannelDisplayState.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

class RcLocalRecorder {
 public:
  static constexpr int kOk = 0;
  static constexpr int kThreadCreateFailed = 65;
  static constexpr int kThreadPriorityFailed = 66;
  static constexpr int kAlreadyRunning = 68;
  static constexpr int kNotRunning = 69;
  static constexpr std::size_t kSlots = 64;

  // Clock in 100-ns units; the record headers hold the difference of the low
  // 32 bits of two readings, in milliseconds.
  using Clock = std::function<uint64_t()>;

  explicit RcLocalRecorder(EngineEvents* owner = nullptr);
  ~RcLocalRecorder();
  RcLocalRecorder(const RcLocalRecorder&) = delete;
  RcLocalRecorder& operator=(const RcLocalRecorder&) = delete;

  void SetOwner(EngineEvents* owner) { owner_ = owner; }
  // Folder for new files; default "stream_files" under the current directory.
  void SetDirectory(std::filesystem::path dir);
  // Length past which a file is finished and the recording goes on in a new one.
  void SetRollOverBytes(uint64_t bytes) { roll_over_bytes_ = bytes; }
  void SetClock(Clock clock);

  int Start(int video_standard /*0 NTSC, 1 PAL*/);
  int Stop();
  bool IsRunning() const { return running_.load(); }

  // Producer side: copies the record into the ring; ignored while not running.
  // `channels` may be null (state byte 0).
  void AddVideo(const uint8_t* data, std::size_t length, const ChannelDisplayState* channels,
                const RecTime& time);
  void AddAudio(const uint8_t* data, std::size_t length);

  // Files created by the current or last recording, in order.
  std::vector<std::filesystem::path> Files() const;
  // Records lost because the ring was full (or a record was too long).
  uint64_t LostRecords() const { return lost_.load(); }

 private:
  struct Slot {
    std::atomic<bool> busy{false};
    MysRecordHeader header;
    std::unique_ptr<uint8_t[]> data;
  };

  void Add(bool video, const uint8_t* data, std::size_t length, const ChannelDisplayState* channels,
           const RecTime& time);
  void Reset();
  void WriterLoop();
  // Writes one queued record; false on a create or write failure (event raised).
  bool WriteRecord(Slot& slot, bool& failed_create);
  bool CreateNextFile();
  void FinishFile();

  EngineEvents* owner_;
  std::filesystem::path dir_;
  uint64_t roll_over_bytes_ = kMysRollOverBytes;
  Clock clock_;

  std::atomic<bool> running_{false};  // records are accepted
  std::atomic<bool> stop_{false};     // Stop asked the writer to finish
  std::thread writer_;
  int standard_ = 0;

  std::mutex producer_mu_;  // producers and Reset
  std::array<Slot, kSlots> slots_;
  uint64_t produced_ = 0;  // producer count
  uint64_t consumed_ = 0;  // consumer count (writer thread only)
  uint8_t sequence_ = 0;
  bool first_record_ = true;
  uint64_t prev_clock_ = 0;
  uint32_t prev_length_ = 0;
  std::atomic<uint64_t> lost_{0};

  // Writer thread only.
  int fd_ = -1;
  MysFileHeader header_;
  bool continuing_ = false;
  mutable std::mutex files_mu_;
  std::vector<std::filesystem::path> files_;
};

}  // namespace rd
