// Replays a fuzz target's corpus once: every regular file of the folders (or
// files) named on the command line is passed to LLVMFuzzerTestOneInput.
// Used where the compiler has no libFuzzer, so the corpus still runs as a test.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
int RunFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 1;
}
}  // namespace

int main(int argc, char** argv) {
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) runs += RunFile(entry.path());
      }
    } else if (std::filesystem::is_regular_file(arg)) {
      runs += RunFile(arg);
    } else {
      std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
      return 2;
    }
  }
  if (runs == 0) {
    std::fprintf(stderr, "empty corpus\n");
    return 2;
  }
  std::printf("%d inputs replayed\n", runs);
  return 0;
}
