#pragma once
// Small DVR disk images for the player's tests, built with the disk image
// writer, and a device wrapper that logs and fails reads on demand.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "player/disk/SectorDevice.h"
#include "shared/stream/RecTimeCalendar.h"
#include "shared/stream/StreamPacket.h"
#include "tools/common/DvrDiskImage.h"

namespace rdtest {

inline int64_t EpochSeconds(const rd::RecTime& t) {
  return rd::RecTimeSeconds(t);
}

// `t` moved by `s` seconds; unlike the recorder's clock, the year is not held
// to 2000..2099.
inline rd::RecTime AddSeconds(const rd::RecTime& t, int64_t s) {
  const rd::CivilTime c = rd::CivilFromSeconds(rd::RecTimeSeconds(t) + s);
  return rd::RecTime{static_cast<uint8_t>(c.date.year - rd::kFirstRecYear),
                     static_cast<uint8_t>(c.date.month),
                     static_cast<uint8_t>(c.date.day),
                     static_cast<uint8_t>(c.hour),
                     static_cast<uint8_t>(c.minute),
                     static_cast<uint8_t>(c.second)};
}

// Writes video packets first .. first+count-1 (empty payloads) stamped with
// time(p).
inline void WriteTimedPackets(rd::DvrDiskImage& image, uint64_t first, uint64_t count,
                              const std::function<rd::RecTime(uint64_t)>& time) {
  uint8_t packet[rd::kPacketSize];
  for (uint64_t p = first; p < first + count; ++p) {
    rd::DvrDiskImage::MakeVideoPacket(time(p), 1, 0x0F, nullptr, 0, packet);
    image.WritePacket(p, packet);
  }
}

// Wraps real devices: logs every read (offset, size) and fails reads that
// touch one of `fail_sectors`, or the size request when `fail_size`.
class ProbeOpener {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<std::pair<uint64_t, std::size_t>> reads;
    std::set<uint64_t> fail_sectors;
    bool fail_size = false;
    std::optional<uint64_t> size_override;  // the size the device claims
    int opens = 0;
  };

  ProbeOpener() : log_(std::make_shared<Log>()) {}

  rd::DeviceOpener opener() const {
    auto log = log_;
    return [log](const std::string& path, std::string* error) -> std::unique_ptr<rd::SectorDevice> {
      auto inner = rd::OpenSectorDevice(path, error);
      if (!inner) return nullptr;
      {
        std::lock_guard lock(log->mutex);
        ++log->opens;
      }
      return std::make_unique<Device>(std::move(inner), log);
    };
  }
  Log& log() { return *log_; }

 private:
  class Device : public rd::SectorDevice {
   public:
    Device(std::unique_ptr<rd::SectorDevice> inner, std::shared_ptr<Log> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}
    std::optional<uint64_t> SizeBytes() override {
      if (log_->fail_size) return std::nullopt;
      if (log_->size_override) return log_->size_override;
      return inner_->SizeBytes();
    }
    std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
      {
        std::lock_guard lock(log_->mutex);
        log_->reads.emplace_back(offset, size);
        const uint64_t first = offset / rd::kSectorSize;
        const uint64_t last = (offset + size - 1) / rd::kSectorSize;
        auto it = log_->fail_sectors.lower_bound(first);
        if (it != log_->fail_sectors.end() && *it <= last) return 0;
      }
      return inner_->ReadAt(offset, buffer, size);
    }

   private:
    std::unique_ptr<rd::SectorDevice> inner_;
    std::shared_ptr<Log> log_;
  };

  std::shared_ptr<Log> log_;
};

}  // namespace rdtest
