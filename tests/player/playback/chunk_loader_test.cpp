// The chunk loader: splitting a chunk into MJPEG bytes and audio, the frame
// index, the capacities and the audio-present flag.

#include "player/playback/ChunkLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "player/disk/DiskFixture.h"
#include "support/TestSupport.h"
#include "tools/common/DvrDiskImage.h"
#include "tools/common/PacketStreamBuilder.h"

namespace rd {
namespace {

RecTime TimeOfVideoPacket(std::size_t v) {
  return RecTime{5, 6, 7, 8, static_cast<uint8_t>(v / 60 % 60), static_cast<uint8_t>(v % 60)};
}

// A chunk of `video_packets` video packets carrying `es` (zero-padded), with
// an audio packet before video packet k for every k in `audio_before`, and
// `trailing_audio` audio packets at the end. Video packet v is stamped
// TimeOfVideoPacket(v) and rate v % 6.
std::vector<uint8_t> BuildChunk(const std::vector<uint8_t>& es, std::size_t video_packets,
                                const std::multiset<std::size_t>& audio_before = {},
                                std::size_t trailing_audio = 0) {
  PacketStreamBuilder builder;
  std::vector<uint8_t> samples(kAudioPayloadSize, 0x55);
  std::vector<uint8_t> payload(kVideoPayloadSize);
  for (std::size_t v = 0; v < video_packets; ++v) {
    for (std::size_t n = audio_before.count(v); n > 0; --n) builder.AppendAudio(samples.data());
    builder.set_time(TimeOfVideoPacket(v));
    builder.set_rate(static_cast<uint8_t>(v % 6));
    std::fill(payload.begin(), payload.end(), 0xAB);
    const std::size_t from = v * kVideoPayloadSize;
    if (from < es.size()) {
      const std::size_t n = std::min(kVideoPayloadSize, es.size() - from);
      std::copy_n(es.begin() + static_cast<std::ptrdiff_t>(from), n, payload.begin());
    }
    builder.AppendVideo(payload);
  }
  for (std::size_t n = 0; n < trailing_audio; ++n) builder.AppendAudio(samples.data());
  std::vector<uint8_t> chunk;
  for (const auto& packet : builder.packets())
    chunk.insert(chunk.end(), packet.begin(), packet.end());
  return chunk;
}

// An elementary stream of `size` bytes (0xAB filler) with start codes at the
// given offsets; the byte after each code holds `channel`.
std::vector<uint8_t> StreamWithStartCodes(std::size_t size, const std::vector<std::size_t>& at,
                                          uint8_t channel = 2) {
  std::vector<uint8_t> es(size, 0xAB);
  for (std::size_t j : at) {
    std::copy(kFrameStartCode.begin(), kFrameStartCode.end(),
              es.begin() + static_cast<std::ptrdiff_t>(j));
    if (j + 4 < size) es[j + 4] = static_cast<uint8_t>(0x80 | (3 << 3) | channel);
  }
  return es;
}

class LoaderTest : public ::testing::Test {
 protected:
  const StreamBuffer& Parse(const std::vector<uint8_t>& chunk, int fill = 0) {
    loader_.ParseChunk(chunk.data(), chunk.size(), fill);
    loader_.IndexFrames(fill);
    return loader_.buffer(fill);
  }
  ChunkLoader loader_;
};

TEST_F(LoaderTest, NoStartCodeOrOnlyOneGivesNoFrame) {
  const auto& none = Parse(BuildChunk({}, kChunkPackets));
  EXPECT_EQ(none.mjpeg_length, kChunkPackets * kVideoPayloadSize);
  EXPECT_EQ(none.frame_count, 0u);
  EXPECT_EQ(Parse(BuildChunk(StreamWithStartCodes(10'000, {5000}), kChunkPackets)).frame_count, 0u);
}

TEST_F(LoaderTest, FramesAtOneHundredNineThousandAndTwentyThousand) {
  const auto& buf = Parse(BuildChunk(StreamWithStartCodes(30'000, {100, 9000, 20'000}), 512));
  ASSERT_EQ(buf.frame_count, 2u);
  EXPECT_EQ(buf.frames[0].start, 100u);
  EXPECT_EQ(buf.frames[0].length, 8900u);
  EXPECT_EQ(buf.frames[0].time, TimeOfVideoPacket(0));
  EXPECT_EQ(buf.frames[1].start, 9000u);
  EXPECT_EQ(buf.frames[1].length, 11'000u);
  EXPECT_EQ(buf.frames[1].time, TimeOfVideoPacket(2));  // 9000 div 4088 = 2
  EXPECT_EQ(buf.frames[1].rate, 2);
  EXPECT_EQ(buf.ChannelOf(0), 2);
  loader_.buffer(0).mjpeg_length = 0;  // as the load thread leaves it after indexing
  EXPECT_EQ(buf.ChannelOf(1), 2);
  EXPECT_EQ(buf.ChannelOf(StreamBuffer::kMaxFrames), 7);
  // The first frame starts at its start code: bytes before it belong to no record.
  const auto& late = Parse(BuildChunk(StreamWithStartCodes(20'000, {5000, 15'000, 16'000}), 8), 1);
  ASSERT_EQ(late.frame_count, 2u);
  EXPECT_EQ(late.frames[0].start, 5000u);
}

TEST_F(LoaderTest, AudioMarksFlagFramesInOrder) {
  struct Case {
    std::vector<uint32_t> marks;
    std::vector<uint8_t> flags;
  };
  const Case cases[] = {
      {{5000, 12'000}, {1, 1}}, {{50}, {0, 0}},  // before the first frame: never passed over
      {{50, 5000}, {0, 0}},                      // the mark at 50 blocks the one behind it
      {{5000, 6000}, {1, 0}},                    // one mark per frame; the second is not used
      {{9000}, {0, 1}},                          // a mark at a frame's start belongs to that frame
  };
  const auto chunk = BuildChunk(StreamWithStartCodes(30'000, {100, 9000, 20'000}), 16);
  for (const auto& c : cases) {
    loader_.ParseChunk(chunk.data(), chunk.size(), 0);
    StreamBuffer& buf = loader_.buffer(0);
    buf.audio_packet_count = static_cast<uint32_t>(c.marks.size());
    std::copy(c.marks.begin(), c.marks.end(), buf.audio_marks.begin());
    loader_.IndexFrames(0);
    ASSERT_EQ(buf.frame_count, 2u);
    EXPECT_EQ(buf.frames[0].audio_flag, c.flags[0]) << c.marks[0];
    EXPECT_EQ(buf.frames[1].audio_flag, c.flags[1]) << c.marks[0];
  }
}

TEST_F(LoaderTest, StartCodeSplitAcrossPacketsAndAcrossAnAudioPacket) {
  // Start codes whose 00 00 | 01 F8 straddle the payload boundary of video
  // packets 0/1 and 3/4; an audio packet lies between video packets 3 and 4.
  const std::size_t a = kVideoPayloadSize - 2;
  const std::size_t b = 4 * kVideoPayloadSize - 1;
  const std::size_t c = 6 * kVideoPayloadSize + 10;
  const auto& buf =
      Parse(BuildChunk(StreamWithStartCodes(8 * kVideoPayloadSize, {a, b, c}), 8, {4}));
  ASSERT_EQ(buf.frame_count, 2u);
  EXPECT_EQ(buf.frames[0].start, a);
  EXPECT_EQ(buf.frames[0].time, TimeOfVideoPacket(0));  // the packet holding the 00
  EXPECT_EQ(buf.frames[1].start, b);
  EXPECT_EQ(buf.frames[1].time, TimeOfVideoPacket(3));
  // Lengths count MJPEG bytes only: no headers, no audio payload.
  EXPECT_EQ(buf.frames[0].length, b - a);
  EXPECT_EQ(buf.frames[1].length, c - b);
  ASSERT_EQ(buf.audio_packet_count, 1u);
  EXPECT_EQ(buf.audio_marks[0], 4 * kVideoPayloadSize);
  EXPECT_EQ(buf.frames[0].audio_flag, 0);
  EXPECT_EQ(buf.frames[1].audio_flag, 1);  // the audio lies inside frame 1's bytes
}

TEST_F(LoaderTest, AudioPayloadIsTheFourThousandSampleBytesOnly) {
  std::vector<uint8_t> chunk = BuildChunk({}, 2, {1});
  // Audio packet is packet 1; fill its unused tail 4008..4095 with a marker.
  std::fill(chunk.begin() + kPacketSize + 4008, chunk.begin() + 2 * kPacketSize, 0xEE);
  const auto& buf = Parse(chunk);
  EXPECT_EQ(buf.audio_length, kAudioPayloadSize);
  EXPECT_EQ(buf.audio_remaining, 1u);
  EXPECT_TRUE(std::all_of(buf.audio.begin(), buf.audio.begin() + kAudioPayloadSize,
                          [](uint8_t x) { return x == 0x55; }));
  EXPECT_EQ(buf.mjpeg_length, 2 * kVideoPayloadSize);
}

TEST_F(LoaderTest, AudioPresentFlagAcrossChunks) {
  EXPECT_FALSE(loader_.audio_present());
  Parse(BuildChunk({}, 100, {0}));
  EXPECT_TRUE(loader_.audio_present());
  Parse(BuildChunk({}, 256));  // 256 video packets in a row: not yet
  EXPECT_TRUE(loader_.audio_present());
  Parse(BuildChunk({}, 257));  // the 257th clears it
  EXPECT_FALSE(loader_.audio_present());
  Parse(BuildChunk({}, 100));  // kept across chunks
  EXPECT_FALSE(loader_.audio_present());
  // 300 video packets clear it, the audio among the next 212 sets it again.
  std::multiset<std::size_t> later;
  for (std::size_t v = 310; v < 500; v += 40) later.insert(v);
  loader_.set_audio_present(true);
  Parse(BuildChunk({}, 300 + 212 - later.size(), later));
  EXPECT_TRUE(loader_.audio_present());
  // The same without the audio at the end stays cleared.
  loader_.set_audio_present(true);
  Parse(BuildChunk({}, 300));
  EXPECT_FALSE(loader_.audio_present());
}

TEST_F(LoaderTest, CapacitiesHoldWhatAChunkCanCarry) {
  // Every packet an audio packet: all 512 kept with their marks.
  const auto& audio_only = Parse(BuildChunk({}, 0, {}, kChunkPackets));
  EXPECT_EQ(audio_only.audio_packet_count, kChunkPackets);
  EXPECT_EQ(audio_only.audio_length, StreamBuffer::kAudioCapacity);
  EXPECT_EQ(audio_only.audio_marks[kChunkPackets - 1], 0u);
  EXPECT_EQ(audio_only.frame_count, 0u);

  // 100 audio packets among 412 video packets (low frame rates): none lost.
  std::multiset<std::size_t> audio;
  for (std::size_t i = 0; i < 100; ++i) audio.insert(i * 4);
  const auto& mixed =
      Parse(BuildChunk(StreamWithStartCodes(412 * kVideoPayloadSize, {0, 30'000}), 412, audio));
  EXPECT_EQ(mixed.audio_packet_count, 100u);
  EXPECT_EQ(mixed.audio_marks[99], 396 * kVideoPayloadSize);
  EXPECT_EQ(mixed.frame_count, 1u);

  // Frames of 1000 bytes (far more than 400 in one chunk): all indexed.
  std::vector<std::size_t> codes;
  for (std::size_t at = 100; at + 4 <= 512 * kVideoPayloadSize; at += 1000) codes.push_back(at);
  const auto& many =
      Parse(BuildChunk(StreamWithStartCodes(512 * kVideoPayloadSize, codes), 512), 1);
  ASSERT_EQ(many.frame_count, codes.size() - 1);
  EXPECT_EQ(many.frames[1500].start, 100u + 1500 * 1000);
  EXPECT_EQ(many.frames[1500].length, 1000u);

  // Start codes back to back over the whole chunk: the most a chunk can hold.
  std::vector<uint8_t> es(512 * kVideoPayloadSize);
  for (std::size_t at = 0; at < es.size(); at += 4)
    std::copy(kFrameStartCode.begin(), kFrameStartCode.end(), es.begin() + at);
  const auto& packed = Parse(BuildChunk(es, 512), 0);
  EXPECT_EQ(packed.frame_count, StreamBuffer::kMaxFrames - 1);
  EXPECT_EQ(packed.frames[StreamBuffer::kMaxFrames - 2].length, 4u);
  EXPECT_EQ(packed.open_frame_start, static_cast<int64_t>(es.size() - 4));
  EXPECT_EQ(packed.OpenFrameChannel(), 7) << "its header byte lies beyond the chunk";
}

TEST_F(LoaderTest, OpenFrameAndAudioBeforeAFrame) {
  const auto& buf =
      Parse(BuildChunk(StreamWithStartCodes(30'000, {100, 9000, 20'000}, 3), 16, {1, 3, 3, 6}));
  EXPECT_EQ(buf.open_frame_start, 20'000);
  EXPECT_EQ(buf.OpenFrameChannel(), 3);
  EXPECT_TRUE(buf.IsFullFrame(0));
  EXPECT_FALSE(buf.IsFullFrame(2)) << "the open frame is no record";
  // Marks at 4088, 12264 (twice) and 24528.
  EXPECT_EQ(buf.AudioPacketsBefore(buf.frames[0].start), 0u);
  EXPECT_EQ(buf.AudioPacketsBefore(buf.frames[1].start), 1u);
  EXPECT_EQ(buf.AudioPacketsBefore(20'000), 3u);
  EXPECT_EQ(buf.AudioPacketsBefore(30'000), 4u);
  const auto& none = Parse(BuildChunk({}, 4), 1);
  EXPECT_EQ(none.open_frame_start, -1);
  EXPECT_EQ(none.OpenFrameChannel(), 7);
}

TEST_F(LoaderTest, PartialAndOddSizedChunksParseWholePacketsOnly) {
  auto chunk = BuildChunk(StreamWithStartCodes(3 * kVideoPayloadSize, {10, 5000, 9000}), 3);
  const auto& buf = Parse(std::vector<uint8_t>(chunk.begin(), chunk.end() - 100));
  EXPECT_EQ(buf.mjpeg_length, 2 * kVideoPayloadSize);
  EXPECT_EQ(buf.frame_count, 1u);  // 9000 lies in the packet that was cut
}

TEST(ChunkReadTest, NeverReadsPastTheAreaAndReportsOpenErrors) {
  rdtest::TempDir dir;
  DvrDiskImage image;
  ASSERT_TRUE(image.Create(dir / "disk.img", 20'000, DiskLayout::kStandard));
  ASSERT_TRUE(image.Finish());
  const uint64_t area_bytes = image.area_sectors() * kSectorSize;  // 2498 packets

  rdtest::ProbeOpener probe;
  ChunkLoader loader(probe.opener());
  std::vector<std::string> messages;
  loader.set_box_text_sink([&](const std::string& text) { messages.push_back(text); });
  ASSERT_TRUE(loader.OpenSource((dir / "disk.img").string()));
  std::vector<uint8_t> chunk(kChunkBytes);
  EXPECT_EQ(loader.ReadChunk(0, area_bytes, chunk.data()), kChunkBytes);
  // A search hit 10 packets before the end: only those 10 packets are read.
  const uint64_t near_end = area_bytes - 10 * kPacketSize;
  EXPECT_EQ(loader.ReadChunk(near_end, area_bytes, chunk.data()), 10 * kPacketSize);
  EXPECT_EQ(loader.ReadChunk(area_bytes, area_bytes, chunk.data()), 0u);
  for (const auto& [offset, size] : probe.log().reads) EXPECT_LE(offset + size, area_bytes);
  loader.Reset();
  EXPECT_FALSE(loader.is_open());
  EXPECT_EQ(loader.ReadChunk(0, area_bytes, chunk.data()), 0u);

  EXPECT_FALSE(loader.OpenSource((dir / "missing.img").string()));
  EXPECT_EQ(messages, std::vector<std::string>{"File Open Error"});
}

}  // namespace
}  // namespace rd
