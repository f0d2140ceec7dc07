#include "player/playback/PlaybackTrace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace rd {

std::string FormatTraceLine(const TraceEntry& e) {
  static const char* const kShown[] = {"no", "full", "quadrant"};
  char line[160];
  std::snprintf(line, sizeof line, "%lld\t%llu\t%u\t%u\t%s\t%04d/%02d/%02d %02d:%02d:%02d\t%s",
                static_cast<long long>(e.ms), static_cast<unsigned long long>(e.chunk_position),
                e.frame_index, unsigned{e.channel}, e.full ? "full" : "partial",
                2000 + (e.time.year & 0x7F), e.time.month, e.time.day, e.time.hour, e.time.minute,
                e.time.second, kShown[static_cast<int>(e.shown)]);
  return line;
}

TraceFile::~TraceFile() {
  std::fclose(file_);
}

std::unique_ptr<TraceFile> TraceFile::Create(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    if (error) *error = "cannot create the trace file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceFile>(new TraceFile(f));
}

std::unique_ptr<TraceFile> TraceFile::FromEnvironment(std::string* error) {
  const char* path = std::getenv("RD_PLAYER_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return Create(path, error);
}

void TraceFile::Write(const TraceEntry& entry) {
  const std::string line = FormatTraceLine(entry);
  std::lock_guard lock(mutex_);
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace rd
