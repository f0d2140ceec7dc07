#pragma once
// Raw, read-only access to a drive or a disk image file, and the mapping of the
// player's drive numbers (0..10) to devices.
//
// A drive is a whole-disk block device or an image file (a dd copy of a DVR
// disk). Reads are positioned (pread) at 64-bit byte offsets; a read that
// cannot deliver every byte asked for fails, so reads past the end of a drive
// fail as the detection walk expects.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace rd {

class SectorDevice {
 public:
  virtual ~SectorDevice() = default;
  // Size in bytes, or nothing when the size cannot be obtained (the geometry
  // request of the drive fails).
  virtual std::optional<uint64_t> SizeBytes() = 0;
  // Reads exactly `size` bytes at `offset`; returns `size`, or 0 on any
  // failure or short read.
  virtual std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) = 0;
};

// Opens a device or image file read-only; nothing (with *error set) when it
// cannot be opened. Tests replace the opener to inject failing devices.
using DeviceOpener =
    std::function<std::unique_ptr<SectorDevice>(const std::string& path, std::string* error)>;
std::unique_ptr<SectorDevice> OpenSectorDevice(const std::string& path, std::string* error);

inline constexpr int kDriveCount = 11;  // drive numbers 0..10; the scan looks at 1..9

// Drive number -> device path.
class DriveMap {
 public:
  // RD_DRIVES when set ("1=/path/disk.img,3=/dev/sdc"), else the whole-disk
  // devices of /sys/block. A malformed RD_DRIVES maps no drive (rather than
  // the wrong ones) and sets *error.
  static DriveMap FromEnvironment(std::string* error = nullptr);
  // Parses "N=PATH[,N=PATH...]" with N in 0..10. Nothing (with *error) when
  // malformed.
  static std::optional<DriveMap> Parse(const std::string& spec, std::string* error);
  // Whole-disk devices in /sys/block order: sd*, vd*, nvme*n*, mmcblk*, hd*,
  // each group in natural order; the first one is drive 0.
  static DriveMap FromSysBlock(const std::filesystem::path& sys_block = "/sys/block",
                               const std::filesystem::path& dev = "/dev");

  void Set(int drive, std::string path) { paths_[drive] = std::move(path); }
  std::optional<std::string> PathOf(int drive) const;
  const std::map<int, std::string>& entries() const { return paths_; }

 private:
  std::map<int, std::string> paths_;
};

}  // namespace rd
