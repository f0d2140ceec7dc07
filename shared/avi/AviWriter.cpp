#include "shared/avi/AviWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/MessageBox.h"
#include "shared/stream/ByteOrder.h"

namespace rd {
namespace {

constexpr uint8_t kALawSilence = 0xD5;

// Release messages: a part of the file that could not be finished.
constexpr const char* kMsgReleaseCompressed =
    "AVIStreamRelease( m_pAviCompressedStream ) != 0 (不該發生的錯誤)";
constexpr const char* kMsgReleaseFile =
    "AVIFileRelease( m_pAVIFileInterface ) != 0 (不該發生的錯誤)";

void TraceWriteError(int error) {
#ifndef NDEBUG
  std::fprintf(stderr, "Error writing AVI stream %X\n", static_cast<unsigned>(error));
#else
  (void)error;
#endif
}

// The library's error in words, starting in lower case as a reason does.
std::string LibraryReason(int av_error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(av_error, text, sizeof text) < 0 || text[0] == 0) return {};
  std::string reason = text;
  if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0])) &&
      std::islower(static_cast<unsigned char>(reason[1])))
    reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return reason;
}

bool IsUncompressed(const std::string& name) {
  return name.empty() || name == kUncompressedCompressor || name == "rawvideo";
}

// Encoders listed first, in this order, when present.
const char* const kPreferred[] = {"mjpeg",      "ffv1",    "mpeg4",      "libx264",
                                  "libxvid",    "huffyuv", "utvideo",    "msmpeg4",
                                  "mpeg2video", "ffvhuff", "libx264rgb", "png"};

bool IsHardwareOrWrapper(const AVCodec* c) {
  if ((c->capabilities &
       (AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_HYBRID | AV_CODEC_CAP_EXPERIMENTAL)) != 0) {
    return true;
  }
  const std::string name = c->name;
  if (c->wrapper_name != nullptr && std::strncmp(c->wrapper_name, "lib", 3) != 0) return true;
  for (const char* suffix : {"_omx", "_v4l2m2m", "_vaapi", "_qsv", "_nvenc", "_amf", "_mf",
                             "_videotoolbox", "_mediacodec", "_cuvid", "_rkmpp"}) {
    const std::size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) return true;
  }
  return false;
}

bool UsableInAvi(const AVCodec* c) {
  static const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  return avi != nullptr && c != nullptr && av_codec_is_encoder(c) &&
         c->type == AVMEDIA_TYPE_VIDEO && c->pix_fmts != nullptr && !IsHardwareOrWrapper(c) &&
         avformat_query_codec(avi, c->id, FF_COMPLIANCE_NORMAL) == 1;
}

VideoCompressor Describe(const AVCodec* c) {
  VideoCompressor v;
  v.name = c->name;
  v.description = c->long_name != nullptr ? c->long_name : c->name;
  const AVCodecDescriptor* d = avcodec_descriptor_get(c->id);
  v.lossless = d != nullptr && (d->props & AV_CODEC_PROP_LOSSLESS) != 0 &&
               (d->props & AV_CODEC_PROP_LOSSY) == 0;
  return v;
}

// The encoder's input format: 4:2:0 for the lossy codecs that offer it (what
// players expect), else the format closest to BGR24.
AVPixelFormat ChoosePixelFormat(const AVCodec* c) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(c->id);
  const bool lossy = d != nullptr && (d->props & AV_CODEC_PROP_LOSSY) != 0;
  if (lossy) {
    for (const AVPixelFormat* p = c->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
      if (*p == AV_PIX_FMT_YUVJ420P || *p == AV_PIX_FMT_YUV420P) return *p;
    }
  }
  return avcodec_find_best_pix_fmt_of_list(c->pix_fmts, AV_PIX_FMT_BGR24, 0, nullptr);
}

}  // namespace

