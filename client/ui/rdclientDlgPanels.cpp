// The main window's panels: the DVR status banner and the DVR control
// buttons with their mode rules, the channel rows, the frame-rate list and
// its automatic adjustment, the speed and frame-rate texts, volume and mute,
// local recording and playback. The rules live in client/ui/panels (no
// widgets); this file applies them to the controls and calls the control
// main. Only user actions send requests: the handlers below react to clicked
// and activated signals; a list filled or a button checked from a message
// sends nothing.

#include <QCheckBox>
#include <QComboBox>
#include <QShortcut>
#include <QSlider>

#include <filesystem>

#include "client/ui/panels/FrameRateList.h"
#include "client/ui/rdclientDlg.h"
#include "platform/MessageBox.h"

namespace rd::client {

using namespace ids;

namespace {

void ShowBox(const ui::BoxMessage& box) {
  MessageIcon icon = MessageIcon::kStop;
  if (box.icon == ui::BoxIcon::kExclamation) icon = MessageIcon::kExclamation;
  if (box.icon == ui::BoxIcon::kInformation) icon = MessageIcon::kInformation;
  if (box.icon == ui::BoxIcon::kQuestion) icon = MessageIcon::kQuestion;
  ShowMessage(box.caption, box.text, icon);
}

Qt::CheckState Check(bool on) {
  return on ? Qt::Checked : Qt::Unchecked;
}

// The keyboard: every panel command has a shortcut (a mnemonic without an
// underline, so the buttons keep their texts), listed in its tooltip. A
// shortcut works only while its control is shown and enabled; Space presses
// the focused button.
struct PanelKey {
  int id;
  QKeyCombination key;
  const char* tip;
};
const PanelKey kPanelKeys[] = {
    {kConnect, Qt::ALT | Qt::Key_C, "Connect to the DVR or disconnect"},
    {kDvrRec, Qt::ALT | Qt::Key_R, "Start recording on the DVR"},
    {kDvrStop, Qt::ALT | Qt::Key_S, "Stop the DVR's recording or playback"},
    {kDvrPlay, Qt::ALT | Qt::Key_P, "Play the DVR's recording"},
    {kDvrRew, Qt::ALT | Qt::Key_W, "Rewind the DVR's playback"},
    {kDvrPause, Qt::ALT | Qt::Key_U, "Pause the DVR's playback"},
    {kDvrFf, Qt::ALT | Qt::Key_F, "Fast forward the DVR's playback"},
    {kLocalRec, Qt::ALT | Qt::SHIFT | Qt::Key_R, "Record the stream into a local file"},
    {kLocalStop, Qt::ALT | Qt::SHIFT | Qt::Key_S, "Stop local recording or playback"},
    {kLocalPlayButton, Qt::ALT | Qt::SHIFT | Qt::Key_P,
     "Play a local recording; while it plays: normal speed"},
    {kLocalRew, Qt::ALT | Qt::SHIFT | Qt::Key_W, "Rewind the local playback; again: faster"},
    {kLocalPauseButton, Qt::ALT | Qt::SHIFT | Qt::Key_U, "Pause the local playback"},
    {kLocalFf, Qt::ALT | Qt::SHIFT | Qt::Key_F, "Fast forward the local playback; again: faster"},
    {kWideChannel[0], Qt::ALT | Qt::Key_1, "Show CH1 on the stream"},
    {kWideChannel[1], Qt::ALT | Qt::Key_2, "Show CH2 on the stream"},
    {kWideChannel[2], Qt::ALT | Qt::Key_3, "Show CH3 on the stream"},
    {kWideChannel[3], Qt::ALT | Qt::Key_4, "Show CH4 on the stream"},
    {kWideQuad, Qt::ALT | Qt::Key_Q, "The DVR's quad picture"},
    {kNarrowChannel[0], Qt::ALT | Qt::Key_1, "Show CH1 on the stream"},
    {kNarrowChannel[1], Qt::ALT | Qt::Key_2, "Show CH2 on the stream"},
    {kNarrowChannel[2], Qt::ALT | Qt::Key_3, "Show CH3 on the stream"},
    {kNarrowChannel[3], Qt::ALT | Qt::Key_4, "Show CH4 on the stream"},
    {kNarrowQuad, Qt::ALT | Qt::Key_Q, "The DVR's quad picture"},
    {kMute, Qt::ALT | Qt::Key_M, "Mute the audio"},
    {kAutoAdjust, Qt::ALT | Qt::Key_A, "Adapt the stream's frame rate to the network"},
};
// Controls the keyboard reaches by focus (arrow keys then choose).
const PanelKey kFocusKeys[] = {
    {kFrameRateList, Qt::ALT | Qt::Key_L, "Stream frame rate"},
    {kVolumeSlider, Qt::ALT | Qt::Key_V, "Volume (top = loud)"},
};

// Local recordings go to stream_files/ in the working folder (the one the
// configuration file is in), where the local PLAY question starts.
std::filesystem::path StreamFiles(const std::string& config_dir) {
  const std::filesystem::path work =
      config_dir.empty() ? std::filesystem::current_path() : std::filesystem::path(config_dir);
  return work / "stream_files";
}

QString TipWithKey(const PanelKey& k) {
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(k.tip),
                                       QKeySequence(k.key).toString(QKeySequence::NativeText));
}

}  // namespace

