// The Channel Control rows (channel presence, display refresh, clicks) and
// the frame-rate list (the rate formula, both standards' tables, the
// selection, record frame rate indexes outside the table).

#include <gtest/gtest.h>

#include <string>

#include "client/ui/panels/ChannelPanel.h"
#include "client/ui/panels/FrameRateList.h"

namespace rd::client::panels {
namespace {

ChannelDisplayState Set(uint32_t quad, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4) {
  ChannelDisplayState s;
  s.quad = quad;
  s.channel[0] = c1;
  s.channel[1] = c2;
  s.channel[2] = c3;
  s.channel[3] = c4;
  return s;
}

TEST(ChannelRows, PresenceChecksTheWantedChannelsThatArePresent) {
  ChannelView v;
  ApplyChannelsPresent(v, Set(0, 1, 1, 0, 1), Set(0, 1, 0, 1, 1));
  EXPECT_EQ(v.channel[0], (ChannelRow{true, true, true, true}));
  EXPECT_EQ(v.channel[1], (ChannelRow{true, false, true, false})) << "present, not wanted";
  EXPECT_EQ(v.channel[2], (ChannelRow{false, false, false, false})) << "wanted, not present";
  EXPECT_EQ(v.channel[3], (ChannelRow{true, true, true, true}));
  EXPECT_EQ(v.quad, ChannelRow{});

  // The DVR's quad picture: only the Quad row.
  ApplyChannelsPresent(v, Set(1, 1, 1, 1, 1), Set(1, 1, 1, 1, 1));
  EXPECT_EQ(v.quad, (ChannelRow{true, true, true, true}));
  for (const ChannelRow& row : v.channel) EXPECT_EQ(row, ChannelRow{});
}

TEST(ChannelRows, RefreshChecksExactlyTheShownChannelsAndLeavesTheLamps) {
  ChannelView v;
  ApplyChannelsPresent(v, Set(0, 1, 1, 1, 0), Set(0, 0, 1, 0, 0));
  const ChannelView before = v;
  ApplyChannelRefresh(v, Set(0, 1, 1, 1, 0), Set(0, 1, 0, 0, 0));
  EXPECT_EQ(v.channel[0], (ChannelRow{true, true, true, true}));
  // Not shown: unchecked with a dark dot, enabled and lamp as they were
  // (CH2 was checked and lit, CH4 is not present).
  EXPECT_EQ(before.channel[1], (ChannelRow{true, true, true, true}));
  EXPECT_EQ(v.channel[1], (ChannelRow{true, false, true, false}));
  EXPECT_EQ(v.channel[2], (ChannelRow{true, false, true, false}));
  EXPECT_EQ(v.channel[3], before.channel[3]);

  ApplyChannelRefresh(v, Set(1, 0, 0, 0, 0), Set(1, 0, 0, 0, 0));
  for (const ChannelRow& row : v.channel) {
    EXPECT_FALSE(row.enabled);
    EXPECT_FALSE(row.checked);
    EXPECT_FALSE(row.lit);
  }
  EXPECT_TRUE(v.channel[0].on_air) << "the refresh does not touch the lamps";
  EXPECT_EQ(v.quad, (ChannelRow{true, true, false, true}));
  ApplyChannelRefresh(v, Set(0, 1, 1, 1, 0), Set(0, 0, 0, 0, 0));
  EXPECT_EQ(v.quad, ChannelRow{}) << "no quad picture: the Quad row off";
}

TEST(ChannelRows, AClickSendsTheCheckedChannelsUnlessNoneIsLeft) {
  EXPECT_EQ(ChannelClick({false, false, false, false}), std::nullopt)
      << "the last checked channel cannot be unchecked";
  EXPECT_EQ(ChannelClick({true, false, true, false}), Set(0, 1, 0, 1, 0));
  EXPECT_EQ(ChannelClick({false, false, false, true}), Set(0, 0, 0, 0, 1));
  EXPECT_EQ(CountChannels(Set(1, 1, 1, 1, 1)), 1);
  EXPECT_EQ(CountChannels(Set(0, 1, 0, 7, 1)), 3);
  EXPECT_EQ(CountChannels(ChannelDisplayState{}), 0);
}

TEST(FrameRateTables, IntervalCodesOfBothStandards) {
  const std::vector<uint8_t> ntsc = {0, 1, 2, 3, 5, 9, 14, 19, 29, 59, 149, 199, 239, 249};
  const std::vector<uint8_t> pal = {0, 1, 2, 3, 4, 9, 19, 24, 49, 124, 199, 249};
  auto as_vector = [](std::span<const uint8_t> s) {
    return std::vector<uint8_t>(s.begin(), s.end());
  };
  EXPECT_EQ(as_vector(IntervalCodes(0)), ntsc);
  EXPECT_EQ(as_vector(IntervalCodes(1)), pal);
  EXPECT_EQ(as_vector(IntervalCodes(7)), pal) << "any non-zero standard is PAL";
  EXPECT_EQ(IntervalAt(0, 13), 249);
  EXPECT_EQ(IntervalAt(0, 14), std::nullopt);
  EXPECT_EQ(IntervalAt(1, 11), 249);
  EXPECT_EQ(IntervalAt(1, 12), std::nullopt);
  EXPECT_EQ(IntervalAt(1, -1), std::nullopt) << "no selection";
  EXPECT_EQ(BaseFrameRate(0, 0), 30);
  EXPECT_EQ(BaseFrameRate(0, 3), 7);
  EXPECT_EQ(BaseFrameRate(1, 8), 1);
  EXPECT_EQ(BaseFrameRate(1, 11), 0);
  EXPECT_EQ(BaseFrameRate(0, 12), 0) << "outside the table";
  EXPECT_EQ(BaseFrameRate(1, 255), 0);
}

struct RateCase {
  const char* name;
  FrameRateInputs in;
  std::size_t count;
  int selected;
  int entry;
  const char* text;
};

TEST(FrameRateList, TextsAndSelection) {
  const RateCase cases[] = {
      {"NTSC, two present, one shown: 30 / 3 x 0.5",
       {0, 0, 2, 0, Set(0, 1, 1, 0, 0), Set(0, 1, 0, 0, 0)},
       14,
       2,
       2,
       "[NTSC]  5.000 frames/sec"},
      {"PAL, base 1, PLAY counts every channel",
       {1, 8, 0, 1, Set(0, 1, 1, 1, 1), Set(0, 1, 0, 0, 0)},
       12,
       0,
       0,
       "[PAL]  1.000 frames/sec"},
      {"an interval missing from the table selects entry 0",
       {0, 0, 4, 0, Set(0, 1, 1, 1, 1), Set(0, 1, 1, 1, 1)},
       14,
       0,
       13,
       "[NTSC]  0.120 frames/sec"},
      {"PAL 249 is the last entry",
       {1, 0, 249, 0, Set(0, 1, 1, 1, 1), Set(0, 1, 1, 1, 1)},
       12,
       11,
       1,
       "[PAL] 12.500 frames/sec"},
      {"the quad picture counts as one channel",
       {0, 1, 0, 0, Set(1, 0, 0, 0, 0), Set(1, 0, 0, 0, 0)},
       14,
       0,
       0,
       "[NTSC] 15.000 frames/sec"},
      {"nothing present yet: the shown count stands in",
       {0, 0, 1, 0, ChannelDisplayState{}, Set(0, 1, 1, 0, 0)},
       14,
       1,
       1,
       "[NTSC] 15.000 frames/sec"},
      {"nothing shown: factor 1",
       {0, 2, 0, 0, Set(0, 1, 1, 0, 0), ChannelDisplayState{}},
       14,
       0,
       0,
       "[NTSC] 10.000 frames/sec"},
      {"record frame rate index above 11: 0 frames/s, no read past the table",
       {0, 200, 3, 0, Set(0, 1, 1, 1, 1), Set(0, 1, 1, 1, 1)},
       14,
       3,
       0,
       "[NTSC]  0.000 frames/sec"},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameRateList list = BuildFrameRateList(c.in);
    ASSERT_EQ(list.items.size(), c.count);
    EXPECT_EQ(list.selected, c.selected);
    EXPECT_EQ(list.items[static_cast<std::size_t>(c.entry)], c.text);
  }
}

TEST(FrameRateList, AnyBytesFromTheDvrStayInsideTheTables) {
  // Every record frame rate index and current interval byte, both standards
  // (the sanitizer builds see any read past a table).
  for (int standard : {0, 1, 255})
    for (int index = 0; index < 256; ++index)
      for (int interval = 0; interval < 256; interval += 7) {
        FrameRateInputs in;
        in.video_standard = static_cast<uint8_t>(standard);
        in.record_rate_index = static_cast<uint8_t>(index);
        in.current_interval = static_cast<uint8_t>(interval);
        const FrameRateList list = BuildFrameRateList(in);
        ASSERT_EQ(list.items.size(), standard == 0 ? 14u : 12u);
        ASSERT_GE(list.selected, 0);
        ASSERT_LT(list.selected, static_cast<int>(list.items.size()));
        if (index > 11) {
          ASSERT_NE(list.items[0].find(" 0.000 "), std::string::npos);
        }
      }
  for (int index = -300; index < 300; ++index) {
    EXPECT_EQ(IntervalAt(0, index).has_value(), index >= 0 && index < 14) << index;
  }
}

}  // namespace
}  // namespace rd::client::panels
