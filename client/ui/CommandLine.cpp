#include "client/ui/CommandLine.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "shared/stream/Password.h"

namespace rd::client {
namespace {

bool ParsePort(const std::string& s, uint16_t* out) {
  if (s.empty() || s.size() > 5) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(s.c_str(), nullptr, 10);
  if (v < 1 || v > 65535) return false;
  *out = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

const char* Usage() {
  return "usage: rdclient [--connect ADDR --password HEX6] [--control-port N] [--stream-port N]\n"
         "                [--version] [--help]\n"
         "\n"
         "  --connect ADDR     connect to the DVR at this IPv4 address at start, without\n"
         "                     the connection dialog\n"
         "  --password HEX6    the session password: six hexadecimal digits\n"
         "  --control-port N   the DVR's control port (default 14337)\n"
         "  --stream-port N    the DVR's stream port (default 14338)\n"
         "  --version          print the version and exit\n"
         "\n"
         "RD_UI_LOG=FILE appends a line per message box and per window shown or closed.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
  bool have_password = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      out->help = true;
    } else if (a == "--version") {
      out->version = true;
    } else if (a == "--connect") {
      if (!value(&v)) return false;
      in_addr addr{};
      if (::inet_pton(AF_INET, v.c_str(), &addr) != 1) {
        *error = "--connect: not a dotted IPv4 address: " + v;
        return false;
      }
      out->connect = v;
    } else if (a == "--password") {
      if (!value(&v)) return false;
      const auto digits = ParsePassword(v);
      if (!digits) {
        *error = "--password: six hexadecimal digits expected";
        return false;
      }
      out->password = *digits;
      have_password = true;
    } else if (a == "--control-port" || a == "--stream-port") {
      if (!value(&v)) return false;
      if (!ParsePort(v, a == "--control-port" ? &out->control_port : &out->stream_port)) {
        *error = a + ": a port 1..65535 expected: " + v;
        return false;
      }
    } else {
      *error = "unknown argument: " + a;
      return false;
    }
  }
  if (!out->connect.empty() && !have_password) {
    *error = "--connect needs --password";
    return false;
  }
  if (out->connect.empty() && have_password) {
    *error = "--password is only used with --connect";
    return false;
  }
  return true;
}

}  // namespace rd::client