// ------------------------------------------------------------------ set-up

void RdclientDlg::SetUpPanels() {
  main_.SetRecordingDirectory(StreamFiles(options_.config_dir).string());

  auto on_click = [this](int id, auto handler) {
    connect(controls_.Button(id), &QAbstractButton::clicked, this, handler);
  };
  auto dvr = [this](panels::DvrCommand (panels::DvrControl::*press)(uint8_t, bool)) {
    return [this, press] { RunDvrCommand((dvr_control_.*press)(main_.DvrMode(), Muted())); };
  };
  on_click(kDvrRec, [this] { RunDvrCommand(dvr_control_.Rec(main_.DvrMode())); });
  on_click(kDvrPlay, dvr(&panels::DvrControl::Play));
  on_click(kDvrStop, dvr(&panels::DvrControl::Stop));
  on_click(kDvrPause, [this] { RunDvrCommand(dvr_control_.Pause()); });
  on_click(kDvrFf, [this] { RunDvrCommand(dvr_control_.FastForward()); });
  on_click(kDvrRew, [this] { RunDvrCommand(dvr_control_.Rewind()); });
  for (int i = 0; i < 4; ++i) {
    on_click(kWideChannel[i], [this, i] { OnChannelButton(i, false); });
    on_click(kNarrowChannel[i], [this, i] { OnChannelButton(i, true); });
  }
  on_click(kWideQuad, [this] { OnQuadButton(); });
  on_click(kNarrowQuad, [this] { OnQuadButton(); });
  connect(controls_.Combo(kFrameRateList), &QComboBox::activated, this,
          &RdclientDlg::OnFrameRateChosen);
  connect(controls_.Get<QCheckBox>(kAutoAdjust), &QCheckBox::clicked, this,
          [this](bool on) { main_.SetAutoAdjust(on); });
  on_click(kMute, [this] {
    stream_start_muted_ = false;  // the user's choice from now on
    ApplyMute();
  });
  on_click(kLocalRec, [this] { OnLocalRec(); });
  on_click(kLocalPlayButton, [this] { OnLocalPlay(); });
  on_click(kLocalStop, [this] { OnLocalStop(); });
  for (int id : {kLocalFf, kLocalPauseButton, kLocalRew})
    on_click(id, [this, id] { OnLocalSpeed(id); });

  for (const PanelKey& k : kPanelKeys) {
    controls_.Button(k.id)->setShortcut(QKeySequence(k.key));
    controls_.Widget(k.id)->setToolTip(TipWithKey(k));
  }
  for (const PanelKey& k : kFocusKeys) {
    QWidget* target = controls_.Widget(k.id);
    auto* key = new QShortcut(QKeySequence(k.key), this);
    connect(key, &QShortcut::activated, target,
            [target] { target->setFocus(Qt::ShortcutFocusReason); });
    target->setToolTip(TipWithKey(k));
  }
  video_->setToolTip(QStringLiteral("Full screen (F11)"));
}

