// The stream server of the emulated DVR: chunk layout, decodable frames of the
// four cameras and the quad picture, audio, the stream filter and playback.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "SimFixture.h"
#include "client/engine/rdcp/RdcpWire.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/dvrsim/AlawTone.h"

namespace rd::sim {
namespace {

using namespace std::chrono_literals;
using simtest::Frame;

class StreamTest : public simtest::SimFixture {};

int CodeOf(const simtest::StreamFrame& f) {
  return f.bytes.size() > 4 ? f.bytes[4] & 7 : -1;
}
bool FullOf(const simtest::StreamFrame& f) {
  return f.bytes.size() > 4 && (f.bytes[4] & 0x80);
}

// Decodes frames per channel in order; returns the mean luma per channel.
std::map<int, double> DecodeAll(const std::vector<simtest::StreamFrame>& frames, std::size_t count,
                                mjpeg::VideoStandard standard) {
  std::map<int, std::unique_ptr<mjpeg::MjpegDecoder>> decoders;
  std::map<int, double> luma;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& f = frames[i];
    auto& d = decoders[CodeOf(f)];
    if (!d) {
      d = std::make_unique<mjpeg::MjpegDecoder>();
      d->Open(standard);
      EXPECT_TRUE(FullOf(f)) << "the first frame of a channel must be full";
    }
    EXPECT_EQ(d->DecodeToPlanes(f.bytes.data(), f.bytes.size()), 0) << i;
    if (FullOf(f)) {
      EXPECT_EQ(d->last_picture_end(), mjpeg::PictureEnd::kComplete) << i;
    }
    double sum = 0;
    const std::size_t n = static_cast<std::size_t>(d->width()) * d->height();
    for (std::size_t k = 0; k < n; ++k) sum += d->y_plane()[k];
    luma[CodeOf(f)] = sum / n;
  }
  return luma;
}

TEST_F(StreamTest, SendsDecodableFramesOfEveryCameraAndAudio) {
  StartSim();
  Connect();
  ASSERT_TRUE(stream_.ReadFrames(12, 10s));
  ASSERT_TRUE(stream_.ReadAudio(2, 5s));
  // Chunk layout: F7 7D, ChannelSet of the four inputs, a time of this DVR's clock.
  auto tm = control_.Request(rdcp::kGetTime);
  ASSERT_TRUE(tm);
  const DvrTime now = UnpackTime(tm->payload.data(), tm->payload.size());
  for (const auto& c : stream_.video_chunks) {
    ASSERT_EQ(c[0], 0xF7);
    ASSERT_EQ(c[1], 0x7D);
    EXPECT_EQ(c[12], now.year);
    EXPECT_EQ(c[13], now.month);
    EXPECT_EQ(c[18], 0);     // RateCode: 30 frames/s
    EXPECT_EQ(c[19], 0x0F);  // CH1..CH4 present
  }
  std::set<int> codes;
  for (std::size_t i = 0; i < 12; ++i) codes.insert(CodeOf(stream_.frames[i]));
  EXPECT_EQ(codes, (std::set<int>{0, 1, 2, 3}));
  auto luma = DecodeAll(stream_.frames, 12, mjpeg::VideoStandard::kNtsc);
  ASSERT_EQ(luma.size(), 4u);
  std::set<int> rounded;
  for (auto& [code, y] : luma) rounded.insert(static_cast<int>(y));
  EXPECT_EQ(rounded.size(), 4u) << "the four test cards look different";
  // Partial frames follow the full ones.
  bool partial = false;
  for (std::size_t i = 0; i < 12; ++i) partial = partial || !FullOf(stream_.frames[i]);
  EXPECT_TRUE(partial);
  // The log's FRAME lines are the frames as received, in order.
  auto logged = LoggedFrames();
  ASSERT_GE(logged.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(logged[i].code, CodeOf(stream_.frames[i]));
    EXPECT_EQ(logged[i].len, stream_.frames[i].bytes.size());
    EXPECT_EQ(logged[i].hash, simtest::Fnv(stream_.frames[i].bytes)) << i;
  }
  // Audio: 4000 A-law bytes of the tone.
  ASSERT_EQ(stream_.audio[0].size(), 4000u);
  bool tone = false;
  std::vector<uint8_t> ref(4000);
  for (uint64_t k = 0; k < 200 && !tone; ++k) {
    FillTone(k * 4000, ref.data(), ref.size());
    tone = ref == stream_.audio[0];
  }
  EXPECT_TRUE(tone);
}

TEST_F(StreamTest, HonoursChannelSelectionIntervalAndAudioExclusion) {
  StartSim();
  Connect();
  ASSERT_TRUE(stream_.ReadFrames(4, 10s));
  // Only CH3: bit 7 with CH1, CH2, CH4 excluded.
  auto r = control_.Request(rdcp::kSetStreamFilter, {0, 0x80 | 0x0B});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  std::size_t from = stream_.frames.size() + 2;  // frames in flight may still come
  ASSERT_TRUE(stream_.ReadFrames(from + 6, 10s));
  for (std::size_t i = from; i < from + 6; ++i) EXPECT_EQ(CodeOf(stream_.frames[i]), 2) << i;
  // Every frame received so far still decodes in order (CH3 stayed in step).
  DecodeAll(stream_.frames, stream_.frames.size() - 1, mjpeg::VideoStandard::kNtsc);

  // One frame of every four of the round-robin: always the same camera.
  r = control_.Request(rdcp::kSetStreamFilter, {3, 0x10});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  from = stream_.frames.size() + 2;
  ASSERT_TRUE(stream_.ReadFrames(from + 4, 10s));
  const uint64_t audio_before = sim_->audio_sent();
  for (std::size_t i = from + 1; i < from + 4; ++i)
    EXPECT_EQ(CodeOf(stream_.frames[i]), CodeOf(stream_.frames[from])) << i;
  // Audio excluded (bit 4): no audio block during the next frames (over a second).
  ASSERT_TRUE(stream_.ReadFrames(from + 14, 10s));
  EXPECT_EQ(sim_->audio_sent(), audio_before);
}

TEST_F(StreamTest, QuadModeSendsTheQuadPicture) {
  SimOptions o;
  o.quad = true;
  o.pal = true;
  o.audio = false;
  StartSim(o);
  Connect();
  ASSERT_TRUE(stream_.ReadFrames(4, 10s));
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(CodeOf(stream_.frames[i]), 4);
    EXPECT_EQ(stream_.frames[i].info[7], 0x1F);
    EXPECT_EQ(stream_.frames[i].info[6], 0);  // PAL 25 frames/s is code 0 too
  }
  DecodeAll(stream_.frames, 4, mjpeg::VideoStandard::kPal);
  EXPECT_TRUE(stream_.audio.empty());
  auto s = control_.Request(rdcp::kGetSettings);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->payload[0], 1);   // QUAD
  EXPECT_EQ(s->payload[4], 1);   // PAL
  EXPECT_EQ(s->payload[29], 0);  // no audio
}

