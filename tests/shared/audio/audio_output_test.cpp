#include "shared/audio/AudioOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace rd {
namespace {

TEST(ALawExpansion, TableCases) {
  struct Case {
    uint8_t x;
    float volume;
    int16_t sample;
  };
  const Case cases[] = {
      {0x55, 0.5f, 0},      // b = 0
      {0xD5, 0.5f, 0},      // negated zero
      {0x2A, 0.5f, 7936},   // b = 127, m = 3968
      {0xAA, 0.5f, -7936},  // bit 7 set: negative
      {0x2A, 1.0f, 15872},  // volume 100
      {0x75, 0.5f, 128},    // b = 32: last code of the first segment, m = 64
      {0x74, 0.5f, 136},    // b = 33: m = 4 b - 64 = 68
      {0x25, 0.5f, 4096},   // b = 112: m = 64 b - 5120 = 2048
      {0x24, 0.5f, 4352},   // b = 113: m = 128 b - 12288 = 2176
      {0x54, 0.29f, 2},     // m = 2: 2 x 0.29 x 4 = 2.32 truncated
      {0xD4, 0.29f, -2},    // truncated toward zero, then negated
      {0x2B, 0.5f, 7680},   // b = 126
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandALaw(c.x, c.volume), c.sample) << std::hex << int(c.x) << " " << c.volume;
  }
}

TEST(ALawExpansion, MagnitudesRiseSegmentAfterSegment) {
  // Over the 7-bit code the magnitude never falls and ends at 3968 (x 4 at volume 1).
  int previous = -1;
  for (int b = 0; b < 128; ++b) {
    const int m = ExpandALaw(static_cast<uint8_t>(b ^ 0x55), 0.25f);  // 0.25 x 4 = m
    EXPECT_GT(m, previous) << b;
    previous = m;
  }
  EXPECT_EQ(previous, 3968);
}

class CountingOwner : public AudioOwner {
 public:
  void OnAudioQueueFull() override { ++full; }
  std::atomic<int> full{0};
};

std::vector<uint8_t> Block(std::size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 31);
  return b;
}

std::vector<uint8_t> Swapped(std::vector<uint8_t> b) {
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) std::swap(b[i], b[i + 1]);
  return b;
}

class AudioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // ctest sets RD_AUDIO_DEVICE=null; a direct run of the program needs it too.
    setenv("RD_AUDIO_DEVICE", "null", 0);
    ASSERT_EQ(audio.Open(8000, 16, &owner), kAudioOk);
  }
  AudioOutput audio;
  CountingOwner owner;
};

TEST_F(AudioOutputTest, FifthBlockDroppedUntilOneBufferIsDone) {
  audio.SetDeviceCredit(0);  // the device takes nothing yet
  std::vector<std::vector<uint8_t>> blocks;
  for (int i = 0; i < 5; ++i) blocks.push_back(Block(4000, static_cast<uint8_t>(i)));

  for (int i = 0; i < 4; ++i) {
    const auto original = blocks[i];
    EXPECT_EQ(audio.PlayBlock(blocks[i].data(), blocks[i].size()), kAudioOk);
    EXPECT_EQ(blocks[i], Swapped(original)) << "accepted block " << i << " swapped in place";
    EXPECT_EQ(owner.full.load(), i == 3 ? 1 : 0) << "queue full reported with the fourth block";
  }
  EXPECT_EQ(audio.QueuedBuffers(), 4);
  EXPECT_EQ(audio.WriteIndex(), audio.DoneIndex());

  const auto fifth = blocks[4];
  EXPECT_EQ(audio.PlayBlock(blocks[4].data(), blocks[4].size()), kAudioOk);
  EXPECT_EQ(blocks[4], fifth) << "a dropped block is left unchanged";
  EXPECT_EQ(audio.QueuedBuffers(), 4);
  EXPECT_EQ(owner.full.load(), 1);

  audio.SetDeviceCredit(1);  // the device plays one buffer and returns it
  ASSERT_TRUE(rdtest::WaitFor([&] { return audio.QueuedBuffers() == 3; }));
  EXPECT_TRUE(audio.BufferDone(0));
  EXPECT_FALSE(audio.BufferBusy(0));
  EXPECT_EQ(audio.DoneIndex(), 1);

  EXPECT_EQ(audio.PlayBlock(blocks[4].data(), blocks[4].size()), kAudioOk);
  EXPECT_EQ(blocks[4], Swapped(fifth));
  EXPECT_EQ(audio.QueuedBuffers(), 4);
  EXPECT_EQ(owner.full.load(), 2);
  // Buffer 0 now holds the fifth block, expanded in its swapped order.
  EXPECT_EQ(audio.BufferSamples(0)[0], ExpandALaw(blocks[4][0], 0.5f));

  audio.SetDeviceCredit(-1);
  ASSERT_TRUE(rdtest::WaitFor([&] { return audio.QueuedBuffers() == 0; }));
  const auto stats = audio.Stats();
  EXPECT_EQ(stats.buffers_written, 5u);
  EXPECT_EQ(stats.frames_written, 5u * 4000);
}

