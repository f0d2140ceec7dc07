#pragma once
// Walks the recorded frames forward, chunk after chunk, from a position to
// the newest packet of the recording: the export's way through a disk (and
// any clip made from the recorded data). Each chunk after the first is read
// from the packet that holds the frame the previous chunk left open, so no
// frame is lost at a chunk boundary; the walk follows the ring of a wrapped
// recording over the end of the area (a chunk may hold the last packets of
// the area and the first ones) and stops at W (RecordingRing).
//
//   FrameWalker walker(opener);
//   walker.Start(path, ring, position);
//   FrameWalker::Frame f;
//   while (walker.Next(&f)) { ... walker.decoders().Apply(...) ... }
//   if (walker.read_failed()) ...

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/playback/ChunkLoader.h"
#include "player/playback/DecoderBank.h"
#include "player/playback/RecordingRing.h"

namespace rd {

class FrameWalker {
 public:
  struct Frame {
    const StreamBuffer* buffer = nullptr;
    uint32_t index = 0;            // record in the buffer
    uint64_t chunk_position = 0;   // where the chunk holding it was read
    uint64_t chunk_number = 0;     // 1 for the first chunk of the walk, then on
    uint64_t packet_position = 0;  // byte offset of the packet holding its start code
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
    RecTime time;
    uint8_t code = 7;
    bool full = false;
    bool audio = false;  // an audio packet was interleaved within the frame
  };

  explicit FrameWalker(DeviceOpener opener = OpenSectorDevice);

  // Opens the device and places the walk at `position`. False (with
  // error() set) when the device cannot be opened.
  bool Start(const std::string& device_path, const RecordingRing& ring, uint64_t position);
  // The next frame; false at the end of the recording or when a chunk cannot
  // be read (read_failed()).
  bool Next(Frame* frame);

  bool read_failed() const { return read_failed_; }
  const std::string& error() const { return error_; }
  // The chunk of the last frame returned (its audio, for the export).
  const StreamBuffer& buffer() const { return loader_.buffer(0); }
  DecoderBank& decoders() { return decoders_; }

 private:
  bool LoadNext();
  uint64_t PositionOfPacket(std::size_t i) const;

  ChunkLoader loader_;
  DecoderBank decoders_;
  RecordingRing ring_;
  std::vector<uint8_t> chunk_;
  std::optional<int64_t> next_;
  ChunkRange current_;  // the chunk read last
  ChunkRange tail_;     // and its part from the start of the area, when it went on there
  uint32_t index_ = 0;
  uint64_t chunks_ = 0;
  bool loaded_ = false;
  bool read_failed_ = false;
  std::string error_;
};

}  // namespace rd
