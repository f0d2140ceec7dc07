#include "client/ui/models/ctrl/CtrlMainDialogs.h"

namespace rd::ui {

DvrMgrSource ReadDvrMgrSource(const RcCtrlMain& main) {
  DvrMgrSource s;
  DvrStateBlock state;
  if (!main.IsSessionConnected() || !main.DvrState(&state) || !state.settings_valid) return s;
  const DvrSettings& d = state.settings;
  s.connected = true;
  s.record_mode = d.record_mode;
  s.input_mask = d.input_mask;
  s.record_mask = d.record_mask;
  s.video_quality = d.video_quality;
  s.video_standard = d.video_standard;
  s.record_frame_rate = d.record_frame_rate;
  s.alarm_on_duration = d.alarm_on_duration;
  s.alarm_record_duration = d.alarm_record_duration;
  s.audio_available = d.audio_available;
  s.audio_recording = (d.audio_flags & 0x01) != 0;
  s.speaker_muted = (d.audio_flags & 0x02) != 0;
  s.disks = ReadDisks(main);
  main.Time(&s.time);
  state.schedule.Unpack(s.schedule.data());
  return s;
}

std::array<DiskInfo, 2> ReadDisks(const RcCtrlMain& main) {
  std::array<DiskInfo, 2> disks{};
  for (int i = 0; i < 2; ++i) {
    DiskInfo& d = disks[static_cast<std::size_t>(i)];
    d.installed = main.DiskInstalled(i);
    d.capacity_mb = main.DiskCapacityMb(i);
    d.used_mb = main.DiskUsedMb(i);
    d.overwriting = main.DiskOverwriting(i);
  }
  return disks;
}

std::vector<EventRecord> ReadEventList(const RcCtrlMain& main) {
  std::vector<EventRecord> events;
  main.EventList(&events);
  return events;
}

StatsSnapshot ReadStats(const StreamStats& stats) {
  StatsSnapshot s;
  stats.GetConnectionTime(&s.seconds);
  stats.GetSpeed(&s.speed_last, &s.speed_max, &s.speed_min, &s.speed_average);
  stats.GetPackets(&s.packets_last, &s.packets_max, &s.packets_min, &s.packets_average);
  stats.GetPacketSize(&s.packet_size_max, &s.packet_size_min);
  stats.GetFrames(&s.frames_total);
  stats.GetFrameRate(&s.fps_last, &s.fps_max, &s.fps_min, &s.fps_average);
  stats.GetFrameSize(&s.frame_size_last, &s.frame_size_max, &s.frame_size_min,
                     &s.frame_size_average);
  return s;
}

}  // namespace rd::ui
