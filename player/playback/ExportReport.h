#pragma once
// The report written beside every export of recorded pictures (a captured
// bitmap, a screen AVI, a clip AVI, the bitmaps and AVI files of `dvrdisk
// export`), so that what was exported can be traced back to the disk and
// checked later: the SHA-256 of each file, the source device or image (opened
// read-only), the marker sector and the layout, the packets the pictures came
// from, the first and last frame time, the frame count and the program.
//
// The report is a text file of "key: value" lines, named after the exported
// file with ".report.txt" added ("clip.avi" -> "clip.avi.report.txt"); a
// folder of bitmaps gets one report beside it ("frames/" ->
// "frames.report.txt") with a line per file. Each file line is
// "sha256: HEX  NAME", NAME relative to the report's folder: the form
// `sha256sum --check` reads there once the other lines are left out.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd {

// SHA-256 of a byte string and of a file's content.
using Sha256Digest = std::array<uint8_t, 32>;
Sha256Digest Sha256(const void* data, std::size_t size);
// Nothing when the file cannot be read.
std::optional<Sha256Digest> Sha256OfFile(const std::string& path);
std::string HexDigest(const Sha256Digest& digest);

struct ExportReport {
  std::string kind;     // "bitmap capture", "screen AVI", "clip AVI", "bitmap frames"
  std::string program;  // "rdplayer 1.0.0"
  std::string source;   // the device or image the pictures were read from
  bool network_layout = false;
  uint64_t marker_sector = 0;
  uint64_t area_sectors = 0;
  std::string channels;  // "all" or "CH1".."CH4"
  // The packets the first and the last picture came from (byte offsets in
  // the recording area) and their recorded times.
  std::optional<uint64_t> first_packet, last_packet;
  std::optional<RecTime> first_time, last_time;
  uint64_t frames = 0;             // pictures in the export
  uint64_t audio_packets = 0;      // 4000-byte A-law blocks (AVI exports)
  std::string note;                // anything else worth knowing (optional)
  std::vector<std::string> files;  // the exported files
};

// The report path of one exported file, and of a folder of bitmaps.
std::string ReportPathFor(const std::string& exported_file);
std::string FolderReportPath(const std::string& folder);

// The report's text; each file of report.files is hashed (a file that cannot
// be read is listed with "unreadable" in place of its hash) and named
// relative to `base_dir`.
std::string FormatExportReport(const ExportReport& report, const std::string& base_dir);

// Writes the report to `path` (file names relative to its folder). False with *error set when it
// cannot be written.
bool WriteExportReport(const ExportReport& report, const std::string& path, std::string* error);

}  // namespace rd