std::vector<VideoCompressor> ListAviVideoCompressors() {
  std::vector<VideoCompressor> list;
  list.push_back({kUncompressedCompressor, "Full frames (uncompressed BGR24)", true});
  std::set<std::string> seen;
  for (const char* name : kPreferred) {
    const AVCodec* c = avcodec_find_encoder_by_name(name);
    if (UsableInAvi(c) && seen.insert(c->name).second) list.push_back(Describe(c));
  }
  std::vector<VideoCompressor> rest;
  void* it = nullptr;
  while (const AVCodec* c = av_codec_iterate(&it)) {
    if (c->id == AV_CODEC_ID_RAWVIDEO || !UsableInAvi(c)) continue;
    if (seen.insert(c->name).second) rest.push_back(Describe(c));
  }
  std::sort(rest.begin(), rest.end(),
            [](const VideoCompressor& a, const VideoCompressor& b) { return a.name < b.name; });
  list.insert(list.end(), rest.begin(), rest.end());
  return list;
}

// The FFmpeg objects behind the export, named after the parts of the file.
struct AviWriter::Impl {
  AVFormatContext* file = nullptr;    // the AVI file
  AVStream* video = nullptr;          // the video stream
  AVStream* audio = nullptr;          // the audio stream
  bool compressed_ready = false;      // the compressed stream: encoder (or raw copy) set up
  AVCodecContext* encoder = nullptr;  // nullptr for uncompressed frames
  SwsContext* sws = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  std::vector<uint8_t> audio_block =  // a short block completed with silence
      std::vector<uint8_t>(kAviAudioBlockSamples);

  // Writes the packets the encoder has ready; false on a write error.
  int DrainEncoder() {
    for (;;) {
      int r = avcodec_receive_packet(encoder, packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
      if (r < 0) return r;
      av_packet_rescale_ts(packet, encoder->time_base, video->time_base);
      packet->stream_index = video->index;
      r = av_write_frame(file, packet);
      av_packet_unref(packet);
      if (r < 0) return r;
    }
  }

  void FreeCompressed() {
    avcodec_free_context(&encoder);
    sws_freeContext(sws);
    sws = nullptr;
    av_frame_free(&frame);
    av_packet_free(&packet);
    compressed_ready = false;
  }
};

AviWriter::AviWriter()
    : impl_(std::make_unique<Impl>()), clock_([] { return std::chrono::steady_clock::now(); }) {
  // The libraries' informational chatter (pixel format notes, muxer hints)
  // is of no use to the user; errors still show.
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
  });
}

AviWriter::~AviWriter() {
  if (state_.load() != kAviStateIdle) Close();
  std::lock_guard lock(write_mutex_);
  ReleaseLocked();
}

void AviWriter::SetCompressorChooser(CompressorChooser* chooser) {
  chooser_ = chooser;
}

void AviWriter::SetVideoRateOverride(uint32_t rate_for_scale_30) {
  rate_override_ = rate_for_scale_30;
}

void AviWriter::SetClock(ClockFn clock) {
  clock_ = std::move(clock);
}

// Releases what Create made so far, removes the file, state idle.
std::string AviResultText(int code) {
  switch (code) {
    case kAviOk:
      return "done";
    case kAviIdle:
      return "no export is running";
    case kAviBeingCreated:
      return "the file is being created";
    case kAviBeingClosed:
      return "the file is being closed";
    case kAviUnexpectedState:
      return "the export is in an unexpected state";
    case kAviWriteInProgress:
      return "another write is in progress";
    case kAviWriteFailed:
      return "the write failed";
    case kAviNoData:
      return "no picture data";
    case kAviEmptyPath:
      return "no file name";
    case kAviCancelled:
      return "cancelled";
    case kAviNotCreated:
      return "no file was created";
    case kAviBadSize:
      return "the picture size is not valid";
    case kAviCannotCreateFile:
      return "the file cannot be created";
    case kAviCannotCreateStream:
      return "a stream cannot be added";
    case kAviCannotMakeCompressed:
      return "the compressor cannot be made";
    case kAviFormatRefused:
      return "the compressor refuses the picture format";
    case kAviNoCompressedStream:
      return "the export has been released";
    default:
      return "result " + std::to_string(code);
  }
}

