#pragma once
// rdclient's command line:
//   rdclient [--connect ADDR --password HEX6] [--control-port N] [--stream-port N]
//            [--version] [--help]

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rd::client {

struct CommandLine {
  bool help = false;
  bool version = false;
  std::string connect;                // dotted IPv4 address; empty: no connect at start
  std::array<uint8_t, 6> password{};  // six digit values 0..15
  uint16_t control_port = 14337;
  uint16_t stream_port = 14338;
};

// False with a message in *error on bad input.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);
const char* Usage();

}  // namespace rd::client
