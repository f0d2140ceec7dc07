#pragma once
// Helpers shared by the test suites: a temporary folder that removes itself,
// and waiting for a condition with a deadline instead of sleeping.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace rdtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Polls `done` every millisecond until it returns true or `timeout` passes.
// Returns the last value of `done`.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

std::vector<unsigned char> ReadFile(const std::filesystem::path& file);
// The whole file as text ("" when it cannot be read).
std::string ReadText(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::vector<unsigned char>& bytes);

}  // namespace rdtest
