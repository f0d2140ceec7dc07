// The connection manager's rules: the checks of OK in their order, the
// messages, the password's digit values and what is saved.

#include <gtest/gtest.h>

#include "client/ui/ConMgrModel.h"
#include "support/TestSupport.h"

namespace rd::client {
namespace {

struct OkCase {
  const char* name;
  std::array<uint8_t, 4> address;
  std::string password;
  bool accepted;
  const char* caption;  // nullptr: no box
  const char* text;
  bool clears_password;
  bool saves;
};

class ConMgrOk : public ::testing::TestWithParam<OkCase> {};

TEST_P(ConMgrOk, ChecksInOrder) {
  const OkCase& c = GetParam();
  rdtest::TempDir dir;
  const ConfigFile file(dir.path());
  ConMgrModel model(file);
  model.OpeningAddress();
  const ConMgrResult r = model.Ok(c.address, c.password, true);
  EXPECT_EQ(r.accepted, c.accepted);
  ASSERT_EQ(r.box.has_value(), c.caption != nullptr);
  if (r.box) {
    EXPECT_EQ(r.box->caption, c.caption);
    EXPECT_EQ(r.box->text, c.text);
  }
  EXPECT_EQ(r.clear_password, c.clears_password);
  EXPECT_EQ(r.config_written, c.saves);
  EXPECT_EQ(std::filesystem::exists(dir / "config/dvrclnt.cfg"), c.saves);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConMgrOk,
    ::testing::Values(
        OkCase{"Good", {192, 168, 1, 20}, "12AB9F", true, nullptr, nullptr, false, true},
        OkCase{"FiveCharacters",
               {192, 168, 1, 20},
               "12345",
               false,
               "",
               "Invalid Password",
               true,
               false},
        OkCase{"SevenCharacters",
               {192, 168, 1, 20},
               "1234567",
               false,
               "",
               "Invalid Password",
               true,
               false},
        OkCase{"FirstByteZero",
               {0, 1, 2, 3},
               "123456",
               false,
               "Input Error",
               "Invalid IP Address\n0.1.2.3",
               false,
               false},
        // The address is saved before the password is converted.
        OkCase{"LowerCaseHex", {10, 0, 0, 1}, "12ab9f", false, "", "Invalid Password", false, true},
        OkCase{"NotHex", {10, 0, 0, 1}, "12G456", false, "", "Invalid Password", false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConMgrModel, DigitValuesAndTheSavedAddressWithItsVersions) {
  rdtest::TempDir dir;
  const ConfigFile file(dir.path());
  ClientConfig old;
  old.major_version = 2;
  old.minor_version = 5;
  old.address = {172, 16, 0, 9};
  ASSERT_TRUE(file.Write(old));
  ConMgrModel model(file);
  EXPECT_EQ(model.OpeningAddress(), old.address);
  const ConMgrResult r = model.Ok({192, 168, 1, 20}, "09AF3C", true);
  ASSERT_TRUE(r.accepted);
  EXPECT_EQ(model.AddressText(), "192.168.1.20");
  EXPECT_EQ(model.Digits(), (std::array<uint8_t, 6>{0, 9, 10, 15, 3, 12}));
  ClientConfig now;
  ASSERT_TRUE(file.Read(&now));
  EXPECT_EQ(now.address, (std::array<uint8_t, 4>{192, 168, 1, 20}));
  EXPECT_EQ(now.major_version, 2u) << "versions carried through";
  EXPECT_EQ(now.minor_version, 5u);
}

TEST(ConMgrModel, NotSavedWhenUncheckedAndAnUnwritablePlaceStillConnects) {
  rdtest::TempDir dir;
  const ConfigFile file(dir.path());
  ConMgrModel model(file);
  EXPECT_EQ(model.OpeningAddress(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_TRUE(model.Ok({10, 1, 1, 1}, "123456", false).accepted);
  EXPECT_FALSE(std::filesystem::exists(dir / "config"));
  rdtest::WriteFile(dir / "config", {'x'});  // config/ cannot be made
  const ConMgrResult r = model.Ok({10, 1, 1, 1}, "123456", true);
  EXPECT_TRUE(r.accepted);
  EXPECT_TRUE(r.config_written);
}

}  // namespace
}  // namespace rd::client
