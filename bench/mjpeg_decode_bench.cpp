// MJPEG frame decoder speed on one core, and a baseline measured in
// the same run: libavcodec's mpeg2video decoder on an intra-only MPEG-2
// picture of the same content and size, single-threaded.
//
// Content: the natural test picture (tools/common/TestPicture.h), 640 x 224
// (NTSC), encoded once with the project's encoder (full frame, Q = 2..6) and
// once with libavcodec's mpeg2video encoder at a comparable quantiser: our
// dequantisation is |level| * 2Q * W / 8, MPEG-2's (linear scale) is
// |level| * 2q * W / 16, so quantiser_scale_code q = 2Q; both use the default
// intra matrix and coefficient table B.14.
//
//   BM_DecodeFrame/Q/true_colour/half  whole DecodeFrame (goal: <= 1.5 ms for
//                                      a full-size true-colour frame)
//   BM_DecodeToPlanes/Q                decoding to the planes only
//   BM_LibavMpeg2Decode/Q              avcodec_send_packet + receive_frame
//   BM_PlanesRatio/Q                   both, alternating in one benchmark;
//                                      counter ratio = ours / libavcodec
//                                      (goal: <= 1.0)

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include "shared/mjpeg/MjpegDecoder.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/TestPicture.h"

namespace {

using rd::mjpeg::MjpegDecoder;
using rd::mjpeg::VideoStandard;

const rd::YuvPicture& Picture() {
  static const rd::YuvPicture picture = rd::MakeNaturalYuv(VideoStandard::kNtsc, 1);
  return picture;
}

// Our frame of the natural picture at Q.
const std::vector<uint8_t>& OurFrame(int q) {
  static std::map<int, std::vector<uint8_t>> frames;
  auto it = frames.find(q);
  if (it == frames.end()) {
    rd::MjpegEncoder encoder(VideoStandard::kNtsc);
    auto frame = encoder.EncodeFull(Picture(), q, 0);
    it = frames.emplace(q, std::vector<uint8_t>(frame.begin(), frame.end())).first;
  }
  return it->second;
}

// ---- libavcodec ---------------------------------------------------------------

struct Mpeg2Picture {
  std::vector<uint8_t> packet;  // sequence header + one intra picture
  bool ok = false;
};

// Encodes the natural picture once as an intra-only MPEG-2 picture.
const Mpeg2Picture& LibavPicture(int q) {
  static std::map<int, Mpeg2Picture> cache;
  auto it = cache.find(q);
  if (it != cache.end()) return it->second;
  Mpeg2Picture result;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
  AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  if (ctx && frame && pkt) {
    const rd::YuvPicture& pic = Picture();
    ctx->width = pic.width;
    ctx->height = pic.height;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = AVRational{1, 30};
    ctx->framerate = AVRational{30, 1};
    ctx->gop_size = 0;  // intra only
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 2 * q;  // quantiser_scale_code 2Q
    ctx->qmin = ctx->qmax = 2 * q;
    if (avcodec_open2(ctx, codec, nullptr) == 0) {
      frame->format = AV_PIX_FMT_YUV420P;
      frame->width = pic.width;
      frame->height = pic.height;
      if (av_frame_get_buffer(frame, 0) == 0) {
        for (int y = 0; y < pic.height; ++y) {
          std::memcpy(frame->data[0] + y * frame->linesize[0], &pic.y[y * pic.width], pic.width);
        }
        for (int y = 0; y < pic.height / 2; ++y) {
          std::memcpy(frame->data[1] + y * frame->linesize[1], &pic.cb[y * pic.width / 2],
                      pic.width / 2);
          std::memcpy(frame->data[2] + y * frame->linesize[2], &pic.cr[y * pic.width / 2],
                      pic.width / 2);
        }
        frame->pts = 0;
        frame->quality = ctx->global_quality;
        frame->pict_type = AV_PICTURE_TYPE_I;
        if (avcodec_send_frame(ctx, frame) == 0 && avcodec_send_frame(ctx, nullptr) == 0 &&
            avcodec_receive_packet(ctx, pkt) == 0) {
          result.packet.assign(pkt->data, pkt->data + pkt->size);
          result.ok = true;
        }
      }
    }
  }
  av_packet_free(&pkt);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return cache.emplace(q, std::move(result)).first->second;
}

class LibavDecoder {
 public:
  LibavDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
    ctx_ = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (ctx_) {
      ctx_->thread_count = 1;
      ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
      if (avcodec_open2(ctx_, codec, nullptr) != 0) avcodec_free_context(&ctx_);
    }
    frame_ = av_frame_alloc();
    pkt_ = av_packet_alloc();
  }
  ~LibavDecoder() {
    av_packet_free(&pkt_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
  }
  bool ok() const { return ctx_ && frame_ && pkt_; }
  // Decodes one packet to planes; true when a picture came out.
  // `packet` holds AV_INPUT_BUFFER_PADDING_SIZE zero bytes after `size`.
  bool Decode(const std::vector<uint8_t>& packet, std::size_t size) {
    pkt_->data = const_cast<uint8_t*>(packet.data());
    pkt_->size = static_cast<int>(size);
    if (avcodec_send_packet(ctx_, pkt_) != 0) return false;
    const bool got = avcodec_receive_frame(ctx_, frame_) == 0;
    if (got) av_frame_unref(frame_);
    return got;
  }

 private:
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* pkt_ = nullptr;
};

// The packet with the zero padding libavcodec's bit reader needs.
std::vector<uint8_t> Padded(const std::vector<uint8_t>& packet) {
  std::vector<uint8_t> p(packet);
  p.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  return p;
}

// ---- Benchmarks -----------------------------------------------------------------

void BM_DecodeFrame(benchmark::State& state) {
  const int q = static_cast<int>(state.range(0));
  const bool true_colour = state.range(1) != 0;
  const bool half = state.range(2) != 0;
  const std::vector<uint8_t>& frame = OurFrame(q);
  MjpegDecoder decoder;
  decoder.Open(VideoStandard::kNtsc);
  decoder.SetTrueColour(true_colour);
  std::vector<uint8_t> out(2 << 20);  // the client's 2 MiB buffer
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.DecodeFrame(frame.data(), frame.size(), out.data(), half));
    benchmark::ClobberMemory();
  }
  state.counters["frame_bytes"] = static_cast<double>(frame.size());
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFrame)
    ->ArgNames({"Q", "true_colour", "half"})
    ->ArgsProduct({{2, 4, 6}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_DecodeToPlanes(benchmark::State& state) {
  const int q = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& frame = OurFrame(q);
  MjpegDecoder decoder;
  decoder.Open(VideoStandard::kNtsc);
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.DecodeToPlanes(frame.data(), frame.size()));
    benchmark::ClobberMemory();
  }
  state.counters["frame_bytes"] = static_cast<double>(frame.size());
}
BENCHMARK(BM_DecodeToPlanes)->ArgName("Q")->DenseRange(2, 6, 1)->Unit(benchmark::kMillisecond);

