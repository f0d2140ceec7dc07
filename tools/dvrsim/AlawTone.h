#pragma once
// The emulated DVR's audio input: a continuous 440 Hz tone with a short
// 1 kHz pip at the start of every second, as 8 kHz G.711 A-law samples.

#include <cstddef>
#include <cstdint>

namespace rd::sim {

// G.711 A-law encoding of one 16-bit linear sample.
uint8_t LinearToAlaw(int16_t pcm);
// G.711 A-law decoding (16-bit linear), used by the tests.
int16_t AlawToLinear(uint8_t a);

// Fills `count` samples starting at sample number `first` (8000 per second
// since the source started); the signal depends only on the sample number.
void FillTone(uint64_t first, uint8_t* out, std::size_t count);

}  // namespace rd::sim
