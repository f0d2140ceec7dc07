// The stream receiver, chunk by chunk without a socket, then over loopback
// against a scripted stream peer.

#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "client/engine/stream/StreamReceiver.h"
#include "StreamFixture.h"
#include "support/TestSupport.h"

namespace rdtest {
namespace {

using rd::StreamReceiver;

const Bytes kStartCode{0x00, 0x00, 0x01, 0xF8};
constexpr std::size_t kPayload = StreamReceiver::kVideoPayload;  // 2028

// Bytes that hold no zero, so never a start code nor part of one.
Bytes Filler(std::size_t n, uint8_t seed = 0x40) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0x02 + (seed + i * 7) % 0xF0);
  return b;
}

// Start code, header byte, filler: `n` bytes in all.
Bytes FrameStart(std::size_t n, uint8_t channel = 0) {
  Bytes b = kStartCode;
  b.push_back(channel);
  const Bytes f = Filler(n - b.size(), channel);
  b.insert(b.end(), f.begin(), f.end());
  return b;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(to));
}

Info At(uint8_t second) {
  Info info;
  info.time.second = second;
  info.rate = static_cast<uint8_t>(second % 4);
  info.channels = static_cast<uint8_t>(0x10 | second);
  return info;
}

// A receiver with a recording sink, fed without a socket.
struct Rig {
  Rig() {
    rx.SetSink(&sink);
    sink.Watch(&rx);
    rx.OnConnect(0);
  }
  void Feed(const Bytes& bytes) { rx.Feed(bytes.data(), bytes.size()); }
  void Feed(const std::vector<Bytes>& chunks) {
    for (const auto& c : chunks) Feed(c);
  }
  // Feeds in reads of pseudo-random sizes from 1 to max_read.
  void FeedRandomly(const Bytes& bytes, uint32_t seed, std::size_t max_read) {
    std::mt19937 rng(seed);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
      const std::size_t n = std::min<std::size_t>(1 + rng() % max_read, bytes.size() - pos);
      rx.Feed(bytes.data() + pos, n);
      pos += n;
    }
  }
  RecordingSink sink;
  StreamReceiver rx;
};

TEST(FrameStartCode, FindsTheFirstWholeCode) {
  struct Case {
    Bytes data;
    std::ptrdiff_t expected;
  };
  const std::vector<Case> cases = {
      {{}, -1},
      {{0x00, 0x00, 0x01}, -1},
      {{0x00, 0x00, 0x01, 0xF8}, 0},
      {{0x00, 0x00, 0x00, 0x01, 0xF8}, 1},
      {{0x00, 0x01, 0xF8, 0x00, 0x00, 0x01, 0xF9}, -1},
      {{0x01, 0xF8, 0x00, 0x00, 0x01, 0xF8, 0x00, 0x00, 0x01, 0xF8}, 2},
      {{0x55, 0x01, 0x01, 0x00, 0x00, 0x01}, -1},  // cut off at the end
      {{0x55, 0x55, 0x55, 0x00, 0x00, 0x01, 0xF8}, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rd::FindFrameStartCode(c.data.data(), c.data.size()), c.expected)
        << ::testing::PrintToString(c.data);
  }
}

