#pragma once
// The .mys local recording file: a 28-byte file header followed by records,
// each a 28-byte record header and its data. All integers little-endian.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/stream/ChannelDisplayState.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

inline constexpr uint32_t kMysFileMagic = 0xF14CF15E;
inline constexpr uint32_t kMysVideoMagic = 0xF21FF22F;
inline constexpr uint32_t kMysAudioMagic = 0xF04EF22F;
inline constexpr std::size_t kMysFileHeaderSize = 28;
inline constexpr std::size_t kMysRecordHeaderSize = 28;
// Largest record data a recorder slot or the player's buffer holds.
inline constexpr std::size_t kMysMaxRecordData = 263168;
// A file is closed and the recording continues in a new one past this length.
inline constexpr uint32_t kMysRollOverBytes = 734003200;  // 700 MiB
inline constexpr uint8_t kMysFlagPal = 0x80;

struct MysFileHeader {
  uint32_t magic = kMysFileMagic;
  uint32_t length = 0;  // header + all record headers and data
  RecTime first;        // time of the first record of the file
  RecTime last;         // time of the last record written
  uint8_t flags = 0;    // bit 7 PAL; bits 0..4 OR of the video records' state bytes
  uint32_t count = 0;   // records in the file

  void Write(uint8_t* out) const;  // 28 bytes
  static MysFileHeader Read(const uint8_t* in);
};

struct MysRecordHeader {
  uint32_t magic = 0;
  uint8_t sequence = 0;      // video records of the recording, modulo 256
  uint32_t millis = 0;       // since the previous record of either kind
  uint32_t prev_length = 0;  // data length of the previous record
  uint32_t length = 0;       // data length of this record
  RecTime time;              // video only
  uint8_t state = 0;         // channel-state byte, video only

  bool IsVideo() const { return magic == kMysVideoMagic; }
  bool IsAudio() const { return magic == kMysAudioMagic; }
  bool IsValid() const { return (IsVideo() || IsAudio()) && length <= kMysMaxRecordData; }

  void Write(uint8_t* out) const;  // 28 bytes
  static MysRecordHeader Read(const uint8_t* in);
};

// Result of walking the record headers of a file from its first record.
struct MysWalk {
  uint32_t records = 0;      // well-formed records that fit in the file
  uint64_t end_offset = 28;  // offset just past the last of them
  bool clean_end = true;     // the walk ended exactly at the end of the file
};

// Walks record headers (magic, length) through the bytes of a whole file.
// `read_at(offset, buffer, size)` returns the number of bytes read.
template <typename ReadAt>
MysWalk WalkMysRecords(uint64_t file_size, ReadAt&& read_at) {
  MysWalk walk;
  uint64_t pos = kMysFileHeaderSize;
  uint8_t raw[kMysRecordHeaderSize];
  while (pos + kMysRecordHeaderSize <= file_size) {
    if (read_at(pos, raw, kMysRecordHeaderSize) != kMysRecordHeaderSize) break;
    MysRecordHeader rh = MysRecordHeader::Read(raw);
    if (!rh.IsValid()) break;
    uint64_t next = pos + kMysRecordHeaderSize + rh.length;
    if (next > file_size) break;
    pos = next;
    ++walk.records;
  }
  walk.end_offset = pos;
  walk.clean_end = pos == file_size;
  return walk;
}

// Channel-state byte of a video record: bit 4 quad flag, bits 0..3 CH1..CH4
// enabled (each flag non-zero); 0 for a frame without a state.
uint8_t ChannelStateByte(const ChannelDisplayState& channels);
ChannelDisplayState ChannelStateFromByte(uint8_t state);

// "%04d_%02d_%02d_%02d_%02d_%02d.mys" for a local time; with suffix > 0 the
// name gets "_<suffix>" before the extension.
std::string MysFileName(int year, int month, int day, int hour, int minute, int second,
                        int suffix = 0);

}  // namespace rd
