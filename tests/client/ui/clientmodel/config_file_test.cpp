// The client configuration file: what is written, what is read back from
// good, empty, truncated and damaged files, and the folder it lives in.

#include <gtest/gtest.h>

#include "client/ui/ConfigFile.h"
#include "support/TestSupport.h"

namespace rd::client {
namespace {

const char kWritten[] =
    "// DvrClnt.cfg\r\n"
    "// don't mess up with this file\r\n"
    "// DO NOT EDIT\r\n"
    "\r\n"
    "[major version]3\r\n"
    "[minor version]7\r\n"
    "[ip address]192 168 1 20\r\n";

TEST(ConfigFile, WritesTheSevenLinesAndReadsThemBack) {
  rdtest::TempDir dir;
  const ConfigFile file(dir.path());
  ClientConfig c;
  c.major_version = 3;
  c.minor_version = 7;
  c.address = {192, 168, 1, 20};
  ASSERT_TRUE(file.Write(c)) << "config/ is created";
  const auto bytes = rdtest::ReadFile(dir / "config/dvrclnt.cfg");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kWritten);
  ClientConfig back;
  ASSERT_TRUE(file.Read(&back));
  EXPECT_EQ(back.major_version, 3u);
  EXPECT_EQ(back.minor_version, 7u);
  EXPECT_EQ(back.address, c.address);
  // Read then write keeps the bytes.
  ASSERT_TRUE(file.Write(back));
  EXPECT_EQ(rdtest::ReadFile(dir / "config/dvrclnt.cfg"), bytes);
}

struct ParseCase {
  const char* name;
  std::string bytes;
  uint32_t major, minor;
  std::array<uint8_t, 4> address;
};

class ConfigParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConfigParse, GivesTheFieldsItFinds) {
  const ParseCase& c = GetParam();
  const ClientConfig got = ParseConfig(c.bytes);
  EXPECT_EQ(got.major_version, c.major);
  EXPECT_EQ(got.minor_version, c.minor);
  EXPECT_EQ(got.address, c.address);
}

const std::string kHead =
    "// DvrClnt.cfg\r\n// don't mess up with this file\r\n// DO NOT EDIT\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigParse,
    ::testing::Values(
        ParseCase{"Written", kWritten, 3, 7, {192, 168, 1, 20}},
        ParseCase{"Empty", "", 0, 0, {0, 0, 0, 0}},
        ParseCase{"Garbage", "\x01\xff]]]\r\r garbage ]x y z w\r", 0, 0, {0, 0, 0, 0}},
        ParseCase{"TruncatedInAddress",
                  kHead + "[major version]1\r\n[minor version]2\r\n[ip address]192 168",
                  1,
                  2,
                  {0, 0, 0, 0}},
        ParseCase{
            "TruncatedBeforeAddress", kHead + "[major version]1\r\n[mino", 1, 0, {0, 0, 0, 0}},
        ParseCase{"ByteKeepsItsLow8Bits",
                  kHead + "[major version]0\r\n[minor version]0\r\n[ip address]300 1 2 3\r\n",
                  0,
                  0,
                  {44, 1, 2, 3}},
        ParseCase{"ThreeNumbers",
                  kHead + "[major version]0\r\n[minor version]0\r\n[ip address]10 1 2\r\n",
                  0,
                  0,
                  {0, 0, 0, 0}},
        ParseCase{"DoubleSpace",
                  kHead + "[major version]0\r\n[minor version]0\r\n[ip address]10  1 2 3\r\n",
                  0,
                  0,
                  {0, 0, 0, 0}},
        ParseCase{"AtoiLikeNumbers",
                  kHead + "[major version]12abc\r\n[minor version]x\r\n[ip address]7x 8 9 10\r\n",
                  12,
                  0,
                  {7, 8, 9, 10}},
        ParseCase{"HugeNumbersDoNotOverflow",
                  kHead + "[major version]99999999999999999999\r\n[minor version]1\r\n"
                          "[ip address]999999999999 1 2 3\r\n",
                  1661992959u,
                  1,
                  {255, 1, 2, 3}},
        ParseCase{"LineFeedsOnly",
                  "[major version]1\n[minor version]2\n[ip address]1 2 3 4\n",
                  0,
                  0,
                  {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigFile, MissingFileIsCreatedEmptyAndReadsAsNothingSaved) {
  rdtest::TempDir dir;
  std::filesystem::create_directories(dir / "config");
  const ConfigFile file(dir.path());
  ClientConfig c;
  c.address = {1, 2, 3, 4};
  EXPECT_TRUE(file.Read(&c));
  EXPECT_EQ(c.address, (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_TRUE(std::filesystem::exists(dir / "config/dvrclnt.cfg"));
  EXPECT_EQ(std::filesystem::file_size(dir / "config/dvrclnt.cfg"), 0u);
}

TEST(ConfigFile, NoFolderReadsFalseAndAnUnwritablePlaceFailsTheWrite) {
  rdtest::TempDir dir;
  const ConfigFile file(dir.path());
  ClientConfig c;
  EXPECT_FALSE(file.Read(&c)) << "config/ is only created when writing";
  EXPECT_EQ(c.address, (std::array<uint8_t, 4>{0, 0, 0, 0}));
  // A file where the folder should be: neither the folder nor the file can
  // be made (whoever runs the test).
  rdtest::WriteFile(dir / "config", {'x'});
  EXPECT_FALSE(file.Write(c));
}

}  // namespace
}  // namespace rd::client