// ------------------------------------------------------------------ shared steps

// Wide buttons without audio, narrow ones with the Volume group beside them.
void RdclientDlg::SelectChannelLayout(bool audio, bool remember) {
  for (int i = 0; i < 4; ++i) {
    controls_.SetVisible(kNarrowChannel[i], audio);
    controls_.SetVisible(kWideChannel[i], !audio);
  }
  controls_.SetVisible(kNarrowQuad, audio);
  controls_.SetVisible(kWideQuad, !audio);
  controls_.SetVisible(kNarrowGroup, audio);
  controls_.SetVisible(kWideGroup, !audio);
  for (int id : {kVolumeGroup, kVolumeText, kVolumeSlider, kMute}) controls_.SetVisible(id, audio);
  if (remember) audio_layout_ = audio;
}

// The DVR display without a connection.
void RdclientDlg::ResetDvrDisplay() {
  SelectChannelLayout(false, true);
  for (int id : kDvrBanners) controls_.SetVisible(id, id == kBannerNoInfo);
  controls_.SetVisible(kDvrRecLampDark, true);
  controls_.SetVisible(kDvrRecLampLit, false);
  for (int id : kDvrButtons) controls_.SetEnabled(id, false);
  ShowChannelView(panels::ChannelView{});
}

bool RdclientDlg::Muted() const {
  return controls_.Get<QCheckBox>(kMute)->isChecked();
}

// The audio output follows the Mute check box, and so does the stream's
// audio while the DVR is connected and no local recording plays.
void RdclientDlg::ApplyMute() {
  const bool muted = Muted();
  main_.SetMute(muted);
  if (main_.IsSessionConnected() && local_mode_ != panels::kLocalModePlayback)
    main_.SetAudioEnabled(!muted);
}

// Timer 160: the slider (0 at the top = loud) sets the volume.
void RdclientDlg::PollVolume() {
  const int p = controls_.Slider(kVolumeSlider)->value();
  if (p == volume_position_) return;
  volume_position_ = static_cast<uint16_t>(p);
  controls_.SetText(kVolumeText, QString::fromStdString(panels::VolumeText(p)));
  main_.SetVolume(100 - p);
}

// ------------------------------------------------------------------ DVR status and control

// Timer 5 and 0x435.
void RdclientDlg::RefreshDvrStatusDisplay() {
  if (!stream_connected_) return;
  video_mode_text_ = main_.VideoStandard() != 0 ? QStringLiteral("PAL") : QStringLiteral("NTSC");
  controls_.SetText(kVideoMode, video_mode_text_);
  controls_.SetVisible(kBannerConnected, true);
  controls_.SetVisible(kBannerNotConnected, false);
  const panels::DvrModeView v =
      panels::DvrModeDisplay(main_.DvrMode(), main_.PlaySpeed(), dvr_blink_);
  for (int id : kDvrBanners) controls_.SetVisible(id, id == v.banner);
  controls_.SetVisible(kDvrRecLampLit, v.lamp_lit);
  controls_.SetVisible(kDvrRecLampDark, !v.lamp_lit);
}

// Timer 3, after the engine's tick and the blink flip: the REC/PLAY watchdog.
void RdclientDlg::SecondTickPanels() {
  const bool rec_or_stop =
      controls_.Widget(kDvrRec)->isEnabled() || controls_.Widget(kDvrStop)->isEnabled();
  if (dvr_control_.WatchdogTick(rec_or_stop)) main_.RequestStatus();
}

void RdclientDlg::ShowDvrButtons(const panels::DvrButtons& b) {
  controls_.SetEnabled(kDvrRec, b.rec);
  controls_.SetEnabled(kDvrPlay, b.play);
  controls_.SetEnabled(kDvrStop, b.stop);
  controls_.SetEnabled(kDvrPause, b.pause);
  controls_.SetEnabled(kDvrRew, b.rew);
  controls_.SetEnabled(kDvrFf, b.ff);
}

