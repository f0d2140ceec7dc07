// Option parsing, the stream chunker and the audio source of the emulated DVR.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tools/dvrsim/AlawTone.h"
#include "tools/dvrsim/DvrSim.h"
#include "tools/dvrsim/Packetizer.h"
#include "tools/dvrsim/SimConfig.h"

namespace rd::sim {
namespace {

TEST(SimConfig, ParsesSizesDurationsTimesAndPasswords) {
  EXPECT_EQ(ParseSize("4096"), 4096u);
  EXPECT_EQ(ParseSize("64K"), 64u << 10);
  EXPECT_EQ(ParseSize("512M"), 512ull << 20);
  EXPECT_EQ(ParseSize("2G"), 2ull << 30);
  EXPECT_EQ(ParseSize("1T"), 1ull << 40);
  EXPECT_EQ(ParseSize("3GB"), 3ull << 30);
  for (const char* bad : {"", "G", "-5", "12X", "0", "1.5G"}) EXPECT_FALSE(ParseSize(bad)) << bad;

  EXPECT_EQ(ParseDuration("90"), 90u);
  EXPECT_EQ(ParseDuration("90s"), 90u);
  EXPECT_EQ(ParseDuration("15m"), 900u);
  EXPECT_EQ(ParseDuration("2h"), 7200u);
  EXPECT_EQ(ParseDuration("1d"), 86400u);
  EXPECT_EQ(ParseDuration("1:30:00"), 5400u);
  EXPECT_EQ(ParseDuration("2:05"), 125u);
  for (const char* bad : {"", "h", "1:2:3:4", "x5", "5y"}) EXPECT_FALSE(ParseDuration(bad)) << bad;

  EXPECT_EQ(ParseCalendarTime("2024-05-01 12:00:00"), 1714564800);
  EXPECT_EQ(ParseCalendarTime("2024-05-01T12:00:00"), 1714564800);
  EXPECT_EQ(ParseCalendarTime("2024-02-29"), 1709164800);
  for (const char* bad :
       {"2023-02-29", "1999-01-01", "2100-01-01", "2024-13-01", "2024-05-01 24:00:00", "yesterday"})
    EXPECT_FALSE(ParseCalendarTime(bad)) << bad;

  auto pw = ParsePassword("09aF17");
  ASSERT_TRUE(pw);
  EXPECT_EQ(*pw, (std::array<uint8_t, 6>{0, 9, 10, 15, 1, 7}));
  EXPECT_FALSE(ParsePassword("12345"));
  EXPECT_FALSE(ParsePassword("12345G"));
}

TEST(SimConfig, ServerOptionsAndErrors) {
  SimOptions o;
  bool help = false;
  std::string err;
  ASSERT_TRUE(ParseSimArgs(
      {"--control-port", "0", "--stream-port=0", "--password", "ABCDEF", "--pal", "--quad",
       "--no-audio", "--disk", "/tmp/x.img", "--disk-size", "2G", "--network", "--scenario",
       "session-end:7", "--scenario", "two-replies", "--log", "/tmp/l"},
      &o, &help, &err))
      << err;
  EXPECT_EQ(o.control_port, 0);
  EXPECT_EQ(o.stream_port, 0);
  EXPECT_EQ(o.password, (std::array<uint8_t, 6>{10, 11, 12, 13, 14, 15}));
  EXPECT_TRUE(o.pal && o.quad && !o.audio && o.network);
  EXPECT_EQ(o.disk_size, 2ull << 30);
  ASSERT_EQ(o.scenarios.size(), 2u);
  EXPECT_EQ(o.scenarios[0].kind, ScenarioKind::kSessionEnd);
  EXPECT_EQ(o.scenarios[0].arg, 7);
  EXPECT_EQ(o.Find(ScenarioKind::kTwoReplies)->arg, 0);

  struct Bad {
    std::vector<std::string> args;
    const char* says;
  };
  for (const Bad& b :
       std::vector<Bad>{{{"--control-port", "70000"}, "port"},
                        {{"--password", "12"}, "six hex digits"},
                        {{"--scenario", "nonsense"}, "unknown scenario"},
                        {{"--scenario", "restart:x"}, "bad argument"},
                        {{"--network"}, "need --disk"},
                        {{"--control-port", "5000", "--stream-port", "5000"}, "differ"},
                        {{"--log"}, "needs a value"},
                        {{"--bogus"}, "unknown option"}}) {
    SimOptions x;
    std::string e;
    EXPECT_FALSE(ParseSimArgs(b.args, &x, &help, &e)) << b.says;
    EXPECT_NE(e.find(b.says), std::string::npos) << e;
  }
  SimOptions x;
  EXPECT_TRUE(ParseSimArgs({"--help"}, &x, &help, &err));
  EXPECT_TRUE(help);
}

TEST(SimConfig, MakeDiskOptions) {
  MakeDiskOptions o;
  bool help = false;
  std::string err;
  ASSERT_TRUE(ParseMakeDiskArgs({"--out", "d.img", "--size", "64M", "--duration", "10m", "--start",
                                 "2024-05-01 12:00:00", "--wrap", "--events", "alarm@1m+30"},
                                &o, &help, &err))
      << err;
  EXPECT_EQ(o.size, 64ull << 20);
  EXPECT_EQ(o.duration_s, 600u);
  EXPECT_EQ(o.start, 1714564800);
  EXPECT_TRUE(o.wrap);
  MakeDiskOptions m;
  EXPECT_FALSE(ParseMakeDiskArgs({"--out", "d.img", "--size", "64M"}, &m, &help, &err));
  EXPECT_NE(err.find("--duration"), std::string::npos);
}

// A receiver in miniature: the frames found between start codes in the payloads.
std::vector<std::vector<uint8_t>> FramesOf(const std::vector<std::vector<uint8_t>>& chunks) {
  std::vector<uint8_t> es;
  for (const auto& c : chunks)
    if (c[0] == 0xF7) es.insert(es.end(), c.begin() + 20, c.end());
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 4 <= es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xF8) starts.push_back(i);
  std::vector<std::vector<uint8_t>> frames;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] : es.size();
    frames.emplace_back(es.begin() + starts[k], es.begin() + end);
  }
  return frames;
}

