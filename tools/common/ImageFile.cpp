#include "tools/common/ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "shared/still/BmpFile.h"
#include "shared/stream/ByteOrder.h"

namespace rd {

namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool DecodeBmp(const std::vector<uint8_t>& b, const std::string& name, RgbImage* out,
               std::string* error) {
  if (b.size() < 14 + 40) return Fail(error, name + ": truncated BMP header");
  const uint32_t offset = LoadLe32(&b[10]);
  const uint32_t info_size = LoadLe32(&b[14]);
  if (info_size < 40 || info_size > b.size() - 14) {
    return Fail(error, name + ": unsupported BMP header (size " + std::to_string(info_size) +
                           "; a Windows bitmap header of 40 bytes or more is needed)");
  }
  const int32_t width = static_cast<int32_t>(LoadLe32(&b[18]));
  const int32_t raw_height = static_cast<int32_t>(LoadLe32(&b[22]));
  const uint16_t planes = LoadLe16(&b[26]);
  const uint16_t bits = LoadLe16(&b[28]);
  const uint32_t compression = LoadLe32(&b[30]);
  if (bits != 24) {
    return Fail(error, name + ": " + std::to_string(bits) +
                           "-bit BMP not supported (only 24-bit uncompressed)");
  }
  if (compression != 0 || planes != 1) {
    return Fail(error, name + ": compressed BMP not supported (only 24-bit uncompressed)");
  }
  if (raw_height == INT32_MIN || width <= 0 || raw_height == 0 || width > kMaxImageDimension ||
      std::abs(raw_height) > kMaxImageDimension) {
    return Fail(error, name + ": bad BMP size " + std::to_string(width) + " x " +
                           std::to_string(raw_height));
  }
  const bool top_down = raw_height < 0;
  const int height = std::abs(raw_height);
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  const std::size_t need = stride * (height - 1) + static_cast<std::size_t>(width) * 3;
  if (offset < 14 + info_size || offset > b.size() || b.size() - offset < need) {
    return Fail(error, name + ": truncated BMP pixel data");
  }
  *out = RgbImage(width, height);
  for (int y = 0; y < height; ++y) {
    const int src_row = top_down ? y : height - 1 - y;
    const uint8_t* s = &b[offset + stride * src_row];
    uint8_t* d = out->Pixel(0, y);
    for (int x = 0; x < width; ++x) {
      d[3 * x + 0] = s[3 * x + 2];
      d[3 * x + 1] = s[3 * x + 1];
      d[3 * x + 2] = s[3 * x + 0];
    }
  }
  return true;
}

// Next header token of a PPM: skips white space and comments.
bool PpmToken(const std::vector<uint8_t>& b, std::size_t* pos, long* value) {
  std::size_t p = *pos;
  while (p < b.size()) {
    if (b[p] == '#') {
      while (p < b.size() && b[p] != '\n' && b[p] != '\r') ++p;
    } else if (std::isspace(b[p])) {
      ++p;
    } else {
      break;
    }
  }
  if (p >= b.size() || !std::isdigit(b[p])) return false;
  long v = 0;
  while (p < b.size() && std::isdigit(b[p])) {
    v = v * 10 + (b[p] - '0');
    if (v > 1000000) return false;
    ++p;
  }
  *value = v;
  *pos = p;
  return true;
}

bool DecodePpm(const std::vector<uint8_t>& b, const std::string& name, RgbImage* out,
               std::string* error) {
  std::size_t pos = 2;
  long width = 0, height = 0, maxval = 0;
  if (!PpmToken(b, &pos, &width) || !PpmToken(b, &pos, &height) || !PpmToken(b, &pos, &maxval) ||
      pos >= b.size() || !std::isspace(b[pos])) {
    return Fail(error, name + ": damaged PPM header");
  }
  ++pos;  // the single white-space character before the samples
  if (width <= 0 || height <= 0 || width > kMaxImageDimension || height > kMaxImageDimension) {
    return Fail(error,
                name + ": bad PPM size " + std::to_string(width) + " x " + std::to_string(height));
  }
  if (maxval < 1 || maxval > 255) {
    return Fail(error, name + ": PPM with maximum value " + std::to_string(maxval) +
                           " not supported (only 8-bit samples, maximum 1..255)");
  }
  const std::size_t need = static_cast<std::size_t>(width) * height * 3;
  if (b.size() - pos < need) return Fail(error, name + ": truncated PPM pixel data");
  *out = RgbImage(static_cast<int>(width), static_cast<int>(height));
  for (std::size_t i = 0; i < need; ++i) {
    unsigned v = b[pos + i];
    out->rgb[i] = static_cast<uint8_t>(
        maxval == 255 ? v : std::min<unsigned>(255, (v * 255 + maxval / 2) / maxval));
  }
  return true;
}

}  // namespace

bool DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name, RgbImage* out,
                 std::string* error) {
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
    return DecodeBmp(bytes, name, out, error);
  }
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == '6') {
    return DecodePpm(bytes, name, out, error);
  }
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7') {
    return Fail(error, name + ": PPM/PGM variant P" + std::string(1, static_cast<char>(bytes[1])) +
                           " not supported (only binary colour P6)");
  }
  return Fail(error, name + ": not a BMP or binary PPM (P6) file");
}

bool ReadImageFile(const std::string& path, RgbImage* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, path + ": cannot open: " + std::strerror(errno));
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) return Fail(error, path + ": read error");
  return DecodeImage(bytes, path, out, error);
}

bool WritePpm(const std::string& path, const RgbImage& image, std::string* error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return Fail(error, path + ": cannot create: " + std::strerror(errno));
  f << "P6\n" << image.width << ' ' << image.height << "\n255\n";
  f.write(reinterpret_cast<const char*>(image.rgb.data()),
          static_cast<std::streamsize>(image.rgb.size()));
  f.close();
  if (!f) return Fail(error, path + ": write failed");
  return true;
}

bool WriteBmp(const std::string& path, const RgbImage& image, std::string* error) {
  std::vector<uint8_t> bgr(image.rgb.size());
  for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) {
    bgr[i] = image.rgb[i + 2];
    bgr[i + 1] = image.rgb[i + 1];
    bgr[i + 2] = image.rgb[i];
  }
  int rc = WriteBmp24(path, image.width, image.height, bgr.data(),
                      static_cast<std::size_t>(image.width) * 3, /*top_down=*/true);
  if (rc == kBmpOk) return true;
  if (rc == kBmpOpenFailed) return Fail(error, path + ": cannot create: " + std::strerror(errno));
  return Fail(error, path + ": " + BmpResultText(rc));
}

bool WriteImageFile(const std::string& path, const RgbImage& image, std::string* error) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".ppm") == 0) {
    return WritePpm(path, image, error);
  }
  return WriteBmp(path, image, error);
}

}  // namespace rd
