#pragma once
// AVI export: writes the watched picture as a video stream compressed with a
// compressor the user picks, and the DVR's A-law audio as a second stream.
//
// The file is written by libavformat's AVI muxer (OpenDML: past 1 GiB it goes
// on in AVIX parts with their own indexes, so exports past 2 GB stay
// readable). The video stream is described with scale 30 / rate 900
// (30 frames/s) and the picture size of the bitmap header; every frame handed
// in is a bottom-up 24-bit bitmap of that size. The audio stream is A-law
// (format tag 6), mono, 8000 samples/s, 8 bits.
//
// Lifecycle: Create -> (AddVideoFrame / AddAudio)* -> Release (the stop
// command: the file is complete on disk) -> Close (run by the next Create and
// at destruction): a file that got no video frame is deleted, otherwise its
// video rate is set to the real average rate of the frames added, so that
// picture and sound stay in step however fast the frames came.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "shared/still/BmpFile.h"

namespace rd {

// Result codes.
enum AviResult : int {
  kAviOk = 0,
  kAviIdle = 100,
  kAviBeingCreated = 101,
  kAviBeingClosed = 102,
  kAviUnexpectedState = 103,  // in none of the states below
  kAviWriteInProgress = 105,
  kAviWriteFailed = 200,
  kAviNoData = 206,
  kAviEmptyPath = 302,
  kAviCancelled = 402,
  kAviNotCreated = 403,
  kAviBadSize = 404,
  kAviCannotCreateFile = 600,
  kAviCannotCreateStream = 602,
  kAviCannotMakeCompressed = 603,
  kAviFormatRefused = 606,
  kAviNoCompressedStream = 607,
};
// A result code in words ("the file cannot be created"); unknown codes read
// "result N".
std::string AviResultText(int code);
// Whether a failed Create is still to be told to the user: not when the user
// cancelled the compressor choice, nor for a refused format (Create showed
// "Invalid codec!").
constexpr bool AviFailureToTell(int code) {
  return code != kAviOk && code != kAviCancelled && code != kAviFormatRefused;
}

// States.
enum AviState : int {
  kAviStateIdle = 0,
  kAviStateRecording = 1,
  kAviStateCreating = 2,
  kAviStateClosing = 3,
  kAviStateWriting = 5,
};

inline constexpr int kAviRateScale = 30;
inline constexpr uint32_t kAviNominalRate = 900;  // 30 frames/s at scale 30
inline constexpr int kAviAudioBlockSamples = 4000;

// The name of the uncompressed choice (BGR24 frames as they are).
inline constexpr const char* kUncompressedCompressor = "uncompressed";

// One video compressor the AVI export can use.
struct VideoCompressor {
  std::string name;         // "uncompressed" or the encoder's name ("mjpeg", "ffv1", ...)
  std::string description;  // for the dialog
  bool lossless = false;
};

// The compressors of this machine usable in AVI files: uncompressed first,
// then the common ones (MJPEG, FFV1, MPEG-4, H.264, ...) where present, then
// the other software encoders the AVI muxer accepts.
std::vector<VideoCompressor> ListAviVideoCompressors();

struct CompressorOptions {
  std::string compressor = kUncompressedCompressor;
  int keyframe_interval = 0;  // frames between key frames; 0: encoder default
  int64_t bit_rate = 0;       // bits per second; 0: constant quality
};

// The compressor choice (a dialog in the windows).
class CompressorChooser {
 public:
  virtual ~CompressorChooser() = default;
  // Fills `options` and returns true, or returns false when the user cancels.
  virtual bool Choose(const std::vector<VideoCompressor>& compressors, int width, int height,
                      CompressorOptions* options) = 0;
};

// A choice made in advance (tools, tests, the windows' defaults).
class FixedCompressorChooser : public CompressorChooser {
 public:
  explicit FixedCompressorChooser(CompressorOptions options, bool cancel = false)
      : options_(std::move(options)), cancel_(cancel) {}
  bool Choose(const std::vector<VideoCompressor>&, int, int, CompressorOptions* options) override {
    if (cancel_) return false;
    *options = options_;
    return true;
  }

 private:
  CompressorOptions options_;
  bool cancel_;
};

class AviWriter {
 public:
  using ClockFn = std::function<std::chrono::steady_clock::time_point()>;

  AviWriter();
  ~AviWriter();  // Close when not idle
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // The chooser asked at every Create (not owned; nullptr: uncompressed).
  void SetCompressorChooser(CompressorChooser* chooser);

