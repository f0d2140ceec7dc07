#include <unistd.h>

#include <fstream>
#include <random>

#include "PlayerFixture.h"
#include "tools/dvrsim/MakeDisk.h"

namespace rdtest {
namespace {

std::string MakeImage(const std::filesystem::path& path, int64_t start, const char* events) {
  rd::sim::MakeDiskOptions o;
  o.out = path.string();
  o.size = 32ull << 20;
  o.duration_s = 20;
  o.start = start;
  o.events = events;
  o.quiet = true;
  rd::sim::MakeDiskResult made;
  std::string error;
  EXPECT_TRUE(rd::sim::MakeDisk(o, nullptr, &made, &error)) << error;
  return o.out;
}

}  // namespace

const PlayerImages& Images() {
  static const PlayerImages images = [] {
    PlayerImages i;
    std::random_device rd;
    i.dir = std::filesystem::temp_directory_path() /
            ("rd-player-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(i.dir);
    i.image =
        MakeImage(i.dir / "demo.img", 1'714'564'800, "alarm@5+3,time@12+4");  // 2024-05-01 12:00
    i.second = MakeImage(i.dir / "second.img", 1'714'568'400, "");            // 13:00
    rd::DvrDisk disk;
    EXPECT_TRUE(disk.DetectDvrDisk(i.image));
    i.marker = disk.marker_sector();
    // The same disk with the data flag (first byte of sector M - 5) cleared.
    i.no_data = (i.dir / "nodata.img").string();
    std::filesystem::copy_file(i.image, i.no_data);
    {
      std::fstream f(i.no_data, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>((i.marker - 5) * 512));
      f.put(0);
    }
    i.plain = (i.dir / "plain.bin").string();
    std::ofstream(i.plain, std::ios::binary) << std::string(1 << 20, '\0');
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Images().dir, ec);
    });
    return i;
  }();
  return images;
}

}  // namespace rdtest
