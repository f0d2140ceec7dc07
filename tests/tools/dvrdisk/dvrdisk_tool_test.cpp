// dvrdisk end to end on small images: JSON outputs, exports and error exits.

#include "tools/dvrdisk/DvrDiskTool.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "player/disk/DiskFixture.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/ExportReport.h"
#include "shared/still/BmpFile.h"
#include "support/TestSupport.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/PacketStreamBuilder.h"
#include "tools/common/TestPicture.h"

namespace rd::dvrdisk {
namespace {

constexpr RecTime kBase{3, 5, 12, 14, 30, 0};
constexpr uint64_t kSectors = 40'000;  // AP = 4998 packets, 20 MB sparse
constexpr int kFramesPerSecond = 4;    // channels 1..4 in turn, one picture each per second

struct RunResult {
  int status;
  std::string out;
  std::string err;
  QJsonObject json() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  }
};

RunResult RunTool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = Run(args, out, err);
  return {status, out.str(), err.str()};
}

// A recording of `seconds` seconds: four frames per second (CH1..CH4 in
// turn, real MJPEG frames), an audio packet every half second, two events.
class DiskToolTest : public ::testing::Test {
 protected:
  // The frames and the image are made once for the suite (encoding is slow
  // in debug builds); no test changes the image.
  static void SetUpTestSuite() {
    shared_dir_ = new rdtest::TempDir;
    MjpegEncoder encoder;
    for (int c = 0; c < 4; ++c) {
      const auto picture =
          MakeNaturalYuv(mjpeg::VideoStandard::kNtsc, static_cast<uint32_t>(c + 1));
      const auto frame = encoder.EncodeFull(picture, 6, c);
      frames_[c].assign(frame.begin(), frame.end());
    }
    packets_ = Build(*shared_dir_ / "disk.img", 30);
  }
  static void TearDownTestSuite() {
    delete shared_dir_;
    shared_dir_ = nullptr;
  }

  void SetUp() override {
    for (const auto& f : frames_) ASSERT_FALSE(f.empty());
    ASSERT_GT(packets_, 0u);
  }

  // Returns the packets written, 0 on failure.
  static std::size_t Build(const std::filesystem::path& path, int seconds) {
    PacketStreamBuilder builder;
    builder.set_rate(2);
    std::vector<uint8_t> samples(kAudioPayloadSize, 0xD5);
    for (int k = 0; k < seconds * kFramesPerSecond; ++k) {
      builder.set_time(rdtest::AddSeconds(kBase, k / kFramesPerSecond));
      builder.AppendVideo(frames_[k % 4]);
      if (k % 2 == 1) builder.AppendAudio(samples.data());
    }
    builder.Flush();
    DvrDiskImage image;
    if (!image.Create(path, kSectors, DiskLayout::kStandard)) return 0;
    const auto& packets = builder.packets();
    if (packets.size() >= image.packet_capacity()) return 0;
    for (std::size_t p = 0; p < packets.size(); ++p) {
      if (!image.WritePacket(p, packets[p].data())) return 0;
    }
    if (!image.AppendEvent({true, kBase, rdtest::AddSeconds(kBase, 10)}) ||
        !image.AppendEvent({false, rdtest::AddSeconds(kBase, 12), rdtest::AddSeconds(kBase, 15)}) ||
        !image.WriteStatus({static_cast<uint32_t>(packets.size()), false}) || !image.Finish()) {
      return 0;
    }
    return packets.size();
  }

  static std::string Image() { return (*shared_dir_ / "disk.img").string(); }

  rdtest::TempDir dir_;
  static inline rdtest::TempDir* shared_dir_ = nullptr;
  static inline std::vector<uint8_t> frames_[4];
  static inline std::size_t packets_ = 0;
};

