// SHA-256 against the standard's test vectors and the system's sha256sum,
// and the export report beside a file: its hash is the file's.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "player/playback/ExportReport.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

std::string ShaOf(const std::string& text) {
  return HexDigest(Sha256(text.data(), text.size()));
}

TEST(Sha256Test, StandardVectors) {
  EXPECT_EQ(ShaOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ShaOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ShaOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(ShaOf(std::string(1'000'000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Read in pieces of 1 MiB: a file across a piece boundary hashes as a whole.
TEST(Sha256Test, FileHashEqualsTheBytesHashAndSha256sum) {
  rdtest::TempDir dir;
  std::vector<unsigned char> bytes((1 << 20) + 4321);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  const auto file = dir / "data.bin";
  rdtest::WriteFile(file, bytes);
  const auto digest = Sha256OfFile(file.string());
  ASSERT_TRUE(digest);
  EXPECT_EQ(HexDigest(*digest), HexDigest(Sha256(bytes.data(), bytes.size())));
  EXPECT_FALSE(Sha256OfFile((dir / "missing.bin").string()));

  const std::string command = "sha256sum " + file.string() + " 2>/dev/null";
  std::FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, p) != nullptr;
  const int status = ::pclose(p);
  if (!read || status != 0) GTEST_SKIP() << "no sha256sum";
  EXPECT_EQ(std::string(line).substr(0, 64), HexDigest(*digest));
}

TEST(ExportReportTest, NamesItsFilesWithTheirHashesAndTheSource) {
  rdtest::TempDir dir;
  std::filesystem::create_directories(dir / "frames");
  rdtest::WriteFile(dir / "frames" / "a.bmp", {'a', 'b', 'c'});
  rdtest::WriteFile(dir / "frames" / "b.bmp", {});
  ExportReport r;
  r.kind = "bitmap frames";
  r.program = "dvrdisk 1.0.0";
  r.source = "/images/disk.img";
  r.marker_sector = 1999;
  r.area_sectors = 1992;
  r.channels = "CH2";
  r.first_packet = 3 * 4096;
  r.last_packet = 70 * 4096;
  r.first_time = RecTime{24, 5, 1, 12, 0, 0};
  r.last_time = RecTime{24, 5, 1, 12, 0, 9};
  r.frames = 2;
  r.files = {(dir / "frames" / "a.bmp").string(), (dir / "frames" / "b.bmp").string()};
  const std::string path = FolderReportPath((dir / "frames/").string());
  EXPECT_EQ(path, (dir / "frames.report.txt").string());
  std::string error;
  ASSERT_TRUE(WriteExportReport(r, path, &error)) << error;
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  for (const char* line :
       {"kind: bitmap frames\n", "program: dvrdisk 1.0.0\n",
        "source: /images/disk.img (opened read-only)\n", "layout: standard\n",
        "marker sector: 1999\n", "area sectors: 1992\n", "channels: CH2\n",
        "first packet: 3 (byte 12288)\n", "last packet: 70 (byte 286720)\n",
        "first frame: 2024/05/01 12:00:00\n", "last frame: 2024/05/01 12:00:09\n", "frames: 2\n",
        "file: frames/a.bmp (3 bytes)\n",
        "sha256: ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  frames/a.bmp\n",
        "sha256: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  frames/b.bmp\n"})
    EXPECT_NE(t.find(line), std::string::npos) << line << "in\n" << t;
  EXPECT_EQ(ReportPathFor("/x/clip.avi"), "/x/clip.avi.report.txt");
  EXPECT_FALSE(WriteExportReport(r, (dir / "no" / "such" / "r.txt").string(), &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
}

}  // namespace
}  // namespace rd
