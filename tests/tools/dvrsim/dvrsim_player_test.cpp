// Images from make-disk opened with the player's own disk code: detection by
// the marker walk, the recording span, the event lines and the time search.

#include <gtest/gtest.h>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "tests/support/TestSupport.h"
#include "tools/dvrsim/MakeDisk.h"

namespace rd::sim {
namespace {

TEST(MakeDiskInThePlayer, IsDetectedIndexedAndSearchable) {
  for (bool network : {false, true}) {
    SCOPED_TRACE(network ? "network" : "standard");
    rdtest::TempDir dir;
    MakeDiskOptions o;
    o.out = (dir / "disk.img").string();
    o.size = network ? (1100ull << 20) : (48ull << 20);
    o.duration_s = 30;
    o.start = *ParseCalendarTime("2024-05-01 12:00:00");
    o.events = "alarm@5+10,time@0+30";
    MakeDiskResult r;
    std::string err;
    ASSERT_TRUE(MakeDisk(o, nullptr, &r, &err)) << err;

    DvrDisk disk;
    disk.SetNetworkVersion(network);
    ASSERT_TRUE(disk.DetectDvrDisk(o.out));
    const uint64_t marker = disk.marker_sector();
    EXPECT_EQ(marker, o.size / 512 - 1);
    disk.set_device_path(o.out);
    auto area = AreaSectors(marker, network ? DiskLayout::kNetwork : DiskLayout::kStandard);
    ASSERT_TRUE(area);
    RecordingIndex index(disk, marker, *area);
    RecordingSpan span;
    ASSERT_EQ(index.ReadSpan(&span), SpanResult::kOk);
    EXPECT_FALSE(span.status.wrapped);
    EXPECT_EQ(span.status.next_packet, r.next_packet);
    EXPECT_EQ(span.start, (RecTime{24, 5, 1, 12, 0, 0}));
    EXPECT_EQ(span.end.minute, 0);
    EXPECT_GE(span.end.second, 28);
    auto lines = index.ListEvents();
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 2u);
    EXPECT_EQ((*lines)[0], "24/05/01  12:00:05 - 24/05/01  12:00:15  ALARM");
    EXPECT_EQ((*lines)[1], "24/05/01  12:00:00 - 24/05/01  12:00:30  TIME");
    uint64_t pos = 0;
    ASSERT_TRUE(index.FindTime(RecTime{24, 5, 1, 12, 0, 17}, span, &pos));
    auto t = index.PacketTime(pos / 4096);
    ASSERT_TRUE(t);
    EXPECT_LE(std::abs(static_cast<int>(t->second) - 17), 1);
  }
}

}  // namespace
}  // namespace rd::sim
