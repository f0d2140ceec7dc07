#pragma once
// Writer of DVR recording disk images in the recorder's own layout
// (shared/stream/DvrDiskLayout.h): the packet ring from sector 0 with every
// 16-bit word's bytes exchanged, the event sectors, the status sector and the
// marker sector near the end. Image files are sparse: only what is written
// takes space, so a 1 TB image costs a few kilobytes.
//
// Used by the emulated DVR for its recording disk and by the tests of the
// disk player. The player's reader (player/disk) is the exact inverse.
//
//   DvrDiskImage img;
//   img.Create("disk.img", 4'000'000, DiskLayout::kStandard);
//   img.WritePacket(0, packet);                  // 4096 bytes, stream order
//   img.AppendEvent({.timer = true, .start = t0, .end = t1});
//   img.WriteStatus({.next_packet = 1, .wrapped = false});  // also sets the data flag
//   img.Finish();

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "shared/stream/DvrDiskLayout.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

// One event record as the recorder keeps it: a timer ("TIME") or alarm
// ("ALARM") recording with its start and end. A start year of 0 would mark
// the record empty, so events of the year 2000 cannot be stored.
struct DiskEventRecord {
  bool timer = false;
  RecTime start;
  RecTime end;
  friend bool operator==(const DiskEventRecord&, const DiskEventRecord&) = default;
};

class DvrDiskImage {
 public:
  struct CreateOptions {
    uint64_t sectors = 0;  // image size in 512-byte sectors
    DiskLayout layout = DiskLayout::kStandard;
    std::optional<uint64_t> marker_sector;  // default: the last sector of the image
  };

  DvrDiskImage() = default;
  ~DvrDiskImage();
  DvrDiskImage(const DvrDiskImage&) = delete;
  DvrDiskImage& operator=(const DvrDiskImage&) = delete;

  // Creates (or truncates) a sparse image with the marker sector written and
  // empty index sectors (no data, W = 0, not wrapped). False with error() set
  // when the file cannot be made or the layout leaves no packet ring.
  bool Create(const std::filesystem::path& path, uint64_t sectors, DiskLayout layout);
  bool Create(const std::filesystem::path& path, const CreateOptions& options);

  // Opens an existing image for further recording. The marker must be in the
  // last sector (where Create puts it by default). The status and the next
  // free event slot are read back.
  bool Open(const std::filesystem::path& path, DiskLayout layout);

  bool is_open() const { return fd_ >= 0; }
  uint64_t sectors() const { return sectors_; }
  uint64_t marker_sector() const { return marker_; }
  uint64_t area_sectors() const { return area_; }
  uint64_t packet_capacity() const { return area_ / kSectorsPerPacket; }  // AP
  DiskLayout layout() const { return layout_; }
  const std::string& error() const { return error_; }

  // Packet n of the ring (n < packet_capacity()), given and returned in
  // stream order; on the disk its byte pairs are exchanged.
  bool WritePacket(uint64_t n, const uint8_t* packet);
  bool ReadPacket(uint64_t n, uint8_t* packet);

  // Event record `slot` (0..63; slot k is record k % 16 of sector M-5 + k/16).
  bool WriteEvent(std::size_t slot, const DiskEventRecord& event);
  std::optional<DiskEventRecord> ReadEvent(std::size_t slot);  // nothing when empty
  // Writes into the next slot, after the last one written or found by Open;
  // after slot 63 it starts again at 0 (the oldest record is overwritten).
  // Returns the slot used.
  std::optional<std::size_t> AppendEvent(const DiskEventRecord& event);
  std::size_t next_event_slot() const { return next_event_slot_; }

  // Status sector: the packet the recorder writes next and the wrapped flag.
  // Writing a status also sets the data-present flag (a recorder that has a
  // status has recorded); SetDataPresent(false) clears it again.
  bool WriteStatus(const DiskStatus& status);
  std::optional<DiskStatus> ReadStatus();
  bool SetDataPresent(bool present);

  // Writes a marker sector at `sector` (the one of Create is written already;
  // tests add a second one).
  bool WriteMarker(uint64_t sector);

  // Flushes and closes. The object can Create or Open again afterwards.
  bool Finish();

  // Fills a 4096-byte stream-order packet. Video: header with time (bit 7 of
  // byte 0 clear), rate code and channel set, then up to 4088 payload bytes,
  // the rest zero. Audio: bit 7 of byte 0 set, F1 F2, 4000 samples, rest zero.
  static void MakeVideoPacket(const RecTime& time, uint8_t rate, uint8_t channel_set,
                              const uint8_t* payload, std::size_t payload_size, uint8_t* packet);
  static void MakeAudioPacket(const RecTime& time, const uint8_t* samples /*4000*/,
                              uint8_t* packet);

 private:
  bool Fail(const std::string& message);
  bool WriteAt(uint64_t offset, const void* data, std::size_t size);
  bool ReadAt(uint64_t offset, void* data, std::size_t size);
  bool WriteBytesInSector(uint64_t sector, std::size_t offset, const uint8_t* data,
                          std::size_t size);

  int fd_ = -1;
  uint64_t sectors_ = 0;
  uint64_t marker_ = 0;
  uint64_t area_ = 0;
  DiskLayout layout_ = DiskLayout::kStandard;
  std::size_t next_event_slot_ = 0;
  std::string error_;
};

}  // namespace rd
