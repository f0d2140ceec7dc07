#pragma once
// The "DVR Hard Drive Information" dialog without widgets: the size, use and
// free space of the DVR's master and slave disks as fixed-width texts.

#include <array>
#include <cstdint>

#include "client/ui/models/ControlStates.h"

namespace rd::ui {

// One disk as the session cache reports it (everything 0 when not installed).
struct DiskInfo {
  uint8_t installed = 0;
  uint32_t capacity_mb = 0;
  uint32_t used_mb = 0;
  uint8_t overwriting = 0;

  friend bool operator==(const DiskInfo&, const DiskInfo&) = default;
};

namespace hddinf_id {
inline constexpr int kCount = 1325;
inline constexpr int kTotal = 1339;
inline constexpr int kMasterStatus = 1340;
inline constexpr int kMasterTotal = 1333;
inline constexpr int kMasterUsed = 1334;
inline constexpr int kMasterFree = 1335;
inline constexpr int kSlaveStatus = 1341;
inline constexpr int kSlaveTotal = 1336;
inline constexpr int kSlaveUsed = 1337;
inline constexpr int kSlaveFree = 1338;
}  // namespace hddinf_id

class HddInfoModel {
 public:
  // Master (device 0) first, then slave (device 1); computes every text.
  void SetDisks(const DiskInfo& master, const DiskInfo& slave);

  const ControlStates& Controls() const { return controls_; }
  // Number of installed disks.
  int DiskCount() const { return count_; }

 private:
  ControlStates controls_;
  int count_ = 0;
};

}  // namespace rd::ui
