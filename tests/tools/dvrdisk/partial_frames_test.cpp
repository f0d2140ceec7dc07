// dvrdisk export on recordings with partial frames: every picture is built on
// its own camera's last picture, across chunk boundaries and the end of a
// wrapped ring.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "player/disk/RecordingIndex.h"
#include "player/playback/RecordingFixture.h"
#include "shared/still/BmpFile.h"
#include "support/TestSupport.h"
#include "tools/dvrdisk/DvrDiskTool.h"
#include "tools/dvrdisk/ToolOutput.h"

namespace rd::dvrdisk {
namespace {

constexpr std::size_t kPitch = 640 * 3;
constexpr std::size_t kPictureBytes = kPitch * 436;

struct Exported {
  int status;
  QJsonObject json;
  std::string err;
  std::map<int, std::vector<unsigned char>> pictures;  // by frame number
};

// The packet `find` reports for the time of frame k.
uint64_t FoundPacket(const std::filesystem::path& image, int k) {
  const auto found = Tool({"find", image.string(), FormatDiskTime(rdtest::FrameTime(k))});
  EXPECT_EQ(found.status, kExitOk) << found.err;
  return static_cast<uint64_t>(found.json["packet"].toInteger());
}

// Exports `frames` pictures of all channels from the time of frame `from` as
// BMP files and reads them back, keyed by the frame their time names.
Exported ExportBitmaps(const std::filesystem::path& image, const std::filesystem::path& dir,
                       int from, int frames) {
  std::ostringstream out, err;
  const int status =
      Run({"export", image.string(), "--from", FormatDiskTime(rdtest::FrameTime(from)), "--frames",
           std::to_string(frames), "--bmp", dir.string()},
          out, err);
  Exported e{status,
             QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object(),
             err.str(),
             {}};
  if (!std::filesystem::exists(dir)) return e;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    // NNNNNN_chC_YYYYMMDD_hhmmss.bmp
    const std::string name = entry.path().filename().string();
    const auto field = [&](std::size_t from_end, std::size_t n) {
      return static_cast<uint8_t>(std::stoi(name.substr(name.size() - from_end, n)) % 100);
    };
    const RecTime t{field(19, 4), field(15, 2), field(13, 2),
                    field(10, 2), field(8, 2),  field(6, 2)};
    const auto bytes = rdtest::ReadFile(entry.path());
    e.pictures[rdtest::FrameOfTime(t)] =
        std::vector<unsigned char>(bytes.begin() + kBmpHeadersSize, bytes.end());
  }
  return e;
}

// The export wrote exactly the frames in `expected`, each the picture its
// own channel's frames build.
void ExpectPictures(const rdtest::Recording& rec, const Exported& e,
                    const std::vector<int>& expected) {
  ASSERT_EQ(e.status, kExitOk) << e.err;
  EXPECT_EQ(e.json["frames"].toInt(), static_cast<int>(expected.size()));
  std::vector<int> got;
  for (const auto& [k, pixels] : e.pictures) got.push_back(k);
  ASSERT_EQ(got, expected);
  for (const auto& [k, pixels] : e.pictures) {
    const auto ref = rdtest::ReferenceOutput(rec.frames, k, false);
    ASSERT_EQ(pixels.size(), kPictureBytes);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), ref.begin()))
        << "frame " << k << " (channel " << int{rec.frames[static_cast<std::size_t>(k)].code}
        << ", " << (rec.frames[static_cast<std::size_t>(k)].full ? "full" : "partial") << ")";
  }
}

TEST(PartialFrameExportTest, EveryPictureEqualsItsOwnChannelsDecodeAcrossChunks) {
  rdtest::TempDir dir;
  rdtest::RecordingSpec spec;
  spec.frames = 48;
  spec.full_every = 4;
  spec.pad_to = 120'000;  // 17 frames a chunk: two chunk boundaries
  const auto rec = rdtest::BuildRecording(spec);
  const auto image = dir / "disk.img";
  ASSERT_TRUE(rdtest::WriteRecording(image, 40'000, rec));
  // The search lands inside frame 0 or at its start; from there every frame
  // of a channel that had its full frame is exported, none lost at a chunk
  // boundary, each built on its own channel's pictures.
  for (const int from : {0, 22}) {
    const int first = rdtest::FirstFrameFrom(rec, FoundPacket(image, from));
    ASSERT_GE(first, from);
    ASSERT_LE(first, from + 1);
    const auto expected = rdtest::ShowableFrames(rec, first, 20);
    ExpectPictures(rec, ExportBitmaps(image, dir / std::to_string(from), from, 20), expected);
  }
}

TEST(PartialFrameExportTest, WrappedRingGoesOnOverTheEndOfTheArea) {
  rdtest::TempDir dir;
  rdtest::RecordingSpec spec;
  spec.frames = 24;
  spec.full_every = 4;
  spec.pad_to = 80'000;  // 1.9 MB
  const auto rec = rdtest::BuildRecording(spec);
  rdtest::RecordingSpec old_spec;
  old_spec.frames = 4;
  old_spec.time_offset = -1800;  // recorded an hour before
  const auto older = rdtest::BuildRecording(old_spec);
  // A ring of 613 packets (2.5 MB, not a whole number of chunks); the
  // recording starts 300 packets before its end and goes on at 0.
  const uint64_t sectors = 613 * 8 + 7 + 1;
  const uint64_t first_packet = 613 - 300;
  uint64_t w = 0;
  const auto image = dir / "ring.img";
  ASSERT_TRUE(rdtest::WriteRecording(image, sectors, rec, {first_packet, true, &older}, &w));
  ASSERT_GT(w, 0u);
  ASSERT_LT(w, first_packet);
  const int first = rdtest::FirstFrameFrom(rec, FoundPacket(image, 0) - first_packet);
  ExpectPictures(rec, ExportBitmaps(image, dir / "out", 0, 24),
                 rdtest::ShowableFrames(rec, first, 24));
}

}  // namespace
}  // namespace rd::dvrdisk
