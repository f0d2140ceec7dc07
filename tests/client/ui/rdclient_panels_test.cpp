// The main window's panels on the offscreen platform against the emulated
// DVR in the same process: DVR REC and STOP with the blinking banner, the
// play search (the play dialog's stand-in, the search error and the
// watchdog), the channel buttons and the DVR's quad picture, the frame-rate
// list, volume and mute, local recording and playback, the keyboard.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QTest>

#include <chrono>
#include <filesystem>

#include "WindowFixture.h"
#include "client/ui/panels/FrameRateList.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
using namespace ids;
using namespace wintest;

class RdclientPanels : public RdclientWindow {
 protected:
  bool Enabled(int id) const { return window->Controls().Widget(id)->isEnabled(); }
  bool Checked(int id) const {
    if (auto* p = window->Controls().PushCheck(id)) return p->checkState() == Qt::Checked;
    return window->Controls().Get<QCheckBox>(id)->isChecked();
  }
  void Click(int id) { QTest::mouseClick(window->Controls().Button(id), Qt::LeftButton); }
  QString Text(int id) const {
    if (QLabel* l = window->Controls().Label(id)) return l->text();
    return window->Controls().Button(id)->text();
  }
  RcCtrlMain& Main() { return window->Main(); }
  // Connected, the first status handled: REC and PLAY are up in VIEW mode.
  void ConnectReady() {
    ASSERT_TRUE(ConnectAndWaitForFrames()) << Status().toStdString();
    ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrRec) && Enabled(kDvrPlay); }, 10s));
  }
  // One second of the window: the blink flip and the DVR status display.
  void OneSecond() {
    window->OnTimer(kTimerSecond);
    window->OnTimer(kTimerDvrStatus);
  }
  int VisibleDvrBanner() const {
    int shown = -1, count = 0;
    for (int id : kDvrBanners)
      if (Visible(id)) {
        shown = id;
        ++count;
      }
    return count == 1 ? shown : -count;
  }
  int VisibleLocalBanner() const {
    int shown = -1, count = 0;
    for (int id : kLocalBanners)
      if (Visible(id)) {
        shown = id;
        ++count;
      }
    return count == 1 ? shown : -count;
  }
  // Stream filter requests the emulator got after the first `skip`.
  std::vector<std::string> FiltersAfter(std::size_t skip) const {
    auto all = dvr->ReceivedPayloads(41);
    return {all.begin() + static_cast<long>(std::min(skip, all.size())), all.end()};
  }
  static uint8_t FilterByte(const std::string& hex) {
    return static_cast<uint8_t>(std::stoi(hex.substr(2, 2), nullptr, 16));
  }
  static uint8_t IntervalByte(const std::string& hex) {
    return static_cast<uint8_t>(std::stoi(hex.substr(0, 2), nullptr, 16));
  }
  // The automatic adjustment off, so that only the test's clicks change the stream.
  void NoAutoAdjust() {
    Click(kAutoAdjust);
    ASSERT_FALSE(Main().AutoAdjust());
  }
};