std::string AviWriter::FailureReason(int code) const {
  std::lock_guard lock(write_mutex_);
  if (code == failed_code_ && failed_av_error_ < 0) {
    std::string reason = LibraryReason(failed_av_error_);
    if (!reason.empty()) return reason;
  }
  return AviResultText(code);
}

int AviWriter::Fail(int code, int av_error) {
  {
    std::lock_guard lock(write_mutex_);
    ReleaseLocked();
    failed_code_ = code;
    failed_av_error_ = av_error;
  }
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  path_.clear();
  file_created_ = false;
  state_ = kAviStateIdle;
  return code;
}

int AviWriter::Create(const std::string& path, int bits_per_pixel, int width, int height,
                      const BitmapInfoHeader& header) {
  if (path.empty()) return kAviEmptyPath;
  const int state = state_.load();
  if (state == kAviStateClosing) return kAviBeingClosed;
  if (state == kAviStateCreating) return kAviBeingCreated;
  if (state != kAviStateIdle) Close();

  // (A frame over 256 MiB describes no picture of this system.)
  if (width <= 0 || height <= 0 || bits_per_pixel <= 0 || width > 32768 || height > 32768 ||
      bits_per_pixel > 64 ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * bits_per_pixel / 8 >
          (256u << 20)) {
    state_ = kAviStateIdle;
    return kAviBadSize;
  }
  state_ = kAviStateCreating;
  width_ = width;
  height_ = height;
  bits_ = bits_per_pixel;
  image_size_ = static_cast<std::size_t>(width) * height * bits_per_pixel / 8;
  const auto slash = path.find_last_of('/');
  directory_ = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  path_.clear();
  Impl& m = *impl_;

  // The file.
  int av_error = avformat_alloc_output_context2(&m.file, nullptr, "avi", path.c_str());
  if (av_error < 0 || m.file == nullptr) return Fail(kAviCannotCreateFile, av_error);
  av_error = avio_open(&m.file->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (av_error < 0) return Fail(kAviCannotCreateFile, av_error);
  path_ = path;  // from here a failure removes the file

  // The video stream: 30 frames/s, the picture size of the bitmap header.
  m.video = avformat_new_stream(m.file, nullptr);
  if (m.video == nullptr) return Fail(kAviCannotCreateStream);
  m.video->time_base = AVRational{kAviRateScale, static_cast<int>(kAviNominalRate)};
  m.video->avg_frame_rate = AVRational{static_cast<int>(kAviNominalRate), kAviRateScale};

  // The compressor choice.
  CompressorOptions options;
  if (chooser_ != nullptr &&
      !chooser_->Choose(ListAviVideoCompressors(), width, height, &options)) {
    return Fail(kAviCancelled);
  }
  options_ = options;

  // The compressed stream.
  const bool raw = IsUncompressed(options.compressor);
  const AVCodec* codec = nullptr;
  if (!raw) {
    codec = avcodec_find_encoder_by_name(options.compressor.c_str());
    if (!UsableInAvi(codec)) return Fail(kAviCannotMakeCompressed);
  }
  m.packet = av_packet_alloc();
  if (m.packet == nullptr) return Fail(kAviCannotMakeCompressed);

  // Its format: the bitmap header given, which every frame must match.
  const bool header_ok = header.size == kBmpInfoHeaderSize && header.width == width &&
                         header.height == height && header.bit_count == bits_per_pixel &&
                         header.compression == 0 && header.planes == 1 && bits_per_pixel == 24;
  bool format_ok = header_ok;
  if (format_ok && raw) {
    AVCodecParameters* par = m.video->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0;
    par->format = AV_PIX_FMT_BGR24;
    par->bits_per_coded_sample = 24;
    par->width = width;
    par->height = height;
  } else if (format_ok) {
    m.encoder = avcodec_alloc_context3(codec);
    m.frame = av_frame_alloc();
    format_ok = m.encoder != nullptr && m.frame != nullptr;
    if (format_ok) {
      AVCodecContext* e = m.encoder;
      e->width = width;
      e->height = height;
      e->pix_fmt = ChoosePixelFormat(codec);
      e->time_base = AVRational{1, 30};
      e->framerate = AVRational{30, 1};
      e->max_b_frames = 0;  // AVI has no reordering
      e->gop_size = options.keyframe_interval > 0 ? options.keyframe_interval : 30;
      e->thread_type = FF_THREAD_SLICE;
      if (options.bit_rate > 0) {
        e->bit_rate = options.bit_rate;
      } else if (codec->id == AV_CODEC_ID_MJPEG || codec->id == AV_CODEC_ID_MPEG4 ||
                 codec->id == AV_CODEC_ID_MSMPEG4V3 || codec->id == AV_CODEC_ID_MPEG2VIDEO) {
        e->flags |= AV_CODEC_FLAG_QSCALE;
        e->global_quality = FF_QP2LAMBDA * 3;
      }
      if (std::strcmp(codec->name, "libx264") == 0 || std::strcmp(codec->name, "libx264rgb") == 0) {
        av_opt_set(e->priv_data, "preset", "veryfast", 0);
      }
      format_ok = avcodec_open2(e, codec, nullptr) == 0 &&
                  avcodec_parameters_from_context(m.video->codecpar, e) >= 0;
    }
    if (format_ok) {
      m.frame->format = m.encoder->pix_fmt;
      m.frame->width = width;
      m.frame->height = height;
      format_ok = av_frame_get_buffer(m.frame, 0) == 0;
      m.sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, m.encoder->pix_fmt,
                             SWS_BILINEAR, nullptr, nullptr, nullptr);
      format_ok = format_ok && m.sws != nullptr;
    }
  }
  if (!format_ok) {
    Fail(kAviFormatRefused);
    ShowMessage("", "Invalid codec!");
    return kAviFormatRefused;
  }
  m.video->codecpar->codec_tag = 0;  // the muxer picks the AVI tag of the codec
  m.compressed_ready = true;

  // The audio stream: A-law, mono, 8000 samples/s, 8 bits.
  m.audio = avformat_new_stream(m.file, nullptr);
  if (m.audio == nullptr) return Fail(kAviCannotCreateStream);
  {
    AVCodecParameters* par = m.audio->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_ALAW;
    par->codec_tag = 6;
    par->sample_rate = 8000;
    av_channel_layout_default(&par->ch_layout, 1);
    par->bits_per_coded_sample = 8;
    par->block_align = 1;
    par->bit_rate = 64000;
    m.audio->time_base = AVRational{1, 8000};
  }
  AVDictionary* muxer_options = nullptr;
  av_dict_set(&muxer_options, "flipped_raw_rgb", "1", 0);  // frames are bottom-up bitmaps
  const int header_result = avformat_write_header(m.file, &muxer_options);
  av_dict_free(&muxer_options);
  if (header_result < 0) return Fail(kAviFormatRefused, header_result);

  next_frame_ = 0;
  frames_written_ = 0;
  next_audio_sample_ = 0;
  started_at_ = clock_();
  released_ = false;
  file_created_ = true;
  header_ = header;
  state_ = kAviStateRecording;
  return kAviOk;
}

