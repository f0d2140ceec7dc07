#pragma once
// The layout of a DVR recording disk, shared by the player's reader
// (player/disk) and the writer of disk images (tools/common/DvrDiskImage), so
// that the two cannot drift apart.
//
//   sectors 0 .. A-1     packet ring, packet n in sectors 8n .. 8n+7, every
//                        16-bit word stored with its two bytes exchanged
//   sector  M-5 .. M-2   event sectors: 16 records of 32 bytes each
//   sector  M-1          status sector: next packet W and the wrapped flag
//   sector  M            marker sector: "KORVELT!" in stream order
//
// M is the marker sector, A the area size in sectors. All offsets inside the
// index sectors below are disk-order offsets (as read, no pair exchange).

#include <cstddef>
#include <cstdint>
#include <optional>

#include "shared/stream/StreamPacket.h"

namespace rd {

// Marker text in stream order; on the disk its byte pairs are exchanged.
inline constexpr char kDiskMarkerText[9] = "KORVELT!";
inline constexpr std::size_t kDiskMarkerLength = 8;

// Sectors relative to the marker sector M.
inline constexpr uint64_t kEventSectorsBelowMarker = 5;  // first event sector is M - 5
inline constexpr uint64_t kEventSectorCount = 4;         // M-5 .. M-2
inline constexpr uint64_t kStatusSectorBelowMarker = 1;  // M - 1
inline constexpr std::size_t kDiskEventRecordSize = 32;
inline constexpr std::size_t kEventsPerSector = kSectorSize / kDiskEventRecordSize;     // 16
inline constexpr std::size_t kEventRecordCount = kEventsPerSector * kEventSectorCount;  // 64

// The first byte (disk order) of sector M - 5 is the data-present flag of the
// whole disk: 0 means no recording and no events.
inline constexpr std::size_t kDataFlagOffset = 0;

// Disk-order offsets inside an event record.
inline constexpr std::size_t kEventTypeOffset = 3;
inline constexpr std::size_t kEventStartOffset = 4;  // minute, second, day, hour, year, month
inline constexpr std::size_t kEventEndOffset = 20;   // the same six bytes for the end
inline constexpr uint8_t kEventTypeTimer = 0x54;     // 'T': "TIME"; anything else "ALARM"
inline constexpr uint8_t kEventTypeAlarm = 0x41;     // 'A', what the recorder writes for alarms

// Order of the six time bytes of an event record, from its start offset.
enum EventTimeByte : std::size_t {
  kEvMinute = 0,
  kEvSecond = 1,
  kEvDay = 2,
  kEvHour = 3,
  kEvYear = 4,  // year - 2000; 0 in the start year marks an empty record
  kEvMonth = 5,
};

// The time of an event record from its six bytes at `offset`
// (kEventStartOffset or kEventEndOffset), and back.
constexpr RecTime ReadEventTime(const uint8_t* record, std::size_t offset) {
  RecTime t;
  t.year = record[offset + kEvYear];
  t.month = record[offset + kEvMonth];
  t.day = record[offset + kEvDay];
  t.hour = record[offset + kEvHour];
  t.minute = record[offset + kEvMinute];
  t.second = record[offset + kEvSecond];
  return t;
}
constexpr void WriteEventTime(uint8_t* record, std::size_t offset, const RecTime& t) {
  record[offset + kEvYear] = t.year;
  record[offset + kEvMonth] = t.month;
  record[offset + kEvDay] = t.day;
  record[offset + kEvHour] = t.hour;
  record[offset + kEvMinute] = t.minute;
  record[offset + kEvSecond] = t.second;
}

// Network disks keep this many sectors (or up to 7 more) between the end of
// the packet ring and the marker.
inline constexpr uint64_t kNetworkReservedSectors = 2'000'039;
inline constexpr uint64_t kStandardReservedSectors = 7;

enum class DiskLayout { kStandard, kNetwork };

// Area size A in sectors for the marker sector M, or nothing when the layout
// leaves no room for a packet ring (network disks with M at or below
// 2,000,039; standard disks with M below 7 + 8).
constexpr std::optional<uint64_t> AreaSectors(uint64_t marker, DiskLayout layout) {
  uint64_t area = 0;
  if (layout == DiskLayout::kStandard) {
    if (marker < kStandardReservedSectors) return std::nullopt;
    area = marker - kStandardReservedSectors;
    area -= area % kSectorsPerPacket;
  } else {
    if (marker <= kNetworkReservedSectors) return std::nullopt;
    area = marker - kNetworkReservedSectors;
    area += (kSectorsPerPacket - area % kSectorsPerPacket) % kSectorsPerPacket;
  }
  if (area < kSectorsPerPacket) return std::nullopt;
  return area;
}

// Status sector, disk order: byte 0 bits 23..16 of W; byte 1 bit 7 wrapped,
// bits 6..0 bits 30..24 of W; byte 2 bits 7..0; byte 3 bits 15..8. In stream
// order this is one big-endian 32-bit number whose top bit is the flag.
inline constexpr uint32_t kStatusWMask = 0x7FFF'FFFFu;

struct DiskStatus {
  uint32_t next_packet = 0;  // W, the packet the recorder writes next
  bool wrapped = false;      // the ring has been filled at least once
  friend bool operator==(const DiskStatus&, const DiskStatus&) = default;
};

constexpr DiskStatus DecodeDiskStatus(const uint8_t* sector) {
  const uint32_t w = (static_cast<uint32_t>(sector[1] & 0x7F) << 24) |
                     (static_cast<uint32_t>(sector[0]) << 16) |
                     (static_cast<uint32_t>(sector[3]) << 8) | sector[2];
  return DiskStatus{w, (sector[1] & 0x80) != 0};
}

constexpr void EncodeDiskStatus(const DiskStatus& status, uint8_t* sector) {
  const uint32_t w = status.next_packet & kStatusWMask;
  sector[0] = static_cast<uint8_t>(w >> 16);
  sector[1] = static_cast<uint8_t>(((w >> 24) & 0x7F) | (status.wrapped ? 0x80 : 0));
  sector[2] = static_cast<uint8_t>(w);
  sector[3] = static_cast<uint8_t>(w >> 8);
}

// Recording time of a packet read straight from its first sector (disk order):
// stream byte b lies at disk byte b ^ 1. Bit 7 of the year byte (the audio
// flag) is masked off.
inline RecTime RecTimeFromDiskSector(const uint8_t* sector) {
  uint8_t header[6];
  for (std::size_t b = 0; b < 6; ++b) header[b] = sector[DiskOffsetOfStreamByte(b)];
  return RecTime::FromHeader(header);
}

// Sector of the first event sector / the status sector for a marker M >= 5.
constexpr uint64_t FirstEventSector(uint64_t marker) {
  return marker - kEventSectorsBelowMarker;
}
constexpr uint64_t StatusSectorOf(uint64_t marker) {
  return marker - kStatusSectorBelowMarker;
}

// Geometry as the drive geometry request reports it: 255 tracks per cylinder,
// 63 sectors per track, cylinders = size in sectors div 16065.
inline constexpr uint32_t kTracksPerCylinder = 255;
inline constexpr uint32_t kSectorsPerTrack = 63;
inline constexpr uint64_t kSectorsPerCylinder = uint64_t{kTracksPerCylinder} * kSectorsPerTrack;
// The detection walk starts this many sectors below the reported size.
inline constexpr uint64_t kDetectWalkBack = 50;

}  // namespace rd
