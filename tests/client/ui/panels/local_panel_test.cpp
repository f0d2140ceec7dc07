// The Capture and Play panel's rules: the local banner and lamps by local
// mode, player state and phase; the buttons each local command sets; the
// volume text.

#include <gtest/gtest.h>

#include <string>

#include "client/ui/panels/LocalPanel.h"
#include "client/ui/rdclientIds.h"

namespace rd::client::panels {
namespace {

using namespace ids;

struct BannerCase {
  uint8_t mode, state;
  bool phase;
  std::optional<int> banner;
  bool red, green;
};

TEST(LocalBanners, ByModeStateAndPhase) {
  const BannerCase cases[] = {
      {0, 0, true, kLocalNotActivated, false, false},
      {0, 16, false, kLocalNotActivated, false, false},  // idle: the player state is no matter
      {1, 0, true, kLocalNotActivated, false, true},
      {1, 16, true, kLocalPlayBold, false, true},
      {1, 16, false, kLocalPlay, false, false},
      {1, 17, true, kLocalPause, false, true},
      {1, 17, false, kLocalPauseBold, false, false},
      {1, 18, true, kLocalForward, false, true},
      {1, 22, false, kLocalForwardBold, false, false},
      {1, 23, true, kLocalRewind, false, true},
      {1, 27, false, kLocalRewindBold, false, false},
      {1, 28, true, std::nullopt, false, true},  // other states leave the banner
      {1, 5, false, std::nullopt, false, false},
      {2, 0, true, kLocalRecordingBold, true, false},
      {2, 16, false, kLocalRecording, false, false},
  };
  for (const BannerCase& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " state " + std::to_string(c.state) +
                 (c.phase ? " set" : " clear"));
    EXPECT_EQ(LocalBanners(c.mode, c.state, c.phase), (LocalBannerView{c.banner, c.red, c.green}));
  }
}

TEST(LocalButtons, WhatEachCommandLeavesEnabled) {
  // Recording and playing lock Connect and Close Window.
  EXPECT_EQ(LocalRecordingStarted(), (LocalButtons{false, false, false, true, false, std::nullopt,
                                                   std::nullopt, std::nullopt}));
  const LocalButtons started = LocalPlaybackStarted();
  EXPECT_EQ(started.connect, false);
  EXPECT_EQ(started.play, false);
  EXPECT_EQ(started.ff, true);
  EXPECT_EQ(LocalPlaybackResumed().play, false);
  EXPECT_EQ(LocalPlaybackResumed().connect, std::nullopt);
  EXPECT_EQ(LocalSpeedChanged().play, true) << "PLAY resumes normal speed";
  EXPECT_EQ(LocalSpeedChanged().rec, false);
  // Local REC comes back only where it can record.
  EXPECT_EQ(LocalPlaybackStopped(false).rec, false);
  EXPECT_EQ(LocalPlaybackStopped(true).rec, true);
  EXPECT_EQ(LocalRecordingStopped(false).rec, false) << "no stream: nothing to record";
  EXPECT_EQ(LocalRecordingStopped(true).rec, true);
  EXPECT_EQ(LocalRecordingStopped(true).connect, true);
  EXPECT_EQ(LocalPlayerEnded(false),
            (LocalButtons{true, true, false, false, true, false, false, false}));
}

TEST(VolumeText, BothEndsAndBetween) {
  EXPECT_EQ(VolumeText(0), "100 %") << "slider at the top";
  EXPECT_EQ(VolumeText(100), " 0 %");
  EXPECT_EQ(VolumeText(50), "50 %");
  EXPECT_EQ(VolumeText(93), " 7 %");
}

}  // namespace
}  // namespace rd::client::panels