void AviWriter::WriteFailed(int av_error) {
  TraceWriteError(av_error);
  failed_code_ = kAviWriteFailed;
  failed_av_error_ = av_error;
}

int AviWriter::AddVideoFrame(const uint8_t* bitmap, std::size_t length, bool key_frame) {
  std::lock_guard lock(write_mutex_);
  switch (state_.load()) {
    case kAviStateRecording:
      break;
    case kAviStateIdle:
      return kAviIdle;
    case kAviStateCreating:
      return kAviBeingCreated;
    case kAviStateClosing:
      return kAviBeingClosed;
    case kAviStateWriting:
      return kAviWriteInProgress;
    default:
      return kAviUnexpectedState;
  }
  if (!file_created_) return kAviNotCreated;
  Impl& m = *impl_;
  if (!m.compressed_ready || m.file == nullptr) return kAviNoCompressedStream;
  if (bitmap == nullptr || length < image_size_) return kAviNoData;

  state_ = kAviStateWriting;
  const bool key = key_frame || frames_written_.load() == 0;
  const int64_t pts = next_frame_.load();
  int r = 0;
  if (m.encoder == nullptr) {
    // Uncompressed: the bottom-up bitmap is the frame as stored. The packet
    // points at the caller's bytes (the muxer copies them into the file).
    av_packet_unref(m.packet);
    m.packet->data = const_cast<uint8_t*>(bitmap);
    m.packet->size = static_cast<int>(image_size_);
    m.packet->pts = m.packet->dts = pts;
    m.packet->duration = 1;
    m.packet->stream_index = m.video->index;
    if (key) m.packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(m.packet, AVRational{1, 30}, m.video->time_base);
    r = av_write_frame(m.file, m.packet);
    av_packet_unref(m.packet);
  } else {
    r = av_frame_make_writable(m.frame);
    if (r == 0) {
      // Bottom-up rows read from the last one up give the picture top-down.
      const int stride = width_ * 3;
      const uint8_t* src[1] = {bitmap + static_cast<std::size_t>(height_ - 1) * stride};
      const int src_stride[1] = {-stride};
      sws_scale(m.sws, src, src_stride, 0, height_, m.frame->data, m.frame->linesize);
      m.frame->pts = pts;
      m.frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
      m.frame->key_frame = key ? 1 : 0;
      m.frame->quality = m.encoder->global_quality;
      r = avcodec_send_frame(m.encoder, m.frame);
      if (r == 0) r = m.DrainEncoder();
    }
  }
  if (r < 0) WriteFailed(r);
  state_ = kAviStateRecording;
  ++next_frame_;
  if (r >= 0) ++frames_written_;
  return r < 0 ? kAviWriteFailed : kAviOk;
}