// Start code split over two chunks: its first 1-3 bytes end one chunk's
// payload, the rest opens the next. The frame it starts is found in the second
// chunk and takes that chunk's info.
TEST(StreamReceiverChunks, StartCodeSplitAcrossChunks) {
  for (std::size_t k = 1; k <= 3; ++k) {
    SCOPED_TRACE("start code bytes in the first chunk: " + std::to_string(k));
    Rig rig;
    Bytes c1 = Filler(kPayload - k);
    c1.insert(c1.end(), kStartCode.begin(), kStartCode.begin() + static_cast<std::ptrdiff_t>(k));
    Bytes c2(kStartCode.begin() + static_cast<std::ptrdiff_t>(k), kStartCode.end());
    c2.push_back(0x03);
    const Bytes rest = Filler(kPayload - c2.size(), 9);
    c2.insert(c2.end(), rest.begin(), rest.end());
    const Bytes a = FrameStart(kPayload);
    rig.Feed({VideoChunk(a, At(0)), VideoChunk(c1, At(1)), VideoChunk(c2, At(2)),
              VideoChunk(FrameStart(kPayload), At(3))});

    EXPECT_EQ(rig.sink.MainEvents(),
              (std::vector<std::string>{"frame:0:" + std::to_string(2 * kPayload - k),
                                        "frame:1:" + std::to_string(kPayload + k)}));
    const auto frames = rig.sink.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data, Concat({a, Slice(c1, 0, kPayload - k)}));
    EXPECT_EQ(frames[0].time, At(0).time);
    EXPECT_EQ(frames[1].data, Concat({kStartCode, Slice(c2, 4 - k, kPayload)}));
    EXPECT_EQ(frames[1].time, At(2).time);
    EXPECT_EQ(frames[1].rate, At(2).rate);
    EXPECT_EQ(frames[1].channels, At(2).channels);
  }
}

// The chunk that ends with the first bytes of a start code holds a start
// code of its own: the split one is still found (frames shorter than a chunk
// payload, padded so that the next start code straddles two chunks).
TEST(StreamReceiverChunks, SplitStartCodeAfterAStartCodeInTheSameChunk) {
  for (std::size_t k = 1; k <= 3; ++k) {
    SCOPED_TRACE("start code bytes in the first chunk: " + std::to_string(k));
    Rig rig;
    auto chunk = [&](uint8_t channel) {
      // The rest of a split start code, a frame, the first k bytes of the next code.
      Bytes c(kStartCode.begin() + static_cast<std::ptrdiff_t>(k), kStartCode.end());
      c.push_back(channel);
      const Bytes body = Filler(kPayload - c.size() - k, channel);
      c.insert(c.end(), body.begin(), body.end());
      c.insert(c.end(), kStartCode.begin(), kStartCode.begin() + static_cast<std::ptrdiff_t>(k));
      return c;
    };
    Bytes first = Filler(kPayload - k);
    first.insert(first.end(), kStartCode.begin(),
                 kStartCode.begin() + static_cast<std::ptrdiff_t>(k));
    const std::vector<Bytes> payloads = {first, chunk(1), chunk(2), chunk(3), chunk(4)};
    for (std::size_t i = 0; i < payloads.size(); ++i) {
      rig.Feed(VideoChunk(payloads[i], At(static_cast<uint8_t>(i))));
    }
    const auto frames = rig.sink.Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].data,
                Concat({Slice(kStartCode, 0, k), Slice(payloads[i + 1], 0, kPayload - k)}));
      EXPECT_EQ(frames[i].time, At(static_cast<uint8_t>(i + 1)).time);
    }
  }
}

// Only the first start code of a chunk counts: the second one travels inside
// the new frame.
TEST(StreamReceiverChunks, TwoStartCodesInOneChunk) {
  Rig rig;
  const Bytes c1 = Concat({Filler(100), FrameStart(500, 1), FrameStart(kPayload - 600, 2)});
  rig.Feed({VideoChunk(FrameStart(kPayload), At(0)), VideoChunk(c1, At(1)),
            VideoChunk(FrameStart(kPayload), At(2))});
  EXPECT_EQ(rig.sink.MainEvents(), (std::vector<std::string>{"frame:0:2128", "frame:1:1928"}));
  const auto frames = rig.sink.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].data, Slice(c1, 100, kPayload));
  EXPECT_EQ(frames[1].time, At(1).time);
}

