#include "tools/dvrdisk/DiskExport.h"

#include <ostream>

#include "player/disk/RecordingIndex.h"
#include "player/playback/ClipExport.h"
#include "player/playback/ExportReport.h"
#include "rd/Version.h"
#include "tools/dvrdisk/DvrDiskTool.h"

namespace rd::dvrdisk {
namespace {

constexpr uint64_t kProgressEvery = 250;

}  // namespace

int RunExport(const ExportJob& job, ExportResult* result, std::ostream& err) {
  *result = ExportResult{};
  ClipJob clip;
  clip.device_path = job.device_path;
  clip.ring = RecordingRing(job.area_bytes, job.write_position, job.wrapped);
  clip.start_position = job.start_position;
  clip.to = job.to;
  clip.max_frames = job.max_frames;
  clip.channel = job.channel;
  clip.bmp_dir = job.bmp_dir;
  clip.avi_file = job.avi_file;
  clip.compressor = CompressorOptions{job.codec, 0, 0};
  const ClipResult r = ExportClip(clip, [&](const ClipProgress& p) {
    if (p.frames % kProgressEvery == 0)
      err << "export: " << p.frames << " frames, at " << FormatDiskTime(p.time) << "\n";
    return true;
  });
  result->frames = r.frames;
  result->audio_packets = r.audio_packets;
  result->skipped = r.skipped;
  if (r.first_time) result->first_time = FormatDiskTime(*r.first_time);
  if (r.last_time) result->last_time = FormatDiskTime(*r.last_time);

  using Outcome = ClipResult::Outcome;
  int status = kExitOk;
  switch (r.outcome) {
    case Outcome::kDone:
    case Outcome::kCancelled:
      break;
    case Outcome::kOpenFailed:
      err << "dvrdisk: " << r.error << "\n";
      return kExitNoDevice;
    case Outcome::kNoDecoder:
    case Outcome::kAviFailed:
    case Outcome::kFolderFailed:
      err << "dvrdisk: " << r.error << "\n";
      return kExitFailed;
    case Outcome::kWriteFailed:
    case Outcome::kReadFailed:
      err << "dvrdisk: " << r.error << "\n";
      status = kExitFailed;
      break;
  }
  if (r.frames >= kProgressEvery) err << "export: " << r.frames << " frames done\n";

  if (!r.files.empty()) {
    ExportReport report;
    report.kind = job.avi_file ? "clip AVI" : "bitmap frames";
    report.program = std::string("dvrdisk ") + kVersion;
    report.source = job.device_path;
    report.network_layout = job.network;
    report.marker_sector = job.marker_sector;
    report.area_sectors = job.area_bytes / kSectorSize;
    report.channels = job.channel == 5 ? "all" : "CH" + std::to_string(job.channel);
    report.first_packet = r.first_packet;
    report.last_packet = r.last_packet;
    report.first_time = r.first_time;
    report.last_time = r.last_time;
    report.frames = r.frames;
    report.audio_packets = r.audio_packets;
    report.files = r.files;
    const std::string path =
        job.avi_file ? ReportPathFor(*job.avi_file) : FolderReportPath(*job.bmp_dir);
    std::string error;
    if (WriteExportReport(report, path, &error)) {
      result->report = path;
    } else {
      err << "dvrdisk: " << error << "\n";
      status = kExitFailed;
    }
  }
  return status;
}

}  // namespace rd::dvrdisk