int AviWriter::AddAudio(const uint8_t* alaw, std::size_t length) {
  std::lock_guard lock(write_mutex_);
  Impl& m = *impl_;
  if (state_.load() != kAviStateRecording || m.audio == nullptr || m.file == nullptr ||
      alaw == nullptr || length == 0 || length > (1u << 20)) {
    return kAviWriteFailed;
  }
  state_ = kAviStateWriting;
  const uint8_t* data = alaw;
  std::size_t size = length;
  if (length < static_cast<std::size_t>(kAviAudioBlockSamples)) {
    std::fill(m.audio_block.begin(), m.audio_block.end(), kALawSilence);
    std::memcpy(m.audio_block.data(), alaw, length);
    data = m.audio_block.data();
    size = m.audio_block.size();
  }
  av_packet_unref(m.packet);
  m.packet->data = const_cast<uint8_t*>(data);
  m.packet->size = static_cast<int>(size);
  m.packet->pts = m.packet->dts =
      av_rescale_q(next_audio_sample_.load(), AVRational{1, 8000}, m.audio->time_base);
  m.packet->duration =
      av_rescale_q(static_cast<int64_t>(size), AVRational{1, 8000}, m.audio->time_base);
  m.packet->stream_index = m.audio->index;
  m.packet->flags |= AV_PKT_FLAG_KEY;
  const int r = av_write_frame(m.file, m.packet);
  av_packet_unref(m.packet);
  if (r < 0) WriteFailed(r);
  state_ = kAviStateRecording;
  next_audio_sample_ += kAviAudioBlockSamples;
  return r < 0 ? kAviWriteFailed : kAviOk;
}

