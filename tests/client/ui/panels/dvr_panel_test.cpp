// The DVR Management panel's rules: banner and recording lamp by mode and
// blink phase, the control buttons by mode with and without a pending REC
// command, the REC/PLAY watchdog, and each control button's press by mode.

#include <gtest/gtest.h>

#include <string>

#include "client/ui/panels/DvrPanel.h"
#include "client/ui/rdclientIds.h"

namespace rd::client::panels {
namespace {

using namespace ids;

struct ModeCase {
  uint8_t mode, speed;
  bool phase;
  int banner;
  bool lamp;
};

TEST(DvrModeDisplay, BannerAndLampByModeAndPhase) {
  const ModeCase cases[] = {
      {0, 0, true, kBannerView, false},
      {0, 0, false, kBannerView, false},
      {1, 0, true, kBannerPlay, false},
      {1, 0, false, kBannerPlayBold, false},
      {1, 6, true, kBannerRew, false},  // backward play
      {1, 6, false, kBannerRewBold, false},
      {2, 0, true, kBannerPause, false},
      {2, 0, false, kBannerPauseBold, false},
      {3, 2, true, kBannerFf, false},
      {3, 2, false, kBannerFfBold, false},
      {4, 0, true, kBannerRec, true},
      {4, 0, false, kBannerRecBold, false},
      {5, 0, true, kBannerNotScheduled, false},
      {5, 0, false, kBannerNotScheduledBold, false},
      {6, 0, true, kBannerAlarm, true},  // the lamp blinks with the banner
      {6, 0, false, kBannerAlarmBold, false},
      {7, 0, true, kBannerSensor, false},
      {7, 0, false, kBannerSensorBold, false},
      {8, 0, true, kBannerNoInfo, false},
      {9, 0, false, kBannerNoInfo, false},
      {255, 3, true, kBannerNoInfo, false},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " speed " + std::to_string(c.speed) +
                 (c.phase ? " set" : " clear"));
    EXPECT_EQ(DvrModeDisplay(c.mode, c.speed, c.phase), (DvrModeView{c.banner, c.lamp}));
  }
}

struct ButtonCase {
  uint8_t mode;
  bool pending;
  std::optional<DvrButtons> buttons;
  bool pending_after;
};

TEST(DvrControlButtons, ByModeWithAndWithoutCommandPending) {
  const DvrButtons view{.rec = true, .play = true};
  const DvrButtons view_pending{};
  const DvrButtons playing{.play = true, .stop = true, .pause = true, .rew = true, .ff = true};
  const DvrButtons paused{.play = true, .stop = true, .rew = true, .ff = true};
  const DvrButtons recording{.stop = true};
  const ButtonCase cases[] =
      {
          {0, false, view, false},
          {0, true, view_pending, true},  // REC and PLAY stay disabled until a recording mode
          {1, false, playing, false},
          {1, true, playing, true},
          {2, false, paused, false},
          {3, true, playing, true},
          {4, true, recording, false},  // a recording mode clears it
          {5, false, recording, false},
          {6, true, recording, false},
          {7, true, recording, false},
          {8, true, std::nullopt, true},  // unknown: the buttons stay as they are
          {200, false, std::nullopt, false},
      };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + (c.pending ? " pending" : ""));
    DvrControl d;
    if (c.pending) d.Rec(0);
    for (int i = 0; i < 2; ++i) d.WatchdogTick(false);
    ASSERT_EQ(d.WatchdogCount(), 2);
    EXPECT_EQ(d.ButtonsForMode(c.mode), c.buttons);
    EXPECT_EQ(d.CommandPending(), c.pending_after);
    EXPECT_EQ(d.WatchdogCount(), 0) << "every button update restarts the watchdog";
  }
}

TEST(DvrWatchdog, RestoresRecAndPlayFromTheThirdSecondOn) {
  DvrControl d;
  d.Rec(0);  // REC and PLAY disabled, the DVR does not change its mode
  EXPECT_FALSE(d.WatchdogTick(false));
  EXPECT_FALSE(d.WatchdogTick(false));
  EXPECT_TRUE(d.CommandPending());
  EXPECT_TRUE(d.WatchdogTick(false)) << "third second: request the status";
  EXPECT_FALSE(d.CommandPending());
  EXPECT_EQ(d.ButtonsForMode(0), (DvrButtons{.rec = true, .play = true}));
  // Without the status reply it asks every second.
  d.Rec(0);
  for (int i = 0; i < 3; ++i) d.WatchdogTick(false);
  EXPECT_TRUE(d.WatchdogTick(false));
  EXPECT_TRUE(d.WatchdogTick(false));

  // A second with REC or STOP enabled starts the count over.
  DvrControl e;
  e.WatchdogTick(false);
  e.WatchdogTick(false);
  EXPECT_FALSE(e.WatchdogTick(true));
  EXPECT_EQ(e.WatchdogCount(), 0);
  EXPECT_FALSE(e.WatchdogTick(false));
}

TEST(DvrWatchdog, PausedDuringAPlaySearchAndCountsInEightBits) {
  DvrControl d;
  d.Play(0, false);
  ASSERT_TRUE(d.PlaySearchPending());
  for (int i = 0; i < 10; ++i) EXPECT_FALSE(d.WatchdogTick(false));
  EXPECT_EQ(d.WatchdogCount(), 0);
  d.PlaySearchEnded();
  int requests = 0;
  for (int i = 0; i < 256; ++i) requests += d.WatchdogTick(false) ? 1 : 0;
  EXPECT_EQ(d.WatchdogCount(), 0) << "wrapped";
  EXPECT_EQ(requests, 253) << "seconds 3..255";
  EXPECT_FALSE(d.WatchdogTick(false));
}

