// The RDCP wire format: framing and the byte layout of every record.

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "client/engine/rdcp/RdcpWire.h"

namespace rd {
namespace {

TEST(RdcpFraming, BuildsAndParsesAFrame) {
  const uint8_t payload[3] = {1, 2, 3};
  std::vector<uint8_t> m = rdcp::BuildFrame(rdcp::kKeepAlive, 7, payload, 3);
  EXPECT_EQ(m, (std::vector<uint8_t>{0xF5, 3, 44, 7, 1, 2, 3}));
  rdcp::Frame f;
  ASSERT_EQ(rdcp::ParseFrame(m.data(), m.size(), &f), rdcp::ParseResult::kOk);
  EXPECT_EQ(f.type, 44);
  EXPECT_EQ(f.param, 7);
  EXPECT_EQ(f.length, 3u);
  EXPECT_EQ(f.size(), 7u);
  EXPECT_EQ(f.payload[2], 3);
}

TEST(RdcpFraming, RefusesOversizeAndShortOutput) {
  std::vector<uint8_t> big(256, 0);
  uint8_t out[300];
  EXPECT_EQ(rdcp::BuildFrame(1, 0, big.data(), 256, out, sizeof out), 0u);
  EXPECT_EQ(rdcp::BuildFrame(1, 0, big.data(), 255, out, sizeof out), 259u);
  EXPECT_EQ(rdcp::BuildFrame(1, 0, big.data(), 10, out, 13), 0u);
}

TEST(RdcpFraming, ParseNeverReadsPastTheBytes) {
  const uint8_t msg[] = {0xF5, 4, 67, 0, 1, 2, 3, 4};
  struct Case {
    std::size_t size;
    rdcp::ParseResult want;
  };
  for (Case c : {Case{0, rdcp::ParseResult::kNeedMore}, Case{1, rdcp::ParseResult::kNeedMore},
                 Case{3, rdcp::ParseResult::kNeedMore}, Case{7, rdcp::ParseResult::kNeedMore},
                 Case{8, rdcp::ParseResult::kOk}}) {
    // Copy exactly `size` bytes so a sanitizer sees any read beyond them.
    std::vector<uint8_t> bytes(msg, msg + c.size);
    EXPECT_EQ(rdcp::ParseFrame(bytes.data(), bytes.size(), nullptr), c.want) << c.size;
  }
  const uint8_t bad[] = {0xF4, 0, 1, 0};
  EXPECT_EQ(rdcp::ParseFrame(bad, sizeof bad, nullptr), rdcp::ParseResult::kBadStart);
}

TEST(RdcpFraming, ReaderJoinsSplitFramesAndSkipsJunk) {
  rdcp::FrameReader r;
  std::vector<uint8_t> a = rdcp::BuildFrame(16, 0, std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
  std::vector<uint8_t> b = rdcp::BuildFrame(44, 0, std::vector<uint8_t>{9});
  std::vector<uint8_t> all{0x00, 0x13};
  all.insert(all.end(), a.begin(), a.end());
  all.insert(all.end(), b.begin(), b.end());
  rdcp::Frame f;
  r.Feed(all.data(), 5);
  EXPECT_FALSE(r.Next(&f));
  r.Feed(all.data() + 5, all.size() - 5);
  ASSERT_TRUE(r.Next(&f));
  EXPECT_EQ(f.type, 16);
  EXPECT_EQ(f.payload[5], 6);
  ASSERT_TRUE(r.Next(&f));
  EXPECT_EQ(f.type, 44);
  EXPECT_FALSE(r.Next(&f));
}

TEST(RdcpRecords, SettingsLayoutAndOverlay) {
  uint8_t raw[32];
  for (int i = 0; i < 32; ++i) raw[i] = static_cast<uint8_t>(i + 1);
  raw[12] = 0x00;
  raw[13] = 0x2C;
  raw[14] = 0x01;
  raw[15] = 0x00;  // 0x00012C00
  DvrSettings s = UnpackSettings(raw, 32);
  EXPECT_EQ(s.record_mode, 1);
  EXPECT_EQ(s.input_mask, 2);
  EXPECT_EQ(s.record_frame_rate, 6);
  EXPECT_EQ(s.disk_installed[1], 10);
  EXPECT_EQ(s.disk_capacity[0], 0x00012C00u);
  EXPECT_EQ(s.disk_capacity[0] >> 8, 300u);
  EXPECT_EQ(s.audio_flags, 29);
  EXPECT_EQ(s.audio_available, 30);
  uint8_t back[32];
  PackSettings(s, back);
  EXPECT_EQ(0, std::memcmp(raw, back, 32));

  // A short payload only replaces the bytes it has.
  const uint8_t two[2] = {0xAA, 0xBB};
  UnpackSettingsOver(two, 2, s);
  EXPECT_EQ(s.record_mode, 0xAA);
  EXPECT_EQ(s.input_mask, 0xBB);
  EXPECT_EQ(s.record_mask, 3);
  EXPECT_EQ(SettingsByte(s, settings_offset::kAudioFlags), 29);
  SetSettingsByte(s, settings_offset::kRecordFrameRate, 9);
  EXPECT_EQ(s.record_frame_rate, 9);
  SetSettingsByte(s, 40, 1);  // out of range: ignored
  EXPECT_EQ(SettingsByte(s, 40), 0);
}

TEST(RdcpRecords, StatusTimeAndEventLayouts) {
  const uint8_t st[8] = {6, 2, 0x91, 0, 0, 0, 5, 0};
  DvrStatus s = UnpackStatus(st, 8);
  EXPECT_EQ(s.mode, 6);
  EXPECT_EQ(s.frame_interval, 2);
  EXPECT_EQ(s.stream_filter, 0x91);
  EXPECT_EQ(s.play_speed, 5);
  EXPECT_EQ(UnpackStatus(st, 1).frame_interval, 0);  // missing bytes read as 0

  const uint8_t tm[6] = {59, 58, 23, 31, 12, 99};
  DvrTime t = UnpackTime(tm, 6);
  EXPECT_EQ(t.second, 59);
  EXPECT_EQ(t.year, 99);
  RecTime r = t.ToRecTime();
  EXPECT_EQ(r.year, 99);
  EXPECT_EQ(r.second, 59);
  EXPECT_EQ(DvrTime::FromRecTime(r), t);

  const uint8_t ev[18] = {0x02, 0x01, 0, 0, 1, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EventRecord e = UnpackEvent(ev, 18);
  EXPECT_EQ(e.id, 0x102u);  // little-endian
  EXPECT_EQ(e.disk, 1);
  EXPECT_EQ(e.kind, 2);
  EXPECT_EQ(e.start.second, 1);
  EXPECT_EQ(e.start.year, 6);
  EXPECT_EQ(e.end.year, 12);
  uint8_t back[18];
  PackEvent(e, back);
  EXPECT_EQ(0, std::memcmp(ev, back, 18));
}

TEST(RdcpRecords, TimeOrderIsYearFirst) {
  DvrTime a = UnpackTime(std::array<uint8_t, 6>{0, 0, 0, 1, 1, 10}.data(), 6);
  DvrTime b = UnpackTime(std::array<uint8_t, 6>{59, 59, 23, 31, 12, 9}.data(), 6);
  EXPECT_GT(CompareDvrTime(a, b), 0);
  EXPECT_LT(CompareDvrTime(b, a), 0);
  EXPECT_EQ(CompareDvrTime(a, a), 0);
}

TEST(RdcpRecords, SchedulePacking) {
  uint8_t hours[24] = {1, 2, 3, 0};
  RecordSchedule s = RecordSchedule::Pack(hours);
  EXPECT_EQ(s.bytes, (std::array<uint8_t, 6>{0x39, 0, 0, 0, 0, 0}));
  hours[23] = 3;
  hours[5] = 7;  // only the low two bits count
  s = RecordSchedule::Pack(hours);
  EXPECT_EQ(s.bytes[5], 0xC0);
  EXPECT_EQ(s.bytes[1], 0x0C);
  uint8_t back[24];
  s.Unpack(back);
  EXPECT_EQ(back[5], 3);
  EXPECT_EQ(back[23], 3);
  EXPECT_EQ(back[2], 3);
}

TEST(RdcpRequests, PasswordPlayFromAndPlayEventPayloads) {
  uint8_t pw[6];
  ASSERT_TRUE(rdcp::PackPassword("7B09af", pw));
  EXPECT_EQ(std::vector<uint8_t>(pw, pw + 6), (std::vector<uint8_t>{7, 0x0B, 0, 9, 10, 15}));
  EXPECT_FALSE(rdcp::PackPassword("12345G", pw));

  uint8_t ev[5];
  rdcp::PackPlayEvent(1, 0x00000102, ev);
  EXPECT_EQ(std::vector<uint8_t>(ev, ev + 5), (std::vector<uint8_t>{1, 0, 0, 1, 2}));
  uint8_t disk = 9;
  uint32_t id = 0;
  ASSERT_TRUE(rdcp::UnpackPlayEvent(ev, 5, &disk, &id));
  EXPECT_EQ(disk, 1);
  EXPECT_EQ(id, 0x102u);
  EXPECT_FALSE(rdcp::UnpackPlayEvent(ev, 4, &disk, &id));

  DvrTime t = UnpackTime(std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}.data(), 6);
  uint8_t pf[7];
  rdcp::PackPlayFrom(0, t, pf);
  EXPECT_EQ(std::vector<uint8_t>(pf, pf + 7), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6}));
  DvrTime back;
  ASSERT_TRUE(rdcp::UnpackPlayFrom(pf, 7, &disk, &back));
  EXPECT_EQ(back, t);
}

TEST(RdcpRequests, ReplyTypesAndLongWaits) {
  EXPECT_EQ(rdcp::ReplyTypeFor(rdcp::kOpenSession), 64);
  EXPECT_EQ(rdcp::ReplyTypeFor(rdcp::kSetRecordFrameRate), 77);
  EXPECT_EQ(rdcp::ReplyTypeFor(rdcp::kSetAudioFlags), 93);
  EXPECT_EQ(rdcp::ReplyTypeFor(rdcp::kChallengeAnswer), 0);
  for (uint8_t t : {19, 20, 22, 34, 42}) EXPECT_TRUE(rdcp::IsLongWait(t)) << int(t);
  for (uint8_t t : {16, 21, 23, 35, 41, 45}) EXPECT_FALSE(rdcp::IsLongWait(t)) << int(t);
}

}  // namespace
}  // namespace rd