void AviWriter::Release() {
  std::lock_guard lock(write_mutex_);
  if (impl_->file != nullptr && !released_) {
    released_ = true;
    released_at_ = clock_();
  }
  ReleaseLocked();
}

void AviWriter::ReleaseLocked() {
  Impl& m = *impl_;
  // The compressed stream: frames the encoder still holds go into the file.
  if (m.compressed_ready || m.encoder != nullptr || m.packet != nullptr) {
    bool ok = true;
    if (m.encoder != nullptr && m.file != nullptr && m.compressed_ready) {
      ok = avcodec_send_frame(m.encoder, nullptr) == 0 && m.DrainEncoder() >= 0;
    }
    m.FreeCompressed();
    if (!ok) ShowMessage("", kMsgReleaseCompressed);
  }
  // The two streams belong to the file.
  m.video = nullptr;
  m.audio = nullptr;
  // The file: trailer (indexes, sizes) and close.
  if (m.file != nullptr) {
    bool ok = true;
    if (m.file->pb != nullptr) {
      // Only a file whose header was written gets a trailer.
      if (file_created_) ok = av_write_trailer(m.file) == 0;
      ok = avio_closep(&m.file->pb) == 0 && ok;
    }
    avformat_free_context(m.file);
    m.file = nullptr;
    if (!ok) ShowMessage("", kMsgReleaseFile);
    if (ok && file_created_) WriteDesignedStreamHeaders(path_);
  }
}

uint32_t AviWriter::MeasuredRate() const {
  if (rate_override_ != 0) return rate_override_;
  const auto end = released_ ? released_at_ : clock_();
  const double seconds = std::chrono::duration<double>(end - started_at_).count();
  const double frames = static_cast<double>(frames_written_.load());
  if (seconds <= 0.0) return kAviNominalRate;
  const double rate = std::round(frames * kAviRateScale / seconds);
  // At least one frame in 30 s; at most 1000 frames/s.
  return static_cast<uint32_t>(std::clamp(rate, 1.0, 30000.0));
}

int AviWriter::Close() {
  const int state = state_.load();
  if (state == kAviStateIdle) return kAviOk;
  if (state == kAviStateClosing) return kAviBeingClosed;
  if (state == kAviStateCreating) return kAviBeingCreated;
  std::lock_guard lock(write_mutex_);  // waits for a write in progress
  state_ = kAviStateClosing;
  if (impl_->file != nullptr && !released_) {
    released_ = true;
    released_at_ = clock_();
  }
  ReleaseLocked();
  if (file_created_) {
    std::error_code ec;
    if (frames_written_.load() == 0) {
      std::filesystem::remove(path_, ec);
    } else if (std::filesystem::exists(path_, ec)) {
      const uint32_t rate = MeasuredRate();
      if (PatchAviVideoRate(path_, kAviRateScale, rate) >= 0) last_patched_rate_ = rate;
    }
  }
  file_created_ = false;
  path_.clear();
  state_ = kAviStateIdle;
  return kAviOk;
}

// ---- rate patch --------------------------------------------------------------

