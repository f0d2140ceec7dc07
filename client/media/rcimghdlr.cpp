#include "client/media/rcimghdlr.h"

#include <QGuiApplication>
#include <QPainter>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "shared/still/BmpFile.h"

namespace rd {
namespace {

constexpr int kNoDataX = 125;
constexpr int kNoDataY = 108;
constexpr int kTimeTextRight = 205;  // time text starts 205 pixels from the right edge
constexpr int kTextFromBottom = 20;

void CopyInto(QImage& dst, int x0, int y0, const QImage& src) {
  // Both RGB32; a plain row copy clipped to the destination.
  const int w = std::min(src.width(), dst.width() - x0);
  const int h = std::min(src.height(), dst.height() - y0);
  if (w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y)
    std::memcpy(dst.scanLine(y0 + y) + static_cast<std::size_t>(x0) * 4, src.constScanLine(y),
                static_cast<std::size_t>(w) * 4);
}

}  // namespace

RcImageHandler::RcImageHandler() = default;

RcImageHandler::~RcImageHandler() {
  if (running_.load()) {
    {
      std::lock_guard lock(wake_mu_);
      stop_.store(true);
    }
    wake_cv_.notify_all();
    if (display_thread_.joinable()) display_thread_.join();
    running_.store(false);
  }
  for (auto& d : decoders_) d.Close();
}

std::string RcImageHandler::TimeText(const RecTime& t) {
  int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d %2s", 2000 + (t.year & 0x7F),
                t.month, t.day, hour12, t.minute, t.second, t.hour < 12 ? "AM" : "PM");
  return text;
}

std::string RcImageHandler::OsdText(uint8_t code, uint8_t speed) {
  static const char* const kLocal[12] = {"LOCAL PLAY",      "LOCAL PLAY PAUSE", "LOCAL PLAY >> 1",
                                         "LOCAL PLAY >> 2", "LOCAL PLAY >> 4",  "LOCAL PLAY >>32",
                                         "LOCAL PLAY >>64", "LOCAL PLAY << 1",  "LOCAL PLAY << 2",
                                         "LOCAL PLAY << 4", "LOCAL PLAY <<32",  "LOCAL PLAY <<64"};
  char text[32];
  switch (code) {
    case 1:
      return speed == 6 ? "<<" : "PLAY";
    case 2:
      return "PAUSE";
    case 3:
      if (speed >= 1 && speed <= 3) {
        static const int kRate[3] = {1, 2, 4};
        std::snprintf(text, sizeof text, ">> %d", kRate[speed - 1]);
        return text;
      }
      if (speed == 4 || speed == 5) {
        std::snprintf(text, sizeof text, ">>%d", speed == 4 ? 32 : 64);
        return text;
      }
      return "";
    default:
      if (code >= 16 && code <= 27) return kLocal[code - 16];
      return "";
  }
}

int RcImageHandler::FrameChannel(const uint8_t* frame, std::size_t length) {
  if (frame == nullptr || length < 5) return 0;
  return frame[4] & 0x07;
}

int RcImageHandler::Init(mjpeg::VideoStandard standard, DisplayTarget* target,
                         DisplayQueueStats* stats) {
  if (target == nullptr || stats == nullptr) return kNullArgument;
  std::lock_guard init_lock(init_mu_);
  if (running_.load()) return kAlreadyRunning;
  // Text needs the font database of a GUI application (offscreen is enough).
  if (QGuiApplication::instance() == nullptr) return kSelectFailed;

  const bool pal = standard == mjpeg::VideoStandard::kPal;
  display_height_ = pal ? 532 : 436;
  tile_height_ = pal ? 266 : 218;
  for (auto& d : decoders_) {
    d.Close();
    d.Open(standard);
    if (!d.IsOpen()) return kBitmapFailed;
  }
  for (auto& synced : synced_) synced.store(false);
  channels_shown_.store(0);

  // 256-colour output is drawn through the decoder's palette.
  palette_ = video::DecoderPalette();
  if (!output_) output_.reset(new uint8_t[kOutputBufferSize]());
  if (!text_.Build()) return kSelectFailed;

  composite_ = QImage(kWidth, display_height_, QImage::Format_RGB32);
  overlay_ = QImage(kWidth, display_height_, QImage::Format_RGB32);
  full_surface_ = QImage(kWidth, display_height_, QImage::Format_RGB32);
  tile_surface_ = QImage(kTileWidth, tile_height_, QImage::Format_RGB32);
  no_data_tile_ = QImage(kTileWidth, tile_height_, QImage::Format_RGB32);
  if (composite_.isNull() || overlay_.isNull() || full_surface_.isNull() ||
      tile_surface_.isNull() || no_data_tile_.isNull())
    return kSurfaceFailed;
  composite_.fill(Qt::black);
  overlay_.fill(Qt::black);
  no_data_tile_.fill(Qt::black);
  DrawOutlined(no_data_tile_, kNoDataX, kNoDataY, QStringLiteral("NO DATA"));
  for (int i = 0; i < 8; ++i) labels_[i] = text_.Label(QStringLiteral("CH %1").arg(i + 1));

  target_ = target;
  stats_ = stats;
  {
    std::lock_guard lock(producer_mu_);
    for (DisplaySlot& s : slots_) s.busy.store(false);
    produced_ = 0;
    consumed_ = 0;
    current_ = ChannelDisplayState{};
    round_ = ChannelDisplayState{};
  }
  last_time_ = RecTime{};
  stop_.store(false);
  running_.store(true);
  try {
    display_thread_ = std::thread([this] { DisplayLoop(); });
  } catch (const std::system_error&) {
    running_.store(false);
    return kSurfaceFailed;
  }
  return kOk;
}

