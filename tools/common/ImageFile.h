#pragma once
// Picture files the tools read and write: 24-bit uncompressed BMP (bottom-up
// or top-down) and binary PPM (P6, 8-bit samples). Anything else is refused
// with a message that says what the file is and what would be accepted.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/Picture.h"

namespace rd {

// Largest width or height accepted.
inline constexpr int kMaxImageDimension = 16384;

// Reads a BMP or PPM file, recognised by its content. Returns false with a
// message in *error for an unreadable, unsupported or damaged file.
bool ReadImageFile(const std::string& path, RgbImage* out, std::string* error);
// The same on bytes already in memory (`name` is used in messages).
bool DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name, RgbImage* out,
                 std::string* error);

// Writes a binary PPM (P6).
bool WritePpm(const std::string& path, const RgbImage& image, std::string* error);
// Writes a 24-bit BMP (through the still capture's writer).
bool WriteBmp(const std::string& path, const RgbImage& image, std::string* error);
// Writes PPM when the name ends in .ppm (any case), BMP otherwise.
bool WriteImageFile(const std::string& path, const RgbImage& image, std::string* error);

}  // namespace rd
