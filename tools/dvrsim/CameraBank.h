#pragma once
// The emulated DVR's four cameras: a moving test card per channel (channel
// name and clock burnt in) and the quad picture of all four, each encoded with
// its own MJPEG encoder so that partial frames code only what changed since
// that channel's previous frame.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/TestPicture.h"

namespace rd::sim {

class CameraBank {
 public:
  explicit CameraBank(mjpeg::VideoStandard standard);

  mjpeg::VideoStandard standard() const { return standard_; }
  // Renders channel `code` (0..3 = CH1..CH4, 4 = quad picture of the channels
  // in `quad_mask`, bit 3 = CH1) for its frame `frame` at `time`, and encodes
  // it: a full frame when `full` is set or the channel has no reference yet,
  // else a partial frame. Quantisation level code q (0..15). The bytes stay
  // valid until the next call for the same code.
  std::span<const uint8_t> Encode(int code, uint64_t frame, const RecTime& time, int q, bool full,
                                  uint8_t quad_mask = 0x0F);
  // The next frame of every channel is a full frame.
  void ResetAll();

 private:
  void RenderQuad(uint64_t frame, const RecTime& time, uint8_t quad_mask);

  mjpeg::VideoStandard standard_;
  std::array<std::unique_ptr<TestCard>, 4> cards_;
  std::array<std::unique_ptr<MjpegEncoder>, 5> encoders_;
  YuvPicture picture_;
  YuvPicture part_;
};

}  // namespace rd::sim