void BM_LibavMpeg2Decode(benchmark::State& state) {
  const int q = static_cast<int>(state.range(0));
  const Mpeg2Picture& picture = LibavPicture(q);
  LibavDecoder decoder;
  if (!picture.ok || !decoder.ok()) {
    state.SkipWithError("libavcodec mpeg2video not usable");
    return;
  }
  const std::vector<uint8_t> packet = Padded(picture.packet);
  const std::size_t size = picture.packet.size();
  for (auto _ : state) benchmark::DoNotOptimize(decoder.Decode(packet, size));
  state.counters["frame_bytes"] = static_cast<double>(picture.packet.size());
}
BENCHMARK(BM_LibavMpeg2Decode)->ArgName("Q")->DenseRange(2, 6, 1)->Unit(benchmark::kMillisecond);

// CPU time of the calling thread in seconds (not disturbed by other load on
// the machine, unlike wall-clock time).
double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// Ours and libavcodec's in alternating rounds of the same length, so both see
// the same machine state; reports the mean thread CPU time per frame of each
// and their ratio.
void BM_PlanesRatio(benchmark::State& state) {
  const int q = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& frame = OurFrame(q);
  const Mpeg2Picture& picture = LibavPicture(q);
  LibavDecoder libav;
  if (!picture.ok || !libav.ok()) {
    state.SkipWithError("libavcodec mpeg2video not usable");
    return;
  }
  const std::vector<uint8_t> packet = Padded(picture.packet);
  const std::size_t size = picture.packet.size();
  MjpegDecoder ours;
  ours.Open(VideoStandard::kNtsc);
  constexpr int kRound = 20;
  double ours_s = 0;
  double libav_s = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    for (int i = 0; i < kRound; ++i)
      benchmark::DoNotOptimize(ours.DecodeToPlanes(frame.data(), frame.size()));
    const double t1 = ThreadCpuSeconds();
    for (int i = 0; i < kRound; ++i) benchmark::DoNotOptimize(libav.Decode(packet, size));
    const double t2 = ThreadCpuSeconds();
    ours_s += t1 - t0;
    libav_s += t2 - t1;
    ++rounds;
  }
  const double n = static_cast<double>(rounds * kRound);
  state.counters["ours_ms"] = 1e3 * ours_s / n;
  state.counters["libav_ms"] = 1e3 * libav_s / n;
  state.counters["ratio"] = ours_s / libav_s;
  state.counters["ours_bytes"] = static_cast<double>(frame.size());
  state.counters["libav_bytes"] = static_cast<double>(picture.packet.size());
}
BENCHMARK(BM_PlanesRatio)
    ->ArgName("Q")
    ->DenseRange(2, 6, 1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
