#pragma once
// RcImageHandler: the client's display pipeline. Producer threads queue
// compressed frames in a four-slot queue; a display thread decodes them and
// lays them out (one channel full screen, the DVR's own quad picture, or a
// software quad of four half-size tiles) in an off-screen composite picture.
// Every refresh copies the composite to an overlay, stamps it with the time of
// the last frame and the play-mode text, and presents it to the window; a
// running AVI export is fed from the same refresh. Surfaces are QImages.

#include <QFont>
#include <QImage>
#include <QString>
#include <QVector>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/ChannelDisplayState.h"
#include "shared/stream/StreamPacket.h"
#include "shared/video/VideoSurface.h"

namespace rd {

// Where the refreshed picture goes: the video area of a window (or a test).
// Present runs on the thread that calls Refresh, with no lock of the handler
// held. The picture is the handler's own surface and is valid for the call
// only: a target that keeps it copies the pixels into a surface of its own
// (a shallow QImage copy would make the next refresh allocate a new surface).
class DisplayTarget {
 public:
  virtual ~DisplayTarget() = default;
  virtual void Present(const QImage& picture) = 0;
};

// The part of the streaming statistics the display queue uses.
class DisplayQueueStats {
 public:
  virtual ~DisplayQueueStats() = default;
  virtual void AddQueued() = 0;
  virtual uint32_t QueuedLastSecond() const = 0;
};

// A running AVI export as the refresh feeds it: the video format it was
// created with and one bottom-up frame of width * height * bits / 8 bytes.
class AviFrameSink {
 public:
  virtual ~AviFrameSink() = default;
  virtual int VideoWidth() const = 0;
  virtual int VideoHeight() const = 0;
  virtual int VideoBitsPerPixel() const = 0;
  virtual int AddVideoFrame(const uint8_t* bottom_up_pixels, bool key_frame) = 0;
};

class RcImageHandler {
 public:
  static constexpr int kOk = 0;
  static constexpr int kNullArgument = 113;
  static constexpr int kAlreadyRunning = 114;
  static constexpr int kSurfaceFailed = 117;
  static constexpr int kBitmapFailed = 118;
  static constexpr int kDrawFailed = 120;
  static constexpr int kSelectFailed = 121;

  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kMaxFrame = 324680;
  static constexpr std::size_t kOutputBufferSize = 2 * 1024 * 1024;
  static constexpr int kWidth = 640;
  static constexpr int kTileWidth = 320;

  RcImageHandler();
  ~RcImageHandler();
  RcImageHandler(const RcImageHandler&) = delete;
  RcImageHandler& operator=(const RcImageHandler&) = delete;

  // Starts the handler for a video standard; 113 a pointer is null, 114 already running.
  int Init(mjpeg::VideoStandard standard, DisplayTarget* target, DisplayQueueStats* stats);
  bool IsRunning() const { return running_.load(); }

  // Producer threads: 1 queued, 0 dropped (not running, slot busy, round control).
  int QueueFrame(const uint8_t* frame, std::size_t length, const ChannelDisplayState& channels,
                 const RecTime& time);

  // User-interface thread, every 33 ms: OSD code and the DVR's play-speed byte.
  void Refresh(uint8_t osd_code, uint8_t play_speed);

  void SetTrueColour(bool true_colour) {
    for (auto& d : decoders_) d.SetTrueColour(true_colour);
  }
  bool IsTrueColour() const { return decoders_[0].IsTrueColour(); }

  // The AVI export the refresh feeds; null ends the feeding. The sink must
  // stay valid until it is replaced or cleared.
  void SetAviExport(AviFrameSink* sink);
  bool IsAviExporting() const;

  // Writes the composite picture with its labels and the time text of the
  // last frame (no play-mode text) as a 24-bit bitmap file. Returns the
  // bitmap writer's code (0 written), or kNullArgument when not running.
  int SaveBitmap(const std::string& path);

  // Diagnostics: called on the display thread with the time from QueueFrame
  // to the frame's picture being in the composite. Set before Init.
  using LatencyProbe = std::function<void(std::chrono::nanoseconds)>;
  void SetLatencyProbe(LatencyProbe probe) { latency_probe_ = std::move(probe); }