int RcImageHandler::QueueFrame(const uint8_t* frame, std::size_t length,
                               const ChannelDisplayState& channels, const RecTime& time) {
  if (frame == nullptr || length > kMaxFrame) return 0;
  // Every frame not shown breaks its channel's chain of partial frames.
  auto dropped = [&] {
    synced_[static_cast<std::size_t>(FrameChannel(frame, length))].store(false);
    return 0;
  };
  if (!running_.load()) return dropped();
  std::lock_guard plock(producer_mu_);
  DisplaySlot& slot = slots_[produced_ % kSlots];
  if (slot.busy.load(std::memory_order_acquire)) return dropped();

  // Round control: in a software quad each enabled channel gets one frame per
  // round, so a channel that sends faster cannot fill the queue.
  if (!(channels == current_) || stats_->QueuedLastSecond() == 0) {
    current_ = channels;
    round_ = ChannelDisplayState{};
  }
  if (current_.quad == 0) {
    const int n = FrameChannel(frame, length);
    int enabled = 0;
    for (uint32_t e : current_.channel) enabled += e != 0 ? 1 : 0;
    if (n <= 3) {
      if (round_.channel[n] != 0 && enabled > 1) return dropped();
      round_.channel[n] = 1;
      if (round_ == current_) round_ = ChannelDisplayState{};
    }
  }
  stats_->AddQueued();

  {
    std::lock_guard slock(slot.lock);
    slot.length = length;
    if (!slot.frame) slot.frame.reset(new uint8_t[kMaxFrame]);
    std::memcpy(slot.frame.get(), frame, length);
    slot.channels = channels;
    slot.time = time;
    slot.queued_at = std::chrono::steady_clock::now();
    slot.busy.store(true, std::memory_order_release);
  }
  ++produced_;
  return 1;
}

void RcImageHandler::DisplayLoop() {
  pthread_setname_np(pthread_self(), "rd-display");
  while (!stop_.load()) {
    DisplaySlot& slot = slots_[consumed_ % kSlots];
    if (slot.busy.load(std::memory_order_acquire)) {
      std::lock_guard lock(slot.lock);
      const int shown = ShowFrame(slot, FrameChannel(slot.frame.get(), slot.length));
      if (latency_probe_ && shown == kOk)
        latency_probe_(std::chrono::steady_clock::now() - slot.queued_at);
      slot.busy.store(false, std::memory_order_release);
      ++consumed_;
      frames_handled_.fetch_add(1);
    }
    std::unique_lock lock(wake_mu_);
    wake_cv_.wait_for(lock, std::chrono::milliseconds(16), [this] { return stop_.load(); });
  }
}

void RcImageHandler::PaintOutput(QImage& surface, int status) {
  video::PaintDecoderOutput(output_.get(), status, palette_, surface, 0, 0, surface.width(),
                            surface.height());
}

void RcImageHandler::DrawOutlined(QImage& surface, int x, int y, const QString& text) const {
  text_.Draw(surface, x, y, text);
}

void RcImageHandler::DrawLabel(QImage& surface, int x, int y, int channel) const {
  if (channel < 0 || channel > 7) return;
  QPainter p(&surface);
  p.drawImage(x, y, labels_[channel]);
}