TEST_F(StreamTest, PlaybackCarriesTheRecordedPicturesWithTheirTimes) {
  StartSim();
  Connect();
  auto r = control_.Request(rdcp::kSetTime, {5, 4, 3, 2, 1, 24});  // 2024-01-02 03:04:05
  ASSERT_TRUE(r && r->type == rdcp::kTimeChanged);
  r = control_.Request(rdcp::kStartRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStarted);
  // Six seconds (03:04:05 to about 03:04:11): every camera's 16th frame is a
  // full one, so backward play from 03:04:09 has several full frames to show.
  ASSERT_TRUE(rdtest::WaitFor([&] { return sim_->frames_recorded() >= 180; }, 15s));
  r = control_.Request(rdcp::kStopRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStopped);
  r = control_.Request(rdcp::kSetTime, {0, 0, 12, 1, 6, 25});  // later: 2025-06-01
  ASSERT_TRUE(r && r->type == rdcp::kTimeChanged);
  r = control_.Request(rdcp::kPlay);
  ASSERT_TRUE(r && r->type == rdcp::kPlayAccepted);
  // Skip what was in flight; then frames carry the recorded time.
  std::size_t from = 0;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size(), 50ms);
        for (std::size_t i = 0; i + 1 < stream_.frames.size(); ++i)
          if (stream_.frames[i].info[0] == 24) {
            from = i;
            return stream_.frames.size() > i + 5;
          }
        return false;
      },
      10s));
  for (std::size_t i = from; i < from + 5; ++i) {
    const auto& info = stream_.frames[i].info;
    EXPECT_EQ(info[0], 24);
    EXPECT_EQ(info[1], 1);
    EXPECT_EQ(info[2], 2);
    EXPECT_EQ(info[3], 3);
    EXPECT_EQ(info[4], 4);
    EXPECT_LE(info[5], 8);
  }
  // The first replayed frame of each camera is a full frame: nothing stale on screen.
  std::set<int> seen;
  for (std::size_t i = from; i < stream_.frames.size(); ++i) {
    if (seen.insert(CodeOf(stream_.frames[i])).second) {
      EXPECT_TRUE(FullOf(stream_.frames[i])) << i;
    }
  }
  // Backward play from near the end: full frames only, going back in time.
  r = control_.Request(rdcp::kPlay, {0, 9, 4, 3, 2, 1, 24});  // from 03:04:09
  ASSERT_TRUE(r && r->type == rdcp::kPlayAccepted);
  r = control_.Request(rdcp::kRewind);
  ASSERT_TRUE(r && r->type == rdcp::kRewindAccepted);
  const std::size_t before = stream_.frames.size();
  EXPECT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size(), 50ms);
        const auto& f = stream_.frames;
        for (std::size_t i = before; i + 3 < f.size(); ++i) {
          bool ok = true;
          for (std::size_t k = i; k < i + 3 && ok; ++k)
            ok = FullOf(f[k]) && f[k].info[0] == 24 && f[k + 1].info[5] <= f[k].info[5];
          if (ok) return true;
        }
        return false;
      },
      10s));
}

}  // namespace
}  // namespace rd::sim