TEST_F(RdclientPanels, DvrRecordBlinksTheBannerAndTheLampAndStops) {
  Make();
  ConnectReady();
  window->OnTimer(kTimerDvrStatus);
  EXPECT_EQ(VisibleDvrBanner(), kBannerView);
  EXPECT_EQ(Text(kVideoMode), "NTSC");
  for (int id : {kDvrStop, kDvrPause, kDvrRew, kDvrFf}) EXPECT_FALSE(Enabled(id)) << id;

  Click(kDvrRec);
  EXPECT_FALSE(Enabled(kDvrRec));
  EXPECT_FALSE(Enabled(kDvrPlay));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().DvrMode() == dvr_mode::kRecord; }, 10s));
  EXPECT_EQ(dvr->Received(32), 1) << "StartRecording";
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrStop); }, 10s));
  EXPECT_FALSE(Enabled(kDvrRec)) << "recording: only STOP";
  EXPECT_FALSE(Enabled(kDvrPlay));
  // Two seconds: the normal and the bold banner, the lamp lit with the normal one.
  std::vector<int> banners;
  std::vector<bool> lamps;
  for (int i = 0; i < 2; ++i) {
    OneSecond();
    banners.push_back(VisibleDvrBanner());
    lamps.push_back(Visible(kDvrRecLampLit));
    EXPECT_NE(Visible(kDvrRecLampLit), Visible(kDvrRecLampDark));
  }
  EXPECT_NE(banners[0], banners[1]);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(banners[i] == kBannerRec || banners[i] == kBannerRecBold) << banners[i];
    EXPECT_EQ(lamps[i], banners[i] == kBannerRec);
  }

  Click(kDvrStop);
  for (int id : kDvrButtons) EXPECT_FALSE(Enabled(id)) << "STOP disables all six";
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().DvrMode() == dvr_mode::kView; }, 10s));
  EXPECT_EQ(dvr->Received(33), 1) << "StopRecording";
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrRec) && Enabled(kDvrPlay); }, 10s));
  window->OnTimer(kTimerDvrStatus);
  EXPECT_EQ(VisibleDvrBanner(), kBannerView);
  EXPECT_FALSE(Visible(kDvrRecLampLit));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientPanels, PlaySearchWithoutTheEventListShowsTheBoxAndTheWatchdogRestores) {
  // The first event list never comes (its reply is lost), so 0x436 finds none.
  Make({sim::Scenario{sim::ScenarioKind::kDropFirstReply, 34}});
  ConnectReady();
  Click(kDvrPlay);
  EXPECT_FALSE(Enabled(kDvrRec));
  EXPECT_FALSE(Enabled(kDvrPlay));
  window->Port().Post(rcmsg::kEventListDone, 0, 0);
  rdtest::PumpPosted();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Play Search Error");
  EXPECT_EQ(Boxes()[0].text, "Could not get Play Search Time Information.\nPlease Try Again.");
  EXPECT_EQ(Boxes()[0].icon, MessageIcon::kStop);
  EXPECT_FALSE(Enabled(kDvrRec)) << "left to the watchdog";
  // The watchdog needs three seconds without REC or STOP, then the status.
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrRec) && Enabled(kDvrPlay); }, 20s));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 2s);
  // The list that comes late is no search any more.
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dvr->Received(34) >= 2; }, 10s));
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(dialogs.plays_asked, 0);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(RdclientPanels, PlaySearchRunsThePlayDialogAndStartsTheChosenPlay) {
  Make();
  ConnectReady();
  // Something recorded to play.
  Click(kDvrRec);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrStop); }, 10s));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dvr->sim().packets_recorded() > 100; }, 15s));
  Click(kDvrStop);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrRec) && Enabled(kDvrPlay); }, 10s));

  // Cancelled: REC and PLAY come back at once.
  Click(kDvrPlay);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dialogs.plays_asked == 1; }, 10s));
  EXPECT_TRUE(Enabled(kDvrRec));
  EXPECT_TRUE(Enabled(kDvrPlay));
  ASSERT_FALSE(dialogs.play_events.empty());

  // A timed play from the start of the recording.
  dialogs.play = [](const std::vector<EventRecord>& events) -> std::optional<ui::PlayChoice> {
    for (const EventRecord& e : events)
      if (e.kind == 0) return ui::PlayChoice{true, e.disk, e.start, 0};
    return std::nullopt;
  };
  Click(kDvrPlay);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().DvrMode() == dvr_mode::kPlay; }, 10s));
  EXPECT_EQ(dialogs.plays_asked, 2);
  ASSERT_EQ(dvr->ReceivedPayloads(35).size(), 1u);
  EXPECT_EQ(dvr->ReceivedPayloads(35)[0].size(), 14u) << "PlayFrom: disk and six time bytes";
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrPause); }, 10s));
  for (int id : {kDvrPlay, kDvrStop, kDvrRew, kDvrFf}) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_FALSE(Enabled(kDvrRec));
  OneSecond();
  const int first = VisibleDvrBanner();
  OneSecond();
  EXPECT_TRUE((first == kBannerPlay && VisibleDvrBanner() == kBannerPlayBold) ||
              (first == kBannerPlayBold && VisibleDvrBanner() == kBannerPlay))
      << first << " " << VisibleDvrBanner();

  // Unmuted, PAUSE takes the stream's audio away and PLAY brings it back.
  if (Checked(kMute)) Click(kMute);
  ASSERT_FALSE(Checked(kMute));
  Click(kDvrPause);
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] {
        return Main().DvrMode() == dvr_mode::kPause &&
               (dvr->sim().status().stream_filter & stream_filter::kAudioExcluded) != 0;
      },
      10s));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrPlay) && !Enabled(kDvrPause); }, 10s));
  Click(kDvrPlay);
  EXPECT_TRUE(rdtest::PumpUntil(
      [&] {
        return Main().DvrMode() == dvr_mode::kPlay &&
               (dvr->sim().status().stream_filter & stream_filter::kAudioExcluded) == 0;
      },
      10s));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrStop); }, 10s));
  Click(kDvrStop);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Enabled(kDvrRec) && Enabled(kDvrPlay); }, 10s));
  EXPECT_EQ(Main().DvrMode(), dvr_mode::kView);
  EXPECT_TRUE(Boxes().empty());
}

