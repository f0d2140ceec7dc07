#pragma once
// dvrdisk export: recorded frames from a found position, written as BMP
// files or into an AVI file with the recorded audio (the player's clip
// export), with the export report beside them.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "shared/stream/StreamPacket.h"

namespace rd::dvrdisk {

struct ExportJob {
  std::string device_path;
  uint64_t marker_sector = 0;  // for the report
  bool network = false;
  uint64_t area_bytes = 0;
  uint64_t start_position = 0;         // byte offset of the found packet
  uint64_t write_position = 0;         // W x 4096: the newest recorded packet ends here
  bool wrapped = false;                // the recording goes on from the area end at 0
  std::optional<RecTime> to;           // stop after this time
  std::optional<uint64_t> max_frames;  // or after this many frames
  int channel = 5;                     // 1-4, or 5 for all
  std::optional<std::string> bmp_dir;
  std::optional<std::string> avi_file;
  std::string codec = "uncompressed";
};

struct ExportResult {
  uint64_t frames = 0;         // pictures written (BMP files or AVI frames)
  uint64_t audio_packets = 0;  // audio blocks added to the AVI
  uint64_t skipped = 0;        // partial frames before their channel's first full frame,
                               // and frames the decoder could not decode
  std::string first_time, last_time;
  std::string report;  // the report written
};

// Returns an exit status (see DvrDiskTool.h); progress lines go to `err`.
int RunExport(const ExportJob& job, ExportResult* result, std::ostream& err);

}  // namespace rd::dvrdisk