TEST(StreamReceiverChunks, RestartBitDropsTheFrameInProgress) {
  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"restart without a start code: reporting resumes with the next start code",
       {VideoChunk(FrameStart(kPayload), At(0)), VideoChunk(Filler(kPayload), At(1), true),
        VideoChunk(Filler(kPayload), At(2)), VideoChunk(FrameStart(kPayload), At(3)),
        VideoChunk(FrameStart(kPayload), At(4))},
       {"restart", "frame:0:2028"}},
      {"restart chunk that holds a start code starts the next frame",
       {VideoChunk(FrameStart(kPayload), At(0)),
        VideoChunk(Concat({Filler(10), FrameStart(kPayload - 10)}), At(1), true),
        VideoChunk(FrameStart(kPayload), At(2))},
       {"restart", "frame:0:2018"}},
      {"restart before any frame",
       {VideoChunk(Filler(kPayload), At(0), true), VideoChunk(FrameStart(kPayload), At(1)),
        VideoChunk(FrameStart(kPayload), At(2))},
       {"restart", "frame:0:2028"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.Feed(c.chunks);
    EXPECT_EQ(rig.sink.MainEvents(), c.events);
  }
}

// An audio chunk is always followed by its second half: whatever comes next,
// even a video chunk, is taken as audio. Checks every callback in order.
TEST(StreamReceiverChunks, ChunkAfterAudioIsTheSecondHalf) {
  Rig rig;
  const Bytes samples = MakeAudio(7);
  const Bytes audio = AudioChunks(samples, At(1));
  const Bytes swallowed = VideoChunk(FrameStart(kPayload, 2), At(2));
  rig.Feed({VideoChunk(FrameStart(kPayload), At(0)), Slice(audio, 0, 2048), swallowed,
            VideoChunk(FrameStart(kPayload), At(3))});
  EXPECT_EQ(rig.sink.Events(),
            (std::vector<std::string>{"connect:0", "bytes:2048", "gap", "header:0", "bytes:2048",
                                      "bytes:2048", "audio:0", "bytes:2048", "gap", "header:3",
                                      "frame:0:2028"}));
  const auto blocks = rig.sink.AudioBlocks();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].data, Concat({Slice(samples, 0, 2040), Slice(swallowed, 0, 1960)}));
}

// The stream may start anywhere inside a chunk; the receiver realigns on the
// next F7 7D pair and then delivers the same frames as an aligned stream.
TEST(StreamReceiverChunks, StreamStartingMidChunkRealigns) {
  const std::vector<Bytes> chunks = {VideoChunk(FrameStart(kPayload), At(0)),
                                     VideoChunk(FrameStart(kPayload, 1), At(1)),
                                     VideoChunk(FrameStart(kPayload, 2), At(2))};
  Rig aligned;
  aligned.Feed(chunks);
  ASSERT_EQ(aligned.sink.FrameCount(), 2u);

  // 2047 puts the F7 of the first real chunk in the last byte of the garbage
  // chunk: that byte alone is kept.
  for (std::size_t skip : {1u, 1000u, 2046u, 2047u, 2048u + 100u, 3 * 2048u - 1}) {
    SCOPED_TRACE("garbage bytes: " + std::to_string(skip));
    Rig rig;
    Bytes garbage(skip, 0x55);
    garbage[0] = 0x7D;
    rig.Feed(garbage);
    rig.Feed(chunks);
    EXPECT_EQ(rig.sink.MainEvents(), aligned.sink.MainEvents());
    const auto frames = rig.sink.Frames();
    const auto expected = aligned.sink.Frames();
    ASSERT_EQ(frames.size(), expected.size());
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].data, expected[i].data);
  }
}

