#include "client/ui/ConfigFile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

namespace rd::client {
namespace {

// The text of the next field: from after the next ']' at or after `pos` up
// to the CR that ends it. nullopt when either is missing; `pos` moves past
// the field.
std::optional<std::string_view> NextField(std::string_view bytes, std::size_t& pos) {
  const std::size_t open = bytes.find(']', pos);
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t end = bytes.find('\r', open + 1);
  if (end == std::string_view::npos) {
    pos = bytes.size();
    return std::nullopt;
  }
  pos = end;
  return bytes.substr(open + 1, end - open - 1);
}

// Leading decimal digits, modulo 2^32 (atoi without its overflow).
uint32_t LeadingNumber(std::string_view s) {
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    v = v * 10u + static_cast<uint32_t>(c - '0');
  }
  return v;
}

}  // namespace

ClientConfig ParseConfig(std::string_view bytes) {
  ClientConfig c;
  std::size_t pos = 0;
  if (auto f = NextField(bytes, pos)) c.major_version = LeadingNumber(*f);
  if (auto f = NextField(bytes, pos)) c.minor_version = LeadingNumber(*f);
  if (auto f = NextField(bytes, pos)) {
    // Four numbers separated by single spaces.
    std::array<std::string_view, 4> parts;
    std::size_t start = 0;
    int n = 0;
    for (std::size_t i = 0; i <= f->size() && n <= 4; ++i) {
      if (i == f->size() || (*f)[i] == ' ') {
        if (n < 4) parts[static_cast<std::size_t>(n)] = f->substr(start, i - start);
        ++n;
        start = i + 1;
      }
    }
    if (n == 4) {
      for (std::size_t i = 0; i < 4; ++i)
        c.address[i] = static_cast<uint8_t>(LeadingNumber(parts[i]) & 0xFF);
    }
  }
  return c;
}

std::string FormatConfig(const ClientConfig& c) {
  char line[96];
  std::string out =
      "// DvrClnt.cfg\r\n"
      "// don't mess up with this file\r\n"
      "// DO NOT EDIT\r\n"
      "\r\n";
  std::snprintf(line, sizeof line, "[major version]%u\r\n", static_cast<unsigned>(c.major_version));
  out += line;
  std::snprintf(line, sizeof line, "[minor version]%u\r\n", static_cast<unsigned>(c.minor_version));
  out += line;
  std::snprintf(line, sizeof line, "[ip address]%u %u %u %u\r\n", c.address[0], c.address[1],
                c.address[2], c.address[3]);
  out += line;
  return out;
}

ConfigFile::ConfigFile(std::filesystem::path base)
    : dir_(base / "config"), path_(dir_ / "dvrclnt.cfg") {}

bool ConfigFile::Read(ClientConfig* out) const {
  *out = ClientConfig{};
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) {
    std::ofstream create(path_, std::ios::binary | std::ios::app);  // created empty
    if (!create) return false;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return false;
  *out = ParseConfig(std::string_view(bytes.data(), bytes.size()));
  return true;
}

bool ConfigFile::Write(const ClientConfig& config) const {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);  // an existing folder is no error
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  const std::string text = FormatConfig(config);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  return !file.fail();
}

}  // namespace rd::client
