#pragma once
// The inverse DCT kernels of the decoder, chosen once when a decoder opens.

#include <cstddef>
#include <cstdint>

namespace rd::mjpeg {

// Coefficients in the decoder's transposed layout (element [column * 8 + row]);
// the 64 samples, clamped to 0..255, go to out with the given row stride.
using IdctKernel = void (*)(const int16_t coefficients_t[64], uint8_t* out, std::ptrdiff_t stride);

struct IdctKernels {
  IdctKernel full;    // any block
  IdctKernel sparse;  // a block whose coefficients all lie in its top-left 4 x 4 corner
};

// The vector kernels when `vector` is set and the CPU has them, else the
// scalar ones. All give identical samples.
const IdctKernels& ChooseIdctKernels(bool vector);

}  // namespace rd::mjpeg
