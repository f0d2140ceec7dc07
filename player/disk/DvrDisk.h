#pragma once
// The player's raw access to a DVR disk (module harddisk): sector reads, the
// detection of DVR disks by their marker sector near the end of the drive,
// the scan of drives 1..9, the area size of the two layouts and the
// data-present check. The player never writes to a disk.
//
// Every operation opens the device, reads and closes it again; no handle is
// kept between operations.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "player/disk/SectorDevice.h"
#include "shared/stream/DvrDiskLayout.h"

namespace rd {

// The drive geometry as the original platform reports it (see DvrDiskLayout.h).
struct DriveGeometry {
  uint64_t cylinders = 0;
  uint32_t media_type = 12;  // fixed hard disk
  uint32_t tracks_per_cylinder = kTracksPerCylinder;
  uint32_t sectors_per_track = kSectorsPerTrack;
  uint32_t bytes_per_sector = kSectorSize;

  static DriveGeometry FromSizeBytes(uint64_t bytes) {
    DriveGeometry g;
    g.cylinders = bytes / kSectorSize / kSectorsPerCylinder;
    return g;
  }
  // T: the sectors the geometry covers.
  uint64_t TotalSectors() const {
    return cylinders * tracks_per_cylinder * uint64_t{sectors_per_track};
  }
};

// Entry n holds the marker sector of drive n, or 0 when it is not a DVR disk.
using DiskTable = std::array<uint64_t, kDriveCount>;

class DvrDisk {
 public:
  // Receives the text of each message box a failed read would show.
  using BoxTextSink = std::function<void(const std::string& text)>;

  explicit DvrDisk(DeviceOpener opener = OpenSectorDevice);

  // Where message-box texts go ("READ HDD FAULT"). Default: none.
  void set_box_text_sink(BoxTextSink sink) { box_text_sink_ = std::move(sink); }

  // Reads `count` sectors from `first` into `buffer`; bytes read
  // (count x 512), or 0 when the read fails. No pair exchange.
  static std::size_t ReadSectors(SectorDevice& device, void* buffer, uint64_t first,
                                 uint32_t count);

  // "Network version" checked: the lowest marker from T - 50 upward is taken
  // (occurrence 1); unchecked: the second, or the only one (occurrence 2).
  void SetNetworkVersion(bool checked) { marker_occurrence_ = checked ? 1 : 2; }
  int MarkerOccurrence() const { return marker_occurrence_; }

  // Walks from T - 50 (0 when T < 50) upward over single sectors until three
  // reads in a row fail; true with marker_sector() set when the marker
  // occurrence is met.
  bool DetectDvrDisk(const std::string& device_path);

  // Clears the table and detects drives 1..9 of `drives`; drive 0 and 10 are
  // never examined.
  void Scan(const DriveMap& drives);
  const DiskTable& disk_table() const { return disk_table_; }

  uint64_t marker_sector() const { return marker_sector_; }
  const DriveGeometry& geometry() const { return geometry_; }
  // Sector reads made by the last DetectDvrDisk.
  uint64_t detect_reads() const { return detect_reads_; }

  // The chosen drive, for index reads.
  void set_device_path(std::string path) { device_path_ = std::move(path); }
  const std::string& device_path() const { return device_path_; }

  // Opens the chosen drive, reads `count` (1..8) sectors into the 4096-byte
  // sector buffer and closes it again. Nothing on any failure.
  const uint8_t* ReadIndexSectors(uint64_t first, uint32_t count);

  // Sector M - 5 starts with a non-zero byte. Nothing when it cannot be read.
  std::optional<bool> DataPresent(uint64_t marker);

 private:
  void Message(const std::string& text) const {
    if (box_text_sink_) box_text_sink_(text);
  }

  DeviceOpener opener_;
  BoxTextSink box_text_sink_;
  int marker_occurrence_ = 2;
  std::string device_path_;
  DriveGeometry geometry_;
  std::array<uint8_t, kPacketSize> sector_buffer_{};
  uint64_t marker_sector_ = 0;
  uint64_t detect_reads_ = 0;
  DiskTable disk_table_{};
};

}  // namespace rd
