#include "client/ui/models/HddInfoModel.h"

namespace rd::ui {

namespace {

std::string Size(uint64_t mb) {
  return Format("%3llu GByte [%7llu MByte]", static_cast<unsigned long long>(mb / 1024),
                static_cast<unsigned long long>(mb));
}

// Size with its share of the capacity; a capacity of 0 shows 0.00 %.
std::string SizeWithShare(uint64_t mb, uint32_t capacity_mb) {
  const float share =
      capacity_mb == 0 ? 0.0f : static_cast<float>(mb) / static_cast<float>(capacity_mb) * 100.0f;
  return Size(mb) + Format(" %6.2f%%", static_cast<double>(share));
}

}  // namespace

void HddInfoModel::SetDisks(const DiskInfo& master, const DiskInfo& slave) {
  const DiskInfo disks[2] = {master, slave};
  count_ = 0;
  uint64_t total = 0;
  for (const DiskInfo& d : disks) {
    if (d.installed == 0) continue;
    ++count_;
    total += d.capacity_mb;
  }
  controls_[hddinf_id::kCount].text =
      Format("%d Hard%s disk installed", count_, count_ == 1 ? "" : "s");
  controls_[hddinf_id::kTotal].text = "The total capacity is " + Size(total);

  static constexpr int kIds[2][4] = {{hddinf_id::kMasterStatus, hddinf_id::kMasterTotal,
                                      hddinf_id::kMasterUsed, hddinf_id::kMasterFree},
                                     {hddinf_id::kSlaveStatus, hddinf_id::kSlaveTotal,
                                      hddinf_id::kSlaveUsed, hddinf_id::kSlaveFree}};
  for (int i = 0; i < 2; ++i) {
    const DiskInfo& d = disks[i];
    ControlState& status = controls_[kIds[i][0]];
    ControlState& total_text = controls_[kIds[i][1]];
    ControlState& used_text = controls_[kIds[i][2]];
    ControlState& free_text = controls_[kIds[i][3]];
    if (d.installed == 0) {
      status.text = "Not Installed";
      total_text.text = used_text.text = free_text.text = "N/A";
      continue;
    }
    status.text = d.overwriting != 0 && d.used_mb != 0 ? "Currently Overwriting" : "Installed";
    total_text.text = Size(d.capacity_mb);
    used_text.text = SizeWithShare(d.used_mb, d.capacity_mb);
    // More used than the capacity (a DVR's inconsistent report) leaves no free space.
    const uint32_t free_mb = d.used_mb > d.capacity_mb ? 0 : d.capacity_mb - d.used_mb;
    free_text.text = SizeWithShare(free_mb, d.capacity_mb);
  }
}

}  // namespace rd::ui
