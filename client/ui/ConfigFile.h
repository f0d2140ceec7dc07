#pragma once
// The client configuration file config/dvrclnt.cfg: the last DVR address and
// two version numbers that are carried through. Plain text, CR LF lines:
//
//   // DvrClnt.cfg
//   // don't mess up with this file
//   // DO NOT EDIT
//   (empty)
//   [major version]N
//   [minor version]N
//   [ip address]A B C D
//
// The reader takes three fields, each after the next ']' following the
// previous field and ended by CR; numbers read like atoi (leading digits, none
// gives 0) and an address byte keeps the low 8 bits. A field that is missing
// or damaged counts as not there: its version is 0, and an address that is
// not four numbers separated by single spaces is 0.0.0.0. No widgets here.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace rd::client {

struct ClientConfig {
  uint32_t major_version = 0;
  uint32_t minor_version = 0;
  std::array<uint8_t, 4> address{};  // most significant first; 0.0.0.0: none saved
};

// Never fails: what the bytes do not provide is 0.
ClientConfig ParseConfig(std::string_view bytes);
// The seven lines, each ended by CR LF.
std::string FormatConfig(const ClientConfig& config);

class ConfigFile {
 public:
  // The file config/dvrclnt.cfg under `base` (the current directory by default).
  explicit ConfigFile(std::filesystem::path base = std::filesystem::current_path());

  const std::filesystem::path& path() const { return path_; }

  // Reads the file into *out; a missing file is created empty. False when
  // the file cannot be opened or read (then *out is all zero).
  bool Read(ClientConfig* out) const;
  // Creates config/ when needed and writes the file; false when it cannot
  // be written.
  bool Write(const ClientConfig& config) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

}  // namespace rd::client
