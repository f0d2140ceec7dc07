#include "tools/common/DvrDiskImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace rd {

DvrDiskImage::~DvrDiskImage() {
  if (fd_ >= 0) ::close(fd_);
}

bool DvrDiskImage::Fail(const std::string& message) {
  error_ = message;
  return false;
}

bool DvrDiskImage::WriteAt(uint64_t offset, const void* data, std::size_t size) {
  if (fd_ < 0) return Fail("disk image not open");
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(std::string("write failed: ") + std::strerror(errno));
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool DvrDiskImage::ReadAt(uint64_t offset, void* data, std::size_t size) {
  if (fd_ < 0) return Fail("disk image not open");
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(std::string("read failed: ") + std::strerror(errno));
    if (n == 0) return Fail("read beyond the end of the image");
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool DvrDiskImage::WriteBytesInSector(uint64_t sector, std::size_t offset, const uint8_t* data,
                                      std::size_t size) {
  return WriteAt(sector * kSectorSize + offset, data, size);
}

bool DvrDiskImage::Create(const std::filesystem::path& path, uint64_t sectors, DiskLayout layout) {
  return Create(path, CreateOptions{sectors, layout, std::nullopt});
}

bool DvrDiskImage::Create(const std::filesystem::path& path, const CreateOptions& options) {
  Finish();
  error_.clear();
  if (options.sectors == 0) return Fail("disk image size is 0");
  const uint64_t marker = options.marker_sector.value_or(options.sectors - 1);
  if (marker >= options.sectors) return Fail("marker sector lies beyond the image");
  const auto area = AreaSectors(marker, options.layout);
  if (!area) return Fail("the image is too small for a packet ring in this layout");

  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return Fail("cannot create " + path.string() + ": " + std::strerror(errno));
  if (::ftruncate(fd_, static_cast<off_t>(options.sectors * kSectorSize)) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return Fail("cannot size " + path.string() + ": " + why);
  }
  sectors_ = options.sectors;
  marker_ = marker;
  area_ = *area;
  layout_ = options.layout;
  next_event_slot_ = 0;
  // A fresh file reads as zeros: no data, no events, W = 0, not wrapped.
  return WriteMarker(marker_);
}

bool DvrDiskImage::Open(const std::filesystem::path& path, DiskLayout layout) {
  Finish();
  error_.clear();
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return Fail("cannot open " + path.string() + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || st.st_size < static_cast<off_t>(kSectorSize)) {
    Finish();
    return Fail(path.string() + " is not a disk image");
  }
  sectors_ = static_cast<uint64_t>(st.st_size) / kSectorSize;
  marker_ = sectors_ - 1;
  uint8_t sector[kSectorSize];
  if (!ReadAt(marker_ * kSectorSize, sector, kSectorSize)) {
    Finish();
    return false;
  }
  PairSwap(sector, kSectorSize);
  if (std::memcmp(sector, kDiskMarkerText, kDiskMarkerLength) != 0) {
    Finish();
    return Fail(path.string() + " has no DVR marker in its last sector");
  }
  const auto area = AreaSectors(marker_, layout);
  if (!area) {
    Finish();
    return Fail("the image is too small for a packet ring in this layout");
  }
  area_ = *area;
  layout_ = layout;
  // The next event slot follows the last non-empty record.
  next_event_slot_ = 0;
  for (std::size_t slot = 0; slot < kEventRecordCount; ++slot) {
    if (ReadEvent(slot)) next_event_slot_ = (slot + 1) % kEventRecordCount;
  }
  return true;
}

bool DvrDiskImage::WritePacket(uint64_t n, const uint8_t* packet) {
  if (n >= packet_capacity()) return Fail("packet index beyond the recording area");
  uint8_t disk[kPacketSize];
  std::memcpy(disk, packet, kPacketSize);
  PairSwap(disk, kPacketSize);
  return WriteAt(n * kPacketSize, disk, kPacketSize);
}

bool DvrDiskImage::ReadPacket(uint64_t n, uint8_t* packet) {
  if (n >= packet_capacity()) return Fail("packet index beyond the recording area");
  if (!ReadAt(n * kPacketSize, packet, kPacketSize)) return false;
  PairSwap(packet, kPacketSize);
  return true;
}

bool DvrDiskImage::WriteEvent(std::size_t slot, const DiskEventRecord& event) {
  if (slot >= kEventRecordCount) return Fail("event slot out of range");
  const uint64_t sector = FirstEventSector(marker_) + slot / kEventsPerSector;
  const std::size_t base = (slot % kEventsPerSector) * kDiskEventRecordSize;
  // Only the interpreted bytes are written: byte 0 of record 0 is the disk's
  // data-present flag and must survive.
  uint8_t record[kDiskEventRecordSize]{};
  if (!ReadAt(sector * kSectorSize + base, record, kDiskEventRecordSize)) return false;
  record[kEventTypeOffset] = event.timer ? kEventTypeTimer : kEventTypeAlarm;
  WriteEventTime(record, kEventStartOffset, event.start);
  WriteEventTime(record, kEventEndOffset, event.end);
  return WriteBytesInSector(sector, base, record, kDiskEventRecordSize);
}

std::optional<DiskEventRecord> DvrDiskImage::ReadEvent(std::size_t slot) {
  if (slot >= kEventRecordCount) return std::nullopt;
  const uint64_t sector = FirstEventSector(marker_) + slot / kEventsPerSector;
  const std::size_t base = (slot % kEventsPerSector) * kDiskEventRecordSize;
  uint8_t record[kDiskEventRecordSize];
  if (!ReadAt(sector * kSectorSize + base, record, kDiskEventRecordSize)) return std::nullopt;
  if (record[kEventStartOffset + kEvYear] == 0) return std::nullopt;
  return DiskEventRecord{record[kEventTypeOffset] == kEventTypeTimer,
                         ReadEventTime(record, kEventStartOffset),
                         ReadEventTime(record, kEventEndOffset)};
}

std::optional<std::size_t> DvrDiskImage::AppendEvent(const DiskEventRecord& event) {
  const std::size_t slot = next_event_slot_;
  if (!WriteEvent(slot, event)) return std::nullopt;
  next_event_slot_ = (slot + 1) % kEventRecordCount;
  return slot;
}

bool DvrDiskImage::WriteStatus(const DiskStatus& status) {
  uint8_t bytes[4];
  EncodeDiskStatus(status, bytes);
  return WriteBytesInSector(StatusSectorOf(marker_), 0, bytes, sizeof bytes) &&
         SetDataPresent(true);
}

std::optional<DiskStatus> DvrDiskImage::ReadStatus() {
  uint8_t bytes[4];
  if (!ReadAt(StatusSectorOf(marker_) * kSectorSize, bytes, sizeof bytes)) return std::nullopt;
  return DecodeDiskStatus(bytes);
}

bool DvrDiskImage::SetDataPresent(bool present) {
  const uint8_t flag = present ? 1 : 0;
  return WriteBytesInSector(FirstEventSector(marker_), kDataFlagOffset, &flag, 1);
}

bool DvrDiskImage::WriteMarker(uint64_t sector) {
  if (sector >= sectors_) return Fail("marker sector lies beyond the image");
  uint8_t bytes[kSectorSize]{};
  std::memcpy(bytes, kDiskMarkerText, kDiskMarkerLength);
  PairSwap(bytes, kSectorSize);
  return WriteAt(sector * kSectorSize, bytes, kSectorSize);
}

bool DvrDiskImage::Finish() {
  if (fd_ < 0) return true;
  bool ok = ::fsync(fd_) == 0 || errno == EINVAL;
  if (::close(fd_) != 0) ok = false;
  fd_ = -1;
  if (!ok) return Fail(std::string("closing the disk image failed: ") + std::strerror(errno));
  return true;
}

void DvrDiskImage::MakeVideoPacket(const RecTime& time, uint8_t rate, uint8_t channel_set,
                                   const uint8_t* payload, std::size_t payload_size,
                                   uint8_t* packet) {
  std::memset(packet, 0, kPacketSize);
  time.ToHeader(packet);
  packet[6] = rate;
  packet[7] = channel_set;
  if (payload_size > kVideoPayloadSize) payload_size = kVideoPayloadSize;
  if (payload_size > 0) std::memcpy(packet + kPacketHeaderSize, payload, payload_size);
}

void DvrDiskImage::MakeAudioPacket(const RecTime& time, const uint8_t* samples, uint8_t* packet) {
  std::memset(packet, 0, kPacketSize);
  time.ToHeader(packet);
  packet[0] = static_cast<uint8_t>(packet[0] | 0x80);
  packet[6] = kAudioMarker6;
  packet[7] = kAudioMarker7;
  std::memcpy(packet + kPacketHeaderSize, samples, kAudioPayloadSize);
}

}  // namespace rd
