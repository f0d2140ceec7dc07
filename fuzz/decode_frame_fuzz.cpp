// MjpegDecoder::DecodeFrame on any bytes. The first input byte selects the
// mode: bit 0 true colour, bit 1 half size, bit 2 PAL, bit 3 decode the same
// bytes a second time at the other size and colour mode, bit 4 use the scalar
// paths instead of the vector ones. The rest is the frame. The output
// buffer is exactly as large as the decoder may write, so AddressSanitizer
// reports any write past it; the frame bytes are libFuzzer's own buffer, so
// any read past the end is reported too.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "shared/mjpeg/MjpegDecoder.h"

namespace {

// One decoder per standard and kernel choice (a decoder takes its kernels
// when it opens).
rd::mjpeg::MjpegDecoder& Decoder(bool pal, bool scalar) {
  static rd::mjpeg::MjpegDecoder decoders[2][2];
  rd::mjpeg::MjpegDecoder& d = decoders[pal][scalar];
  if (!d.IsOpen()) {
    rd::mjpeg::SetVectorPathsEnabled(!scalar);
    d.Open(pal ? rd::mjpeg::VideoStandard::kPal : rd::mjpeg::VideoStandard::kNtsc);
    rd::mjpeg::SetVectorPathsEnabled(true);
  }
  return d;
}

void DecodeOnce(rd::mjpeg::MjpegDecoder& d, const uint8_t* frame, size_t size, bool true_colour,
                bool half) {
  d.SetTrueColour(true_colour);
  const size_t n = d.OutputBytes(true_colour, half);
  // One exact-size heap buffer per geometry, kept between inputs.
  static std::unique_ptr<uint8_t[]> buffers[2][2][2];
  std::unique_ptr<uint8_t[]>& out = buffers[d.height() == 272][true_colour][half];
  if (!out) out.reset(new uint8_t[n]);
  const uint8_t status = d.DecodeFrame(frame, size, out.get(), half);
  if (status != 0 && status != 1 && status != 97 && status != 99 && status != 100) __builtin_trap();
  if (status <= 1 && status != (true_colour ? 0 : 1)) __builtin_trap();
  if (status == 1) {
    // 256-colour output: every written byte is a palette index 16..239.
    const size_t pitch = 640;
    for (size_t i = 0; i < n; ++i) {
      if (half && i % pitch >= 320) continue;
      if (out[i] < 16 || out[i] > 239) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const uint8_t* frame = data + 1;
  const size_t frame_size = size - 1;
  const bool true_colour = (mode & 1) != 0;
  const bool half = (mode & 2) != 0;
  rd::mjpeg::MjpegDecoder& d = Decoder((mode & 4) != 0, (mode & 16) != 0);
  DecodeOnce(d, frame, frame_size, true_colour, half);
  if (mode & 8) DecodeOnce(d, frame, frame_size, !true_colour, !half);
  return 0;
}
