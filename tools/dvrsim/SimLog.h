#pragma once
// The emulator's event log (--log FILE): one line per control message received
// or sent, per run of bad bytes, per video frame and audio block sent on the
// stream, and per notable event. The line format is listed in dvrsim --help.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace rd::sim {

// FNV-1a, 32 bits.
uint32_t Fnv1a32(const uint8_t* data, std::size_t size, uint32_t seed = 2166136261u);

class SimLog {
 public:
  SimLog() = default;
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  bool Open(const std::string& path, std::string* error);
  bool enabled() const { return file_ != nullptr; }

  void Message(const char* dir, uint8_t type, uint8_t param, const uint8_t* payload,
               std::size_t len);
  void Bad(const uint8_t* bytes, std::size_t len);
  void BadText(const std::string& text);
  void Frame(int channel_code, std::size_t len, uint32_t hash);
  void Audio(std::size_t len, uint32_t hash);
  void Note(const std::string& text);

 private:
  void Line(const std::string& text);

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string Hex(const uint8_t* data, std::size_t len);

}  // namespace rd::sim