// 0x463. A status posted before a teardown must not bring the buttons of the
// lost connection back.
void RdclientDlg::OnDvrStatus() {
  if (!main_.IsSessionConnected()) return;
  if (auto b = dvr_control_.ButtonsForMode(main_.DvrMode())) ShowDvrButtons(*b);
}

void RdclientDlg::RunDvrCommand(const panels::DvrCommand& c) {
  for (int id : c.disable) controls_.SetEnabled(id, false);
  for (int id : c.enable) controls_.SetEnabled(id, true);
  if (c.box) ShowBox(*c.box);
  using enum panels::DvrOp;
  for (panels::DvrOp op : c.ops) {
    switch (op) {
      case kRequestStatus:
        main_.RequestStatus();
        break;
      case kStartRecording:
        main_.StartRecording();
        break;
      case kStopRecording:
        main_.StopRecording();
        break;
      case kRequestEventList:
        main_.RequestEventList();
        break;
      case kPlayDvr:
        main_.PlayDvr();
        break;
      case kStopDvrPlay:
        main_.StopDvrPlay();
        break;
      case kPauseDvr:
        main_.PauseDvr();
        break;
      case kFastForwardDvr:
        main_.FastForwardDvr();
        break;
      case kRewindDvr:
        main_.RewindDvr();
        break;
      case kAudioOn:
        main_.SetAudioEnabled(true);
        main_.SetMute(false);
        break;
      case kAudioOff:
        main_.SetMute(true);
        main_.SetAudioEnabled(false);
        break;
    }
  }
}

// 0x436: the event list a PLAY in VIEW mode asked for, into the play dialog.
void RdclientDlg::OnEventListDone() {
  std::vector<EventRecord> events;
  const bool valid = main_.EventList(&events);
  switch (dvr_control_.EventListDone(valid)) {
    case panels::DvrControl::ListStep::kIgnore:
      return;
    case panels::DvrControl::ListStep::kSearchError:
      ShowBox(panels::PlaySearchErrorBox());
      break;
    case panels::DvrControl::ListStep::kChoosePlay: {
      ui::PlayChoice choice;
      if (options_.dialogs != nullptr && options_.dialogs->ChoosePlay(*this, events, &choice)) {
        if (choice.timed)
          main_.PlayDvrFrom(choice.disk, choice.start);
        else
          main_.PlayDvrEvent(choice.disk, choice.event_id);
      } else if (auto b = dvr_control_.ButtonsForMode(main_.DvrMode())) {
        ShowDvrButtons(*b);
      }
      break;
    }
  }
  dvr_control_.PlaySearchEnded();
}

// ------------------------------------------------------------------ channels and frame rate

// Both layouts' buttons are kept in step: the wide ones tell the state.
panels::ChannelView RdclientDlg::ReadChannelView() const {
  auto row = [this](int button, int on_air, int lit) {
    return panels::ChannelRow{controls_.Widget(button)->isEnabled(),
                              controls_.PushCheck(button)->checkState() == Qt::Checked,
                              !controls_.Widget(on_air)->isHidden(),
                              !controls_.Widget(lit)->isHidden()};
  };
  panels::ChannelView v;
  for (int i = 0; i < 4; ++i) v.channel[i] = row(kWideChannel[i], kOnAirLamp[i], kLitDot[i]);
  v.quad = row(kWideQuad, kOnAirLampQuad, kLitDotQuad);
  return v;
}

