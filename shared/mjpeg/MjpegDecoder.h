#pragma once
// MJPEG frame decoder: turns one DVR MJPEG frame into a bottom-up
// device-independent bitmap, 24-bit true colour or 8-bit indices into a
// 240-colour palette (ordered dither), at full size (lines doubled) or half
// size. The decoder keeps its Y/Cb/Cr planes between frames: a partial frame
// updates only the macroblocks it codes.
//
// Safe for any input: nothing is read outside [frame, frame + length), written
// outside the planes, or written outside the output region (full size:
// (2H - 11) rows of 640 * bytes-per-pixel bytes; half size: H - 6 rows, of
// which 320 * bytes-per-pixel bytes each).
//
// Bit-exact with the defined arithmetic (planes, indices, true-colour bytes);
// how it gets there differs in ways no caller can see:
//  - the picture is converted row by row straight into the output rows that
//    show it, instead of into a whole-picture conversion buffer first;
//  - the defined clamp and IDCT clip tables are comparisons;
//  - the inverse DCT runs in eight AVX2 lanes where the CPU has them (with a
//    shorter form for blocks whose coefficients all lie in the top-left 4 x 4
//    corner), with the defined 32-bit wrap-around arithmetic; the colour
//    conversion runs eight single-precision lanes with the same roundings.
// The planes are zero after Open (the format leaves them undefined). A decoder
// that is not open answers DecodeFrame with 97.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace rd::mjpeg {

enum class VideoStandard { kNtsc, kPal };

// DecodeFrame status bytes.
inline constexpr uint8_t kStatusTrueColour = 0;  // output holds a true-colour picture
inline constexpr uint8_t kStatusPalette = 1;     // output holds 256-colour indices
inline constexpr uint8_t kStatusNullPointer = 97;
inline constexpr uint8_t kStatusNoStartCode = 99;
inline constexpr uint8_t kStatusNotFrameStart = 100;

// Output geometry.
inline constexpr int kOutputPitchPixels = 640;
inline constexpr int kPaletteSize = 240;
inline constexpr int kFirstPaletteIndex = 16;

// Sizes of the structures BuildBitmapInfo writes (little-endian Windows DIB layout).
inline constexpr std::size_t kBitmapInfoHeaderSize = 40;
inline constexpr std::size_t kTrueColourInfoSize = kBitmapInfoHeaderSize;
inline constexpr std::size_t kPaletteInfoSize = kBitmapInfoHeaderSize + 2 * kPaletteSize;  // 520
inline constexpr std::size_t kLogicalPaletteSize = 4 + 4 * kPaletteSize;                   // 964

// How the picture decoding of the last frame ended (not part of the status).
enum class PictureEnd : uint8_t {
  kNone,      // no picture decoded yet, or the last call returned 97/99/100
  kComplete,  // last macroblock decoded, or a zero increment before a non-slice code
  kFailed,    // invalid code, index beyond 63, or macroblock outside the picture
};

class MjpegDecoder {
 public:
  MjpegDecoder();
  ~MjpegDecoder();
  MjpegDecoder(const MjpegDecoder&) = delete;
  MjpegDecoder& operator=(const MjpegDecoder&) = delete;

  // Allocates planes and tables for the standard; does nothing if already open.
  // On allocation failure writes "malloc failed" to stderr and stays closed.
  void Open(VideoStandard standard);
  // Frees what Open allocated; does nothing if not open.
  void Close();
  bool IsOpen() const { return open_; }

  // Fills the true-colour and 256-colour bitmap descriptions and the logical
  // palette (sizes above; 1000-byte buffers are enough for each description).
  // Returns 0, or 97 if any pointer is null or the decoder is not open.
  int BuildBitmapInfo(uint8_t* true_colour_info, uint8_t* palette_info,
                      uint8_t* logical_palette) const;

  // Colour mode; a change applies from the next DecodeFrame on. May be called
  // from another thread while a frame is being decoded.
  void SetTrueColour(bool true_colour) {
    true_colour_.store(true_colour, std::memory_order_relaxed);
  }
  bool IsTrueColour() const { return true_colour_.load(std::memory_order_relaxed); }

  // Decodes one frame onto the planes, converts them in the current colour
  // mode and writes the output rows. Returns 0 / 1 (the colour mode of the
  // output), 97 (null pointer, or not open), 99 or 100 (output untouched).
  uint8_t DecodeFrame(const uint8_t* frame, std::size_t length, uint8_t* output, bool half_size);

  // The first half of DecodeFrame: start code, header and picture decoding onto
  // the planes, without colour conversion and output. Returns 0 when a picture
  // was decoded (whatever its end), else 97, 99 or 100 as DecodeFrame.
  uint8_t DecodeToPlanes(const uint8_t* frame, std::size_t length);
  // The second half: converts the planes in the current colour mode and writes
  // the output rows. Returns 0 or 1 (the colour mode used), 97 if output is
  // null or the decoder is not open.
  uint8_t ConvertToOutput(uint8_t* output, bool half_size);

  PictureEnd last_picture_end() const { return picture_end_; }

  // Geometry and planes (valid while open): W x H luma, W/2 x H/2 chroma,
  // row-major, top row first.
  int width() const { return width_; }
  int height() const { return height_; }
  const uint8_t* y_plane() const { return y_; }
  const uint8_t* cb_plane() const { return cb_; }
  const uint8_t* cr_plane() const { return cr_; }
  // Writable planes, for callers that seed a picture (tests, tools).
  uint8_t* mutable_y_plane() { return y_; }
  uint8_t* mutable_cb_plane() { return cb_; }
  uint8_t* mutable_cr_plane() { return cr_; }

  // Number of output bytes DecodeFrame may write for this geometry: full size
  // (2H - 11) * 640 * bpp; half size (H - 7) * 640 * bpp + 320 * bpp.
  std::size_t OutputBytes(bool true_colour, bool half_size) const;

  // Palette entry i (16..239) as red, green, blue per the defined formula;
  // entries 0..15 are black.
  static void PaletteColour(int index, uint8_t* red, uint8_t* green, uint8_t* blue);

 private:
  struct Impl;
  bool open_ = false;
  int width_ = 0;
  int height_ = 0;
  uint8_t* y_ = nullptr;
  uint8_t* cb_ = nullptr;
  uint8_t* cr_ = nullptr;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> true_colour_{true};
  bool half_size_ = false;
  PictureEnd picture_end_ = PictureEnd::kNone;
};

// ---- Building blocks, exposed for tests and benchmarks ----------------------

// The Chen-Wang integer inverse DCT of the frame format on 64 coefficients in natural
// order (row-major); writes the 64 samples, clamped to 0..255, to out with the
// given row stride. Scalar, exactly as written (with its shortcuts).
void InverseDctReference(const int16_t coefficients[64], uint8_t* out, std::ptrdiff_t stride);
// The decoder's inverse DCT (vectorised where the CPU allows); bit-exact with
// the reference. Takes the coefficients TRANSPOSED (column-major: element
// [column * 8 + row]), as the decoder stores them.
void InverseDctTransposed(const int16_t coefficients_t[64], uint8_t* out, std::ptrdiff_t stride);

// Whether the CPU has the vector paths (AVX2), and a process-wide switch that
// turns them off (tests compare both; default on). A decoder takes its kernels
// when it opens; InverseDctTransposed reads the switch on each call. Results
// are identical.
bool VectorPathsAvailable();
void SetVectorPathsEnabled(bool enabled);

}  // namespace rd::mjpeg