  // Creates the file. `header` describes every frame: 40 bytes, bottom-up
  // (positive height), uncompressed, 24 bits, the same width and height.
  // kAviOk recording; kAviEmptyPath; kAviBeingClosed; kAviBeingCreated;
  // kAviBadSize (a size or the bit depth not positive); kAviCannotCreateFile;
  // kAviCannotCreateStream; kAviCancelled (the compressor choice);
  // kAviCannotMakeCompressed (the compressor cannot be made); kAviFormatRefused
  // (for the video format the message "Invalid codec!" is shown). A failed
  // Create leaves no file.
  int Create(const std::string& path, int bits_per_pixel, int width, int height,
             const BitmapInfoHeader& header);

  // Adds one bottom-up bitmap of ImageSize() bytes; key frame when asked or
  // first of the file. kAviOk; kAviWriteFailed; kAviNoData (or fewer bytes
  // than the image size); not recording: kAviIdle, kAviBeingCreated,
  // kAviBeingClosed, kAviUnexpectedState, kAviWriteInProgress; kAviNotCreated
  // (no file); kAviNoCompressedStream (after Release).
  int AddVideoFrame(const uint8_t* bitmap, std::size_t length, bool key_frame);

  // Adds one block of A-law bytes at the next audio position and advances it
  // by 4000 samples; a shorter block is completed with silence so that the
  // following blocks keep their place. kAviOk; kAviWriteFailed when the write
  // failed or no export runs.
  int AddAudio(const uint8_t* alaw, std::size_t length);

  // Finishes the file on disk (the stop command). The state stays recording
  // with nothing to write to; Close (next Create, destruction) completes it.
  void Release();

  // kAviOk done or idle; kAviBeingClosed; kAviBeingCreated.
  int Close();

  // Video rate written at Close instead of the measured one (for exports
  // whose frames do not arrive in real time, e.g. from a disk); 0: measure.
  void SetVideoRateOverride(uint32_t rate_for_scale_30);
  // Replaces the clock used to measure the export's duration (tests).
  void SetClock(ClockFn clock);

  // Why `code`, the result of the latest call that failed, came: the system's
  // reason when it gave one ("permission denied", "no space left on
  // device"), else AviResultText(code).
  std::string FailureReason(int code) const;

  int State() const { return state_.load(); }
  std::size_t ImageSize() const { return image_size_; }
  int64_t FramesWritten() const { return frames_written_.load(); }
  int64_t NextAudioSample() const { return next_audio_sample_.load(); }
  const std::string& Path() const { return path_; }
  const std::string& Directory() const { return directory_; }
  // The compressor of the current (or last) export.
  const CompressorOptions& Options() const { return options_; }
  // The rate written by the last Close that patched a file (0: none yet).
  uint32_t LastPatchedRate() const { return last_patched_rate_; }

 private:
  struct Impl;
  // Ends a failed Create: removes what it made; `av_error` is the library's
  // error, if there was one.
  int Fail(int code, int av_error = 0);
  void ReleaseLocked();
  void WriteFailed(int av_error);  // under write_mutex_
  uint32_t MeasuredRate() const;

  std::unique_ptr<Impl> impl_;
  mutable std::mutex write_mutex_;  // the muxer is written by one thread at a time
  std::atomic<int> state_{kAviStateIdle};
  CompressorChooser* chooser_ = nullptr;
  CompressorOptions options_;
  ClockFn clock_;

  int width_ = 0;
  int height_ = 0;
  int bits_ = 0;
  std::size_t image_size_ = 0;
  BitmapInfoHeader header_;
  std::string path_;
  std::string directory_;
  bool file_created_ = false;
  std::atomic<int64_t> next_frame_{0};
  std::atomic<int64_t> frames_written_{0};
  std::atomic<int64_t> next_audio_sample_{0};
  std::chrono::steady_clock::time_point started_at_{};
  std::chrono::steady_clock::time_point released_at_{};
  bool released_ = false;
  uint32_t rate_override_ = 0;
  uint32_t last_patched_rate_ = 0;
  int failed_code_ = kAviOk;  // the latest failure and the library's error with it
  int failed_av_error_ = 0;   // (under write_mutex_)
};

// Writes `rate` and `scale` into the header of the first video stream of the
// AVI file at `path`, and the matching frame duration into the main header.
// Returns the file offset of the rate field, or -1 when the file is not an
// AVI file with a video stream header.
long long PatchAviVideoRate(const std::string& path, uint32_t scale, uint32_t rate);

// Sets the stream header fields the muxer writes in its own way to the
// export's: video scale 30, rate 900, quality 0; audio handler 0, scale 30,
// rate 240000, suggested buffer 8000, quality -1. False when the file is not
// an AVI file with a video and an audio stream header.
bool WriteDesignedStreamHeaders(const std::string& path);

}  // namespace rd