TEST_F(AudioOutputTest, OddBlockKeepsLastByteAndExpandsSwappedOrder) {
  audio.SetDeviceCredit(0);
  std::vector<uint8_t> block = {0x2A, 0xAA, 0x55, 0xD5, 0x2B};
  ASSERT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, (std::vector<uint8_t>{0xAA, 0x2A, 0xD5, 0x55, 0x2B}));
  ASSERT_EQ(audio.BufferSampleCount(0), 5u);
  const int16_t* s = audio.BufferSamples(0);
  EXPECT_EQ(std::vector<int16_t>(s, s + 5), (std::vector<int16_t>{-7936, 7936, 0, 0, 7680}));
}

TEST_F(AudioOutputTest, BlockInOrderIsExpandedAsGivenAndLeftUnchanged) {
  audio.SetDeviceCredit(0);
  const std::vector<uint8_t> block = {0x2A, 0xAA, 0x55, 0xD5, 0x2B};
  ASSERT_EQ(audio.PlayBlockInOrder(block.data(), block.size()), kAudioOk);
  ASSERT_EQ(audio.BufferSampleCount(0), 5u);
  const int16_t* s = audio.BufferSamples(0);
  EXPECT_EQ(std::vector<int16_t>(s, s + 5), (std::vector<int16_t>{7936, -7936, 0, 0, 7680}));
  // Queue full: dropped like any block.
  for (int i = 0; i < 4; ++i) audio.PlayBlockInOrder(block.data(), block.size());
  EXPECT_EQ(audio.QueuedBuffers(), 4);
  EXPECT_EQ(owner.full.load(), 1);
}

TEST_F(AudioOutputTest, BlockLongerThanOneBufferUsesSeveral) {
  audio.SetDeviceCredit(0);
  auto block = Block(9000, 7);
  const auto original = block;
  ASSERT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, Swapped(original));
  EXPECT_EQ(audio.QueuedBuffers(), 3);
  EXPECT_EQ(audio.BufferSampleCount(0), 4096u);
  EXPECT_EQ(audio.BufferSampleCount(1), 4096u);
  EXPECT_EQ(audio.BufferSampleCount(2), 808u);
  EXPECT_EQ(audio.BufferSamples(2)[807], ExpandALaw(block[8999], 0.5f));
}

TEST_F(AudioOutputTest, DisabledOrClosedIgnoresBlocks) {
  auto block = Block(4000, 1);
  const auto original = block;
  EXPECT_EQ(audio.SetEnabled(0), 0);
  EXPECT_FALSE(audio.IsEnabled());
  EXPECT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, original);
  EXPECT_EQ(audio.SetEnabled(5), 1);
  EXPECT_TRUE(audio.IsEnabled());

  EXPECT_EQ(audio.Close(), kAudioOk);
  EXPECT_FALSE(audio.IsOpen());
  EXPECT_EQ(audio.Close(), kAudioOk);
  EXPECT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, original);

  // Reopened: enabled again and playing.
  ASSERT_EQ(audio.Open(8000, 16, &owner), kAudioOk);
  EXPECT_TRUE(audio.IsEnabled());
  EXPECT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, Swapped(original));
  EXPECT_TRUE(rdtest::WaitFor([&] { return audio.Stats().buffers_written == 1; }));
}