bool TileIsNoData(const QImage& picture, int tile) {
  // A tile of the software quad: black with the white "NO DATA" in the middle.
  const int w = picture.width() / 2, h = picture.height() / 2;
  const QRect r((tile % 2) * w, (tile / 2) * h, w, h);
  int black = 0, white = 0, other = 0;
  for (int y = r.top(); y <= r.bottom(); y += 2)
    for (int x = r.left(); x <= r.right(); x += 2) {
      const QColor c = picture.pixelColor(x, y);
      const int sum = c.red() + c.green() + c.blue();
      if (sum < 30)
        ++black;
      else if (sum > 720)
        ++white;
      else
        ++other;
    }
  return white > 0 && other * 50 < black && white * 10 < black;
}

TEST_F(RdclientPanels, ChannelButtonsFollowTheStreamAndKeepTheLastChannel) {
  Make();
  ConnectReady();
  // The DVR has audio: the narrow buttons beside the Volume group.
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Visible(kNarrowChannel[0]); }, 10s));
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] {
        for (int i = 0; i < 4; ++i)
          if (!Enabled(kNarrowChannel[i]) || !Checked(kNarrowChannel[i])) return false;
        return true;
      },
      10s));
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Checked(kWideChannel[i])) << "both layouts in step";
    EXPECT_TRUE(Visible(kOnAirLamp[i]));
    EXPECT_FALSE(Visible(kOffLamp[i]));
    EXPECT_TRUE(Visible(kLitDot[i]));
  }
  EXPECT_FALSE(Enabled(kNarrowQuad));
  EXPECT_FALSE(Checked(kNarrowQuad));
  EXPECT_TRUE(Visible(kOffLampQuad));
  NoAutoAdjust();
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] { return Main().StreamFilter() == dvr->sim().status().stream_filter; }, 5s));
  rdtest::PumpUntil([] { return false; }, 300ms);
  const std::size_t before = dvr->ReceivedPayloads(41).size();

  Click(kNarrowChannel[1]);
  EXPECT_FALSE(Checked(kWideChannel[1])) << "the hidden layout follows at once";
  ASSERT_TRUE(rdtest::PumpUntil([&] { return FiltersAfter(before).size() == 1; }, 5s));
  const uint8_t f = FilterByte(FiltersAfter(before)[0]);
  EXPECT_EQ(f & (stream_filter::kPerChannel | stream_filter::kChannelMask), 0x82)
      << "per-channel selection with CH2 excluded: " << int(f);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Visible(kDarkDot[1]); }, 5s)) << "0x434 follows";
  EXPECT_FALSE(Checked(kNarrowChannel[1]));
  EXPECT_TRUE(Enabled(kNarrowChannel[1]));
  EXPECT_TRUE(Visible(kOnAirLamp[1])) << "still on the stream";
  EXPECT_TRUE(rdtest::PumpUntil([&] { return TileIsNoData(window->Video()->Picture(), 1); }, 10s))
      << "CH2's tile";
  EXPECT_FALSE(TileIsNoData(window->Video()->Picture(), 0));
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(FiltersAfter(before).size(), 1u) << "exactly one request";

  // Down to CH4 alone; it cannot be unchecked and nothing is sent for it.
  // Two quick clicks: the display ends with both (each acknowledgement
  // refreshes it), whatever the order the answers come in.
  Click(kNarrowChannel[0]);
  Click(kNarrowChannel[2]);
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] {
        return FiltersAfter(before).size() == 3 &&
               (Main().StreamFilter() & stream_filter::kChannelMask) == 0x07 &&
               !Checked(kNarrowChannel[0]) && !Checked(kNarrowChannel[2]) && Visible(kDarkDot[0]) &&
               Visible(kDarkDot[2]);
      },
      5s));
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_FALSE(Checked(kNarrowChannel[0]));
  EXPECT_FALSE(Checked(kNarrowChannel[2]));
  EXPECT_FALSE(Checked(kWideChannel[2]));
  Click(kNarrowChannel[3]);
  EXPECT_TRUE(Checked(kNarrowChannel[3]));
  EXPECT_TRUE(Checked(kWideChannel[3]));
  rdtest::PumpUntil([] { return false; }, 500ms);
  EXPECT_EQ(FiltersAfter(before).size(), 3u);
  EXPECT_EQ(FilterByte(FiltersAfter(before)[2]) & 0x8F, 0x87);
  EXPECT_TRUE(Checked(kNarrowChannel[3]));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientPanels, TheDvrsQuadPictureChecksQuadAndDisablesTheChannels) {
  Make({}, false, true);
  ConnectReady();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Checked(kNarrowQuad) && Enabled(kNarrowQuad); }, 10s));
  EXPECT_TRUE(Checked(kWideQuad));
  EXPECT_TRUE(Visible(kOnAirLampQuad));
  EXPECT_TRUE(Visible(kLitDotQuad));
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(Enabled(kNarrowChannel[i]));
    EXPECT_FALSE(Checked(kNarrowChannel[i]));
    EXPECT_TRUE(Visible(kOffLamp[i]));
    EXPECT_TRUE(Visible(kDarkDot[i]));
  }
  NoAutoAdjust();
  rdtest::PumpUntil([] { return false; }, 300ms);
  const std::size_t before = dvr->ReceivedPayloads(41).size();
  Click(kNarrowQuad);
  EXPECT_TRUE(Checked(kNarrowQuad));
  EXPECT_TRUE(Checked(kWideQuad));
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(FiltersAfter(before).size(), 0u) << "Quad sends nothing";
  EXPECT_EQ(window->Controls().Combo(kFrameRateList)->count(), 14);
}

