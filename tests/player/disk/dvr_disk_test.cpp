// Detection of DVR disks: the walk from T - 50, the three-failures rule, the
// marker occurrence, the drive scan and mapping, area sizes and data flag.

#include "player/disk/DvrDisk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "player/disk/DiskFixture.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

constexpr uint64_t kImageSectors = 20'000;  // one cylinder of 16065 and some more

std::string MakeImage(const rdtest::TempDir& dir, const std::string& name,
                      DvrDiskImage::CreateOptions options) {
  DvrDiskImage image;
  const auto path = dir / name;
  EXPECT_TRUE(image.Create(path, options)) << image.error();
  EXPECT_TRUE(image.Finish());
  return path.string();
}

std::string MakeImage(const rdtest::TempDir& dir, const std::string& name,
                      uint64_t sectors = kImageSectors) {
  return MakeImage(dir, name, {sectors, DiskLayout::kStandard, std::nullopt});
}

TEST(AreaSectorsTest, StandardAndNetworkLayouts) {
  struct Case {
    uint64_t marker;
    DiskLayout layout;
    std::optional<uint64_t> area;
  };
  const Case cases[] = {
      {1'000'015, DiskLayout::kStandard, 1'000'008},
      {1'000'020, DiskLayout::kStandard, 1'000'008},
      {1'000'023, DiskLayout::kStandard, 1'000'016},
      {3'000'047, DiskLayout::kNetwork, 1'000'008},
      {3'000'050, DiskLayout::kNetwork, 1'000'016},
      {3'000'055, DiskLayout::kNetwork, 1'000'016},
      // At or below 2,000,039 the network area is undefined (no wrap-around).
      {2'000'039, DiskLayout::kNetwork, std::nullopt},
      {100, DiskLayout::kNetwork, std::nullopt},
      {2'000'040, DiskLayout::kNetwork, 8},
      {14, DiskLayout::kStandard, std::nullopt},
      {15, DiskLayout::kStandard, 8},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AreaSectors(c.marker, c.layout), c.area) << c.marker;
  }
}

TEST(DvrDiskTest, FindsSingleMarkerBeyondGeometryWithEitherOccurrence) {
  rdtest::TempDir dir;
  const auto path = MakeImage(dir, "disk.img");
  for (bool network : {false, true}) {
    DvrDisk disk;
    disk.SetNetworkVersion(network);
    EXPECT_EQ(disk.MarkerOccurrence(), network ? 1 : 2);
    ASSERT_TRUE(disk.DetectDvrDisk(path)) << network;
    EXPECT_EQ(disk.marker_sector(), kImageSectors - 1);
    EXPECT_EQ(disk.geometry().cylinders, 1u);
    // The walk starts at T - 50 = 16015 and ends after three failed reads.
    const uint64_t walk = kImageSectors - 16'015 + (network ? 0 : 3);
    EXPECT_EQ(disk.detect_reads(), walk);
  }
}

TEST(DvrDiskTest, TwoMarkersChosenByNetworkFlag) {
  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "two.img", kImageSectors, DiskLayout::kStandard));
  ASSERT_TRUE(image.WriteMarker(kImageSectors - 300));
  ASSERT_TRUE(image.Finish());
  DvrDisk disk;
  disk.SetNetworkVersion(true);
  ASSERT_TRUE(disk.DetectDvrDisk((dir / "two.img").string()));
  EXPECT_EQ(disk.marker_sector(), kImageSectors - 300);
  disk.SetNetworkVersion(false);
  ASSERT_TRUE(disk.DetectDvrDisk((dir / "two.img").string()));
  EXPECT_EQ(disk.marker_sector(), kImageSectors - 1);
}