TEST_F(DiskToolTest, InfoReportsTheRecordingAsJson) {
  const auto r = RunTool({"info", Image()});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto j = r.json();
  EXPECT_EQ(j["marker"].toInteger(), static_cast<qint64>(kSectors - 1));
  EXPECT_EQ(j["area_sectors"].toInteger(), 39'992);
  EXPECT_TRUE(j["data"].toBool());
  EXPECT_EQ(j["write_packet"].toInteger(), static_cast<qint64>(packets_));
  EXPECT_FALSE(j["wrapped"].toBool());
  EXPECT_EQ(j["first_packet"].toInteger(), 0);
  EXPECT_EQ(j["last_packet"].toInteger(), static_cast<qint64>(packets_ - 1));
  EXPECT_EQ(j["start"].toString(), "03/05/12  14:30:00");
  EXPECT_EQ(j["end"].toString(), "03/05/12  14:30:29");
  EXPECT_EQ(j["default_search"].toString(), "03/05/12  14:30:00");
  const auto events = j["events"].toArray();
  ASSERT_EQ(events.size(), 2);
  EXPECT_EQ(events[0].toString(), "03/05/12  14:30:00 - 03/05/12  14:30:10  TIME");
  EXPECT_EQ(events[1].toString(), "03/05/12  14:30:12 - 03/05/12  14:30:15  ALARM");
}

TEST_F(DiskToolTest, FindReportsPacketAndPositionOrNotFound) {
  auto r = RunTool({"find", Image(), "03/05/12 14:30:29"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  auto j = r.json();
  EXPECT_TRUE(j["found"].toBool());
  EXPECT_EQ(j["position"].toInteger(), j["packet"].toInteger() * 4096);
  EXPECT_EQ(j["packet"].toInteger(), static_cast<qint64>(packets_ - 1));

  r = RunTool({"find", Image(), "03/05/12  15:30:00"});
  EXPECT_EQ(r.status, kExitNotFound);
  EXPECT_FALSE(r.json()["found"].toBool());
  EXPECT_NE(r.err.find("It's not found !"), std::string::npos) << r.err;
}

TEST_F(DiskToolTest, FramesListsTheIndexOfEachChunk) {
  const auto r = RunTool({"frames", Image(), "--at", "0", "--chunks", "2"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto chunks = r.json()["chunks"].toArray();
  ASSERT_EQ(chunks.size(), 2);
  const auto first = chunks[0].toObject();
  EXPECT_EQ(first["position"].toInteger(), 0);
  const auto frames = first["frames"].toArray();
  ASSERT_GT(frames.size(), 8);
  int flagged = 0;
  for (qsizetype i = 0; i < frames.size(); ++i) {
    const auto f = frames[i].toObject();
    EXPECT_EQ(f["channel"].toInt(), i % 4);
    EXPECT_EQ(f["length"].toInteger(), static_cast<qint64>(frames_[i % 4].size()));
    EXPECT_EQ(f["rate"].toInt(), 2);
    // The packet holding the start code may have begun during the frame before.
    const auto time = f["time"].toString().toStdString();
    const auto own = FormatDiskTime(rdtest::AddSeconds(kBase, i / kFramesPerSecond));
    const auto before =
        FormatDiskTime(rdtest::AddSeconds(kBase, (i > 0 ? i - 1 : 0) / kFramesPerSecond));
    EXPECT_TRUE(time == own || time == before) << time << " frame " << i;
    flagged += f["audio"].toInt();
  }
  EXPECT_GT(first["audio_packets"].toInt(), 0);
  EXPECT_GE(flagged, first["audio_packets"].toInt() - 1);
  EXPECT_TRUE(first["audio_present"].toBool());
  EXPECT_EQ(chunks[1].toObject()["position"].toInteger(), 2 * 1024 * 1024);
}

TEST_F(DiskToolTest, ExportsBitmapsOfOneChannel) {
  const auto dir = dir_ / "bmp";
  const auto r = RunTool({"export", Image(), "--from", "03/05/12 14:30:02", "--frames", "5",
                          "--channel", "2", "--bmp", dir.string()});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.json()["frames"].toInt(), 5);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    ++files;
    EXPECT_NE(entry.path().filename().string().find("_ch2_"), std::string::npos);
    EXPECT_EQ(entry.file_size(), BmpFileSize24(640, 436));
  }
  EXPECT_EQ(files, 5);
}

TEST_F(DiskToolTest, ExportsAllChannelsToAviWithAudio) {
  const auto avi = dir_ / "out.avi";
  const auto r = RunTool({"export", Image(), "--from", "03/05/12 14:30:05", "--to",
                          "03/05/12 14:30:09", "--avi", avi.string()});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const auto j = r.json();
  // Five seconds from the found packet, four pictures a second (the found
  // packet may lie up to a second early).
  EXPECT_GE(j["frames"].toInt(), 18);
  EXPECT_LE(j["frames"].toInt(), 24);
  EXPECT_GE(j["audio_packets"].toInt(), 8);
  EXPECT_EQ(j["last"].toString(), "03/05/12  14:30:09");
  const auto bytes = rdtest::ReadFile(avi);
  ASSERT_GT(bytes.size(), 12u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "AVI ");

  // The report beside it: the finished file's hash, what it came from.
  const std::string report_path = avi.string() + ".report.txt";
  EXPECT_EQ(j["report"].toString().toStdString(), report_path);
  std::ifstream in(report_path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string report = text.str();
  const std::string hash = HexDigest(Sha256(bytes.data(), bytes.size()));
  EXPECT_NE(report.find("sha256: " + hash + "  out.avi\n"), std::string::npos) << report;
  EXPECT_NE(report.find("source: " + Image() + " (opened read-only)"), std::string::npos);
  EXPECT_NE(report.find("frames: " + std::to_string(j["frames"].toInt()) + "\n"),
            std::string::npos);
  EXPECT_NE(report.find("last frame: 2003/05/12 14:30:09\n"), std::string::npos);
  EXPECT_NE(report.find("program: dvrdisk "), std::string::npos);
  EXPECT_NE(report.find("first packet: "), std::string::npos);
}

TEST_F(DiskToolTest, ErrorExits) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  rdtest::WriteFile(dir_ / "plain.bin", std::vector<unsigned char>(256 * 1024, 0));
  const std::string plain = (dir_ / "plain.bin").string();
  const std::string missing = (dir_ / "missing.img").string();
  const Case cases[] = {
      {{"info", missing}, kExitNoDevice, "cannot open"},
      {{"info", plain}, kExitNoMarker, "No DVR HDD"},
      {{"info", "--network", Image()}, kExitNoData, "No Data"},  // marker below 2,000,040
      {{"find", Image(), "03/13/12 14:30:00"}, kExitUsage, "bad time"},
      {{"find", Image()}, kExitUsage, "one time"},
      {{"frames", Image(), "--at", "100"}, kExitUsage, "multiple of 4096"},
      {{"export", Image(), "--from", "03/05/12 14:30:00", "--frames", "2"}, kExitUsage, "--bmp"},
      {{"export", Image(), "--from", "04/05/12 14:30:00", "--frames", "2", "--bmp",
        (dir_ / "x").string()},
       kExitNotFound,
       "It's not found !"},
      {{"info"}, kExitUsage, "needs an image"},
      {{"bogus"}, kExitUsage, "unknown command"},
      {{"info", "--drive", "12"}, kExitUsage, "--drive"},
      {{"info", "--frobnicate", Image()}, kExitUsage, "unknown option"},
  };
  for (const auto& c : cases) {
    const auto r = RunTool(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const auto help = RunTool({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_NE(help.out.find("dvrdisk export"), std::string::npos);
}

TEST_F(DiskToolTest, NoDataDiskStillDescribesItself) {
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir_ / "empty.img", kSectors, DiskLayout::kStandard));
  ASSERT_TRUE(image.Finish());
  const auto r = RunTool({"info", (dir_ / "empty.img").string()});
  EXPECT_EQ(r.status, kExitNoData);
  EXPECT_FALSE(r.json()["data"].toBool());
  EXPECT_EQ(r.json()["marker"].toInteger(), static_cast<qint64>(kSectors - 1));
  EXPECT_TRUE(r.json()["events"].toArray().isEmpty());
}

TEST_F(DiskToolTest, DrivesFromTheEnvironment) {
  const std::string spec = "1=" + Image() + ",4=" + (dir_ / "missing.img").string();
  ::setenv("RD_DRIVES", spec.c_str(), 1);
  const auto scan = RunTool({"scan"});
  const auto info = RunTool({"info", "--drive", "1"});
  const auto absent = RunTool({"info", "--drive", "4"});
  const auto unmapped = RunTool({"info", "--drive", "7"});
  ::setenv("RD_DRIVES", ("0=" + Image()).c_str(), 1);
  const auto drive0 = RunTool({"scan"});
  ::setenv("RD_DRIVES", "1:/dev/sdz", 1);
  const auto malformed = RunTool({"scan"});
  ::unsetenv("RD_DRIVES");
  EXPECT_EQ(scan.status, kExitOk) << scan.err;
  EXPECT_EQ(scan.out, "drive 1 marker " + std::to_string(kSectors - 1) + "\n");
  EXPECT_EQ(info.status, kExitOk) << info.err;
  EXPECT_EQ(absent.status, kExitNoDevice);
  EXPECT_EQ(unmapped.status, kExitNoDevice);
  EXPECT_EQ(drive0.status, kExitNoMarker);  // drive 0 is never scanned
  EXPECT_NE(drive0.err.find("No DVR HDD"), std::string::npos);
  EXPECT_EQ(malformed.status, kExitUsage);
  EXPECT_NE(malformed.err.find("RD_DRIVES"), std::string::npos) << malformed.err;
}

TEST_F(DiskToolTest, ScanTakesTheLayoutIntoAccount) {
  // A disk carrying both markers: "Network version" takes the lower one.
  DvrDiskImage image;
  const auto two = dir_ / "two.img";
  ASSERT_TRUE(image.Create(two, kSectors, DiskLayout::kStandard));
  ASSERT_TRUE(image.WriteMarker(kSectors - 31));
  ASSERT_TRUE(image.Finish());
  ::setenv("RD_DRIVES", ("2=" + two.string()).c_str(), 1);
  const auto standard = RunTool({"scan"});
  const auto network = RunTool({"scan", "--network"});
  const auto info = RunTool({"info", "--network", "--drive", "2"});
  ::unsetenv("RD_DRIVES");
  EXPECT_EQ(standard.status, kExitOk) << standard.err;
  EXPECT_EQ(standard.out, "drive 2 marker " + std::to_string(kSectors - 1) + "\n");
  EXPECT_EQ(network.status, kExitOk) << network.err;
  EXPECT_EQ(network.out, "drive 2 marker " + std::to_string(kSectors - 31) + "\n");
  EXPECT_EQ(info.json()["marker"].toInteger(), static_cast<qint64>(kSectors - 31)) << info.out;
}

TEST(ParseTimeTest, FormatsAndRanges) {
  EXPECT_EQ(ParseTime("03/05/12 14:30:00"), (RecTime{3, 5, 12, 14, 30, 0}));
  EXPECT_EQ(ParseTime("99/12/31  23:59:59"), (RecTime{99, 12, 31, 23, 59, 59}));
  for (const char* bad :
       {"", "03/05/12", "100/01/01 00:00:00", "03/00/12 00:00:00", "03/05/32 00:00:00",
        "03/05/12 24:00:00", "03/05/12 00:60:00", "03/05/12 00:00:00 x", "a/b/c d:e:f"}) {
    EXPECT_FALSE(ParseTime(bad)) << bad;
  }
}

}  // namespace
}  // namespace rd::dvrdisk
