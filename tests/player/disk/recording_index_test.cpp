// The recording index: status sector, span, event lines and the time search.

#include "player/disk/RecordingIndex.h"

#include <gtest/gtest.h>

#include <cmath>

#include "player/disk/DiskFixture.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

constexpr RecTime kBase{3, 5, 12, 14, 30, 0};  // 2003-05-12 14:30:00

TEST(TimeToSecondsTest, KnownDates) {
  struct Case {
    RecTime time;
    uint32_t seconds;
  };
  const Case cases[] = {
      {{0, 1, 1, 0, 0, 0}, 946'684'800u},
      {{24, 2, 29, 12, 34, 56}, 1'709'210'096u},
      {{3, 12, 31, 23, 59, 59}, 1'072'915'199u},
      {{4, 1, 1, 0, 0, 0}, 1'072'915'200u},
      {{99, 12, 31, 23, 59, 59}, 4'102'444'799u},
      {{0, 3, 1, 0, 0, 0}, 951'868'800u},
      // Bit 7 of the year byte is the audio flag, not part of the year.
      {{0x83, 12, 31, 23, 59, 59}, 1'072'915'199u},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeToSeconds(c.time), c.seconds) << c.time.Format();
}

TEST(StatusSectorTest, DecodesDiskOrderAndRoundTripsThroughTheWriter) {
  const uint8_t bytes[4] = {0x12, 0x85, 0x78, 0x56};
  EXPECT_EQ(DecodeDiskStatus(bytes), (DiskStatus{0x0512'5678, true}));
  const uint8_t plain[4] = {0x00, 0x00, 0xE8, 0x03};
  EXPECT_EQ(DecodeDiskStatus(plain), (DiskStatus{1000, false}));

  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "disk.img", 20'000, DiskLayout::kStandard));
  DvrDisk disk;
  disk.set_device_path((dir / "disk.img").string());
  RecordingIndex index(disk, image.marker_sector(), image.area_sectors());
  for (const DiskStatus status : {DiskStatus{0x7FFF'FFFF, true}, DiskStatus{1234, false}}) {
    ASSERT_TRUE(image.WriteStatus(status));
    EXPECT_EQ(index.ReadStatus(), status);
  }
}

// An image of `packets` recorded packets, 5 s apart from kBase; wrapped
// rings hold the older part from W upward.
class IndexTest : public ::testing::Test {
 protected:
  static constexpr uint64_t kSectors = 20'000;  // AP = 2498

  void Build(uint32_t w, bool wrapped, int seconds_per_packet = 5, RecTime base = kBase) {
    ASSERT_TRUE(image_.Create(dir_ / "disk.img", kSectors, DiskLayout::kStandard));
    ap_ = image_.packet_capacity();
    auto time = [&, w, wrapped](uint64_t p) {
      // Age order: oldest packet first.
      const uint64_t age = wrapped ? (p >= w ? p - w : p + ap_ - w) : p;
      return rdtest::AddSeconds(base, static_cast<int64_t>(age) * seconds_per_packet);
    };
    rdtest::WriteTimedPackets(image_, 0, wrapped ? ap_ : w, time);
    ASSERT_TRUE(image_.WriteStatus({w, wrapped}));
    disk_.set_device_path((dir_ / "disk.img").string());
    index_ = std::make_unique<RecordingIndex>(disk_, image_.marker_sector(), image_.area_sectors());
    for (uint64_t p = 0; p < ap_; ++p) times_.push_back(time(p));
  }

  RecordingSpan Span() {
    RecordingSpan span;
    EXPECT_EQ(index_->ReadSpan(&span), SpanResult::kOk);
    return span;
  }

  rdtest::TempDir dir_;
  DvrDiskImage image_;
  DvrDisk disk_;
  std::unique_ptr<RecordingIndex> index_;
  uint64_t ap_ = 0;
  std::vector<RecTime> times_;
};

TEST_F(IndexTest, SpanNotWrapped) {
  Build(1000, false);
  const auto span = Span();
  EXPECT_EQ(span.first_packet, 0u);
  EXPECT_EQ(span.last_packet, 999u);
  EXPECT_EQ(span.start, kBase);
  EXPECT_EQ(span.end, times_[999]);
  EXPECT_EQ(span.default_search, times_[1]);
  EXPECT_EQ(span.first_segment.start_probe, 999u);
  EXPECT_EQ(span.first_segment.step, 500u);
  EXPECT_FALSE(span.second_segment);
}

TEST_F(IndexTest, SpanWrapped) {
  Build(300, true);
  const auto span = Span();
  EXPECT_EQ(span.first_packet, 300u);
  EXPECT_EQ(span.last_packet, 299u);
  EXPECT_EQ(span.start, kBase);
  EXPECT_EQ(span.end, times_[299]);
  EXPECT_EQ(span.first_segment.start_probe, 299u);
  EXPECT_EQ(span.first_segment.step, 150u);
  ASSERT_TRUE(span.second_segment);
  EXPECT_EQ(span.second_segment->start_probe, 300u);
  EXPECT_EQ(span.second_segment->step, (ap_ - 300) / 2);
}

TEST_F(IndexTest, SpanWrappedWithWZeroProbesLastPacketThenSecondSegment) {
  Build(0, true);
  const auto span = Span();
  EXPECT_EQ(span.first_packet, 0u);
  EXPECT_EQ(span.last_packet, ap_ - 1);
  EXPECT_EQ(span.first_segment.start_probe, ap_ - 1);
  EXPECT_EQ(span.first_segment.step, 0u);
  ASSERT_TRUE(span.second_segment);
  EXPECT_EQ(span.second_segment->start_probe, 0u);
  EXPECT_EQ(span.second_segment->step, ap_ / 2);

  uint64_t position = 0;
  // Newest packet: one probe. Oldest packet (0): one more probe in the second segment.
  ASSERT_TRUE(index_->FindTime(times_[ap_ - 1], span, &position));
  EXPECT_EQ(position, (ap_ - 1) * kPacketSize);
  EXPECT_EQ(index_->last_probe_count(), 1);
  ASSERT_TRUE(index_->FindTime(times_[0], span, &position));
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(index_->last_probe_count(), 2);
}

TEST_F(IndexTest, NoDataFlagOrNoRecordedPacketGivesNoSpan) {
  Build(1000, false);
  RecordingSpan span;
  ASSERT_TRUE(image_.SetDataPresent(false));
  EXPECT_EQ(index_->ReadSpan(&span), SpanResult::kNoData);
  ASSERT_TRUE(image_.WriteStatus({0, false}));  // data flag on, nothing recorded
  EXPECT_EQ(index_->ReadSpan(&span), SpanResult::kNoData);
  ASSERT_TRUE(image_.WriteStatus({static_cast<uint32_t>(ap_ + 1), false}));  // outside the ring
  EXPECT_EQ(index_->ReadSpan(&span), SpanResult::kNoData);
}

TEST_F(IndexTest, FindTimeExactNeighboursAndTwoSecondsOff) {
  Build(1000, false);
  const auto span = Span();
  uint64_t position = 77;
  ASSERT_TRUE(index_->FindTime(times_[999], span, &position));
  EXPECT_EQ(position, 999u * kPacketSize);
  EXPECT_EQ(index_->last_probe_count(), 1);

  // Packet 749 is the third probe (999 -> 499 -> 749).
  for (int offset : {-1, 0, 1}) {
    position = 0;
    ASSERT_TRUE(index_->FindTime(rdtest::AddSeconds(times_[749], offset), span, &position))
        << offset;
    EXPECT_EQ(position, 749u * kPacketSize);
    EXPECT_EQ(index_->last_probe_count(), 3);
  }
  for (int offset : {-2, 2}) {
    position = 77;
    EXPECT_FALSE(index_->FindTime(rdtest::AddSeconds(times_[749], offset), span, &position));
    EXPECT_EQ(position, 77u);  // unchanged
    EXPECT_LE(index_->last_probe_count(), 10);
  }
}

TEST_F(IndexTest, FindTimeSearchesTheSecondSegmentOfAWrappedRing) {
  Build(300, true);
  const auto span = Span();
  uint64_t position = 0;
  // The oldest packet (W) is the first probe of the second segment.
  ASSERT_TRUE(index_->FindTime(times_[300], span, &position));
  EXPECT_EQ(position, 300u * kPacketSize);
  const int first_segment_probes = 1 + static_cast<int>(std::log2(150));
  EXPECT_EQ(index_->last_probe_count(), first_segment_probes + 1);
  // The newest packet is found in the first segment at once.
  ASSERT_TRUE(index_->FindTime(times_[299], span, &position));
  EXPECT_EQ(position, 299u * kPacketSize);
  EXPECT_EQ(index_->last_probe_count(), 1);
}

TEST_F(IndexTest, FindTimeAcrossTheYearEnd) {
  // 2003-12-31 23:30:00 onward, one packet per 2 s: the recording crosses New Year.
  Build(2400, false, 2, RecTime{3, 12, 31, 23, 30, 0});
  const auto span = Span();
  EXPECT_EQ(span.end.year, 4);
  const RecTime new_year{4, 1, 1, 0, 0, 0};
  EXPECT_EQ(rdtest::EpochSeconds(new_year) - rdtest::EpochSeconds(times_[0]), 1800);
  // The probes must order December before January: the newest packet's time
  // (January) is found in one probe and a January time in the middle too.
  uint64_t position = 0;
  ASSERT_TRUE(index_->FindTime(span.end, span, &position));
  EXPECT_EQ(position, 2399u * kPacketSize);
  ASSERT_TRUE(index_->FindTime(times_[1199], span, &position));  // 2399 -> 1199
  EXPECT_EQ(position, 1199u * kPacketSize);
  EXPECT_EQ(times_[1199].month, 1);
}

TEST_F(IndexTest, TargetsOutsideTheRecordingAreNotFoundAndNoProbeLeavesIt) {
  Build(1000, false);
  const auto span = Span();
  rdtest::ProbeOpener probe;
  DvrDisk disk(probe.opener());
  disk.set_device_path((dir_ / "disk.img").string());
  RecordingIndex index(disk, image_.marker_sector(), image_.area_sectors());
  uint64_t position = 5;
  for (int64_t offset : {-100'000, -10, 10, 100'000}) {
    const RecTime target = rdtest::AddSeconds(offset < 0 ? times_[0] : times_[999], offset);
    EXPECT_FALSE(index.FindTime(target, span, &position)) << offset;
    EXPECT_LE(index.last_probe_count(), 11);
  }
  EXPECT_EQ(position, 5u);
  for (const auto& [offset, size] : probe.log().reads) {
    EXPECT_LT(offset / kPacketSize, 1000u) << "probe outside the recorded packets";
    EXPECT_EQ(size, kSectorSize);
  }
}

TEST_F(IndexTest, WrappedSearchNeverReadsPastTheAreaEnd) {
  Build(0, true);
  const auto span = Span();
  rdtest::ProbeOpener probe;
  DvrDisk disk(probe.opener());
  disk.set_device_path((dir_ / "disk.img").string());
  RecordingIndex index(disk, image_.marker_sector(), image_.area_sectors());
  uint64_t position = 0;
  EXPECT_FALSE(index.FindTime(rdtest::AddSeconds(times_[ap_ - 1], 3600), span, &position));
  EXPECT_FALSE(index.FindTime(rdtest::AddSeconds(times_[0], -3600), span, &position));
  for (const auto& [offset, size] : probe.log().reads) {
    EXPECT_LE(offset + size, image_.area_sectors() * kSectorSize);
  }
}

TEST_F(IndexTest, FailedProbeReadEndsTheSegmentWithoutAMatch) {
  Build(1000, false);
  const auto span = Span();
  rdtest::ProbeOpener probe;
  probe.log().fail_sectors = {499 * kSectorsPerPacket};
  DvrDisk disk(probe.opener());
  disk.set_device_path((dir_ / "disk.img").string());
  RecordingIndex index(disk, image_.marker_sector(), image_.area_sectors());
  uint64_t position = 0;
  EXPECT_FALSE(index.FindTime(times_[749], span, &position));
  EXPECT_EQ(index.last_probe_count(), 2);
}

TEST(PacketTimeTest, YearBitSevenIsMaskedInAVideoPacket) {
  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "disk.img", 20'000, DiskLayout::kStandard));
  uint8_t packet[kPacketSize];
  DvrDiskImage::MakeVideoPacket(kBase, 1, 0x0F, nullptr, 0, packet);
  packet[0] |= 0x80;  // bit 7 set, but no F1 F2: still a video packet
  packet[7] = 0xF3;
  ASSERT_EQ(ClassifyPacket(packet), PacketKind::kVideo);
  ASSERT_TRUE(image.WritePacket(0, packet));
  ASSERT_TRUE(image.WritePacket(1, packet));
  ASSERT_TRUE(image.WriteStatus({2, false}));
  DvrDisk disk;
  disk.set_device_path((dir / "disk.img").string());
  RecordingIndex index(disk, image.marker_sector(), image.area_sectors());
  EXPECT_EQ(index.PacketTime(0), kBase);
  RecordingSpan span;
  ASSERT_EQ(index.ReadSpan(&span), SpanResult::kOk);
  EXPECT_EQ(FormatDiskTime(span.end), "03/05/12  14:30:00");
  uint64_t position = 1;
  EXPECT_TRUE(index.FindTime(kBase, span, &position));
  EXPECT_EQ(position, kPacketSize);
  EXPECT_FALSE(index.PacketTime(image.packet_capacity()));  // outside the area
}

TEST(EventListTest, LinesInRecordOrderSkippingEmptyRecords) {
  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "disk.img", 20'000, DiskLayout::kStandard));
  const RecTime s1{3, 5, 12, 14, 30, 0}, e1{3, 5, 12, 15, 0, 59};
  const RecTime s2{4, 1, 2, 3, 4, 5}, e2{4, 1, 2, 3, 9, 7};
  ASSERT_TRUE(image.WriteEvent(0, {true, s1, e1}));
  ASSERT_TRUE(image.WriteEvent(1, {false, s2, e2}));
  ASSERT_TRUE(image.WriteEvent(40, {false, s1, e2}));  // third event sector
  ASSERT_TRUE(image.WriteEvent(63, {true, s2, e1}));   // last record of M-2
  ASSERT_TRUE(image.SetDataPresent(true));
  ASSERT_TRUE(image.Finish());

  DvrDisk disk;
  disk.set_device_path((dir / "disk.img").string());
  const uint64_t m = 19'999;
  RecordingIndex index(disk, m, *AreaSectors(m, DiskLayout::kStandard));
  const auto lines = index.ListEvents();
  ASSERT_TRUE(lines);
  EXPECT_EQ(*lines, (std::vector<std::string>{
                        "03/05/12  14:30:00 - 03/05/12  15:00:59  TIME",
                        "04/01/02  03:04:05 - 04/01/02  03:09:07  ALARM",
                        "03/05/12  14:30:00 - 04/01/02  03:09:07  ALARM",
                        "04/01/02  03:04:05 - 03/05/12  15:00:59  TIME",
                    }));

  // Clearing the data flag hides every event, even those in later sectors.
  ASSERT_TRUE(image.Open(dir / "disk.img", DiskLayout::kStandard));
  EXPECT_EQ(image.next_event_slot(), 0u);  // after slot 63 comes 0
  ASSERT_TRUE(image.SetDataPresent(false));
  const auto none = index.ListEvents();
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

// A damaged byte widens its column of the line; the record's times stay
// where they are.
TEST(EventListTest, RecordsCarryTheirOwnTimes) {
  uint8_t record[kDiskEventRecordSize]{};
  const uint8_t start[6] = {30, 0, 12, 14, 123, 5};  // minute, second, day, hour, year, month
  const uint8_t end[6] = {45, 9, 12, 14, 3, 5};
  std::copy(start, start + 6, record + kEventStartOffset);
  std::copy(end, end + 6, record + kEventEndOffset);
  record[kEventTypeOffset] = kEventTypeTimer;
  const auto e = ReadEventRecord(record);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->line, "123/05/12  14:30:00 - 03/05/12  14:45:09  TIME");
  EXPECT_TRUE(e->timer);
  EXPECT_EQ(e->start, (RecTime{123, 5, 12, 14, 30, 0}));
  EXPECT_EQ(e->end, (RecTime{3, 5, 12, 14, 45, 9}));
}

TEST(EventListTest, TypeByteDecidesTimeOrAlarm) {
  struct Case {
    uint8_t type;
    const char* word;
  };
  for (const Case c :
       {Case{0x54, "TIME"}, Case{0x41, "ALARM"}, Case{0x00, "ALARM"}, Case{0xD4, "ALARM"}}) {
    uint8_t record[kDiskEventRecordSize]{};
    record[kEventTypeOffset] = c.type;
    record[kEventStartOffset + kEvYear] = 9;
    record[kEventStartOffset + kEvMonth] = 10;
    record[kEventStartOffset + kEvDay] = 11;
    const auto line = FormatEventLine(record);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, std::string("09/10/11  00:00:00 - 00/00/00  00:00:00  ") + c.word);
  }
  uint8_t empty[kDiskEventRecordSize]{};
  empty[kEventTypeOffset] = 0x54;
  EXPECT_FALSE(ReadEventRecord(empty));
  empty[kEventEndOffset + kEvYear] = 3;
  EXPECT_FALSE(FormatEventLine(empty));
}

}  // namespace
}  // namespace rd
