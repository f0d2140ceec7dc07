#include "player/disk/SectorDevice.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <vector>

namespace rd {

namespace {

class FileSectorDevice final : public SectorDevice {
 public:
  explicit FileSectorDevice(int fd) : fd_(fd) {}
  ~FileSectorDevice() override { ::close(fd_); }

  std::optional<uint64_t> SizeBytes() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode)) {
      uint64_t bytes = 0;
      if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
      return bytes;
    }
    return std::nullopt;
  }

  std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) - size) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      done += static_cast<std::size_t>(n);
    }
    return size;
  }

 private:
  int fd_;
};

// Natural order: digit runs compare by value, so sdb < sdaa and nvme2n1 < nvme10n1.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) &&
        std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      const unsigned long long va = std::strtoull(a.substr(i, ie - i).c_str(), nullptr, 10);
      const unsigned long long vb = std::strtoull(b.substr(j, je - j).c_str(), nullptr, 10);
      if (va != vb) return va < vb;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// sd* / vd* / hd* order by length first (sdz before sdaa), then by name.
bool LetterLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

std::unique_ptr<SectorDevice> OpenSectorDevice(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<FileSectorDevice>(fd);
}

DriveMap DriveMap::FromEnvironment(std::string* error) {
  if (const char* spec = std::getenv("RD_DRIVES"); spec != nullptr && *spec != '\0') {
    std::string why;
    if (auto map = Parse(spec, &why)) return *map;
    if (error) *error = "RD_DRIVES: " + why;
    return DriveMap{};
  }
  return FromSysBlock();
}

std::optional<DriveMap> DriveMap::Parse(const std::string& spec, std::string* error) {
  DriveMap map;
  std::size_t pos = 0;
  while (pos <= spec.size()) {
    std::size_t end = spec.find(',', pos);
    if (end == std::string::npos) end = spec.size();
    const std::string item = spec.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) {
      if (end == spec.size()) break;
      continue;
    }
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == item.size()) {
      if (error) *error = "drive list item \"" + item + "\" is not N=PATH";
      return std::nullopt;
    }
    const std::string number = item.substr(0, eq);
    if (number.size() > 2 || !std::all_of(number.begin(), number.end(),
                                          [](unsigned char c) { return std::isdigit(c); })) {
      if (error) *error = "drive number \"" + number + "\" is not 0-10";
      return std::nullopt;
    }
    const int drive = std::atoi(number.c_str());
    if (drive >= kDriveCount) {
      if (error) *error = "drive number " + number + " is not 0-10";
      return std::nullopt;
    }
    map.Set(drive, item.substr(eq + 1));
    if (end == spec.size()) break;
  }
  return map;
}

DriveMap DriveMap::FromSysBlock(const std::filesystem::path& sys_block,
                                const std::filesystem::path& dev) {
  static const std::regex kGroups[] = {std::regex("sd[a-z]+"), std::regex("vd[a-z]+"),
                                       std::regex("nvme[0-9]+n[0-9]+"), std::regex("mmcblk[0-9]+"),
                                       std::regex("hd[a-z]+")};
  std::vector<std::string> groups[std::size(kGroups)];
  std::error_code ec;
  for (std::filesystem::directory_iterator it(sys_block, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    for (std::size_t g = 0; g < std::size(kGroups); ++g) {
      if (std::regex_match(name, kGroups[g])) {
        groups[g].push_back(name);
        break;
      }
    }
  }
  DriveMap map;
  int drive = 0;
  for (std::size_t g = 0; g < std::size(kGroups); ++g) {
    const bool letters = g == 0 || g == 1 || g == 4;
    std::sort(groups[g].begin(), groups[g].end(), letters ? LetterLess : NaturalLess);
    for (const auto& name : groups[g]) {
      if (drive >= kDriveCount) return map;
      map.Set(drive++, (dev / name).string());
    }
  }
  return map;
}

std::optional<std::string> DriveMap::PathOf(int drive) const {
  const auto it = paths_.find(drive);
  if (it == paths_.end()) return std::nullopt;
  return it->second;
}

}  // namespace rd