TEST(DvrDiskTest, MarkerMustBeStoredPairSwapped) {
  rdtest::TempDir dir;
  const auto path = (dir / "raw.img").string();
  {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> zeros(kImageSectors * kSectorSize);
    std::memcpy(zeros.data() + (kImageSectors - 1) * kSectorSize, "KORVELT!", 8);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  DvrDisk disk;
  EXPECT_FALSE(disk.DetectDvrDisk(path));
}

TEST(DvrDiskTest, MarkerBelowTheWalkStartIsNotFound) {
  rdtest::TempDir dir;
  // 40,000 sectors: T = 32,130, the walk starts at 32,080.
  const auto path = MakeImage(dir, "low.img", {40'000, DiskLayout::kStandard, 30'000});
  DvrDisk disk;
  EXPECT_FALSE(disk.DetectDvrDisk(path));
}

TEST(DvrDiskTest, SmallImageWalksFromSectorZero) {
  rdtest::TempDir dir;
  const auto path = MakeImage(dir, "small.img", 3'000);  // T = 0
  DvrDisk disk;
  ASSERT_TRUE(disk.DetectDvrDisk(path));
  EXPECT_EQ(disk.marker_sector(), 2'999u);
}

TEST(DvrDiskTest, ReadFailuresOneOrTwoInARowAreSkippedThreeEndTheWalk) {
  rdtest::TempDir dir;
  const auto path = MakeImage(dir, "disk.img");
  const uint64_t m = kImageSectors - 1;
  {
    rdtest::ProbeOpener probe;
    probe.log().fail_sectors = {m - 10, m - 5, m - 4};
    DvrDisk disk(probe.opener());
    ASSERT_TRUE(disk.DetectDvrDisk(path));
    EXPECT_EQ(disk.marker_sector(), m);
  }
  {
    rdtest::ProbeOpener probe;
    probe.log().fail_sectors = {m - 3, m - 2, m - 1};
    DvrDisk disk(probe.opener());
    EXPECT_FALSE(disk.DetectDvrDisk(path));
  }
  {
    // Failing marker read: the walk goes on, meets the end and finds nothing.
    rdtest::ProbeOpener probe;
    probe.log().fail_sectors = {m};
    DvrDisk disk(probe.opener());
    EXPECT_FALSE(disk.DetectDvrDisk(path));
  }
}

TEST(DvrDiskTest, TruncatedImagesAndDevicesSmallerThanClaimedAreNoDvrDisks) {
  rdtest::TempDir dir;
  const auto path = MakeImage(dir, "disk.img");
  {
    // A device claiming twice its size: the walk starts beyond its end,
    // three reads fail and it ends there.
    rdtest::ProbeOpener probe;
    probe.log().size_override = 2 * kImageSectors * kSectorSize;
    DvrDisk disk(probe.opener());
    EXPECT_FALSE(disk.DetectDvrDisk(path));
    EXPECT_EQ(disk.detect_reads(), 3u);
  }
  // A copy cut short loses its marker.
  std::filesystem::resize_file(path, (kImageSectors - 1) * kSectorSize);
  DvrDisk disk;
  EXPECT_FALSE(disk.DetectDvrDisk(path));
}

TEST(DvrDiskTest, GeometryFailureShowsReadHddFault) {
  rdtest::TempDir dir;
  const auto path = MakeImage(dir, "disk.img");
  rdtest::ProbeOpener probe;
  probe.log().fail_size = true;
  DvrDisk disk(probe.opener());
  std::vector<std::string> messages;
  disk.set_box_text_sink([&](const std::string& text) { messages.push_back(text); });
  EXPECT_FALSE(disk.DetectDvrDisk(path));
  EXPECT_EQ(messages, std::vector<std::string>{"READ HDD FAULT"});
  // A missing drive is not a DVR disk, without a message.
  EXPECT_FALSE(disk.DetectDvrDisk((dir / "missing.img").string()));
  EXPECT_EQ(messages.size(), 1u);
}

TEST(DvrDiskTest, ScanLooksAtDrivesOneToNineOnly) {
  rdtest::TempDir dir;
  DriveMap drives;
  drives.Set(0, MakeImage(dir, "d0.img"));
  drives.Set(1, MakeImage(dir, "d1.img"));
  drives.Set(2, (dir / "plain.bin").string());
  rdtest::WriteFile(dir / "plain.bin", std::vector<unsigned char>(64 * 1024, 0x55));
  drives.Set(3, MakeImage(dir, "d3.img", {kImageSectors, DiskLayout::kStandard, 19'990}));
  drives.Set(5, (dir / "missing.img").string());
  drives.Set(10, MakeImage(dir, "d10.img"));
  DvrDisk disk;
  disk.Scan(drives);
  DiskTable expected{};
  expected[1] = kImageSectors - 1;
  expected[3] = 19'990;
  EXPECT_EQ(disk.disk_table(), expected);
}

TEST(DriveMapTest, ParsesDriveLists) {
  std::string error;
  auto map = DriveMap::Parse("1=/path/disk.img,3=/dev/sdc", &error);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->PathOf(1), "/path/disk.img");
  EXPECT_EQ(map->PathOf(3), "/dev/sdc");
  EXPECT_EQ(map->PathOf(2), std::nullopt);
  for (const char* bad : {"1", "=/x", "x=/y", "11=/y", "1=", "123=/y"}) {
    EXPECT_FALSE(DriveMap::Parse(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(DriveMapTest, SysBlockOrderGroupsThenNaturalOrder) {
  rdtest::TempDir dir;
  for (const char* name : {"loop0", "sdb", "sda", "sdaa", "nvme10n1", "nvme2n1", "vda", "mmcblk0",
                           "mmcblk0boot0", "hda", "sr0", "dm-0"}) {
    std::filesystem::create_directory(dir / name);
  }
  const auto map = DriveMap::FromSysBlock(dir.path(), "/dev");
  std::vector<std::string> order;
  for (const auto& [drive, path] : map.entries()) order.push_back(path);
  EXPECT_EQ(order, (std::vector<std::string>{"/dev/sda", "/dev/sdb", "/dev/sdaa", "/dev/vda",
                                             "/dev/nvme2n1", "/dev/nvme10n1", "/dev/mmcblk0",
                                             "/dev/hda"}));
  EXPECT_EQ(map.entries().begin()->first, 0);
}

TEST(DvrDiskTest, DataPresentFlagAndReadSectorsBounds) {
  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "disk.img", kImageSectors, DiskLayout::kStandard));
  DvrDisk disk;
  disk.set_device_path((dir / "disk.img").string());
  const uint64_t m = image.marker_sector();
  EXPECT_EQ(disk.DataPresent(m), false);
  ASSERT_TRUE(image.WriteStatus({5, false}));
  EXPECT_EQ(disk.DataPresent(m), true);
  ASSERT_TRUE(image.Finish());

  auto device = OpenSectorDevice((dir / "disk.img").string(), nullptr);
  ASSERT_TRUE(device);
  uint8_t buf[2 * kSectorSize];
  EXPECT_EQ(DvrDisk::ReadSectors(*device, buf, m - 1, 2), 2 * kSectorSize);
  EXPECT_EQ(DvrDisk::ReadSectors(*device, buf, m, 2), 0u);  // past the end
  EXPECT_EQ(DvrDisk::ReadSectors(*device, buf, ~uint64_t{0} - 1, 1), 0u);
}

}  // namespace
}  // namespace rd