TEST_F(AudioOutputTest, ResetReturnsEveryQueuedBuffer) {
  audio.SetDeviceCredit(0);
  for (int i = 0; i < 3; ++i) {
    auto b = Block(4000, static_cast<uint8_t>(i));
    audio.PlayBlock(b.data(), b.size());
  }
  ASSERT_EQ(audio.QueuedBuffers(), 3);
  EXPECT_EQ(audio.Reset(), kAudioOk);
  EXPECT_EQ(audio.QueuedBuffers(), 0);
  EXPECT_EQ(audio.DoneIndex(), audio.WriteIndex());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(audio.BufferDone(i));
  // Four blocks fit again.
  for (int i = 0; i < 4; ++i) {
    auto b = Block(4000, static_cast<uint8_t>(i));
    const auto original = b;
    audio.PlayBlock(b.data(), b.size());
    EXPECT_NE(b, original);
  }
  EXPECT_EQ(audio.QueuedBuffers(), 4);
  // Muting resets too.
  audio.SetEnabled(0);
  EXPECT_EQ(audio.QueuedBuffers(), 0);
}

TEST_F(AudioOutputTest, Volume) {
  int16_t v = -1;
  ASSERT_EQ(audio.GetVolume(&v), kAudioOk);
  EXPECT_EQ(v, 50);
  ASSERT_EQ(audio.SetVolume(100), kAudioOk);
  ASSERT_EQ(audio.GetVolume(&v), kAudioOk);
  EXPECT_EQ(v, 100);
  audio.SetDeviceCredit(0);
  std::vector<uint8_t> block = {0x55, 0x2A};  // swapped: 0x2A first
  audio.PlayBlock(block.data(), block.size());
  EXPECT_EQ(audio.BufferSamples(0)[0], 15872);

  // Every percent reads back as set (truncating 0.53f x 100 would give 52).
  for (int p = 0; p <= 100; ++p) {
    audio.SetVolume(p);
    audio.GetVolume(&v);
    EXPECT_EQ(v, p);
  }
  audio.SetVolume(250);
  audio.GetVolume(&v);
  EXPECT_EQ(v, 100);

  audio.SetVolume(30);
  audio.Close();
  v = -1;
  EXPECT_EQ(audio.SetVolume(80), kAudioNotOpen);
  EXPECT_EQ(audio.GetVolume(&v), kAudioNotOpen);
  EXPECT_EQ(v, -1);
  ASSERT_EQ(audio.Open(8000, 16, &owner), kAudioOk);
  audio.GetVolume(&v);
  EXPECT_EQ(v, 30) << "a closed output keeps its volume";
}

TEST(AudioOutputOpen, FailuresLeaveTheOutputClosed) {
  const char* saved = std::getenv("RD_AUDIO_DEVICE");
  const std::string restore = saved ? saved : "";
  AudioOutput audio;
  CountingOwner owner;
  setenv("RD_AUDIO_DEVICE", "rd_no_such_pcm_device", 1);
  EXPECT_EQ(audio.Open(8000, 16, &owner), kAudioOpenFailed);
  EXPECT_FALSE(audio.IsOpen());
  auto block = Block(100, 3);
  const auto original = block;
  EXPECT_EQ(audio.PlayBlock(block.data(), block.size()), kAudioOk);
  EXPECT_EQ(block, original);

  setenv("RD_AUDIO_DEVICE", "null", 1);
  EXPECT_EQ(audio.Open(8000, 8, &owner), kAudioOpenFailed) << "only 16-bit output is played";
  EXPECT_EQ(audio.Open(0, 16, &owner), kAudioOpenFailed);
  EXPECT_EQ(audio.Open(8000, 16, nullptr), kAudioOk);
  EXPECT_EQ(audio.Open(8000, 16, nullptr), kAudioOk) << "already open";
  if (saved) {
    setenv("RD_AUDIO_DEVICE", restore.c_str(), 1);
  } else {
    unsetenv("RD_AUDIO_DEVICE");
  }
}

TEST_F(AudioOutputTest, StreamOfBlocksIsPlayedInOrder) {
  // Blocks handed over as fast as the device takes them: nothing is lost
  // when each waits for a free buffer.
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(rdtest::WaitFor([&] { return audio.QueuedBuffers() < 4; }));
    auto b = Block(4000, static_cast<uint8_t>(i));
    audio.PlayBlock(b.data(), b.size());
  }
  ASSERT_TRUE(rdtest::WaitFor([&] { return audio.QueuedBuffers() == 0; }));
  EXPECT_EQ(audio.Stats().buffers_written, 40u);
  EXPECT_EQ(audio.Stats().frames_written, 40u * 4000);
  EXPECT_EQ(audio.Stats().underruns, 0u);
}

}  // namespace
}  // namespace rd
