// The 4K packet cutter: video payloads back to back, audio packets between
// video packets, packet times in recording order.

#include "tools/common/PacketStreamBuilder.h"

#include <gtest/gtest.h>

#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd {
namespace {

constexpr RecTime kNoon{24, 5, 1, 12, 0, 0};
constexpr RecTime kNoonAndOne{24, 5, 1, 12, 0, 1};

std::vector<uint8_t> Bytes(std::size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

struct Cut {
  std::vector<bool> audio;
  std::vector<RecTime> times;
  std::vector<uint8_t> video;  // the video payloads joined
};

Cut Read(const std::vector<PacketStreamBuilder::Packet>& packets) {
  Cut c;
  for (const auto& p : packets) {
    const bool audio = ClassifyPacket(p.data()) == PacketKind::kAudio;
    c.audio.push_back(audio);
    c.times.push_back(RecTime::FromHeader(p.data()));
    if (!audio) c.video.insert(c.video.end(), p.begin() + kPacketHeaderSize, p.end());
  }
  return c;
}

TEST(PacketStreamBuilder, AudioWaitsForThePartlyFilledVideoPacket) {
  // Second 0 ends inside a video packet when the audio of second 1 is ready:
  // the audio goes in after that packet, so no packet is older than the one
  // before it, and the video payloads still run back to back.
  PacketStreamBuilder b;
  const auto first = Bytes(kVideoPayloadSize + 900, 1), second = Bytes(kVideoPayloadSize, 2);
  const std::vector<uint8_t> samples(kAudioPayloadSize, 0x55);
  b.set_time(kNoon);
  b.AppendVideo(first);
  b.set_time(kNoonAndOne);
  b.AppendAudio(samples.data());
  b.AppendVideo(second);
  b.Flush();
  const Cut c = Read(b.packets());
  EXPECT_EQ(c.audio, (std::vector<bool>{false, false, true, false}));
  EXPECT_EQ(c.times, (std::vector<RecTime>{kNoon, kNoon, kNoonAndOne, kNoonAndOne}));
  std::vector<uint8_t> es = first;
  es.insert(es.end(), second.begin(), second.end());
  ASSERT_GE(c.video.size(), es.size());
  EXPECT_TRUE(std::equal(es.begin(), es.end(), c.video.begin()));
}

TEST(PacketStreamBuilder, AudioBetweenWholePacketsAndAtTheEnd) {
  PacketStreamBuilder b;
  const std::vector<uint8_t> samples(kAudioPayloadSize, 0x55);
  b.set_time(kNoon);
  b.AppendVideo(Bytes(kVideoPayloadSize, 3));
  b.AppendAudio(samples.data());  // no video packet open: at once
  b.AppendVideo(Bytes(100, 4));
  b.AppendAudio(samples.data());  // behind the open packet, which Flush ends
  b.Flush();
  EXPECT_EQ(Read(b.packets()).audio, (std::vector<bool>{false, true, false, true}));
}

}  // namespace
}  // namespace rd