TEST(StreamReceiverChunks, ResynchronisationKeepsWhatFollowsThePair) {
  struct Case {
    const char* name;
    Bytes chunk;
    std::size_t fill;
  };
  Bytes pair_inside(2048, 0x55);
  pair_inside[700] = 0xF7;
  pair_inside[701] = 0x7D;
  Bytes pair_at_end(2048, 0x55);
  pair_at_end[2046] = 0xF7;
  pair_at_end[2047] = 0x7D;
  Bytes last_f7(2048, 0x55);
  last_f7[2047] = 0xF7;
  Bytes lone_f7(2048, 0x55);
  lone_f7[1000] = 0xF7;
  const std::vector<Case> cases = {
      {"pair inside", pair_inside, 2048 - 700},
      {"pair in the last two bytes", pair_at_end, 2},
      {"last byte F7", last_f7, 1},
      {"F7 without 7D", lone_f7, 0},
      {"nothing", Bytes(2048, 0x55), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.Feed(c.chunk);
    EXPECT_EQ(rig.rx.fill(), c.fill);
    EXPECT_FALSE(rig.rx.in_frame());
    EXPECT_EQ(rig.sink.MainEvents(), std::vector<std::string>{});
  }
}

TEST(StreamReceiverChunks, SlotIndexesWrap) {
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 35; ++i) frames.push_back(MakeFrame(static_cast<int>(i % 4), 2100, i));
  const GeneratedStream g = Generate(frames, 7);
  Rig rig;
  rig.Feed(g.bytes);
  const auto got = rig.sink.Frames();
  ASSERT_EQ(got.size(), 34u);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].slot, static_cast<int>(i % 32));
  const auto blocks = rig.sink.AudioBlocks();
  ASSERT_GE(blocks.size(), 5u);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    EXPECT_EQ(blocks[i].slot, static_cast<int>(i % 4));
}

// Frames of every size, audio between the video chunks, delivered in reads of
// any size: every frame but the last arrives intact, one frame late, with the
// info of the chunk in which its start code was found; every audio block
// arrives intact.
TEST(StreamReceiverChunks, AnyReadSizesDeliverEveryFrameIntact) {
  std::mt19937 rng(5);
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 60; ++i) {
    frames.push_back(MakeFrame(static_cast<int>(i % 5), 2028 + rng() % 40000, i));
  }
  frames.push_back(MakeFrame(0, 70000, 99));  // larger than any read
  frames.push_back(MakeFrame(1, 3000, 100));
  const GeneratedStream g = Generate(frames, 3);

  for (std::size_t max_read : {1u, 5u, 2047u, 2049u, 9000u}) {
    SCOPED_TRACE("largest read: " + std::to_string(max_read));
    Rig rig;
    rig.FeedRandomly(g.bytes, static_cast<uint32_t>(max_read), max_read);
    const auto got = rig.sink.Frames();
    ASSERT_EQ(got.size(), frames.size() - 1);
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].data, frames[i]) << "frame " << i;
      EXPECT_EQ(got[i].time, g.frame_infos[i].time) << "frame " << i;
      EXPECT_EQ(got[i].rate, g.frame_infos[i].rate) << "frame " << i;
      EXPECT_EQ(got[i].channels, g.frame_infos[i].channels) << "frame " << i;
    }
    const auto blocks = rig.sink.AudioBlocks();
    ASSERT_EQ(blocks.size(), g.audio.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].data, g.audio[i]);
    EXPECT_EQ(rig.sink.Count("restart"), 0);
    EXPECT_EQ(rig.sink.Count("bytes:2048") * 2048u, g.bytes.size());
  }
}

// A frame that would outgrow its slot (0x40001 bytes) is dropped like a frame
// restart instead of being written past the slot; the neighbouring slot is
// untouched and reporting resumes with the next start code.
TEST(StreamReceiverChunks, OversizedFrameIsAbandoned) {
  Rig rig;
  rig.Feed({VideoChunk(FrameStart(kPayload), At(0)), VideoChunk(FrameStart(kPayload, 1), At(1))});
  ASSERT_EQ(rig.sink.FrameCount(), 1u);
  // Slot 1 now collects; slot 2 holds a marker that must survive.
  std::fill_n(rig.rx.frame_slot(2).buffer, 16, uint8_t{0xAB});
  const std::size_t chunks_to_overflow = rd::FrameSlot::kCapacity / kPayload + 2;
  for (std::size_t i = 0; i < chunks_to_overflow; ++i) {
    rig.Feed(VideoChunk(Filler(kPayload, static_cast<uint8_t>(i)), At(2)));
    ASSERT_LE(rig.rx.frame_slot(1).write_pos, rd::FrameSlot::kCapacity);
  }
  EXPECT_EQ(rig.sink.Count("restart"), 1);
  EXPECT_FALSE(rig.rx.in_frame());
  EXPECT_EQ(rig.rx.frame_slot(2).buffer[0], 0xAB);
  EXPECT_EQ(rig.rx.frame_slot(2).buffer[15], 0xAB);

  rig.Feed({VideoChunk(FrameStart(kPayload, 2), At(3)), VideoChunk(FrameStart(kPayload), At(4))});
  EXPECT_EQ(rig.sink.MainEvents(),
            (std::vector<std::string>{"frame:0:2028", "restart", "frame:1:2028"}));
}