std::vector<uint8_t> FakeFrame(std::size_t len, uint8_t fill) {
  std::vector<uint8_t> f(len, fill);
  f[0] = 0;
  f[1] = 0;
  f[2] = 1;
  f[3] = 0xF8;
  return f;
}

TEST(StreamChunker, FramesStartChunksAndArePaddedWithZeros) {
  std::vector<std::vector<uint8_t>> chunks;
  StreamChunker ch([&](const uint8_t* c, bool) { chunks.emplace_back(c, c + kChunkSize); });
  FrameInfo a{RecTime{24, 5, 1, 12, 0, 0}, 0, 0x0F};
  FrameInfo b{RecTime{24, 5, 1, 12, 0, 1}, 3, 0x08};
  const std::size_t lens[] = {100, 2028, 2029, 5000};
  for (std::size_t i = 0; i < 4; ++i) {
    uint32_t hash = 0;
    const auto f = FakeFrame(lens[i], static_cast<uint8_t>(0x11 * (i + 1)));
    std::size_t wire = ch.AppendFrame(f.data(), f.size(), i % 2 ? b : a, 0, &hash);
    EXPECT_EQ(wire % kChunkPayload, 0u);
    EXPECT_GE(wire, f.size());
    std::vector<uint8_t> padded = f;
    padded.resize(wire, 0);
    EXPECT_EQ(hash, Fnv1a32(padded.data(), padded.size()));
  }
  EXPECT_EQ(ch.pending(), 0u);  // every frame went out whole
  ASSERT_EQ(chunks.size(), 1u + 1u + 2u + 3u);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i][0], 0xF7);
    EXPECT_EQ(chunks[i][1], 0x7D);
    EXPECT_EQ(chunks[i][2] | (chunks[i][3] << 8), static_cast<int>(i));  // sequence
    EXPECT_EQ(chunks[i][10], 0);
  }
  // The header of a chunk is that of the frame it carries.
  EXPECT_EQ(chunks[1][12 + 5], 1);
  EXPECT_EQ(chunks[1][12 + 6], 3);
  EXPECT_EQ(chunks[1][12 + 7], 0x08);
  EXPECT_EQ(chunks[0][12 + 7], 0x0F);
  auto frames = FramesOf(chunks);
  ASSERT_EQ(frames.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(frames[i][4], static_cast<uint8_t>(0x11 * (i + 1)));
    EXPECT_EQ(frames[i][lens[i] - 1], static_cast<uint8_t>(0x11 * (i + 1)));
    for (std::size_t k = lens[i]; k < frames[i].size(); ++k) ASSERT_EQ(frames[i][k], 0) << i;
  }
}

