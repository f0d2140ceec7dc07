#pragma once
// The "Streaming Status" dialog without widgets: the connection lines and the
// statistics lines, refreshed once per second from the stream statistics.

#include <cstdint>
#include <string>

#include "client/ui/models/ControlStates.h"

namespace rd::ui {

namespace stat_id {
inline constexpr int kStatus = 1006;
inline constexpr int kAddress = 1007;
inline constexpr int kPort = 1008;
inline constexpr int kTime = 1009;
inline constexpr int kSpeed = 1010;
inline constexpr int kPackets = 1011;
inline constexpr int kPacketSize = 1012;
inline constexpr int kFrames = 1013;
inline constexpr int kFrameRate = 1014;
inline constexpr int kFrameSize = 1015;
inline constexpr int kLegend = 1016;
}  // namespace stat_id

// One reading of the statistics getters. A minimum of 0xFFFFFFFF means "no
// value yet".
struct StatsSnapshot {
  uint32_t seconds = 0;
  uint32_t speed_last = 0, speed_max = 0, speed_min = 0xFFFFFFFFu;  // bytes per second
  float speed_average = 0;
  uint32_t packets_last = 0, packets_max = 0, packets_min = 0xFFFFFFFFu;  // per second
  float packets_average = 0;
  uint32_t packet_size_max = 0, packet_size_min = 0xFFFFFFFFu;
  uint32_t frames_total = 0;
  uint32_t fps_last = 0, fps_max = 0, fps_min = 0xFFFFFFFFu;
  float fps_average = 0;
  uint32_t frame_size_last = 0, frame_size_max = 0, frame_size_min = 0xFFFFFFFFu;
  float frame_size_average = 0;
};

class StatsModel {
 public:
  StatsModel();  // the texts of a dialog that has seen nothing yet

  // Before the window exists: the stream is live (with the DVR's address) or not.
  void SetConnection(bool stream_live, const std::string& address, uint16_t stream_port = 14338);
  // The stream connect result (0x431): 0 makes the status "Connected"; an
  // error leaves it as it is.
  void StreamConnectResult(uintptr_t error);
  // Once per second (0x4F0).
  void Refresh(const StatsSnapshot& s);

  const ControlStates& Controls() const { return controls_; }

  // "%d day %d hour %d min %d sec" and its shorter forms.
  static std::string ConnectionTime(uint32_t seconds);

 private:
  ControlStates controls_;
};

}  // namespace rd::ui
