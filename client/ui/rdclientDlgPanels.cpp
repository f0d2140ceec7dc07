// The main window's panels: what the window's own sequences (initialisation,
// connection, teardown) need of them. The panels' live behaviour (the DVR
// status banner, the DVR control and channel buttons and their mode rules,
// the frame-rate list, local recording and playback) is added here.

#include <QCheckBox>
#include <QSlider>

#include "client/ui/rdclientDlg.h"

namespace rd::client {

using namespace ids;

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
  SelectChannelLayout(false, false);
  for (int id : kDvrBanners) controls_.SetVisible(id, id == kBannerNoInfo);
  controls_.SetVisible(kDvrRecLampDark, true);
  controls_.SetVisible(kDvrRecLampLit, false);
  for (int id : kDvrButtons) controls_.SetEnabled(id, false);
  for (int i = 0; i < 4; ++i) {
    for (int id : {kWideChannel[i], kNarrowChannel[i]}) {
      controls_.PushCheck(id)->setCheckState(Qt::Unchecked);
      controls_.SetEnabled(id, false);
    }
    controls_.SetVisible(kOnAirLamp[i], false);
    controls_.SetVisible(kOffLamp[i], true);
    controls_.SetVisible(kLitDot[i], false);
    controls_.SetVisible(kDarkDot[i], true);
  }
  for (int id : {kWideQuad, kNarrowQuad}) {
    controls_.PushCheck(id)->setCheckState(Qt::Unchecked);
    controls_.SetEnabled(id, false);
  }
  controls_.SetVisible(kOnAirLampQuad, false);
  controls_.SetVisible(kOffLampQuad, true);
  controls_.SetVisible(kLitDotQuad, false);
  controls_.SetVisible(kDarkDotQuad, true);
}

// The audio output follows the Mute check box.
void RdclientDlg::ApplyMute() {
  main_.SetMute(controls_.Get<QCheckBox>(kMute)->isChecked());
}

// Timer 160: the slider (0 at the top = loud) sets the volume.
void RdclientDlg::PollVolume() {
  const int p = controls_.Slider(kVolumeSlider)->value();
  if (p == volume_position_) return;
  volume_position_ = static_cast<uint16_t>(p);
  controls_.SetText(kVolumeText, QString::asprintf("%2u %%", unsigned(100 - p)));
  main_.SetVolume(100 - p);
}

void RdclientDlg::RefreshDvrStatusDisplay() {}

void RdclientDlg::RefreshLocalBanners() {}

void RdclientDlg::SecondTickPanels() {}

bool RdclientDlg::HandlePanelMessage(uint32_t message, uintptr_t, intptr_t lparam) {
  if (message == rcmsg::kAskMute && lparam != 0) {
    *reinterpret_cast<uint8_t*>(lparam) = controls_.Get<QCheckBox>(kMute)->isChecked() ? 16 : 0;
    return true;
  }
  return false;
}

void RdclientDlg::ConnectPanelCommands() {
  connect(controls_.Get<QCheckBox>(kMute), &QCheckBox::clicked, this, [this] { ApplyMute(); });
}

}  // namespace rd::client