void RdclientDlg::ShowChannelView(const panels::ChannelView& v) {
  auto show = [this](const panels::ChannelRow& r, int wide, int narrow, int on_air, int off,
                     int lit, int dark) {
    for (int id : {wide, narrow}) {
      controls_.SetEnabled(id, r.enabled);
      controls_.PushCheck(id)->setCheckState(Check(r.checked));
    }
    controls_.SetVisible(on_air, r.on_air);
    controls_.SetVisible(off, !r.on_air);
    controls_.SetVisible(lit, r.lit);
    controls_.SetVisible(dark, !r.lit);
  };
  for (int i = 0; i < 4; ++i)
    show(v.channel[i], kWideChannel[i], kNarrowChannel[i], kOnAirLamp[i], kOffLamp[i], kLitDot[i],
         kDarkDot[i]);
  show(v.quad, kWideQuad, kNarrowQuad, kOnAirLampQuad, kOffLampQuad, kLitDotQuad, kDarkDotQuad);
}

// 0x433: the stream's channels changed (the flags travel in the message).
void RdclientDlg::OnChannelsPresent(intptr_t packed) {
  if (!stream_connected_) return;
  channels_present_ = rcmsg::UnpackChannels(packed);
  panels::ChannelView v = ReadChannelView();
  panels::ApplyChannelsPresent(v, channels_present_, channels_wanted_);
  ShowChannelView(v);
}

// 0x434: the channel rows and the frame-rate list from the session's state.
void RdclientDlg::OnRefreshDisplay() {
  if (!main_.HasSession()) return;
  channels_wanted_ = main_.StreamChannelsWanted();
  channels_present_ = main_.ChannelsPresent();
  channels_shown_ = main_.StreamChannelsShown();
  panels::ChannelView v = ReadChannelView();
  panels::ApplyChannelRefresh(v, channels_present_, channels_shown_);
  ShowChannelView(v);

  const panels::FrameRateList list = panels::BuildFrameRateList(
      {main_.VideoStandard(), main_.RecordFrameRate(), main_.StreamFrameInterval(), main_.DvrMode(),
       channels_present_, channels_shown_});
  QComboBox* rates = controls_.Combo(kFrameRateList);
  bool same = rates->count() == static_cast<int>(list.items.size());
  for (int i = 0; same && i < rates->count(); ++i)
    same = rates->itemText(i).toStdString() == list.items[static_cast<std::size_t>(i)];
  // An unchanged list is not rebuilt, so an open drop-down stays as it is.
  if (!same) {
    rates->clear();
    for (const std::string& item : list.items) rates->addItem(QString::fromStdString(item));
  }
  rates->setCurrentIndex(list.selected);
}

// A channel button of either layout: the clicked layout's states go to the
// other one and to the stream filter; the last checked channel stays.
void RdclientDlg::OnChannelButton(int channel, bool narrow) {
  if (!stream_connected_) return;
  const int* clicked = narrow ? kNarrowChannel : kWideChannel;
  const int* other = narrow ? kWideChannel : kNarrowChannel;
  std::array<bool, 4> checks{};
  for (int i = 0; i < 4; ++i) {
    const Qt::CheckState state = controls_.PushCheck(clicked[i])->checkState();
    checks[static_cast<std::size_t>(i)] = state == Qt::Checked;
    controls_.PushCheck(other[i])->setCheckState(state);
  }
  const std::optional<ChannelDisplayState> wanted = panels::ChannelClick(checks);
  if (!wanted) {
    controls_.PushCheck(kWideChannel[channel])->setCheckState(Qt::Checked);
    controls_.PushCheck(kNarrowChannel[channel])->setCheckState(Qt::Checked);
    return;
  }
  main_.SetChannelFilter(&*wanted, nullptr);  // the rows follow at 0x434
}

// The Quad buttons show that the stream carries the DVR's quad picture; a
// click changes nothing.
void RdclientDlg::OnQuadButton() {
  controls_.PushCheck(kWideQuad)->setCheckState(Qt::Checked);
  controls_.PushCheck(kNarrowQuad)->setCheckState(Qt::Checked);
}

void RdclientDlg::OnFrameRateChosen(int index) {
  if (auto code = panels::IntervalAt(main_.VideoStandard(), index)) main_.SetFrameInterval(*code);
}