TEST_F(RdclientPanels, FrameRateListSendsOnlyTheUsersChoice) {
  Make();
  ConnectReady();
  QComboBox* rates = window->Controls().Combo(kFrameRateList);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return rates->count() == 14 && rates->isEnabled(); }, 10s));
  EXPECT_TRUE(rates->itemText(0).startsWith("[NTSC] ")) << rates->itemText(0).toStdString();
  NoAutoAdjust();
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] { return Main().StreamFilter() == dvr->sim().status().stream_filter; }, 5s));
  rdtest::PumpUntil([] { return false; }, 300ms);
  const auto codes = panels::IntervalCodes(0);
  const int selected = rates->currentIndex();
  ASSERT_GE(selected, 0);
  EXPECT_EQ(codes[static_cast<std::size_t>(selected)], Main().StreamFrameInterval());
  const std::size_t before = dvr->ReceivedPayloads(41).size();
  // Rebuilt from messages: nothing sent.
  for (int i = 0; i < 3; ++i) window->Port().Post(rcmsg::kRefreshDisplay, 0, 0);
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(FiltersAfter(before).size(), 0u);
  // The user picks the next entry.
  rates->setFocus();
  QTest::keyClick(rates, Qt::Key_Down);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return FiltersAfter(before).size() == 1; }, 5s));
  const uint8_t code = codes[static_cast<std::size_t>(selected + 1)];
  EXPECT_EQ(IntervalByte(FiltersAfter(before)[0]), code);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().StreamFrameInterval() == code; }, 5s));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return rates->currentIndex() == selected + 1; }, 5s));
  // Speed and frame-rate texts once a second.
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Text(kFrameRate).endsWith(" fps"); }, 5s));
  EXPECT_TRUE(Text(kSpeed).endsWith(" Mbps")) << Text(kSpeed).toStdString();
}

