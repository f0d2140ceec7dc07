#include "client/ui/models/StatsModel.h"

namespace rd::ui {

namespace {

// A minimum without a sample yet shows as 0.
uint32_t Min(uint32_t v) {
  return v == 0xFFFFFFFFu ? 0 : v;
}

double Mbps(double bytes_per_second) {
  return bytes_per_second / 131072.0;
}
double Kb(double bytes) {
  return bytes / 1024.0;
}

}  // namespace

StatsModel::StatsModel() {
  controls_[stat_id::kStatus].text = "Not Connected";
  controls_[stat_id::kAddress].text = "N/A";
  controls_[stat_id::kPort].text = "N/A";
  controls_[stat_id::kTime].text = "0 sec";
  controls_[stat_id::kSpeed].text = "0.000 Mbps, [0.000 : 0.000 : 0.000] Mbps";
  controls_[stat_id::kPackets].text = "0.000 pps, [0.000 : 0.000 : 0.000] pps";
  controls_[stat_id::kPacketSize].text = "[ 0 : 0.000 : 0] bytes";
  controls_[stat_id::kFrames].text = "0 frame(s) detected";
  controls_[stat_id::kFrameRate].text = "0 fps, [0 : 0.00 : 0] fps";
  controls_[stat_id::kFrameSize].text = "0 KB, [0:0.000:0] Kbytes";
  controls_[stat_id::kLegend].text = "Legend: Current [Max : Average : Min]";
}

void StatsModel::SetConnection(bool stream_live, const std::string& address, uint16_t stream_port) {
  controls_[stat_id::kStatus].text = stream_live ? "Connected" : "Not Connected";
  controls_[stat_id::kAddress].text = stream_live ? address : "N/A";
  controls_[stat_id::kPort].text = stream_live ? Format("%u", stream_port) : "N/A";
}

void StatsModel::StreamConnectResult(uintptr_t error) {
  if (error == 0) controls_[stat_id::kStatus].text = "Connected";
}

std::string StatsModel::ConnectionTime(uint32_t s) {
  const uint32_t days = s / 86400, hours = s % 86400 / 3600, minutes = s % 3600 / 60,
                 seconds = s % 60;
  if (s >= 86400) return Format("%u day %u hour %u min %u sec", days, hours, minutes, seconds);
  if (s >= 3600) return Format("%u hour %u min %u sec", hours, minutes, seconds);
  if (s < 60) return Format("%u sec", s);
  return Format("%u min %u sec", minutes, seconds);
}

void StatsModel::Refresh(const StatsSnapshot& s) {
  controls_[stat_id::kTime].text = ConnectionTime(s.seconds);
  controls_[stat_id::kSpeed].text =
      Format("%.3f Mbps, [%.3f : %.3f : %.3f] Mbps", Mbps(s.speed_last), Mbps(s.speed_max),
             Mbps(s.speed_average), Mbps(Min(s.speed_min)));
  controls_[stat_id::kPackets].text =
      Format("%u pps, [%u : %.3f : %u] pps", s.packets_last, s.packets_max,
             static_cast<double>(s.packets_average), Min(s.packets_min));
  controls_[stat_id::kPacketSize].text =
      Format("[%u : : %u] Bytes", s.packet_size_max, Min(s.packet_size_min));
  controls_[stat_id::kFrames].text = Format("%u frame(s) detected", s.frames_total);
  controls_[stat_id::kFrameRate].text =
      Format("%u fps, [%u : %.3f : %u] fps", s.fps_last, s.fps_max,
             static_cast<double>(s.fps_average), Min(s.fps_min));
  controls_[stat_id::kFrameSize].text =
      Format("%.3f KB, [%.3f : %.3f : %.3f] KB", Kb(s.frame_size_last), Kb(s.frame_size_max),
             Kb(s.frame_size_average), Kb(Min(s.frame_size_min)));
}

}  // namespace rd::ui
