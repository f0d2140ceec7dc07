#include "player/playback/DecoderBank.h"

#include "shared/stream/StreamPacket.h"

namespace rd {

DecoderBank::DecoderBank(mjpeg::VideoStandard standard) {
  ok_ = true;
  for (auto& d : decoders_) {
    d.Open(standard);
    d.SetTrueColour(true);
    ok_ = ok_ && d.IsOpen();
  }
}

void DecoderBank::SetTrueColour(bool true_colour) {
  for (auto& d : decoders_) d.SetTrueColour(true_colour);
}

DecoderBank::Result DecoderBank::Apply(const uint8_t* frame, std::size_t length, bool full_only,
                                       uint8_t* output, bool half_size) {
  Result r;
  const std::size_t header = kFrameStartCode.size();
  if (frame == nullptr || length <= header) return r;
  const FrameHeaderByte h = FrameHeaderByte::Parse(frame[header]);
  r.code = h.channel;
  r.full = h.full_frame;
  if (r.code >= kChannelCodes) return r;
  if (!r.full) {
    if (full_only) {
      r.outcome = Outcome::kNotFull;
      in_sync_[r.code] = false;
      return r;
    }
    if (!in_sync_[r.code]) {
      r.outcome = Outcome::kOutOfSync;
      return r;
    }
  }
  mjpeg::MjpegDecoder& d = decoders_[r.code];
  r.status = d.DecodeFrame(frame, length, output, half_size);
  if (r.status != mjpeg::kStatusTrueColour && r.status != mjpeg::kStatusPalette) {
    r.outcome = Outcome::kFailed;
    in_sync_[r.code] = false;
    return r;
  }
  r.outcome = Outcome::kDecoded;
  // A picture that ended early is shown, but the planes are not what the
  // next partial frame expects.
  in_sync_[r.code] = d.last_picture_end() != mjpeg::PictureEnd::kFailed;
  return r;
}

void DecoderBank::Missed(uint8_t code) {
  if (code < kChannelCodes) in_sync_[code] = false;
}

void DecoderBank::MissedAll() {
  in_sync_.fill(false);
}

}  // namespace rd