TEST_F(RdclientPanels, PalListsTwelveRates) {
  Make({}, true);
  ConnectReady();
  QComboBox* rates = window->Controls().Combo(kFrameRateList);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return rates->count() == 12; }, 10s));
  EXPECT_TRUE(rates->itemText(0).startsWith("[PAL] "));
  window->OnTimer(kTimerDvrStatus);
  EXPECT_EQ(Text(kVideoMode), "PAL");
}

TEST_F(RdclientPanels, VolumeSliderAndAudioMessages) {
  Make();
  QSlider* slider = window->Controls().Slider(kVolumeSlider);
  slider->setValue(0);
  window->OnTimer(kTimerVolume);
  EXPECT_EQ(Text(kVolumeText), "100 %");
  EXPECT_EQ(Main().AudioVolume(), 100);
  slider->setValue(100);
  window->OnTimer(kTimerVolume);
  EXPECT_EQ(Text(kVolumeText), " 0 %");
  EXPECT_EQ(Main().AudioVolume(), 0);

  window->Port().Send(rcmsg::kAudioState, 0, 0);
  EXPECT_TRUE(Checked(kMute));
  EXPECT_FALSE(Main().AudioOutputEnabled());
  window->Port().Send(rcmsg::kAudioState, 1, 0);
  EXPECT_FALSE(Checked(kMute));
  EXPECT_TRUE(Main().AudioOutputEnabled());
  uint8_t muted = 99;
  window->Port().Send(rcmsg::kAskMute, 0, reinterpret_cast<intptr_t>(&muted));
  EXPECT_EQ(muted, 0);
  window->Port().Send(rcmsg::kAudioState, 0, 0);
  window->Port().Send(rcmsg::kAskMute, 0, reinterpret_cast<intptr_t>(&muted));
  EXPECT_EQ(muted, 16);
  // A new stream starts muted, even when the session's audio state was read
  // before that mute was queued (it arrives after 0x430); later ones count.
  window->Port().Send(rcmsg::kStreamConnecting, 0, rcmsg::PackAddress("127.0.0.1"));
  EXPECT_TRUE(Checked(kMute));
  window->Port().Send(rcmsg::kAudioState, 1, 0);
  EXPECT_TRUE(Checked(kMute));
  window->Port().Send(rcmsg::kAudioState, 1, 0);
  EXPECT_FALSE(Checked(kMute));

  window->Port().Send(rcmsg::kAudioAvailable, 1, 0);
  EXPECT_TRUE(Visible(kNarrowQuad));
  EXPECT_TRUE(Visible(kVolumeSlider));
  EXPECT_TRUE(Enabled(kVolumeSlider));
  EXPECT_TRUE(Enabled(kMute));
  window->Port().Send(rcmsg::kAudioAvailable, 0, 0);
  EXPECT_TRUE(Visible(kWideQuad));
  EXPECT_FALSE(Visible(kVolumeSlider));
  EXPECT_EQ(Text(kVolumeText), "50%");
  EXPECT_FALSE(Enabled(kVolumeSlider));
  EXPECT_FALSE(Enabled(kMute));
  // Local playback audio shows the narrow layout for the moment; the stop of
  // the local player goes back to the remembered one.
  window->Port().Send(rcmsg::kLocalAudioPlayed, 0, 0);
  EXPECT_TRUE(Visible(kNarrowQuad));
  window->Port().Send(rcmsg::kLocalPlayStopped, 0, 0);
  EXPECT_TRUE(Visible(kWideQuad));
  EXPECT_FALSE(Visible(kNarrowQuad));
  EXPECT_EQ(Text(kLocalPlayButton), "PLAY");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientPanels, LocalRecordingThenPlaybackOffline) {
  Make();
  ConnectReady();
  Click(kLocalRec);
  EXPECT_TRUE(Enabled(kLocalStop));
  for (int id : {kLocalRec, kLocalPlayButton, kConnect, kCloseWindow})
    EXPECT_FALSE(Enabled(id)) << id;
  std::vector<int> banners;
  for (int i = 0; i < 2; ++i) {
    window->OnTimer(kTimerLocalStatus);
    banners.push_back(VisibleLocalBanner());
    EXPECT_EQ(Visible(kLocalRecLampLit), banners.back() == kLocalRecordingBold);
  }
  EXPECT_NE(banners[0], banners[1]);
  for (int b : banners)
    EXPECT_TRUE(b == kLocalRecording || b == kLocalRecordingBold)
        << b << " lit " << Visible(kLocalRecording) << Visible(kLocalRecordingBold)
        << Visible(kLocalNotActivated);
  const std::filesystem::path folder = dir / "stream_files";
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] {
        const auto files = Main().RecordingFiles();
        return !files.empty() && std::filesystem::file_size(files[0]) > 100000;
      },
      15s));
  const std::string file = Main().RecordingFiles()[0];
  EXPECT_EQ(std::filesystem::path(file).parent_path(), folder);

  // The connection goes while recording (Connect waits for local STOP): the
  // teardown ends the recording, local mode stays until STOP, which leaves
  // REC off (no stream to record).
  window->Port().Post(rcmsg::kConnectionEvent, rcevent::kStreamClosed, 0);
  rdtest::PumpPosted();
  ASSERT_EQ(Status(), "Disconnected");
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "Stream connection closed");
  EXPECT_FALSE(Main().IsLocalRecording());
  EXPECT_TRUE(Enabled(kLocalStop));
  EXPECT_FALSE(Enabled(kLocalRec));
  Click(kLocalStop);
  EXPECT_FALSE(Enabled(kLocalRec));
  EXPECT_FALSE(Enabled(kLocalStop));
  EXPECT_TRUE(Enabled(kLocalPlayButton));
  EXPECT_TRUE(Enabled(kConnect));
  EXPECT_FALSE(Enabled(kMute));

  // Offline playback of it, with Mute checked before.
  window->Controls().Get<QCheckBox>(kMute)->setChecked(true);
  files.answers = {QString::fromStdString(file)};
  Click(kLocalPlayButton);
  ASSERT_EQ(files.directories.size(), 1u);
  EXPECT_EQ(files.directories[0].toStdString(), folder.string());
  EXPECT_EQ(files.filters.back(), "*.mys");
  ASSERT_TRUE(Main().LocalPlaybackActive());
  for (int id : {kLocalStop, kLocalRew, kLocalPauseButton, kLocalFf}) EXPECT_TRUE(Enabled(id));
  for (int id : {kLocalRec, kLocalPlayButton, kConnect, kCloseWindow}) EXPECT_FALSE(Enabled(id));
  EXPECT_FALSE(Checked(kMute)) << "a local recording plays with its sound";
  EXPECT_TRUE(Enabled(kMute));
  EXPECT_TRUE(Enabled(kVolumeSlider));
  EXPECT_TRUE(Main().AudioOutputEnabled());
  window->OnTimer(kTimerLocalStatus);
  const int play = VisibleLocalBanner();
  EXPECT_TRUE(play == kLocalPlay || play == kLocalPlayBold) << play;

  // Mute holds through PAUSE and PLAY (each reopens the audio output).
  Click(kMute);
  ASSERT_FALSE(Main().AudioOutputEnabled());
  Click(kLocalPauseButton);
  EXPECT_EQ(Main().LocalPlayerState(), 17);
  EXPECT_FALSE(Main().AudioOutputEnabled());
  EXPECT_TRUE(Enabled(kLocalPlayButton));
  window->OnTimer(kTimerLocalStatus);
  EXPECT_TRUE(VisibleLocalBanner() == kLocalPause || VisibleLocalBanner() == kLocalPauseBold);
  Click(kLocalPlayButton);
  EXPECT_EQ(Main().LocalPlayerState(), 16);
  EXPECT_FALSE(Main().AudioOutputEnabled()) << "still muted after PAUSE -> PLAY";
  EXPECT_FALSE(Enabled(kLocalPlayButton));
  Click(kLocalFf);
  EXPECT_EQ(Main().LocalPlayerState(), 18);
  window->OnTimer(kTimerLocalStatus);
  EXPECT_TRUE(VisibleLocalBanner() == kLocalForward || VisibleLocalBanner() == kLocalForwardBold);
  Click(kLocalRew);
  EXPECT_EQ(Main().LocalPlayerState(), 23);
  Click(kMute);  // unmuted again before STOP: STOP restores the Mute of the live view

  // STOP offline: volume 50, "N/A", the volume controls off, Mute as before.
  Click(kLocalStop);
  EXPECT_FALSE(Main().LocalPlaybackActive());
  EXPECT_EQ(Text(kVolumeText), "N/A");
  EXPECT_FALSE(Enabled(kVolumeText));
  EXPECT_FALSE(Enabled(kVolumeSlider));
  EXPECT_FALSE(Enabled(kVolumeGroup));
  EXPECT_EQ(window->Controls().Slider(kVolumeSlider)->value(), 50);
  EXPECT_EQ(Main().AudioVolume(), 50);
  EXPECT_TRUE(Checked(kMute)) << "the Mute saved when the playback started";
  EXPECT_FALSE(Enabled(kMute));
  EXPECT_FALSE(Main().AudioOutputEnabled());
  EXPECT_EQ(VisibleLocalBanner(), kLocalNotActivated);
  EXPECT_TRUE(Enabled(kConnect));
  EXPECT_TRUE(Enabled(kLocalPlayButton));
  EXPECT_FALSE(Enabled(kLocalRec)) << "no connection";
  EXPECT_FALSE(Enabled(kLocalStop));
  window->OnTimer(kTimerVolume);
  EXPECT_EQ(Text(kVolumeText), "N/A") << "the slider did not move";
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(RdclientPanels, LocalErrorsShowTheirBoxes) {
  Make();
  window->Port().Send(rcmsg::kRecordCreateError, 0, 0);
  window->Port().Send(rcmsg::kRecordWriteError, 0, 0);
  // A file that is no recording: nothing plays, Mute and the buttons stay.
  const auto bad = dir / "bad.mys";
  rdtest::WriteFile(bad, std::vector<unsigned char>(10, 0));
  window->Controls().Get<QCheckBox>(kMute)->setChecked(true);
  Main().SetMute(true);
  files.answers = {QString::fromStdString(bad.string())};
  Click(kLocalPlayButton);
  EXPECT_FALSE(Main().LocalPlaybackActive());
  EXPECT_TRUE(Checked(kMute));
  EXPECT_FALSE(Main().AudioOutputEnabled());
  EXPECT_TRUE(Enabled(kLocalPlayButton));
  EXPECT_FALSE(Enabled(kLocalStop));
  EXPECT_TRUE(Enabled(kConnect));
  // Cancelled: nothing at all.
  Click(kLocalPlayButton);
  const auto shown = Boxes();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].caption, "Local Recording Stop");
  EXPECT_EQ(shown[0].text, "File Creation Error.\nLocal stream capturing stop.");
  EXPECT_EQ(shown[1].caption, "Local Recording Stop");
  EXPECT_EQ(shown[1].text, "File Writing Error.\nLocal stream capturing stop.");
  EXPECT_EQ(shown[2].caption, "Play Error");
  EXPECT_EQ(shown[2].text, "Cannot Start Playing.");
  for (const auto& m : shown) EXPECT_EQ(m.icon, MessageIcon::kStop);
}