struct PressCase {
  const char* button;
  uint8_t mode;
  bool muted;
  std::vector<int> enable;
  std::vector<DvrOp> ops;
  const char* box_caption;  // nullptr: none
};

DvrCommand Press(DvrControl& d, const PressCase& c) {
  const std::string b = c.button;
  if (b == "REC") return d.Rec(c.mode);
  if (b == "PLAY") return d.Play(c.mode, c.muted);
  if (b == "STOP") return d.Stop(c.mode, c.muted);
  if (b == "PAUSE") return d.Pause();
  if (b == "FF") return d.FastForward();
  return d.Rewind();
}

TEST(DvrControlPress, EachButtonByMode) {
  using enum DvrOp;
  const PressCase cases[] = {
      {"REC", 0, false, {}, {kStartRecording}, nullptr},
      {"REC", 2, false, {}, {}, "Invalid Record Request"},
      {"REC", 3, false, {}, {}, "Invalid Record Request"},
      {"REC", 4, false, {kDvrStop}, {kRequestStatus}, nullptr},
      {"REC", 7, false, {kDvrStop}, {kRequestStatus}, nullptr},
      {"REC", 9, false, {}, {kStartRecording}, nullptr},
      {"PLAY", 0, false, {}, {kRequestEventList}, nullptr},
      {"PLAY", 1, false, {}, {kAudioOn, kPlayDvr}, nullptr},  // from REW
      {"PLAY", 2, false, {}, {kAudioOn, kPlayDvr}, nullptr},  // from PAUSE
      {"PLAY", 2, true, {}, {kPlayDvr}, nullptr},
      {"PLAY", 3, false, {}, {kAudioOn, kPlayDvr}, nullptr},
      {"PLAY", 3, true, {}, {kPlayDvr}, nullptr},
      {"PLAY", 5, false, {}, {}, "Invalid Play Request"},
      {"PLAY", 8, false, {}, {}, nullptr},
      {"STOP", 0, false, {}, {kRequestStatus}, nullptr},
      {"STOP", 1, false, {}, {kAudioOn, kStopDvrPlay}, nullptr},
      {"STOP", 3, true, {}, {kStopDvrPlay}, nullptr},
      {"STOP", 6, false, {}, {kStopRecording}, nullptr},
      {"STOP", 8, false, {}, {}, nullptr},
      {"PAUSE", 1, false, {}, {kAudioOff, kPauseDvr}, nullptr},
      {"FF", 1, true, {}, {kAudioOff, kFastForwardDvr}, nullptr},
      {"REW", 3, false, {}, {kAudioOff, kRewindDvr}, nullptr},
  };
  const std::vector<int> rec_play = {kDvrRec, kDvrPlay};
  const std::vector<int> all_six = {kDvrRec, kDvrStop, kDvrPlay, kDvrRew, kDvrPause, kDvrFf};
  for (const PressCase& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " in mode " + std::to_string(c.mode) +
                 (c.muted ? " muted" : ""));
    DvrControl d;
    const DvrCommand got = Press(d, c);
    const std::string b = c.button;
    const std::vector<int> disabled = b == "REC" || b == "PLAY" ? rec_play
                                      : b == "STOP"             ? all_six
                                                                : std::vector<int>{};
    EXPECT_EQ(got.disable, disabled);
    EXPECT_EQ(got.enable, c.enable);
    EXPECT_EQ(got.ops, c.ops);
    ASSERT_EQ(got.box.has_value(), c.box_caption != nullptr);
    if (got.box) {
      EXPECT_EQ(got.box->caption, c.box_caption);
      EXPECT_EQ(got.box->icon, ui::BoxIcon::kStop);
    }
    EXPECT_EQ(d.CommandPending(), b == "REC");
    EXPECT_EQ(d.PlaySearchPending(), b == "PLAY" && c.mode == 0);
  }
  EXPECT_EQ(InvalidRecordBox().text, "Cannot Start Recording.\nDVR is now playing.");
  EXPECT_EQ(InvalidPlayBox().text, "Cannot start playing\nDVR is now recording");
}

TEST(DvrPlaySearch, TheEventListCountsOnlyWhileASearchIsPending) {
  DvrControl d;
  EXPECT_EQ(d.EventListDone(true), DvrControl::ListStep::kIgnore);
  d.Play(0, true);
  EXPECT_EQ(d.EventListDone(false), DvrControl::ListStep::kSearchError);
  EXPECT_EQ(d.EventListDone(true), DvrControl::ListStep::kIgnore) << "the box is still open";
  EXPECT_FALSE(d.WatchdogTick(false));
  EXPECT_EQ(d.WatchdogCount(), 0) << "still paused";
  d.PlaySearchEnded();
  EXPECT_EQ(d.EventListDone(true), DvrControl::ListStep::kIgnore);
  d.Play(0, false);
  EXPECT_EQ(d.EventListDone(true), DvrControl::ListStep::kChoosePlay);
  EXPECT_EQ(d.EventListDone(true), DvrControl::ListStep::kIgnore) << "one play dialog at a time";
  d.PlaySearchEnded();
  EXPECT_EQ(PlaySearchErrorBox().text,
            "Could not get Play Search Time Information.\nPlease Try Again.");
  // A teardown ends a search and a pending REC.
  d.Play(0, true);
  d.Rec(0);
  d.Reset();
  EXPECT_FALSE(d.PlaySearchPending());
  EXPECT_FALSE(d.CommandPending());
}

}  // namespace
}  // namespace rd::client::panels
