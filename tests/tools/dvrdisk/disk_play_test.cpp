// dvrdisk play on an image written by the emulated DVR's make-disk (four
// cameras with partial frames, audio): the trace, steps, speed, reverse, one
// channel, the snapshot, the AVI, and bad usage.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <sstream>

#include "shared/still/BmpFile.h"
#include "support/TestSupport.h"
#include "tools/dvrdisk/DvrDiskTool.h"
#include "tools/dvrdisk/ToolOutput.h"
#include "tools/dvrsim/MakeDisk.h"

namespace rd::dvrdisk {
namespace {

struct Line {
  int64_t ms;
  uint64_t chunk;
  int index;
  int channel;
  std::string full;
  std::string time;
  std::string shown;
};

std::vector<Line> ReadTrace(const std::filesystem::path& file) {
  std::vector<Line> lines;
  std::ifstream in(file);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream fields(text);
    Line l;
    std::string date, clock;
    fields >> l.ms >> l.chunk >> l.index >> l.channel >> l.full >> date >> clock >> l.shown;
    l.time = date + " " + clock;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 6) << text;
    lines.push_back(l);
  }
  return lines;
}

class DiskPlayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new rdtest::TempDir;
    sim::MakeDiskOptions o;
    o.out = (*dir_ / "demo.img").string();
    o.size = 64 * 1024 * 1024;
    o.duration_s = 40;
    o.start = 1'714'564'800;  // 2024-05-01 12:00:00
    o.quiet = true;
    std::string error;
    sim::MakeDiskResult r;
    ok_ = sim::MakeDisk(o, nullptr, &r, &error);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ok_); }
  static std::string Image() { return (*dir_ / "demo.img").string(); }

  rdtest::TempDir out_;
  static inline rdtest::TempDir* dir_ = nullptr;
  static inline bool ok_ = false;
};

TEST_F(DiskPlayTest, PlaysFromTheSearchedTimeInOrderWithATraceAndSound) {
  const auto trace = out_ / "trace.txt";
  // Each camera has a full frame about every two seconds; its partial
  // frames are shown from there on.
  const auto r = Tool({"play", Image(), "--from", "24/05/01 12:00:20", "--seconds", "3.5",
                       "--trace", trace.string()});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto lines = ReadTrace(trace);
  ASSERT_GT(lines.size(), 20u);
  EXPECT_EQ(r.json["frames_walked"].toInt(), static_cast<int>(lines.size()));
  EXPECT_GE(lines.front().time, "2024/05/01 12:00:19");
  EXPECT_LE(lines.front().time, "2024/05/01 12:00:21");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i].time, lines[i - 1].time) << i;
    EXPECT_GE(lines[i].ms, lines[i - 1].ms) << i;
  }
  int quadrants = 0;
  for (const auto& l : lines) {
    EXPECT_TRUE(l.full == "full" || l.full == "partial");
    EXPECT_TRUE(l.shown == "quadrant" || l.shown == "no") << l.shown;
    quadrants += l.shown == "quadrant";
  }
  EXPECT_EQ(r.json["frames_shown"].toInt(), quadrants);
  EXPECT_GE(r.json["audio_packets"].toInt(), 1);
  EXPECT_FALSE(r.json["ended"].toBool());
}

TEST_F(DiskPlayTest, StepsForwardAndBackwardOneFrameEach) {
  for (const bool reverse : {false, true}) {
    const auto trace = out_ / (reverse ? "back.txt" : "fwd.txt");
    std::vector<std::string> args = {"play",      Image(), "--from",  "24/05/01 12:00:20",
                                     "--step",    "6",     "--trace", trace.string(),
                                     "--channel", "3"};
    if (reverse) args.push_back("--reverse");
    const auto r = Tool(args);
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.json["steps"].toInt(), 6);
    EXPECT_EQ(r.json["frames_shown"].toInt(), 7);  // the found frame and six steps
    std::vector<std::string> shown;
    for (const auto& l : ReadTrace(trace)) {
      if (l.shown == "no") continue;
      EXPECT_EQ(l.shown, "full");
      EXPECT_EQ(l.channel, 2);
      shown.push_back(l.time);
    }
    ASSERT_EQ(shown.size(), 7u);
    for (std::size_t i = 1; i < shown.size(); ++i) {
      if (reverse) {
        EXPECT_LE(shown[i], shown[i - 1]);
      } else {
        EXPECT_GE(shown[i], shown[i - 1]);
      }
    }
  }
}

TEST_F(DiskPlayTest, SixtyFourTimesWalksFarMoreThanItShows) {
  const auto r =
      Tool({"play", Image(), "--from", "24/05/01 12:00:05", "--speed", "64", "--seconds", "0.5"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  // 0.5 s at 64 times 30 frames/s is about 960 frames walked (at 1X: 15);
  // a slow machine (or a sanitizer) may walk fewer.
  EXPECT_GT(r.json["frames_walked"].toInt(), 100);
  EXPECT_LT(r.json["frames_shown"].toInt(), r.json["frames_walked"].toInt() / 8);
  EXPECT_EQ(r.json["audio_packets"].toInt(), 0);
}

TEST_F(DiskPlayTest, SnapshotAndAviOfWhatIsShown) {
  const auto bmp = out_ / "snap.bmp";
  const auto avi = out_ / "play.avi";
  const auto r = Tool({"play", Image(), "--from", "24/05/01 12:00:30", "--seconds", "1",
                       "--snapshot", bmp.string(), "--avi", avi.string()});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(std::filesystem::file_size(bmp), BmpFileSize24(640, 436));
  const auto bytes = rdtest::ReadFile(avi);
  ASSERT_GT(bytes.size(), 640u * 436 * 3);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "AVI ");
}

TEST_F(DiskPlayTest, ReverseToTheStartEndsPlay) {
  const auto r = Tool({"play", Image(), "--from", "24/05/01 12:00:01", "--reverse", "--seconds",
                       "5", "--channel", "1"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_TRUE(r.json["ended"].toBool());
  // Reverse shows full frames: CH1's last one before the start of the recording.
  EXPECT_LE(r.json["last"].toString().toStdString(), "24/05/01  12:00:03");
}

TEST_F(DiskPlayTest, BadUsage) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {{"play", Image()}, kExitUsage, "--from"},
      {{"play", Image(), "--from", "24/05/01 12:00:05", "--speed", "8"}, kExitUsage, "--speed"},
      {{"play", Image(), "--from", "24/05/01 12:00:05", "--seconds", "0"}, kExitUsage, "--seconds"},
      {{"play", Image(), "--from", "24/05/01 12:00:05", "--step", "x"}, kExitUsage, "--step"},
      {{"play", Image(), "--from", "24/05/01 13:00:00"}, kExitNotFound, "It's not found !"},
      {{"play", Image(), "--from", "24/05/01 12:00:05", "--trace", "/nonexistent/dir/t.txt"},
       kExitFailed,
       "trace"},
      {{"play", Image(), "--from", "24/05/01 12:00:05", "--avi", "/nonexistent/dir/p.avi"},
       kExitFailed,
       "cannot create the AVI file /nonexistent/dir/p.avi: no such file or directory\n"},
  };
  for (const auto& c : cases) {
    const auto r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const std::string help = HelpText();
  EXPECT_NE(help.find("dvrdisk play"), std::string::npos);
  EXPECT_NE(help.find("full|quadrant|no"), std::string::npos);
}

}  // namespace
}  // namespace rd::dvrdisk
