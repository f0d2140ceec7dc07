// rdclient's command line.

#include <gtest/gtest.h>

#include "client/ui/CommandLine.h"

namespace rd::client {
namespace {

TEST(CommandLine, DefaultsAndAFullConnect) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({}, &cl, &error));
  EXPECT_TRUE(cl.connect.empty());
  EXPECT_EQ(cl.control_port, 14337);
  EXPECT_EQ(cl.stream_port, 14338);
  ASSERT_TRUE(ParseCommandLine({"--connect", "10.1.2.3", "--password", "12ab9F", "--control-port",
                                "4000", "--stream-port", "4001"},
                               &cl, &error))
      << error;
  EXPECT_EQ(cl.connect, "10.1.2.3");
  EXPECT_EQ(cl.password, (std::array<uint8_t, 6>{1, 2, 10, 11, 9, 15}));
  EXPECT_EQ(cl.control_port, 4000);
  EXPECT_EQ(cl.stream_port, 4001);
}

TEST(CommandLine, BadInputIsRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--connect", "dvr.example", "--password", "123456"},
      {"--connect", "10.1.2.3"},
      {"--password", "123456"},
      {"--connect", "10.1.2.3", "--password", "12345"},
      {"--connect", "10.1.2.3", "--password", "12345G"},
      {"--control-port", "0"},
      {"--stream-port", "65536"},
      {"--stream-port"},
      {"--frobnicate"},
  };
  for (const auto& args : bad) {
    CommandLine cl;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(args, &cl, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace rd::client
