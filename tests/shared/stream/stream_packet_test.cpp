#include "shared/stream/StreamPacket.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

struct KindCase {
  uint8_t b0, b6, b7;
  rd::PacketKind kind;
};

TEST(StreamPacket, ClassifiesOnlyTheFullConjunctionAsAudio) {
  const KindCase cases[] = {
      {0x83, 0xF1, 0xF2, rd::PacketKind::kAudio},  // audio packet recorded in 2003
      {0x83, 0xF1, 0xF3, rd::PacketKind::kVideo},  // year byte with bit 7, not the F1 F2 pair
      {0x03, 0xF1, 0xF2, rd::PacketKind::kVideo},  // bit 7 clear
      {0x83, 0x00, 0xF2, rd::PacketKind::kVideo},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 8> h{c.b0, 1, 2, 3, 4, 5, c.b6, c.b7};
    EXPECT_EQ(rd::ClassifyPacket(h.data()), c.kind) << int(c.b0) << " " << int(c.b7);
  }
}

TEST(StreamPacket, RecTimeMasksYearBitAndFormats) {
  const std::array<uint8_t, 8> h{0x83, 12, 31, 23, 59, 58, 0xF1, 0xF3};
  const rd::RecTime t = rd::RecTime::FromHeader(h.data());
  EXPECT_EQ(t.year, 3);
  EXPECT_EQ(t.Format(), "2003/12/31 23:59:58");
  std::array<uint8_t, 8> out{};
  t.ToHeader(out.data());
  EXPECT_EQ(out[0], 0x03);
  EXPECT_EQ(out[5], 58);
}

TEST(StreamPacket, FrameHeaderByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    const auto h = rd::FrameHeaderByte::Parse(static_cast<uint8_t>(b));
    EXPECT_EQ(h.Pack(), b);
  }
  const auto h = rd::FrameHeaderByte::Parse(0xA4);  // 1 0100 100
  EXPECT_TRUE(h.full_frame);
  EXPECT_EQ(h.q, 4);
  EXPECT_EQ(h.channel, 4);
}

TEST(StreamPacket, PairSwapExchangesWordsAndKeepsOddTail) {
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  rd::PairSwap(bytes, 5);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[1], 1);
  EXPECT_EQ(bytes[2], 4);
  EXPECT_EQ(bytes[3], 3);
  EXPECT_EQ(bytes[4], 5);
  EXPECT_EQ(rd::DiskOffsetOfStreamByte(6), 7u);
  EXPECT_EQ(rd::DiskOffsetOfStreamByte(7), 6u);
}

TEST(StreamPacket, PairSwapOfEveryLengthAndOffsetMatchesTheBytewiseExchange) {
  // The wide paths (128 and 8 bytes a step) must agree with a byte loop at
  // every length and alignment around their step sizes, and touch nothing
  // outside the range.
  std::vector<uint8_t> base(700);
  for (std::size_t i = 0; i < base.size(); ++i) base[i] = static_cast<uint8_t>(i * 7 + 3);
  for (std::size_t offset : {0, 1, 3}) {
    for (std::size_t size = 0; size < 300; ++size) {
      auto fast = base;
      auto slow = base;
      rd::PairSwap(fast.data() + offset, size);
      for (std::size_t i = 0; i + 1 < size; i += 2)
        std::swap(slow[offset + i], slow[offset + i + 1]);
      ASSERT_EQ(fast, slow) << "offset " << offset << " size " << size;
    }
  }
}

TEST(StreamPacket, RateCodeIntervals) {
  EXPECT_NEAR(rd::FrameIntervalMs(0), 33.333, 0.001);
  EXPECT_NEAR(rd::FrameIntervalMs(3), 133.333, 0.001);
  EXPECT_EQ(rd::ChannelSetBit(1), 0x08);
  EXPECT_EQ(rd::ChannelSetBit(4), 0x01);
}

}  // namespace
