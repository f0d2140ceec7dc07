#pragma once
// Export of recorded frames from a DVR disk, from the data rather than from
// the screen: the frame walker goes forward from a position, chunk after
// chunk; the frames of one channel (full size) or of all four (each in its
// quadrant of a 640 x 436 picture, the recorder's quad pictures whole) are
// decoded with one decoder per channel, each channel from its first full
// frame on, and written as 24-bit bitmap files or into one AVI file together
// with the recorded audio. The AVI's frame rate is that of the recording the
// frames span, so picture and sound keep their recorded timing.
//
// Used by `dvrdisk export` and by the player's clip export.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "player/disk/SectorDevice.h"
#include "player/playback/RecordingRing.h"
#include "shared/avi/AviWriter.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

struct ClipJob {
  std::string device_path;
  RecordingRing ring;
  uint64_t start_position = 0;  // byte offset of the first packet to walk from
  // With a lead-in, the walk begins up to this many bytes before the start
  // position (within the recording), so that every channel has met a full
  // frame when the start is reached; frames before it are decoded, not written.
  uint64_t lead_in_bytes = 0;
  std::optional<RecTime> to;            // stop after the frames of this second
  std::optional<uint64_t> max_frames;   // or after this many pictures
  int channel = 5;                      // 1-4, or 5 for all
  std::optional<std::string> bmp_dir;   // one bitmap per picture, or
  std::optional<std::string> avi_file;  // one AVI file
  CompressorOptions compressor;         // the AVI's compressor, chosen beforehand
  DeviceOpener opener = OpenSectorDevice;
};

struct ClipProgress {
  uint64_t frames = 0;
  RecTime time;  // of the last picture
};

struct ClipResult {
  enum class Outcome {
    kDone,
    kCancelled,     // the progress callback said stop; an AVI begun is removed
    kNoDecoder,     // the decoder cannot be opened
    kOpenFailed,    // the device cannot be opened
    kAviFailed,     // the AVI file cannot be created (avi_code)
    kFolderFailed,  // the bitmap folder cannot be created
    kWriteFailed,   // a bitmap or AVI frame could not be written
    kReadFailed,    // a chunk could not be read; what was written is kept
  };
  Outcome outcome = Outcome::kDone;
  std::string error;
  int avi_code = kAviOk;
  uint64_t frames = 0;         // pictures written
  uint64_t audio_packets = 0;  // audio blocks added to the AVI
  uint64_t skipped = 0;        // partial frames before their channel's first full frame,
                               // and frames the decoder could not decode
  std::optional<RecTime> first_time, last_time;
  std::optional<uint64_t> first_packet, last_packet;  // byte offsets of their packets
  std::vector<std::string> files;                     // written
};

// Walks and writes. `progress` (optional) is called after each picture;
// returning false cancels.
ClipResult ExportClip(const ClipJob& job,
                      const std::function<bool(const ClipProgress&)>& progress = {});

}  // namespace rd