int RcImageHandler::ShowFrame(DisplaySlot& slot, int channel) {
  if (!slot.frame) return kNullArgument;
  const ChannelDisplayState& st = slot.channels;
  int enabled = 0;
  for (uint32_t e : st.channel) enabled += e != 0 ? 1 : 0;
  const bool dvr_quad = st.quad != 0;
  const bool soft_quad = !dvr_quad && enabled > 1;
  // A software-quad frame of no channel CH1..CH4 has no tile to go to.
  if (soft_quad && channel > 3) return kOk;

  // A partial frame only codes what changed since the channel's previous
  // frame: after a frame of the channel was missed it would paint over a
  // picture it was not made for, so it waits for the channel's next full frame.
  std::atomic<bool>& synced = synced_[static_cast<std::size_t>(channel & 7)];
  const bool partial =
      slot.length > 4 &&
      std::equal(kFrameStartCode.begin(), kFrameStartCode.end(), slot.frame.get()) &&
      !FrameHeaderByte::Parse(slot.frame[4]).full_frame;
  if (partial && !synced.load()) return kOk;
  const int status = decoders_[static_cast<std::size_t>(channel & 7)].DecodeFrame(
      slot.frame.get(), slot.length, output_.get(), soft_quad);
  last_status_.store(status);
  // A frame the decoder rejects has no picture: the composite stays as it is.
  if (status != mjpeg::kStatusTrueColour && status != mjpeg::kStatusPalette) {
    synced.store(false);
    return kDrawFailed;
  }
  synced.store(true);

  QImage& surface = soft_quad ? tile_surface_ : full_surface_;
  PaintOutput(surface, status);
  if (dvr_quad) {
    for (int i = 0; i < 4; ++i) DrawLabel(surface, (i % 2) * kTileWidth, (i / 2) * tile_height_, i);
  } else {
    DrawLabel(surface, 0, 0, channel);
  }

  const int x0 = soft_quad ? (channel % 2) * kTileWidth : 0;
  const int y0 = soft_quad ? (channel / 2) * tile_height_ : 0;
  std::lock_guard lock(composite_lock_);
  last_time_ = slot.time;
  CopyInto(composite_, x0, y0, surface);
  frames_shown_.fetch_add(1);
  channels_shown_.fetch_or(static_cast<uint8_t>(1u << (channel & 7)));
  if (soft_quad) {
    for (int i = 0; i < 4; ++i)
      if (st.channel[i] == 0)
        CopyInto(composite_, (i % 2) * kTileWidth, (i / 2) * tile_height_, no_data_tile_);
  }
  return kOk;
}

void RcImageHandler::Refresh(uint8_t osd_code, uint8_t play_speed) {
  if (!running_.load()) return;
  RecTime time;
  {
    std::lock_guard lock(composite_lock_);
    std::memcpy(overlay_.bits(), composite_.constBits(),
                static_cast<std::size_t>(composite_.sizeInBytes()));
    time = last_time_;
  }
  const int ty = display_height_ - kTextFromBottom;
  DrawOutlined(overlay_, kWidth - kTimeTextRight, ty, QString::fromStdString(TimeText(time)));
  const std::string osd = OsdText(osd_code, play_speed);
  if (!osd.empty()) DrawOutlined(overlay_, 1, ty, QString::fromStdString(osd));
  // The overlay belongs to this thread: it is presented outside the composite
  // lock, so a target may take a snapshot or save a bitmap from its paint.
  target_->Present(overlay_);

  std::lock_guard alock(avi_mu_);
  if (avi_ != nullptr) {
    const int w = avi_->VideoWidth(), h = avi_->VideoHeight(), bits = avi_->VideoBitsPerPixel();
    if (w > 0 && h > 0 && (bits == 24 || bits == 32)) {
      const std::size_t size = static_cast<std::size_t>(w) * h * (bits / 8);
      if (capture_bytes_size_ < size) {
        capture_bytes_.reset(new uint8_t[size]);
        capture_bytes_size_ = size;
      }
      CaptureBottomUp(capture_bytes_.get(), w, h, bits);
      avi_->AddVideoFrame(capture_bytes_.get(), true);
    }
  }
}

void RcImageHandler::CaptureBottomUp(uint8_t* out, int width, int height, int bits) {
  // The capture surface has the target's size; the composite is copied 1:1 at
  // (0, 0) and stamped with the time text of the last frame.
  if (capture_.width() != width || capture_.height() != height)
    capture_ = QImage(width, height, QImage::Format_RGB32);
  capture_.fill(Qt::black);
  RecTime time;
  {
    std::lock_guard lock(composite_lock_);
    CopyInto(capture_, 0, 0, composite_);
    time = last_time_;
  }
  DrawOutlined(capture_, kWidth - kTimeTextRight, display_height_ - kTextFromBottom,
               QString::fromStdString(TimeText(time)));
  video::ReadBottomUp(capture_, out, width, height, bits / 8);
}

void RcImageHandler::SetAviExport(AviFrameSink* sink) {
  std::lock_guard lock(avi_mu_);
  avi_ = sink;
}

bool RcImageHandler::IsAviExporting() const {
  std::lock_guard lock(avi_mu_);
  return avi_ != nullptr;
}

int RcImageHandler::SaveBitmap(const std::string& path) {
  if (!running_.load()) return kNullArgument;
  const std::size_t size = static_cast<std::size_t>(kWidth) * display_height_ * 3;
  std::lock_guard alock(avi_mu_);  // the capture surface is shared with the AVI feed
  if (capture_bytes_size_ < size) {
    capture_bytes_.reset(new uint8_t[size]);
    capture_bytes_size_ = size;
  }
  CaptureBottomUp(capture_bytes_.get(), kWidth, display_height_, 24);
  return WriteBmp24(path, kWidth, display_height_, capture_bytes_.get(),
                    static_cast<std::size_t>(kWidth) * 3);
}

RecTime RcImageHandler::LastFrameTime() const {
  std::lock_guard lock(composite_lock_);
  return last_time_;
}

QImage RcImageHandler::CompositeSnapshot() const {
  std::lock_guard lock(composite_lock_);
  return composite_.copy();
}

}  // namespace rd
