// Fuzz target for the disk index readers: any bytes as the sectors of a small
// disk. Input: 6 bytes of target time, 1 byte of flags (bit 0: network
// version), then the disk (whole sectors; the rest is dropped). The walk runs
// from sector 0 on such small disks, so a marker anywhere is found; the span,
// the event list and the time search then read whatever the sectors hold.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"

namespace {

class MemoryDevice : public rd::SectorDevice {
 public:
  MemoryDevice(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::optional<uint64_t> SizeBytes() override { return size_; }
  std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
    if (offset > size_ || size > size_ - offset) return 0;
    std::memcpy(buffer, data_ + offset, size);
    return size;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7 + rd::kSectorSize) return 0;
  const rd::RecTime target = rd::RecTime::FromHeader(data);
  const bool network = (data[6] & 1) != 0;
  const uint8_t* disk = data + 7;
  const std::size_t disk_size = (size - 7) / rd::kSectorSize * rd::kSectorSize;

  rd::DvrDisk dvr([&](const std::string&, std::string*) {
    return std::make_unique<MemoryDevice>(disk, disk_size);
  });
  dvr.SetNetworkVersion(network);
  if (!dvr.DetectDvrDisk("image")) return 0;
  const uint64_t marker = dvr.marker_sector();
  if (marker >= disk_size / rd::kSectorSize) __builtin_trap();
  dvr.set_device_path("image");
  (void)dvr.DataPresent(marker);
  const auto area =
      rd::AreaSectors(marker, network ? rd::DiskLayout::kNetwork : rd::DiskLayout::kStandard);
  if (!area) return 0;
  rd::RecordingIndex index(dvr, marker, *area);
  (void)index.ListEvents();
  rd::RecordingSpan span;
  if (index.ReadSpan(&span) != rd::SpanResult::kOk) return 0;
  if (span.last_packet >= index.packet_count() || span.first_packet >= index.packet_count()) {
    __builtin_trap();
  }
  uint64_t position = 0;
  if (index.FindTime(target, span, &position) &&
      position / rd::kPacketSize >= index.packet_count()) {
    __builtin_trap();
  }
  if (index.last_probe_count() > 130) __builtin_trap();  // two segments of at most 64 probes
  return 0;
}
