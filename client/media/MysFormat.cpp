#include "client/media/MysFormat.h"

#include <cstdio>
#include <cstring>

#include "shared/stream/ByteOrder.h"

namespace rd {
namespace {

void PutTime(uint8_t* p, const RecTime& t) {
  p[0] = t.year;
  p[1] = t.month;
  p[2] = t.day;
  p[3] = t.hour;
  p[4] = t.minute;
  p[5] = t.second;
}

RecTime GetTime(const uint8_t* p) {
  return RecTime{p[0], p[1], p[2], p[3], p[4], p[5]};
}

}  // namespace

void MysFileHeader::Write(uint8_t* out) const {
  std::memset(out, 0, kMysFileHeaderSize);
  StoreLe32(out, magic);
  StoreLe32(out + 4, length);
  PutTime(out + 8, first);
  PutTime(out + 14, last);
  out[20] = flags;
  StoreLe32(out + 24, count);
}

MysFileHeader MysFileHeader::Read(const uint8_t* in) {
  MysFileHeader h;
  h.magic = LoadLe32(in);
  h.length = LoadLe32(in + 4);
  h.first = GetTime(in + 8);
  h.last = GetTime(in + 14);
  h.flags = in[20];
  h.count = LoadLe32(in + 24);
  return h;
}

void MysRecordHeader::Write(uint8_t* out) const {
  std::memset(out, 0, kMysRecordHeaderSize);
  StoreLe32(out, magic);
  out[4] = sequence;
  StoreLe32(out + 8, millis);
  StoreLe32(out + 12, prev_length);
  StoreLe32(out + 16, length);
  PutTime(out + 20, time);
  out[26] = state;
}

MysRecordHeader MysRecordHeader::Read(const uint8_t* in) {
  MysRecordHeader h;
  h.magic = LoadLe32(in);
  h.sequence = in[4];
  h.millis = LoadLe32(in + 8);
  h.prev_length = LoadLe32(in + 12);
  h.length = LoadLe32(in + 16);
  h.time = GetTime(in + 20);
  h.state = in[26];
  return h;
}

uint8_t ChannelStateByte(const ChannelDisplayState& channels) {
  uint8_t b = channels.quad != 0 ? 0x10 : 0;
  for (int i = 0; i < 4; ++i)
    if (channels.channel[i] != 0) b = static_cast<uint8_t>(b | (1u << i));
  return b;
}

ChannelDisplayState ChannelStateFromByte(uint8_t state) {
  ChannelDisplayState s;
  s.quad = (state & 0x10) != 0 ? 1 : 0;
  for (int i = 0; i < 4; ++i) s.channel[i] = (state >> i) & 1u;
  return s;
}

std::string MysFileName(int year, int month, int day, int hour, int minute, int second,
                        int suffix) {
  char name[64];
  if (suffix > 0)
    std::snprintf(name, sizeof name, "%04d_%02d_%02d_%02d_%02d_%02d_%d.mys", year, month, day, hour,
                  minute, second, suffix);
  else
    std::snprintf(name, sizeof name, "%04d_%02d_%02d_%02d_%02d_%02d.mys", year, month, day, hour,
                  minute, second);
  return name;
}

}  // namespace rd