  // Geometry of the standard given to Init.
  int DisplayHeight() const { return display_height_; }
  int TileHeight() const { return tile_height_; }

  // Frames the display thread has handled (shown or rejected by the decoder).
  uint64_t FramesHandled() const { return frames_handled_.load(); }
  // Frames painted into the composite, and the channel codes (bit n = code n)
  // painted at least once since Init.
  uint64_t FramesShown() const { return frames_shown_.load(); }
  uint8_t ChannelsShown() const { return channels_shown_.load(); }
  int LastDecodeStatus() const { return last_status_.load(); }
  RecTime LastFrameTime() const;
  // A copy of the composite picture (640 x display height).
  QImage CompositeSnapshot() const;

  // Texts drawn over the video.
  static std::string TimeText(const RecTime& time);
  static std::string OsdText(uint8_t osd_code, uint8_t play_speed);
  // The channel number of a frame: the low three bits of the byte after the
  // start code (0..3 for CH1..CH4, 4 for the DVR's quad picture).
  static int FrameChannel(const uint8_t* frame, std::size_t length);

 private:
  struct DisplaySlot {
    std::atomic<bool> busy{false};
    ChannelDisplayState channels;
    RecTime time;
    std::unique_ptr<uint8_t[]> frame;
    std::size_t length = 0;
    std::chrono::steady_clock::time_point queued_at{};
    std::mutex lock;
  };

  void DisplayLoop();
  int ShowFrame(DisplaySlot& slot, int channel);
  // Paints the decoder output (bottom-up, 640-pixel pitch) into `surface`.
  void PaintOutput(QImage& surface, int status);
  void DrawOutlined(QImage& surface, int x, int y, const QString& text) const;
  void DrawLabel(QImage& surface, int x, int y, int channel) const;
  // Composite (with the time text) into `bgr` as bottom-up rows of width * 3 bytes.
  void CaptureBottomUp(uint8_t* out, int width, int height, int bits);

  // One decoder per channel code: a partial frame codes only what changed
  // since the previous frame of the same camera, so each channel's frames
  // must be decoded onto that channel's own planes. With one decoder for
  // all, the frames of several cameras in one stream would paint over each
  // other's pictures.
  std::array<mjpeg::MjpegDecoder, 8> decoders_;
  // Per channel code: its decoder holds the channel's previous frame, so a
  // partial frame may be shown (cleared by every frame that is dropped).
  std::array<std::atomic<bool>, 8> synced_{};
  QVector<QRgb> palette_;
  std::unique_ptr<uint8_t[]> output_;
  video::OverlayText text_;
  DisplayTarget* target_ = nullptr;
  DisplayQueueStats* stats_ = nullptr;
  int display_height_ = 436;
  int tile_height_ = 218;

  mutable std::mutex composite_lock_;  // composite_, last_time_
  QImage composite_;
  RecTime last_time_;
  QImage overlay_;       // user-interface thread
  QImage full_surface_;  // display thread: full-size layouts
  QImage tile_surface_;  // display thread: one software-quad tile
  QImage no_data_tile_;  // "NO DATA" on black, drawn once
  // "CH 1".."CH 8" outlined on transparent ground, drawn once by Init so the
  // display thread only blends pictures and never lays out text.
  std::array<QImage, 8> labels_;
  QImage capture_;  // still capture and AVI feed (user-interface thread)
  std::unique_ptr<uint8_t[]> capture_bytes_;
  std::size_t capture_bytes_size_ = 0;

  std::mutex producer_mu_;  // round control and the producer count
  ChannelDisplayState current_;
  ChannelDisplayState round_;
  std::array<DisplaySlot, kSlots> slots_;
  uint64_t produced_ = 0;
  uint64_t consumed_ = 0;  // display thread

  std::mutex init_mu_;  // Init may come from the control thread and the UI thread
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::mutex wake_mu_;
  std::condition_variable wake_cv_;
  std::thread display_thread_;
  std::atomic<uint64_t> frames_handled_{0};
  std::atomic<uint64_t> frames_shown_{0};
  std::atomic<uint8_t> channels_shown_{0};
  std::atomic<int> last_status_{0};

  LatencyProbe latency_probe_;
  mutable std::mutex avi_mu_;
  AviFrameSink* avi_ = nullptr;
};

}  // namespace rd
