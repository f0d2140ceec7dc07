#pragma once
// The colour conversion of decoded planes into output rows: true colour
// (blue, green, red bytes) or 256-colour palette indices with an ordered
// dither, at full or half width. The row kernels are chosen once when a
// decoder opens.

#include <array>
#include <cstdint>

namespace rd::mjpeg {

// The dither tables of the 256-colour output.
struct DitherTables {
  std::array<uint8_t, 272> level_y{};   // t = -8..263
  std::array<uint8_t, 144> cb_level{};  // c(t) * 4, t = 0..143
  std::array<uint8_t, 144> cr_level{};  // c(t)
};
void BuildDitherTables(DitherTables* tables);

// Converts `count` output pixels of one picture row. Full width: output pixel
// j takes luma j and chroma j / 2; half width: luma 2j and chroma j.
// `picture_row` selects the dither row of the 256-colour output.
using RowConverter = void (*)(const DitherTables& tables, const uint8_t* y_row,
                              const uint8_t* cb_row, const uint8_t* cr_row, int count,
                              int picture_row, uint8_t* out);

struct ColourKernels {
  RowConverter true_colour[2];  // [half width]
  RowConverter palette[2];      // [half width]
};

// The vector kernels when `vector` is set and the CPU has them, else the
// scalar ones. All give identical bytes.
const ColourKernels& ChooseColourKernels(bool vector);

}  // namespace rd::mjpeg
