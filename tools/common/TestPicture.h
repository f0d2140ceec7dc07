#pragma once
// Synthetic pictures for benchmarks, tests, the demo and the emulated DVR.
//
// MakeNaturalPicture: a still scene with what camera pictures have (smooth
// sky gradient, soft and hard edges, textured ground, fine noise, saturated
// and muted colours), deterministic for a seed.
//
// TestCard: the moving picture of one emulated camera channel. Every channel
// has its own colour and pattern; the channel name ("CH1".."CH4") and a clock
// are burnt in (white text with a black outline); a ball and a sweep bar move
// a little every frame. The picture depends only on (channel, frame number,
// time). The static part is built once, so a frame costs little more than a
// copy of the planes.

#include <cstdint>
#include <string>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/common/Picture.h"

namespace rd {

RgbImage MakeNaturalPicture(int width, int height, uint32_t seed = 1);
YuvPicture MakeNaturalYuv(mjpeg::VideoStandard standard, uint32_t seed = 1);

class TestCard {
 public:
  // channel 1..4 (other values wrap into that range).
  TestCard(int channel, mjpeg::VideoStandard standard);

  int channel() const { return channel_; }
  // Writes the picture of `frame` at `time` into *out (resized if needed).
  void Render(uint64_t frame, const RecTime& time, YuvPicture* out) const;

 private:
  int channel_;
  YuvPicture background_;
};

// Draws `text` with the built-in 5 x 7 pixel font, each font pixel `scale` x
// `scale` samples, top-left corner at (x, y): white with a black outline,
// neutral chroma. Characters: digits, space, : / - . and A C D H L N P Q S T U
// (lower case is drawn as upper case; others as blanks). Clipped to the picture.
void DrawText(YuvPicture* picture, int x, int y, const std::string& text, int scale);
// Width in samples of `text` drawn at `scale`.
int TextWidth(const std::string& text, int scale);

}  // namespace rd
