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

// Channel codes of the frames the log shows sent after the last line that
// contains `marker`.
std::vector<int> FrameCodesAfter(const std::string& log, const std::string& marker) {
  const std::size_t at = log.rfind(marker);
  std::vector<int> codes;
  if (at == std::string::npos) return codes;
  std::istringstream in(log.substr(at));
  std::string line;
  while (std::getline(in, line)) {
    double t;
    int code;
    if (std::sscanf(line.c_str(), "%lf FRAME %d", &t, &code) == 2) codes.push_back(code);
  }
  return codes;
}

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

  // One frame of every four of each camera's own: every camera stays in the stream.
  r = control_.Request(rdcp::kSetStreamFilter, {3, 0x80 | 0x10});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  const uint64_t audio_before = sim_->audio_sent();
  std::vector<int> after;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size() + 1, 100ms);
        after = FrameCodesAfter(Log(), "RX 41 0 2 0390");
        return after.size() >= 8;
      },
      10s));
  EXPECT_EQ(std::set<int>(after.begin(), after.begin() + 8), (std::set<int>{0, 1, 2, 3}));
  // Audio excluded (bit 4): no audio block during the next frames (over a second).
  ASSERT_TRUE(stream_.ReadFrames(stream_.frames.size() + 10, 10s));
  EXPECT_EQ(sim_->audio_sent(), audio_before);
  DecodeAll(stream_.frames, stream_.frames.size() - 1, mjpeg::VideoStandard::kNtsc);
}

// The index of the first frame from `from` on whose code is (or is not) 4.
std::size_t FirstFrame(const simtest::StreamPeer& s, std::size_t from, bool quad) {
  while (from < s.frames.size() && (CodeOf(s.frames[from]) == 4) != quad) ++from;
  return from;
}

TEST_F(StreamTest, WithoutChannelSelectionTheStreamCarriesTheQuadPicture) {
  StartSim();  // EACH record mode: the disk would take one camera at a time
  Connect();
  ASSERT_TRUE(stream_.ReadFrames(2, 10s));
  auto r = control_.Request(rdcp::kSetStreamFilter, {0, 0x0F});  // bit 7 clear
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  // Past the camera frames still in flight, only quad pictures of CH1..CH4.
  std::size_t from = 0;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size() + 1, 100ms);
        from = FirstFrame(stream_, 0, true);
        return stream_.frames.size() >= from + 4;
      },
      10s));
  for (std::size_t i = from; i < stream_.frames.size(); ++i) {
    EXPECT_EQ(CodeOf(stream_.frames[i]), 4) << i;
    EXPECT_EQ(stream_.frames[i].info[7], 0x1F) << i;
  }
  // Selecting channels again brings the cameras back, one at a time.
  r = control_.Request(rdcp::kSetStreamFilter, {0, 0x80});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size() + 1, 100ms);
        return stream_.frames.size() >= FirstFrame(stream_, from, false) + 4;
      },
      10s));
  from = FirstFrame(stream_, from, false);
  std::set<int> codes;
  for (std::size_t i = from; i < from + 4; ++i) codes.insert(CodeOf(stream_.frames[i]));
  EXPECT_EQ(codes, (std::set<int>{0, 1, 2, 3}));
  DecodeAll(stream_.frames, stream_.frames.size() - 1, mjpeg::VideoStandard::kNtsc);
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
  // The frame interval counts each camera's own frames in playback too (the
  // log tells the frames sent after the change from those still in flight).
  r = control_.Request(rdcp::kSetStreamFilter, {3, 0x80});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  std::vector<int> after;
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size(), 50ms);
        after = FrameCodesAfter(Log(), "RX 41 0 2 0380");
        return after.size() >= 4;
      },
      10s));
  // (Skipping breaks the chain of partial frames: each camera resumes with
  // its next full frame, and the full frames of the four come in a row.)
  EXPECT_EQ(std::set<int>(after.begin(), after.begin() + 4), (std::set<int>{0, 1, 2, 3}));
  r = control_.Request(rdcp::kSetStreamFilter, {0, 0x80});
  ASSERT_TRUE(r && r->type == rdcp::kStreamFilterChanged);
  // The playback runs to the end of the recording; the DVR is back in VIEW.
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size(), 50ms);
        auto st = control_.Request(rdcp::kGetStatus);
        return st && st->type == rdcp::kStatusReply && st->payload[0] == dvr_mode::kView;
      },
      15s));
  // Backward play from near the end: full frames only, going back in time
  // from 03:04:09 (not from where the last playback ended).
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
