// The client configuration file reader: any bytes give a configuration
// (what the bytes do not provide is 0), and what the writer makes of it
// reads back the same.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/ui/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const rd::client::ClientConfig c =
      rd::client::ParseConfig(std::string_view(reinterpret_cast<const char*>(data), size));
  const rd::client::ClientConfig back = rd::client::ParseConfig(rd::client::FormatConfig(c));
  if (back.major_version != c.major_version || back.minor_version != c.minor_version ||
      back.address != c.address)
    std::abort();
  return 0;
}