TEST_F(RdclientPanels, EveryPanelCommandHasAShortcutInItsTooltip) {
  Make();
  struct Key {
    int id;
    const char* key;
  } keys[] = {{kConnect, "Alt+C"},
              {kDvrRec, "Alt+R"},
              {kDvrStop, "Alt+S"},
              {kDvrPlay, "Alt+P"},
              {kDvrRew, "Alt+W"},
              {kDvrPause, "Alt+U"},
              {kDvrFf, "Alt+F"},
              {kLocalRec, "Alt+Shift+R"},
              {kLocalStop, "Alt+Shift+S"},
              {kLocalPlayButton, "Alt+Shift+P"},
              {kLocalRew, "Alt+Shift+W"},
              {kLocalPauseButton, "Alt+Shift+U"},
              {kLocalFf, "Alt+Shift+F"},
              {kWideChannel[1], "Alt+2"},
              {kNarrowChannel[3], "Alt+4"},
              {kWideQuad, "Alt+Q"},
              {kMute, "Alt+M"},
              {kAutoAdjust, "Alt+A"},
              {kFrameRateList, "Alt+L"},
              {kVolumeSlider, "Alt+V"}};
  for (const Key& k : keys)
    EXPECT_TRUE(window->Controls().Widget(k.id)->toolTip().contains(QString("(") + k.key + ")"))
        << k.id << ": " << window->Controls().Widget(k.id)->toolTip().toStdString();

  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  ConnectReady();
  // A shortcut presses its button; a disabled one does nothing.
  QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);  // DVR STOP: disabled in VIEW
  QTest::keyClick(window.get(), Qt::Key_R, Qt::AltModifier);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dvr->Received(32) == 1; }, 10s)) << "DVR REC";
  EXPECT_EQ(dvr->Received(33), 0);
  QTest::keyClick(window.get(), Qt::Key_P, Qt::AltModifier | Qt::ShiftModifier);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return files.directories.size() == 1; }, 5s))
      << "local PLAY asked for a file";
  // Space presses the focused button.
  window->Controls().Widget(kLocalPlayButton)->setFocus();
  QTest::keyClick(window->Controls().Widget(kLocalPlayButton), Qt::Key_Space);
  EXPECT_TRUE(rdtest::PumpUntil([&] { return files.directories.size() == 2; }, 5s));
  // The frame-rate list by its key.
  QTest::keyClick(window.get(), Qt::Key_L, Qt::AltModifier);
  EXPECT_TRUE(
      rdtest::PumpUntil([&] { return window->Controls().Widget(kFrameRateList)->hasFocus(); }, 5s));
}

}  // namespace
}  // namespace rd::client
