#pragma once
// One MJPEG decoder per channel code, with an in-sync flag per channel.
//
// A recorder interleaves its cameras in one stream and codes each camera's
// partial frames against that camera's own last picture, so every channel
// code keeps its own planes. A channel is in sync while its planes hold the
// picture its next partial frame is coded against: a full frame puts it in
// sync; a frame of the channel that is not applied (passed over, lost at a
// chunk boundary, left out by fast or reverse play, or failed) takes it out;
// and a partial frame of a channel out of sync is not decoded (what was shown
// of it stays as it was). Codes 0..3 are CH1..CH4, 4 the recorder's quad
// picture; codes 5..7 carry no picture.

#include <array>
#include <cstddef>
#include <cstdint>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"

namespace rd {

class DecoderBank {
 public:
  enum class Outcome : uint8_t {
    kDecoded,    // the output holds the frame's picture
    kOutOfSync,  // a partial frame of a channel out of sync: not decoded
    kNotFull,    // a partial frame where only full frames may be shown: not decoded
    kFailed,     // the decoder found no frame in the bytes
    kNoChannel,  // codes 5..7, or too few bytes for a header
  };
  struct Result {
    Outcome outcome = Outcome::kNoChannel;
    uint8_t code = 7;
    bool full = false;
    uint8_t status = 0;  // the decoder's status when decoded (0 true colour, 1 palette)
  };

  // Opens every decoder for `standard`; ok() tells whether all could be opened.
  explicit DecoderBank(mjpeg::VideoStandard standard = mjpeg::VideoStandard::kNtsc);
  bool ok() const { return ok_; }

  void SetTrueColour(bool true_colour);

  // Applies one frame (its bytes from the start code on) to its channel's
  // decoder under the rules above and writes the picture to `output` (full
  // or half size) when decoded. `full_only`: fast and reverse play, where a
  // partial frame cannot be built from the picture before it.
  Result Apply(const uint8_t* frame, std::size_t length, bool full_only, uint8_t* output,
               bool half_size);

  // A frame of channel `code` was not applied (codes 5..7 are ignored).
  void Missed(uint8_t code);
  // Frames of unknown channels were not applied (a jump in the stream).
  void MissedAll();
  bool in_sync(uint8_t code) const { return code < kChannelCodes && in_sync_[code]; }

  mjpeg::MjpegDecoder& decoder(uint8_t code) { return decoders_[code % kChannelCodes]; }

 private:
  std::array<mjpeg::MjpegDecoder, kChannelCodes> decoders_;
  std::array<bool, kChannelCodes> in_sync_{};
  bool ok_ = false;
};

}  // namespace rd