TEST(StreamChunker, SplitStartStraddlesChunksAndAudioTakesTwoChunks) {
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<bool> kinds;
  StreamChunker ch([&](const uint8_t* c, bool video) {
    chunks.emplace_back(c, c + kChunkSize);
    kinds.push_back(video);
  });
  FrameInfo info{RecTime{24, 5, 1, 12, 0, 0}, 0, 0x0F};
  for (int i = 0; i < 3; ++i) {
    auto f = FakeFrame(300 + 1000 * i, 0x42);
    ch.AppendFrame(f.data(), f.size(), info, 2, nullptr);
  }
  std::vector<uint8_t> samples(4000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i);
  ch.AppendAudio(RecTime{24, 5, 1, 12, 0, 0}, samples.data());
  ASSERT_GE(chunks.size(), 4u);
  // Each frame after the first begins 2 bytes before the end of a chunk payload.
  int straddles = 0;
  for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
    if (!kinds[i] || !kinds[i + 1]) continue;
    if (chunks[i][2046] == 0 && chunks[i][2047] == 0 && chunks[i + 1][20] == 1 &&
        chunks[i + 1][21] == 0xF8)
      ++straddles;
  }
  EXPECT_EQ(straddles, 2);
  EXPECT_EQ(FramesOf(chunks).size(), 3u);
  // Audio: the packet's two halves; the first has the F1 F2 marker and bit 7 in byte 0.
  const auto& a1 = chunks[chunks.size() - 2];
  const auto& a2 = chunks.back();
  EXPECT_FALSE(kinds[kinds.size() - 2]);
  EXPECT_EQ(a1[0], 0x80 | 24);
  EXPECT_EQ(a1[6], 0xF1);
  EXPECT_EQ(a1[7], 0xF2);
  EXPECT_EQ(0, std::memcmp(&a1[8], samples.data(), 2040));
  EXPECT_EQ(0, std::memcmp(&a2[0], samples.data() + 2040, 1960));
}

TEST(AlawTone, EncodesG711AndMakesASignal) {
  // G.711 A-law reference points.
  EXPECT_EQ(LinearToAlaw(0), 0xD5);
  EXPECT_EQ(LinearToAlaw(-1), 0x55);
  EXPECT_EQ(LinearToAlaw(32767), 0xAA);
  EXPECT_EQ(LinearToAlaw(-32768), 0x2A);
  for (int v = -32768; v <= 32767; v += 97) {
    int16_t back = AlawToLinear(LinearToAlaw(static_cast<int16_t>(v)));
    EXPECT_LE(std::abs(back - v), std::max(16, std::abs(v) / 16 + 16)) << v;
  }
  std::vector<uint8_t> a(8000);
  FillTone(0, a.data(), a.size());
  double energy = 0;
  for (auto s : a) energy += std::abs(AlawToLinear(s));
  EXPECT_GT(energy / a.size(), 2000);  // audible, not silence
  std::vector<uint8_t> b(4000);
  FillTone(4000, b.data(), b.size());
  EXPECT_EQ(0, std::memcmp(b.data(), a.data() + 4000, 4000));  // continuous across blocks
}

TEST(RateCodes, FollowTheDisplayRule) {
  EXPECT_EQ(RateCodeFor(30), 0);
  EXPECT_EQ(RateCodeFor(15), 1);
  EXPECT_EQ(RateCodeFor(7.5), 3);
  EXPECT_EQ(RateCodeFor(1), 29);
  EXPECT_EQ(BaseFrameRates(false).front(), 30);
  EXPECT_EQ(BaseFrameRates(true).front(), 25);
}

}  // namespace
}  // namespace rd::sim