namespace {

struct AviHeaderOffsets {
  long long avih = -1;        // data of the main header
  long long video_strh = -1;  // data of the first video stream header
  long long audio_strh = -1;  // data of the first audio stream header
};

// Walks LIST hdrl and its LIST strl chunks at the start of the file.
AviHeaderOffsets FindAviHeaders(std::fstream& f) {
  AviHeaderOffsets o;
  // The headers are at the start of the file (the muxer reserves a few KiB of
  // index space in them); 64 KiB covers them.
  std::vector<uint8_t> head(64 * 1024);
  f.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const std::size_t n = static_cast<std::size_t>(f.gcount());
  f.clear();
  if (n < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
      std::memcmp(head.data() + 8, "AVI ", 4) != 0) {
    return o;
  }
  std::size_t pos = 12;
  std::size_t list_end = n;
  bool in_hdrl = false;
  while (pos + 8 <= list_end) {
    const uint8_t* c = head.data() + pos;
    const std::size_t size = LoadLe32(c + 4);
    const bool list = std::memcmp(c, "LIST", 4) == 0 && pos + 12 <= n;
    if (list && std::memcmp(c + 8, "hdrl", 4) == 0 && !in_hdrl) {
      in_hdrl = true;
      list_end = std::min(n, pos + 8 + size);
      pos += 12;
      continue;
    }
    if (list && in_hdrl && std::memcmp(c + 8, "strl", 4) == 0) {
      pos += 12;  // its chunks follow; the walk goes on to the next strl
      continue;
    }
    if (in_hdrl && std::memcmp(c, "avih", 4) == 0 && size >= 4) {
      o.avih = static_cast<long long>(pos + 8);
    } else if (in_hdrl && std::memcmp(c, "strh", 4) == 0 && size >= 48 && pos + 8 + 48 <= n) {
      if (std::memcmp(c + 8, "vids", 4) == 0 && o.video_strh < 0) {
        o.video_strh = static_cast<long long>(pos + 8);
      } else if (std::memcmp(c + 8, "auds", 4) == 0 && o.audio_strh < 0) {
        o.audio_strh = static_cast<long long>(pos + 8);
      }
    }
    pos += 8 + size + (size & 1);
  }
  return o;
}

void WriteLe32At(std::fstream& f, long long offset, uint32_t value) {
  uint8_t field[4];
  StoreLe32(field, value);
  f.seekp(offset);
  f.write(reinterpret_cast<const char*>(field), 4);
}

// Stream header fields, from the data start of strh.
constexpr int kStrhHandler = 4;
constexpr int kStrhScale = 20;
constexpr int kStrhRate = 24;
constexpr int kStrhBufferSize = 36;
constexpr int kStrhQuality = 40;

}  // namespace

long long PatchAviVideoRate(const std::string& path, uint32_t scale, uint32_t rate) {
  if (scale == 0 || rate == 0) return -1;
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) return -1;
  const AviHeaderOffsets o = FindAviHeaders(f);
  if (o.video_strh < 0) return -1;
  WriteLe32At(f, o.video_strh + kStrhScale, scale);
  WriteLe32At(f, o.video_strh + kStrhRate, rate);
  if (o.avih >= 0) {  // microseconds per frame
    WriteLe32At(f, o.avih, static_cast<uint32_t>(std::llround(1e6 * scale / rate)));
  }
  f.flush();
  return f ? o.video_strh + kStrhRate : -1;
}

bool WriteDesignedStreamHeaders(const std::string& path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) return false;
  const AviHeaderOffsets o = FindAviHeaders(f);
  if (o.video_strh < 0 || o.audio_strh < 0) return false;
  // The muxer reduces scale/rate fractions and marks quality "default"; the
  // export's headers say scale 30 for both streams.
  WriteLe32At(f, o.video_strh + kStrhScale, kAviRateScale);
  WriteLe32At(f, o.video_strh + kStrhRate, kAviNominalRate);
  WriteLe32At(f, o.video_strh + kStrhQuality, 0);
  WriteLe32At(f, o.audio_strh + kStrhHandler, 0);
  WriteLe32At(f, o.audio_strh + kStrhScale, kAviRateScale);
  WriteLe32At(f, o.audio_strh + kStrhRate, 8000 * kAviRateScale);
  WriteLe32At(f, o.audio_strh + kStrhBufferSize, 8000);
  WriteLe32At(f, o.audio_strh + kStrhQuality, 0xFFFFFFFFu);
  f.flush();
  return static_cast<bool>(f);
}

}  // namespace rd