// The end of an oversized frame arrives with the next start code: the frame is
// dropped, the new one starts in the same slot.
TEST(StreamReceiverChunks, OversizedFrameEndingInAStartCodeChunk) {
  Rig rig;
  rig.Feed(VideoChunk(FrameStart(kPayload), At(0)));
  // Fill the slot up to a few bytes below its capacity.
  std::size_t filled = kPayload;
  int i = 0;
  while (filled + kPayload + 3 <= rd::FrameSlot::kCapacity) {
    rig.Feed(VideoChunk(Filler(kPayload, static_cast<uint8_t>(i++)), At(1)));
    filled = rig.rx.frame_slot(0).write_pos;
  }
  ASSERT_EQ(rig.sink.Count("restart"), 0);
  rig.Feed({VideoChunk(Concat({Filler(2000), FrameStart(kPayload - 2000)}), At(2)),
            VideoChunk(FrameStart(kPayload), At(3))});
  EXPECT_EQ(rig.sink.MainEvents(),
            (std::vector<std::string>{"restart", "frame:0:" + std::to_string(kPayload - 2000)}));
  EXPECT_LE(rig.rx.frame_slot(0).write_pos, rd::FrameSlot::kCapacity);
}

std::atomic<uint32_t> g_fake_tick{0};
uint32_t FakeTick() {
  return g_fake_tick.load();
}

// The chunk gap is the time since the previous video chunk finished (or the
// connect), modulo 2^32; audio chunks do not count.
TEST(StreamReceiverChunks, GapIsTimeSinceThePreviousVideoChunk) {
  RecordingSink sink;
  StreamReceiver rx;
  rx.SetSink(&sink);
  rx.SetTickSource(&FakeTick);
  g_fake_tick = 0xFFFFFF00u;
  rx.OnConnect(0);
  g_fake_tick = 0xFFFFFF64u;
  const Bytes v = VideoChunk(Filler(kPayload), At(0));
  rx.Feed(v.data(), v.size());
  g_fake_tick = 0x20u;  // the tick count wrapped
  const Bytes a = AudioChunks(MakeAudio(1));
  rx.Feed(a.data(), a.size());
  g_fake_tick = 0x50u;
  rx.Feed(v.data(), v.size());
  EXPECT_EQ(sink.Gaps(), (std::vector<uint32_t>{100u, 0x50u + 0x9Cu}));
}

// A receiver reset in the middle of a frame, an audio block and a chunk
// behaves like a new one.
TEST(StreamReceiverApi, ResetStreamStartsAfresh) {
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 6; ++i) frames.push_back(MakeFrame(static_cast<int>(i % 4), 2500, i));
  const GeneratedStream g = Generate(frames, 2);
  Rig fresh;
  fresh.Feed(g.bytes);

  Rig reused;
  const Bytes partial = Concat({VideoChunk(FrameStart(kPayload), At(0)),
                                Slice(AudioChunks(MakeAudio(3)), 0, 2048), Bytes(100, 0xF7)});
  reused.Feed(partial);
  ASSERT_TRUE(reused.rx.audio_pending());
  reused.rx.ResetStream();
  const auto before = reused.sink.Events().size();
  reused.Feed(g.bytes);
  const auto events = reused.sink.Events();
  const auto expected = fresh.sink.Events();  // without its connect
  EXPECT_EQ(
      std::vector<std::string>(events.begin() + static_cast<std::ptrdiff_t>(before), events.end()),
      std::vector<std::string>(expected.begin() + 1, expected.end()));
}

