#pragma once
// Recordings with partial frames for the playback tests: four cameras
// interleaved in one stream, each coded by its own encoder (a full frame, then
// partial frames against that camera's last picture), every frame two
// recording seconds after the one before, so that a trace line names the frame
// it was and a time search (which takes a packet within one second) finds
// exactly the frame searched for. Frames can be
// padded with zero bytes (the decoder ignores what follows a picture) so that
// a few encoded pictures fill several 2 MiB chunks.
//
// ReferenceOutput decodes a frame the way only its own camera's frames lead to
// it, with a fresh decoder: what a correct player shows for that frame.

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "player/disk/DiskFixture.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/common/MjpegEncoder.h"
#include "tools/common/PacketStreamBuilder.h"
#include "tools/common/TestPicture.h"

namespace rdtest {

inline constexpr rd::RecTime kRecordingBase{7, 3, 14, 9, 0, 0};

struct RecordingSpec {
  int frames = 48;         // in stream order
  int channels = 4;        // channel codes 0 .. channels - 1 in turn (4: the quad picture)
  int full_every = 6;      // a full frame every this many frames of a channel
  int cycle = 0;           // > 0: each camera's pictures repeat with this period
  std::size_t pad_to = 0;  // frames padded with zero bytes to at least this size
  int audio_every = 0;     // an audio packet after every this many frames (0: none)
  int audio_from = 0;      // ... from this frame on
  uint8_t rate = 0;        // RateCode of every packet
  int quality = 6;
  int64_t time_offset = 0;  // in frames: frame k has the time of frame time_offset + k
  int64_t end_seconds = 0;  // > 0: the last packet is stamped this much after the last frame
};

struct FixtureFrame {
  std::vector<uint8_t> bytes;
  uint8_t code = 0;
  bool full = false;
  rd::RecTime time;
};

struct Recording {
  std::vector<FixtureFrame> frames;
  std::vector<uint64_t> frame_packet;  // packet (from the recording's first) where frame k starts
  std::vector<rd::PacketStreamBuilder::Packet> packets;
  std::vector<std::vector<uint8_t>> audio;  // the samples of each audio packet, in order
};

// Frame k (of a recording without time offset) has the time
// kRecordingBase + 2k seconds.
inline rd::RecTime FrameTime(int64_t k) {
  return AddSeconds(kRecordingBase, 2 * k);
}
inline int FrameOfTime(const rd::RecTime& t) {
  return static_cast<int>((EpochSeconds(t) - EpochSeconds(kRecordingBase)) / 2);
}

inline std::vector<FixtureFrame> MakeFrames(const RecordingSpec& spec) {
  const auto standard = rd::mjpeg::VideoStandard::kNtsc;
  std::vector<std::unique_ptr<rd::MjpegEncoder>> encoders;
  std::vector<std::unique_ptr<rd::TestCard>> cards;
  for (int c = 0; c < spec.channels; ++c) {
    encoders.push_back(std::make_unique<rd::MjpegEncoder>(standard));
    cards.push_back(std::make_unique<rd::TestCard>(c + 1, standard));
  }
  rd::YuvPicture picture(standard);
  std::vector<FixtureFrame> frames;
  std::vector<std::vector<FixtureFrame>> cycles(static_cast<std::size_t>(spec.channels));
  for (int k = 0; k < spec.frames; ++k) {
    const int c = k % spec.channels;
    const int j = k / spec.channels;  // the camera's own frame number
    FixtureFrame f;
    auto& cycle = cycles[static_cast<std::size_t>(c)];
    if (spec.cycle > 0 && static_cast<int>(cycle.size()) == spec.cycle) {
      f = cycle[static_cast<std::size_t>(j % spec.cycle)];
    } else {
      cards[static_cast<std::size_t>(c)]->Render(static_cast<uint64_t>(j) * 3, FrameTime(k),
                                                 &picture);
      auto& enc = *encoders[static_cast<std::size_t>(c)];
      const bool full = j % spec.full_every == 0;
      const auto bytes = full ? enc.EncodeFull(picture, spec.quality, c)
                              : enc.EncodePartial(picture, spec.quality, c, 0);
      f.bytes.assign(bytes.begin(), bytes.end());
      f.code = static_cast<uint8_t>(c);
      f.full = full;
      if (spec.cycle > 0) cycle.push_back(f);
    }
    // Whole video payloads, so that each frame starts a packet and carries
    // its own recording second.
    std::size_t size = std::max(f.bytes.size(), spec.pad_to);
    size += (rd::kVideoPayloadSize - size % rd::kVideoPayloadSize) % rd::kVideoPayloadSize;
    f.bytes.resize(size, 0);
    f.time = FrameTime(spec.time_offset + k);
    frames.push_back(std::move(f));
  }
  return frames;
}

// Distinct samples per audio packet n.
inline std::vector<uint8_t> AudioSamples(std::size_t n) {
  std::vector<uint8_t> s(rd::kAudioPayloadSize);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(n * 37 + i * 11 + 1);
  return s;
}

inline Recording BuildRecording(const RecordingSpec& spec) {
  Recording r;
  r.frames = MakeFrames(spec);
  rd::PacketStreamBuilder builder;
  builder.set_rate(spec.rate);
  for (std::size_t k = 0; k < r.frames.size(); ++k) {
    r.frame_packet.push_back(builder.packets().size());  // frames fill whole packets
    builder.set_time(r.frames[k].time);
    builder.AppendVideo(r.frames[k].bytes);
    if (spec.audio_every > 0 && static_cast<int>(k) >= spec.audio_from &&
        (k + 1) % static_cast<std::size_t>(spec.audio_every) == 0) {
      r.audio.push_back(AudioSamples(r.audio.size()));
      builder.AppendAudio(r.audio.back().data());
    }
  }
  // A last start code closes the last frame, as the next recorded frame would.
  if (spec.end_seconds > 0 && !r.frames.empty())
    builder.set_time(AddSeconds(r.frames.back().time, spec.end_seconds));
  builder.AppendVideo(std::vector<uint8_t>(rd::kFrameStartCode.begin(), rd::kFrameStartCode.end()));
  builder.Flush();
  r.packets = builder.TakePackets();
  return r;
}

struct Placement {
  uint64_t first = 0;  // packet of the recording's first packet
  bool wrapped = false;
  // Packets written from W on, over the rest of the ring up to `first`, in
  // turn: the older recording of a wrapped ring, or old data beyond W that a
  // ring that has not wrapped still holds from an earlier use.
  const Recording* older = nullptr;
};

// Writes the packets from packet `first` on (going on at 0 past the end of
// the ring), then the status: W after the last packet written.
inline bool WriteRecording(const std::filesystem::path& path, uint64_t sectors,
                           const Recording& rec, const Placement& at = {},
                           uint64_t* write_packet = nullptr) {
  rd::DvrDiskImage image;
  if (!image.Create(path, sectors, rd::DiskLayout::kStandard)) return false;
  const uint64_t ap = image.packet_capacity();
  if (rec.packets.size() > ap) return false;
  uint64_t p = at.first;
  for (const auto& packet : rec.packets) {
    if (!image.WritePacket(p % ap, packet.data())) return false;
    p = (p + 1) % ap;
  }
  const uint64_t w = p;
  if (at.older && !at.older->packets.empty()) {
    for (std::size_t i = 0; p != at.first % ap; ++i, p = (p + 1) % ap) {
      if (!image.WritePacket(p, at.older->packets[i % at.older->packets.size()].data()))
        return false;
    }
  }
  if (write_packet) *write_packet = w;
  return image.WriteStatus({static_cast<uint32_t>(w), at.wrapped}) && image.Finish();
}

// The first frame that starts at or after packet `packet` of the recording.
inline int FirstFrameFrom(const Recording& rec, uint64_t packet) {
  int k = 0;
  while (k < static_cast<int>(rec.frames.size()) &&
         rec.frame_packet[static_cast<std::size_t>(k)] < packet)
    ++k;
  return k;
}

// The frames from `first` on that a correct player can show, each channel
// from its first full frame on (at most `count`).
inline std::vector<int> ShowableFrames(const Recording& rec, int first, int count) {
  std::array<bool, 8> in_sync{};
  std::vector<int> out;
  for (int k = first;
       k < static_cast<int>(rec.frames.size()) && static_cast<int>(out.size()) < count; ++k) {
    const auto& f = rec.frames[static_cast<std::size_t>(k)];
    if (f.full) in_sync[f.code] = true;
    if (in_sync[f.code]) out.push_back(k);
  }
  return out;
}

// The picture a correct player shows for frame k: its channel's frames from
// the last full frame up to k through a fresh decoder, full or half size.
inline std::vector<uint8_t> ReferenceOutput(const std::vector<FixtureFrame>& frames, int k,
                                            bool half) {
  const uint8_t code = frames[static_cast<std::size_t>(k)].code;
  int from = k;
  while (from >= 0 && !(frames[static_cast<std::size_t>(from)].code == code &&
                        frames[static_cast<std::size_t>(from)].full))
    --from;
  std::vector<uint8_t> out(1 << 20);
  if (from < 0) return {};
  rd::mjpeg::MjpegDecoder d;
  d.Open(rd::mjpeg::VideoStandard::kNtsc);
  for (int i = from; i <= k; ++i) {
    const auto& f = frames[static_cast<std::size_t>(i)];
    if (f.code == code) d.DecodeFrame(f.bytes.data(), f.bytes.size(), out.data(), half);
  }
  return out;
}

}  // namespace rdtest
