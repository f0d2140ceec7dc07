#include "shared/still/BmpFile.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "shared/stream/ByteOrder.h"

namespace rd {
namespace {

bool ArgumentsValid(int width, int height, const uint8_t* pixels, std::size_t pitch) {
  if (width <= 0 || height <= 0 || pixels == nullptr) return false;
  if (pitch < static_cast<std::size_t>(width) * 3) return false;
  // The file size field is 32 bits.
  return BmpFileSize24(width, height) <= std::numeric_limits<uint32_t>::max();
}

const uint8_t* SourceRow(const uint8_t* pixels, int height, std::size_t pitch, bool top_down,
                         int file_row) {
  const int src_row = top_down ? height - 1 - file_row : file_row;
  return pixels + static_cast<std::size_t>(src_row) * pitch;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

const char* BmpResultText(int code) {
  switch (code) {
    case kBmpOk:
      return "done";
    case kBmpBadArgument:
      return "the picture size is not valid";
    case kBmpOpenFailed:
      return "the file cannot be created";
    case kBmpWriteFailed:
      return "the write failed (the file may be partial)";
    default:
      return "unknown result";
  }
}

BitmapInfoHeader BitmapInfoHeader::Make24(int width, int height) {
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  return h;
}

std::array<uint8_t, kBmpInfoHeaderSize> BitmapInfoHeader::Pack() const {
  std::array<uint8_t, kBmpInfoHeaderSize> b{};
  StoreLe32(&b[0], size);
  StoreLe32(&b[4], static_cast<uint32_t>(width));
  StoreLe32(&b[8], static_cast<uint32_t>(height));
  StoreLe16(&b[12], planes);
  StoreLe16(&b[14], bit_count);
  StoreLe32(&b[16], compression);
  StoreLe32(&b[20], size_image);
  StoreLe32(&b[24], static_cast<uint32_t>(x_pels_per_meter));
  StoreLe32(&b[28], static_cast<uint32_t>(y_pels_per_meter));
  StoreLe32(&b[32], clr_used);
  StoreLe32(&b[36], clr_important);
  return b;
}

BitmapInfoHeader BitmapInfoHeader::Parse(const uint8_t* b) {
  BitmapInfoHeader h;
  h.size = LoadLe32(b);
  h.width = static_cast<int32_t>(LoadLe32(b + 4));
  h.height = static_cast<int32_t>(LoadLe32(b + 8));
  h.planes = LoadLe16(b + 12);
  h.bit_count = LoadLe16(b + 14);
  h.compression = LoadLe32(b + 16);
  h.size_image = LoadLe32(b + 20);
  h.x_pels_per_meter = static_cast<int32_t>(LoadLe32(b + 24));
  h.y_pels_per_meter = static_cast<int32_t>(LoadLe32(b + 28));
  h.clr_used = LoadLe32(b + 32);
  h.clr_important = LoadLe32(b + 36);
  return h;
}

std::array<uint8_t, kBmpHeadersSize> BuildBmp24Headers(int width, int height) {
  std::array<uint8_t, kBmpHeadersSize> b{};
  b[0] = 'B';
  b[1] = 'M';
  StoreLe32(&b[2], static_cast<uint32_t>(BmpFileSize24(width, height)));
  // Bytes 6..9: two reserved words, zero.
  StoreLe32(&b[10], static_cast<uint32_t>(kBmpHeadersSize));
  const auto info = BitmapInfoHeader::Make24(width, height).Pack();
  std::memcpy(&b[kBmpFileHeaderSize], info.data(), info.size());
  return b;
}

std::vector<uint8_t> BuildBmp24(int width, int height, const uint8_t* pixels, std::size_t pitch,
                                bool top_down) {
  if (!ArgumentsValid(width, height, pixels, pitch)) return {};
  std::vector<uint8_t> out(BmpFileSize24(width, height), 0);
  const auto headers = BuildBmp24Headers(width, height);
  std::memcpy(out.data(), headers.data(), headers.size());
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = BmpRowStride24(width);
  for (int r = 0; r < height; ++r) {
    std::memcpy(out.data() + kBmpHeadersSize + static_cast<std::size_t>(r) * stride,
                SourceRow(pixels, height, pitch, top_down, r), row_bytes);
  }
  return out;
}

int WriteBmp24(const std::string& path, int width, int height, const uint8_t* pixels,
               std::size_t pitch, bool top_down) {
  if (path.empty() || !ArgumentsValid(width, height, pixels, pitch)) return kBmpBadArgument;
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  if (!f) return kBmpOpenFailed;
  const auto headers = BuildBmp24Headers(width, height);
  if (std::fwrite(headers.data(), 1, headers.size(), f.get()) != headers.size()) {
    return kBmpWriteFailed;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  const std::size_t pad = BmpRowStride24(width) - row_bytes;
  static constexpr uint8_t kZeros[4] = {0, 0, 0, 0};
  for (int r = 0; r < height; ++r) {
    if (std::fwrite(SourceRow(pixels, height, pitch, top_down, r), 1, row_bytes, f.get()) !=
        row_bytes) {
      return kBmpWriteFailed;
    }
    if (pad != 0 && std::fwrite(kZeros, 1, pad, f.get()) != pad) return kBmpWriteFailed;
  }
  if (std::fclose(f.release()) != 0) return kBmpWriteFailed;
  return kBmpOk;
}

}  // namespace rd
