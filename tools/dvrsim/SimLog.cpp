#include "tools/dvrsim/SimLog.h"

#include <cerrno>
#include <cstring>

namespace rd::sim {

uint32_t Fnv1a32(const uint8_t* data, std::size_t size, uint32_t seed) {
  uint32_t h = seed;
  for (std::size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 16777619u;
  }
  return h;
}

std::string Hex(const uint8_t* data, std::size_t len) {
  if (len == 0) return "-";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s(len * 2, '0');
  for (std::size_t i = 0; i < len; ++i) {
    s[2 * i] = kDigits[data[i] >> 4];
    s[2 * i + 1] = kDigits[data[i] & 15];
  }
  return s;
}

SimLog::~SimLog() {
  if (file_) std::fclose(file_);
}

bool SimLog::Open(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    if (error) *error = "cannot open log file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = f;
  start_ = std::chrono::steady_clock::now();
  return true;
}

void SimLog::Line(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!file_) return;
  double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(file_, "%.3f %s\n", t, text.c_str());
  std::fflush(file_);
}

void SimLog::Message(const char* dir, uint8_t type, uint8_t param, const uint8_t* payload,
                     std::size_t len) {
  if (!file_) return;
  Line(std::string(dir) + " " + std::to_string(type) + " " + std::to_string(param) + " " +
       std::to_string(len) + " " + Hex(payload, len));
}

void SimLog::Bad(const uint8_t* bytes, std::size_t len) {
  if (!file_) return;
  Line("BAD " + std::to_string(len) + " " + Hex(bytes, len));
}

void SimLog::BadText(const std::string& text) {
  if (!file_) return;
  Line("BAD " + text);
}

void SimLog::Frame(int channel_code, std::size_t len, uint32_t hash) {
  if (!file_) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "FRAME %d %zu %08x", channel_code, len, hash);
  Line(buf);
}

void SimLog::Audio(std::size_t len, uint32_t hash) {
  if (!file_) return;
  char buf[64];
  std::snprintf(buf, sizeof buf, "AUDIO %zu %08x", len, hash);
  Line(buf);
}

void SimLog::Note(const std::string& text) {
  if (!file_) return;
  Line("NOTE " + text);
}

}  // namespace rd::sim
