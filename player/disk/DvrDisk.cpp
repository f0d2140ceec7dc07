#include "player/disk/DvrDisk.h"

#include <cstring>
#include <limits>

namespace rd {

DvrDisk::DvrDisk(DeviceOpener opener) : opener_(std::move(opener)) {}

std::size_t DvrDisk::ReadSectors(SectorDevice& device, void* buffer, uint64_t first,
                                 uint32_t count) {
  constexpr uint64_t kMaxSector = std::numeric_limits<uint64_t>::max() / kSectorSize;
  if (count == 0 || first > kMaxSector - count) return 0;
  const std::size_t bytes = std::size_t{count} * kSectorSize;
  return device.ReadAt(first * kSectorSize, buffer, bytes) == bytes ? bytes : 0;
}

bool DvrDisk::DetectDvrDisk(const std::string& device_path) {
  detect_reads_ = 0;
  std::string error;
  auto device = opener_(device_path, &error);
  if (!device) return false;

  const auto size = device->SizeBytes();
  if (!size) {
    Message("READ HDD FAULT");
    return false;
  }
  geometry_ = DriveGeometry::FromSizeBytes(*size);
  // T in 64 bits: a 32-bit product wraps on drives over 2 TiB and would send
  // the walk across the whole drive.
  const uint64_t total = geometry_.TotalSectors();
  uint64_t s = total >= kDetectWalkBack ? total - kDetectWalkBack : 0;
  // The geometry covers the drive up to one cylinder short of its size, so the
  // walk meets three failing reads within a cylinder and a few sectors; the
  // bound only guards against a device that never fails a read.
  const uint64_t walk_end = total + 2 * kSectorsPerCylinder + kDetectWalkBack;

  int found = 0;
  int failures = 0;
  uint64_t last = 0;
  uint8_t* sector = sector_buffer_.data();
  for (; s <= walk_end; ++s) {
    ++detect_reads_;
    if (ReadSectors(*device, sector, s, 1) == 0) {
      if (++failures > 2) break;
      continue;
    }
    failures = 0;
    PairSwap(sector, kSectorSize);
    if (std::memcmp(sector, kDiskMarkerText, kDiskMarkerLength) == 0) {
      last = s;
      if (++found == marker_occurrence_) {
        marker_sector_ = s;
        return true;
      }
    }
  }
  // One marker only: it counts as the second one too (the walk would read it
  // again and count it twice).
  if (found == 1) {
    marker_sector_ = last;
    return true;
  }
  return false;
}

void DvrDisk::Scan(const DriveMap& drives) {
  disk_table_.fill(0);
  for (int n = 1; n <= 9; ++n) {
    const auto path = drives.PathOf(n);
    if (!path) continue;
    if (DetectDvrDisk(*path)) disk_table_[static_cast<std::size_t>(n)] = marker_sector_;
  }
}

const uint8_t* DvrDisk::ReadIndexSectors(uint64_t first, uint32_t count) {
  if (count == 0 || count > kSectorsPerPacket) return nullptr;
  std::string error;
  auto device = opener_(device_path_, &error);
  if (!device) return nullptr;
  if (ReadSectors(*device, sector_buffer_.data(), first, count) == 0) return nullptr;
  return sector_buffer_.data();
}

std::optional<bool> DvrDisk::DataPresent(uint64_t marker) {
  if (marker < kEventSectorsBelowMarker) return std::nullopt;
  const uint8_t* sector = ReadIndexSectors(FirstEventSector(marker), 1);
  if (!sector) return std::nullopt;
  return sector[kDataFlagOffset] != 0;
}

}  // namespace rd