// 0x4F0: frames and megabits received in the last second.
void RdclientDlg::OnSecondTickTexts() {
  uint32_t last = 0, max = 0, min = 0;
  float average = 0;
  main_.Stats().GetFrameRate(&last, &max, &min, &average);
  controls_.SetText(kFrameRate, QString::asprintf("%d fps", static_cast<int>(last)));
  main_.Stats().GetSpeed(&last, &max, &min, &average);
  controls_.SetText(kSpeed, QString::asprintf("%.2f Mbps", last / 131072.0));
}

// ------------------------------------------------------------------ audio

void RdclientDlg::SetVolumeControls(bool enabled) {
  for (int id : {kVolumeGroup, kVolumeText, kVolumeSlider, kMute})
    controls_.SetEnabled(id, enabled);
}

void RdclientDlg::ResetVolumeTo50(const QString& text) {
  volume_position_ = 50;
  main_.SetVolume(50);
  controls_.Slider(kVolumeSlider)->setValue(50);
  controls_.SetText(kVolumeText, text);
}

// 0x415: the DVR's audio capability chooses the channel layout.
void RdclientDlg::OnAudioAvailable(bool available) {
  SelectChannelLayout(available, true);
  SetVolumeControls(available);
  if (!available) controls_.SetText(kVolumeText, QStringLiteral("50%"));
}

bool RdclientDlg::HandlePanelMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case rcmsg::kAudioState:
      // A stream that started muted stays muted: the state reported at the
      // session's open may have been read before that mute was queued.
      controls_.Get<QCheckBox>(kMute)->setChecked(wparam == 0 || stream_start_muted_);
      stream_start_muted_ = false;
      ApplyMute();
      return true;
    case rcmsg::kAudioAvailable:
      OnAudioAvailable(wparam != 0);
      return true;
    case rcmsg::kLocalAudioPlayed:
      SelectChannelLayout(true, false);
      return true;
    case rcmsg::kAskMute:
      if (lparam != 0) *reinterpret_cast<uint8_t*>(lparam) = Muted() ? 16 : 0;
      return true;
    case rcmsg::kChannelsPresent:
      OnChannelsPresent(lparam);
      return true;
    case rcmsg::kRefreshDisplay:
      OnRefreshDisplay();
      return true;
    case rcmsg::kDvrInfoChanged:
      RefreshDvrStatusDisplay();
      return true;
    case rcmsg::kEventListDone:
      OnEventListDone();
      return true;
    case rcmsg::kDvrStatus:
      OnDvrStatus();
      return true;
    case rcmsg::kSecondTick:
      OnSecondTickTexts();
      return true;
    case rcmsg::kRecordCreateError:
      ShowMessage("Local Recording Stop", "File Creation Error.\nLocal stream capturing stop.",
                  MessageIcon::kStop);
      return true;
    case rcmsg::kRecordWriteError:
      ShowMessage("Local Recording Stop", "File Writing Error.\nLocal stream capturing stop.",
                  MessageIcon::kStop);
      return true;
    case rcmsg::kLocalPlayStopped:
      OnLocalPlayStopped();
      return true;
    default:
      return false;
  }
}

// ------------------------------------------------------------------ local recording and playback

void RdclientDlg::ShowLocalButtons(const panels::LocalButtons& b) {
  auto set = [this](int id, std::optional<bool> on) {
    if (on) controls_.SetEnabled(id, *on);
  };
  set(kConnect, b.connect);
  set(kCloseWindow, b.close_window);
  set(kLocalRec, b.rec);
  set(kLocalStop, b.stop);
  set(kLocalPlayButton, b.play);
  set(kLocalRew, b.rew);
  set(kLocalPauseButton, b.pause);
  set(kLocalFf, b.ff);
}

void RdclientDlg::OnLocalRec() {
  if (main_.StartLocalRecording() != 0) {
    ShowMessage("Record Error", "Cannot Start Recording.", MessageIcon::kStop);
    return;
  }
  local_mode_ = panels::kLocalModeRecording;
  ShowLocalButtons(panels::LocalRecordingStarted());
}