TEST(StreamReceiverApi, ResultCodes) {
  StreamReceiver rx;
  EXPECT_EQ(rx.SetSink(nullptr), 41);
  EXPECT_EQ(rx.Stop(), 50);
  EXPECT_EQ(rx.Start(), 0);
  EXPECT_EQ(rx.Start(), 49);
  EXPECT_EQ(rx.Stop(), 0);
  EXPECT_EQ(rx.Stop(), 50);
}

// Reports go nowhere until a sink is set, and nothing breaks.
TEST(StreamReceiverApi, RunsWithoutSink) {
  StreamReceiver rx;
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 3; ++i) frames.push_back(MakeFrame(0, 3000, i));
  const GeneratedStream g = Generate(frames, 1);
  rx.Feed(g.bytes.data(), g.bytes.size());
  EXPECT_EQ(rx.frame_write_index(), 2);
}

// --- over loopback --------------------------------------------------------

struct Connected {
  explicit Connected(uint16_t port) {
    rx.SetSink(&sink);
    sink.Watch(&rx);
    EXPECT_EQ(rx.Start(), 0);
    EXPECT_EQ(rx.SetRemote("127.0.0.1", port), 0);
  }
  ~Connected() { rx.Stop(); }
  RecordingSink sink;
  StreamReceiver rx;
};

TEST(StreamReceiverLoopback, ScriptedPeerDeliversEveryFrameAndAudioBlock) {
  std::vector<Bytes> frames;
  std::mt19937 rng(11);
  for (uint32_t i = 0; i < 40; ++i)
    frames.push_back(MakeFrame(static_cast<int>(i % 4), 2028 + rng() % 20000, i));
  const GeneratedStream g = Generate(frames, 4);
  ScriptedStreamPeer peer(g.bytes, {1, 7, 2048, 3000, 100, 65536}, /*close_at_end=*/true);
  Connected c(peer.port());
  ASSERT_TRUE(WaitFor([&] { return c.sink.Count("close") > 0; }, std::chrono::seconds(20)));

  const auto got = c.sink.Frames();
  ASSERT_EQ(got.size(), frames.size() - 1);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].data, frames[i]) << "frame " << i;
    EXPECT_EQ(got[i].time, g.frame_infos[i].time) << "frame " << i;
  }
  const auto blocks = c.sink.AudioBlocks();
  ASSERT_EQ(blocks.size(), g.audio.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].data, g.audio[i]);
  const auto events = c.sink.Events();
  EXPECT_EQ(events.front(), "connect:0");
  EXPECT_EQ(events.back(), "close:0");
  EXPECT_EQ(c.sink.Count("close"), 1);
  EXPECT_EQ(c.sink.Count("error"), 0);
}

TEST(StreamReceiverLoopback, RefusedConnectIsReported) {
  Connected c(RefusingPort());
  ASSERT_TRUE(WaitFor([&] { return c.sink.Count("connect") > 0; }));
  EXPECT_EQ(c.sink.Events(), std::vector<std::string>{"connect:" + std::to_string(ECONNREFUSED)});
}

// Stopping while the peer still sends: Stop returns, and nothing is reported
// after it.
TEST(StreamReceiverLoopback, StopWhileStreaming) {
  std::vector<Bytes> frames;
  for (uint32_t i = 0; i < 200; ++i) frames.push_back(MakeFrame(0, 10000, i));
  ScriptedStreamPeer peer(Generate(frames, 2).bytes, {4096}, /*close_at_end=*/false);
  Connected c(peer.port());
  ASSERT_TRUE(WaitFor([&] { return c.sink.FrameCount() > 0; }));
  EXPECT_EQ(c.rx.Stop(), 0);
  const auto events = c.sink.Events().size();
  EXPECT_FALSE(c.rx.IsCreated());
  EXPECT_EQ(c.sink.Events().size(), events);
  EXPECT_EQ(c.sink.Count("close"), 0);
  EXPECT_EQ(c.sink.Count("error"), 0);
}

}  // namespace
}  // namespace rdtest
