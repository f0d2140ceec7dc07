// The hard drive information texts for installed, missing, overwriting and
// inconsistent disks, and the display colour dialog's pair of buttons.

#include <gtest/gtest.h>

#include "client/ui/models/ColourModel.h"
#include "client/ui/models/HddInfoModel.h"

namespace rd::ui {
namespace {

namespace hid = hddinf_id;

struct HddCase {
  const char* name;
  DiskInfo master, slave;
  const char* count;
  const char* total;
  // status, total, used, free of the master, then of the slave
  const char* master_texts[4];
  const char* slave_texts[4];
};

void PrintTo(const HddCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr DiskInfo kNone{};
constexpr DiskInfo kHalfFull{1, 307200, 153600, 0};

const HddCase kHddCases[] = {
    {"MasterHalfFullNoSlave",
     kHalfFull,
     kNone,
     "1 Hard disk installed",
     "The total capacity is 300 GByte [ 307200 MByte]",
     {"Installed", "300 GByte [ 307200 MByte]", "150 GByte [ 153600 MByte]  50.00%",
      "150 GByte [ 153600 MByte]  50.00%"},
     {"Not Installed", "N/A", "N/A", "N/A"}},
    {"TwoDisksOneOverwriting",
     kHalfFull,
     {1, 1024000, 1000, 1},
     "2 Hards disk installed",
     "The total capacity is 1300 GByte [1331200 MByte]",
     {"Installed", "300 GByte [ 307200 MByte]", "150 GByte [ 153600 MByte]  50.00%",
      "150 GByte [ 153600 MByte]  50.00%"},
     {"Currently Overwriting", "1000 GByte [1024000 MByte]", "  0 GByte [   1000 MByte]   0.10%",
      "999 GByte [1023000 MByte]  99.90%"}},
    {"OverwritingWithNothingUsedIsInstalled",
     {1, 2048, 0, 1},
     kNone,
     "1 Hard disk installed",
     "The total capacity is   2 GByte [   2048 MByte]",
     {"Installed", "  2 GByte [   2048 MByte]", "  0 GByte [      0 MByte]   0.00%",
      "  2 GByte [   2048 MByte] 100.00%"},
     {"Not Installed", "N/A", "N/A", "N/A"}},
    // The installed byte is a flag: 0xFF is one disk, not 254 after an 8-bit sum.
    {"InstalledByteFFCountsOnce",
     {0xFF, 1024, 512, 0},
     {0xFF, 1024, 0, 0},
     "2 Hards disk installed",
     "The total capacity is   2 GByte [   2048 MByte]",
     {"Installed", "  1 GByte [   1024 MByte]", "  0 GByte [    512 MByte]  50.00%",
      "  0 GByte [    512 MByte]  50.00%"},
     {"Installed", "  1 GByte [   1024 MByte]", "  0 GByte [      0 MByte]   0.00%",
      "  1 GByte [   1024 MByte] 100.00%"}},
    {"SlaveOnly",
     kNone,
     {0xFF, 4096, 1024, 0},
     "1 Hard disk installed",
     "The total capacity is   4 GByte [   4096 MByte]",
     {"Not Installed", "N/A", "N/A", "N/A"},
     {"Installed", "  4 GByte [   4096 MByte]", "  1 GByte [   1024 MByte]  25.00%",
      "  3 GByte [   3072 MByte]  75.00%"}},
    // More used than there is: no free space rather than a wrapped-around size.
    {"UsedAboveCapacity",
     {1, 1000, 1500, 0},
     kNone,
     "1 Hard disk installed",
     "The total capacity is   0 GByte [   1000 MByte]",
     {"Installed", "  0 GByte [   1000 MByte]", "  1 GByte [   1500 MByte] 150.00%",
      "  0 GByte [      0 MByte]   0.00%"},
     {"Not Installed", "N/A", "N/A", "N/A"}},
    {"CapacityZero",
     {1, 0, 0, 0},
     kNone,
     "1 Hard disk installed",
     "The total capacity is   0 GByte [      0 MByte]",
     {"Installed", "  0 GByte [      0 MByte]", "  0 GByte [      0 MByte]   0.00%",
      "  0 GByte [      0 MByte]   0.00%"},
     {"Not Installed", "N/A", "N/A", "N/A"}},
    {"NoDisk",
     kNone,
     kNone,
     "0 Hards disk installed",
     "The total capacity is   0 GByte [      0 MByte]",
     {"Not Installed", "N/A", "N/A", "N/A"},
     {"Not Installed", "N/A", "N/A", "N/A"}},
};

class HddInfoTexts : public ::testing::TestWithParam<HddCase> {};

TEST_P(HddInfoTexts, EveryTextOfTheDialog) {
  const HddCase& c = GetParam();
  HddInfoModel m;
  m.SetDisks(c.master, c.slave);
  const ControlStates& t = m.Controls();
  EXPECT_EQ(t.at(hid::kCount).text, c.count);
  EXPECT_EQ(t.at(hid::kTotal).text, c.total);
  const int master_ids[4] = {hid::kMasterStatus, hid::kMasterTotal, hid::kMasterUsed,
                             hid::kMasterFree};
  const int slave_ids[4] = {hid::kSlaveStatus, hid::kSlaveTotal, hid::kSlaveUsed, hid::kSlaveFree};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t.at(master_ids[i]).text, c.master_texts[i]) << "master " << i;
    EXPECT_EQ(t.at(slave_ids[i]).text, c.slave_texts[i]) << "slave " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, HddInfoTexts, ::testing::ValuesIn(kHddCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ColourModel, TwoButtonsActAsAPair) {
  ColourModel m;
  m.SetColourMode(true);
  EXPECT_TRUE(m.Controls().at(colmgr_id::kTrueColour).checked());
  EXPECT_FALSE(m.Controls().at(colmgr_id::k256Colour).checked());
  EXPECT_TRUE(m.TrueColourChosen());

  m.Click256Colour();
  EXPECT_TRUE(m.Controls().at(colmgr_id::k256Colour).checked());
  EXPECT_FALSE(m.Controls().at(colmgr_id::kTrueColour).checked());
  EXPECT_TRUE(m.Is256ColourChosen());
  m.Click256Colour();  // pressing the checked one again keeps it checked
  EXPECT_TRUE(m.Controls().at(colmgr_id::k256Colour).checked());
  EXPECT_TRUE(m.Is256ColourChosen());

  m.ClickTrueColour();
  EXPECT_TRUE(m.TrueColourChosen());
  EXPECT_FALSE(m.Controls().at(colmgr_id::k256Colour).checked());

  ColourModel from256;
  from256.SetColourMode(false);
  EXPECT_TRUE(from256.Controls().at(colmgr_id::k256Colour).checked());
  EXPECT_FALSE(from256.Controls().at(colmgr_id::kTrueColour).checked());
}

}  // namespace
}  // namespace rd::ui
