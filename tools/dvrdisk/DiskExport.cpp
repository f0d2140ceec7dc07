#include "tools/dvrdisk/DiskExport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <vector>

#include "player/disk/RecordingIndex.h"
#include "player/playback/FrameWalker.h"
#include "shared/avi/AviWriter.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/still/BmpFile.h"
#include "tools/dvrdisk/DvrDiskTool.h"

namespace rd::dvrdisk {

namespace {

// The player's picture: 640 x 436, 24-bit, bottom-up rows of 1920 bytes.
constexpr int kWidth = 640;
constexpr int kHeight = 436;
constexpr std::size_t kPitch = static_cast<std::size_t>(kWidth) * 3;
constexpr int kHalfWidth = kWidth / 2;
constexpr int kHalfHeight = kHeight / 2;
constexpr uint64_t kProgressEvery = 250;
constexpr uint8_t kQuadCode = DecoderBank::kQuadCode;

std::string FileTime(const RecTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "20%02d%02d%02d_%02d%02d%02d", t.year & 0x7F, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

// Copies a half-size decoded picture (bottom-up rows of 320 pixels, 1920
// bytes apart) into quadrant `code` of the bottom-up composite.
void CopyQuadrant(const uint8_t* half, uint8_t code, uint8_t* composite) {
  const std::size_t row0 = code < 2 ? kHalfHeight : 0;  // top quadrants are the upper rows
  const std::size_t col0 = (code % 2) * kHalfWidth * 3;
  for (std::size_t r = 0; r < static_cast<std::size_t>(kHalfHeight); ++r) {
    std::memcpy(composite + (row0 + r) * kPitch + col0, half + r * kPitch, kHalfWidth * 3);
  }
}

}  // namespace

int RunExport(const ExportJob& job, ExportResult* result, std::ostream& err) {
  *result = ExportResult{};
  // One decoder per channel code, each channel from its first full frame on
  // (partial frames build on their own camera's picture).
  FrameWalker walker;
  if (!walker.decoders().ok()) {
    err << "dvrdisk: the decoder cannot be opened\n";
    return kExitFailed;
  }
  const RecordingRing ring(job.area_bytes, job.write_position, job.wrapped);
  if (!walker.Start(job.device_path, ring, job.start_position)) {
    err << "dvrdisk: " << walker.error() << "\n";
    return kExitNoDevice;
  }

  AviWriter avi;
  FixedCompressorChooser chooser(CompressorOptions{job.codec, 0, 0});
  if (job.avi_file) {
    avi.SetCompressorChooser(&chooser);
    const int code =
        avi.Create(*job.avi_file, 24, kWidth, kHeight, BitmapInfoHeader::Make24(kWidth, kHeight));
    if (code != kAviOk) {
      err << "dvrdisk: cannot create the AVI file " << *job.avi_file << " (code " << code << ")\n";
      return kExitFailed;
    }
  }
  if (job.bmp_dir) {
    std::error_code ec;
    std::filesystem::create_directories(*job.bmp_dir, ec);
    if (ec) {
      err << "dvrdisk: cannot create " << *job.bmp_dir << ": " << ec.message() << "\n";
      return kExitFailed;
    }
  }

  std::vector<uint8_t> output(1 << 20);
  std::vector<uint8_t> composite(kPitch * kHeight, 0);
  const int64_t to_seconds = job.to ? static_cast<int64_t>(TimeToSeconds(*job.to)) : -1;
  int64_t first_seconds = -1, last_seconds = -1;
  const bool all = job.channel == 5;
  int status = kExitOk;
  uint64_t audio_chunk = 0;
  uint32_t audio_used = 0;

  FrameWalker::Frame f;
  while (walker.Next(&f)) {
    if (f.chunk_number != audio_chunk) {
      audio_chunk = f.chunk_number;
      audio_used = 0;
    }
    const int64_t t = TimeToSeconds(f.time);
    if (to_seconds >= 0 && t > to_seconds) break;
    const StreamBuffer& buf = *f.buffer;
    if (f.audio && audio_used < buf.audio_packet_count) {
      if (job.avi_file &&
          avi.AddAudio(buf.audio.data() + std::size_t{audio_used} * kAudioPayloadSize,
                       kAudioPayloadSize) == kAviOk) {
        ++result->audio_packets;
      }
      ++audio_used;
    }
    const uint8_t code = f.code;
    const bool show = all ? code <= kQuadCode : code == job.channel - 1;
    if (!show) {
      walker.decoders().Missed(code);
      continue;
    }
    const bool half = job.avi_file && all && code != kQuadCode;
    const auto r = walker.decoders().Apply(f.bytes, f.length, false, output.data(), half);
    if (r.outcome != DecoderBank::Outcome::kDecoded || r.status != mjpeg::kStatusTrueColour) {
      ++result->skipped;
      continue;
    }
    if (job.bmp_dir) {
      char name[64];
      std::snprintf(name, sizeof name, "%06llu_%s_%s.bmp",
                    static_cast<unsigned long long>(result->frames),
                    code == kQuadCode ? "quad" : ("ch" + std::to_string(code + 1)).c_str(),
                    FileTime(f.time).c_str());
      const auto path = std::filesystem::path(*job.bmp_dir) / name;
      if (WriteBmp24(path.string(), kWidth, kHeight, output.data(), kPitch) != kBmpOk) {
        err << "dvrdisk: cannot write " << path.string() << "\n";
        status = kExitFailed;
        break;
      }
    } else {
      const uint8_t* picture = output.data();
      if (all) {
        if (half) {
          CopyQuadrant(output.data(), code, composite.data());
        } else {
          std::memcpy(composite.data(), output.data(), composite.size());
        }
        picture = composite.data();
      }
      if (avi.AddVideoFrame(picture, kPitch * kHeight, result->frames == 0) != kAviOk) {
        err << "dvrdisk: writing the AVI file failed\n";
        status = kExitFailed;
        break;
      }
    }
    if (first_seconds < 0) {
      first_seconds = t;
      result->first_time = FormatDiskTime(f.time);
    }
    last_seconds = t;
    result->last_time = FormatDiskTime(f.time);
    ++result->frames;
    if (result->frames % kProgressEvery == 0) {
      err << "export: " << result->frames << " frames, at " << result->last_time << "\n";
    }
    if (job.max_frames && result->frames >= *job.max_frames) break;
  }
  if (walker.read_failed()) {
    err << "dvrdisk: " << walker.error() << "\n";
    status = kExitFailed;
  }

  if (job.avi_file) {
    if (result->frames > 0 && last_seconds >= first_seconds) {
      // Frames from the disk do not come in real time: the rate is that of
      // the recording they span.
      const double seconds = static_cast<double>(last_seconds - first_seconds + 1);
      const auto rate = static_cast<uint32_t>(std::max(1.0, result->frames * 30.0 / seconds));
      avi.SetVideoRateOverride(rate);
    }
    avi.Release();
    avi.Close();
  }
  if (result->frames >= kProgressEvery) err << "export: " << result->frames << " frames done\n";
  return status;
}

}  // namespace rd::dvrdisk