void RdclientDlg::OnLocalPlay() {
  if (main_.LocalPlaybackActive()) {
    main_.LocalPlay();
    ShowLocalButtons(panels::LocalPlaybackResumed());
    main_.SetMute(Muted());  // each local command reopens the audio output enabled
    return;
  }
  const QString path = options_.files->OpenFileName(
      this, QStringLiteral("*.mys"), QStringLiteral("mys"),
      QString::fromStdString(StreamFiles(options_.config_dir).string()));
  if (path.isEmpty()) return;
  if (main_.StartLocalPlayback(path.toStdString()) != 0) {
    // Nothing plays: the audio and the Mute state stay those of the live view.
    main_.SetMute(Muted());
    ShowMessage("Play Error", "Cannot Start Playing.", MessageIcon::kStop);
    return;
  }
  main_.FlushAudio();
  local_mode_ = panels::kLocalModePlayback;
  ShowLocalButtons(panels::LocalPlaybackStarted());
  // A local recording plays with its sound; the live view's Mute comes back at STOP.
  saved_mute_ = Muted();
  controls_.Get<QCheckBox>(kMute)->setChecked(false);
  main_.SetMute(false);
  SetVolumeControls(true);
}

// FF, PAUSE, REW while a local recording plays.
void RdclientDlg::OnLocalSpeed(int button) {
  if (!main_.LocalPlaybackActive()) return;
  main_.FlushAudio();
  if (button == kLocalFf)
    main_.LocalFastForward();
  else if (button == kLocalPauseButton)
    main_.LocalPause();
  else
    main_.LocalRewind();
  ShowLocalButtons(panels::LocalSpeedChanged());
  main_.SetMute(Muted());
}

void RdclientDlg::OnLocalStop() {
  if (local_mode_ == panels::kLocalModeRecording) {
    local_mode_ = panels::kLocalModeIdle;
    main_.StopLocalRecording();
    ShowLocalButtons(panels::LocalRecordingStopped(stream_connected_));
    if (!main_.IsSessionConnected()) controls_.SetEnabled(kMute, false);
    return;
  }
  if (local_mode_ != panels::kLocalModePlayback) return;
  local_mode_ = panels::kLocalModeIdle;
  main_.StopLocalPlayback();  // 0x450 is handled inside
  const bool control_up = main_.IsSessionConnected();
  ShowLocalButtons(panels::LocalPlaybackStopped(control_up));
  // The volume controls as the live view has them.
  const bool audio = control_up && main_.AudioAvailable() != 0;
  SetVolumeControls(audio);
  if (!control_up)
    ResetVolumeTo50(QStringLiteral("N/A"));
  else if (!audio)
    ResetVolumeTo50(QStringLiteral("50%"));
  controls_.Get<QCheckBox>(kMute)->setChecked(saved_mute_);
  ApplyMute();
}

// 0x450: the local player stopped.
void RdclientDlg::OnLocalPlayStopped() {
  if (local_mode_ == panels::kLocalModePlayback) local_mode_ = panels::kLocalModeIdle;
  ShowLocalButtons(panels::LocalPlayerEnded(stream_connected_));
  controls_.SetText(kLocalPlayButton, QStringLiteral("PLAY"));
  SelectChannelLayout(audio_layout_, true);
  for (int id : kLocalBanners) controls_.SetVisible(id, id == kLocalNotActivated);
}

// Timer 16.
void RdclientDlg::RefreshLocalBanners() {
  const panels::LocalBannerView v =
      panels::LocalBanners(local_mode_, main_.LocalPlayerState(), local_blink_);
  controls_.SetVisible(kLocalRecLampLit, v.red_lit);
  controls_.SetVisible(kLocalRecLampDark, !v.red_lit);
  controls_.SetVisible(kLocalPlayLampLit, v.green_lit);
  controls_.SetVisible(kLocalPlayLampDark, !v.green_lit);
  if (v.banner)
    for (int id : kLocalBanners) controls_.SetVisible(id, id == *v.banner);
}

}  // namespace rd::client
