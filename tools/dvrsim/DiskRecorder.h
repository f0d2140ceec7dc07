#pragma once
// The recorder's disk: records frames and audio as 4K packets into the packet
// ring of a disk image (tools/common/DvrDiskImage), keeps the status sector
// (next packet W, wrapped flag) and the event records up to date, and reads
// the recording back for playback (PlaybackCursor).

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shared/stream/StreamPacket.h"
#include "tools/dvrsim/Packetizer.h"

namespace rd::sim {

// Event records a disk holds (four sectors of 16).
inline constexpr std::size_t kDiskEventSlots = 64;

// One event record: a timer ("TIME") or alarm recording with its span.
struct RecordedEvent {
  bool timer = true;
  RecTime start;
  RecTime end;
};

class DiskRecorder {
 public:
  DiskRecorder();
  ~DiskRecorder();

  // Opens an existing image (continuing its recording) or creates a new
  // sparse one of `size_bytes`. An empty path makes an unnamed temporary
  // image that disappears with the process.
  bool OpenOrCreate(const std::filesystem::path& path, uint64_t size_bytes, bool network,
                    std::string* error);
  bool Create(const std::filesystem::path& path, uint64_t size_bytes, bool network,
              std::string* error);
  bool is_open() const;

  void AddFrame(const uint8_t* frame, std::size_t len, const FrameInfo& info);
  void AddAudio(const RecTime& time, const uint8_t* samples4000);
  // Writes the partly filled packet and the status sector.
  bool Sync();
  // Sync, then closes the image.
  bool Close();

  // Events: Begin writes a record with end = start into the next slot; Update
  // moves its end; the record stays until overwritten 64 events later.
  void BeginEvent(bool timer, const RecTime& start);
  void UpdateEvent(const RecTime& end);
  void EndEvent(const RecTime& end);
  bool event_open() const { return event_slot_.has_value(); }

  // The recorded part of the ring, oldest first: logical packet l is ring
  // packet (first() + l) % capacity().
  uint64_t capacity() const;
  uint64_t recorded_packets() const { return wrapped_ ? capacity() : next_; }
  uint64_t first() const { return wrapped_ ? next_ : 0; }
  uint64_t next_packet() const { return next_; }
  bool wrapped() const { return wrapped_; }
  uint64_t packets_written() const { return packets_written_; }
  bool ReadLogical(uint64_t l, uint8_t* packet);
  std::optional<RecTime> TimeOfLogical(uint64_t l);
  // First logical packet whose time is at or after `t` (clamped to the last).
  std::optional<uint64_t> FindTime(const RecTime& t);
  // Event records in slot order (nothing for empty slots).
  std::vector<std::pair<std::size_t, RecordedEvent>> Events();
  std::optional<RecordedEvent> Event(std::size_t slot);
  // Writes an event into the next slot (after the last one written).
  bool AppendEvent(const RecordedEvent& event);

  const std::string& error() const { return error_; }
  const std::string& image_error() const;

 private:
  struct Impl;
  void WritePacket(const uint8_t* packet);
  void Drain();

  std::unique_ptr<Impl> impl_;
  uint64_t next_ = 0;
  bool wrapped_ = false;
  uint64_t packets_written_ = 0;
  uint64_t since_status_ = 0;
  std::optional<std::size_t> event_slot_;
  RecordedEvent event_{};
  std::string error_;
};

// Reads frames and audio packets from the recording in logical packet order.
class PlaybackCursor {
 public:
  struct Item {
    bool audio = false;
    std::vector<uint8_t> bytes;  // whole frame from its start code, or 4000 samples
    FrameInfo info;              // of the packet holding the start code
    uint64_t packet = 0;         // logical packet of the start code
  };

  explicit PlaybackCursor(DiskRecorder* disk) : disk_(disk) {}
  // Restarts reading at logical packet l (the first frame found from there on).
  void Seek(uint64_t l);
  // The next frame or audio packet; false at the end of the recording.
  bool Next(Item* out);
  uint64_t position() const { return next_packet_; }

 private:
  bool LoadPacket();

  DiskRecorder* disk_;
  uint64_t next_packet_ = 0;
  struct Segment {
    std::size_t offset;  // in stream_
    FrameInfo info;
    uint64_t packet;
  };
  void Drop(std::size_t n);

  std::vector<uint8_t> stream_;   // elementary stream bytes not yet returned
  std::deque<Segment> segments_;  // the video packet each part of stream_ came from
  std::deque<Item> audio_queue_;
  std::vector<uint8_t> packet_;
  bool at_end_ = false;
};

}  // namespace rd::sim
