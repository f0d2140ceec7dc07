// dvrdisk on images written by the emulated DVR's make-disk: a ring that has
// wrapped across New Year, searched in both segments, and a network-layout disk.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sstream>

#include "support/TestSupport.h"
#include "tools/dvrdisk/DvrDiskTool.h"
#include "tools/dvrdisk/ToolOutput.h"
#include "tools/dvrsim/MakeDisk.h"

namespace rd::dvrdisk {
namespace {

TEST(SimImageTest, WrappedRingAcrossNewYearIsSearchedInBothSegments) {
  rdtest::TempDir dir;
  sim::MakeDiskOptions o;
  o.out = (dir / "wrapped.img").string();
  o.size = 2 * 1024 * 1024;
  o.duration_s = 5;
  o.start = 1'735'689'580;  // 2024-12-31 23:59:40
  o.wrap = true;
  o.events = "alarm@17+3";
  o.quiet = true;
  sim::MakeDiskResult made;
  std::string error;
  ASSERT_TRUE(sim::MakeDisk(o, nullptr, &made, &error)) << error;
  ASSERT_TRUE(made.wrapped);

  const auto info = Tool({"info", o.out});
  ASSERT_EQ(info.status, kExitOk) << info.err;
  EXPECT_TRUE(info.json["wrapped"].toBool());
  const auto w = info.json["write_packet"].toInteger();
  EXPECT_EQ(w, static_cast<qint64>(made.next_packet));
  EXPECT_EQ(info.json["first_packet"].toInteger(), w);
  EXPECT_EQ(info.json["last_packet"].toInteger(), w - 1);
  ASSERT_EQ(info.json["events"].toArray().size(), 1);
  EXPECT_EQ(info.json["events"].toArray()[0].toString(),
            "24/12/31  23:59:57 - 25/01/01  00:00:00  ALARM");

  // What the ring still holds runs from the old year into the new one.
  const std::string start = info.json["start"].toString().toStdString();
  const std::string end = info.json["end"].toString().toStdString();
  EXPECT_EQ(start.substr(0, 9), "24/12/31 ");
  EXPECT_EQ(end.substr(0, 9), "25/01/01 ");
  // The newest packet lies in the first segment, the oldest in the second.
  for (const auto& [time, low, high] :
       {std::tuple{end, qint64{0}, w - 1}, std::tuple{start, w, qint64{1} << 40}}) {
    const auto found = Tool({"find", o.out, time});
    ASSERT_EQ(found.status, kExitOk) << time << found.err;
    EXPECT_GE(found.json["packet"].toInteger(), low) << time;
    EXPECT_LE(found.json["packet"].toInteger(), high) << time;
  }
  EXPECT_EQ(Tool({"find", o.out, "24/12/31 23:00:00"}).status, kExitNotFound);

  const auto frames = Tool({"frames", o.out, "--at", "0"});
  ASSERT_EQ(frames.status, kExitOk) << frames.err;
  EXPECT_GT(frames.json["chunks"].toArray()[0].toObject()["frames"].toArray().size(), 10);
}

TEST(SimImageTest, NetworkLayoutDisk) {
  rdtest::TempDir dir;
  sim::MakeDiskOptions o;
  o.out = (dir / "network.img").string();
  o.size = 1100ull * 1024 * 1024;  // sparse
  o.duration_s = 2;
  o.start = 1'709'287'200;  // 2024-03-01 10:00:00
  o.network = true;
  o.quiet = true;
  sim::MakeDiskResult made;
  std::string error;
  ASSERT_TRUE(sim::MakeDisk(o, nullptr, &made, &error)) << error;

  const auto info = Tool({"info", "--network", o.out});
  ASSERT_EQ(info.status, kExitOk) << info.err;
  const qint64 marker = info.json["marker"].toInteger();
  EXPECT_EQ(marker, static_cast<qint64>(o.size / 512 - 1));
  const qint64 area = marker - 2'000'039;
  EXPECT_EQ(info.json["area_sectors"].toInteger(), area + (8 - area % 8) % 8);
  EXPECT_EQ(info.json["start"].toString(), "24/03/01  10:00:00");
  EXPECT_FALSE(info.json["wrapped"].toBool());
  EXPECT_EQ(Tool({"find", "--network", o.out, "24/03/01 10:00:01"}).status, kExitOk);
}

}  // namespace
}  // namespace rd::dvrdisk
