#include "player/playback/ClipExport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "player/disk/RecordingIndex.h"
#include "player/playback/FrameWalker.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/still/BmpFile.h"
#include "shared/stream/StreamPacket.h"

namespace rd {
namespace {

// The player's picture: 640 x 436, 24-bit, bottom-up rows of 1920 bytes.
constexpr int kWidth = 640;
constexpr int kHeight = 436;
constexpr std::size_t kPitch = static_cast<std::size_t>(kWidth) * 3;
constexpr int kHalfWidth = kWidth / 2;
constexpr int kHalfHeight = kHeight / 2;

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

ClipResult ExportClip(const ClipJob& job,
                      const std::function<bool(const ClipProgress&)>& progress) {
  using Outcome = ClipResult::Outcome;
  ClipResult result;
  auto fail = [&](Outcome outcome, std::string error) {
    result.outcome = outcome;
    result.error = std::move(error);
    return result;
  };
  // One decoder per channel code, each channel from its first full frame on
  // (partial frames build on their own camera's picture).
  FrameWalker walker(job.opener);
  if (!walker.decoders().ok()) return fail(Outcome::kNoDecoder, "the decoder cannot be opened");
  // Ring offsets from the oldest recorded byte: what lies before the start.
  const uint64_t area = std::max<uint64_t>(job.ring.area_bytes(), 1);
  const uint64_t oldest = job.ring.first_position();
  const auto offset = [&](uint64_t p) { return (p % area + area - oldest) % area; };
  const uint64_t start_offset = offset(job.start_position);
  const uint64_t lead = std::min(job.lead_in_bytes - job.lead_in_bytes % kPacketSize, start_offset);
  const uint64_t walk_from = (job.start_position % area + area - lead) % area;
  if (!walker.Start(job.device_path, job.ring, walk_from))
    return fail(Outcome::kOpenFailed, walker.error());

  AviWriter avi;
  FixedCompressorChooser chooser(job.compressor);
  if (job.avi_file) {
    avi.SetCompressorChooser(&chooser);
    const int code =
        avi.Create(*job.avi_file, 24, kWidth, kHeight, BitmapInfoHeader::Make24(kWidth, kHeight));
    if (code != kAviOk) {
      result.avi_code = code;
      return fail(Outcome::kAviFailed,
                  "cannot create the AVI file " + *job.avi_file + ": " + avi.FailureReason(code));
    }
  }
  if (job.bmp_dir) {
    std::error_code ec;
    std::filesystem::create_directories(*job.bmp_dir, ec);
    if (ec)
      return fail(Outcome::kFolderFailed, "cannot create " + *job.bmp_dir + ": " + ec.message());
  }

  std::vector<uint8_t> output(1 << 20);
  std::vector<uint8_t> composite(kPitch * kHeight, 0);
  const int64_t to_seconds = job.to ? static_cast<int64_t>(TimeToSeconds(*job.to)) : -1;
  int64_t first_seconds = -1, last_seconds = -1;
  const bool all = job.channel == 5;
  uint64_t audio_chunk = 0;
  uint32_t audio_used = 0;

  FrameWalker::Frame f;
  while (walker.Next(&f)) {
    if (f.chunk_number != audio_chunk) {
      audio_chunk = f.chunk_number;
      audio_used = 0;
    }
    const int64_t t = TimeToSeconds(f.time);
    const bool lead_in = offset(f.packet_position) < start_offset;
    if (to_seconds >= 0 && t > to_seconds && !lead_in) break;
    const StreamBuffer& buf = *f.buffer;
    if (f.audio && audio_used < buf.audio_packet_count) {
      if (job.avi_file && !lead_in &&
          avi.AddAudio(buf.audio.data() + std::size_t{audio_used} * kAudioPayloadSize,
                       kAudioPayloadSize) == kAviOk) {
        ++result.audio_packets;
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
    const bool decoded =
        r.outcome == DecoderBank::Outcome::kDecoded && r.status == mjpeg::kStatusTrueColour;
    if (lead_in) {
      // Before the start: the picture is kept (a quadrant of all channels)
      // but not written.
      if (decoded && job.avi_file && all && half)
        CopyQuadrant(output.data(), code, composite.data());
      continue;
    }
    if (!decoded) {
      ++result.skipped;
      continue;
    }
    if (job.bmp_dir) {
      char name[64];
      std::snprintf(name, sizeof name, "%06llu_%s_%s.bmp",
                    static_cast<unsigned long long>(result.frames),
                    code == kQuadCode ? "quad" : ("ch" + std::to_string(code + 1)).c_str(),
                    FileTime(f.time).c_str());
      const auto path = (std::filesystem::path(*job.bmp_dir) / name).string();
      if (WriteBmp24(path, kWidth, kHeight, output.data(), kPitch) != kBmpOk) {
        result.outcome = Outcome::kWriteFailed;
        result.error = "cannot write " + path;
        break;
      }
      result.files.push_back(path);
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
      if (avi.AddVideoFrame(picture, kPitch * kHeight, result.frames == 0) != kAviOk) {
        result.outcome = Outcome::kWriteFailed;
        result.error = "writing the AVI file failed";
        break;
      }
    }
    if (first_seconds < 0) {
      first_seconds = t;
      result.first_time = f.time;
      result.first_packet = f.packet_position;
    }
    last_seconds = t;
    result.last_time = f.time;
    result.last_packet = f.packet_position;
    ++result.frames;
    if (progress && !progress(ClipProgress{result.frames, f.time})) {
      result.outcome = Outcome::kCancelled;
      break;
    }
    if (job.max_frames && result.frames >= *job.max_frames) break;
  }
  if (walker.read_failed() && result.outcome == Outcome::kDone) {
    result.outcome = Outcome::kReadFailed;
    result.error = walker.error();
  }

  if (job.avi_file) {
    if (result.frames > 0 && last_seconds >= first_seconds) {
      // Frames from the disk do not come in real time: the rate is that of
      // the recording they span.
      const double seconds = static_cast<double>(last_seconds - first_seconds + 1);
      const auto rate = static_cast<uint32_t>(std::max(1.0, result.frames * 30.0 / seconds));
      avi.SetVideoRateOverride(rate);
    }
    avi.Release();
    avi.Close();
    std::error_code ec;
    if (result.outcome == Outcome::kCancelled) {
      std::filesystem::remove(*job.avi_file, ec);
    } else if (std::filesystem::exists(*job.avi_file, ec)) {
      result.files.push_back(*job.avi_file);
    }
  }
  return result;
}

}  // namespace rd
