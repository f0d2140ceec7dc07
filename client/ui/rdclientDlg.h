#pragma once
// RdclientDlg: the client's main window. On the left the video area, on the
// right the connection, DVR management and capture-and-play panels; a menu
// bar of five direct commands. It owns the control main, registers with it as
// window 0 and learns everything through the window messages it posts or
// sends; commands go to the control main's operations. Everything runs on the
// user-interface thread.
//
// Files: rdclientDlg.cpp (initialisation, connection, teardown, menu
// commands, closing), rdclientDlgLayout.cpp (the control table),
// rdclientDlgPanels.cpp (the panels' live behaviour: DVR status, DVR control
// and channel buttons, volume, local recording and playback).

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/engine/rcctrlmain.h"
#include "client/ui/ConnectionDisplay.h"
#include "client/ui/models/PlayDialogModel.h"
#include "client/ui/panels/ChannelPanel.h"
#include "client/ui/panels/DvrPanel.h"
#include "client/ui/panels/LocalPanel.h"
#include "client/ui/rdclientIds.h"
#include "shared/avi/AviWriter.h"
#include "ui/ControlTable.h"
#include "ui/FileChooser.h"
#include "ui/VideoWidget.h"
#include "ui/WindowPort.h"
#include "ui/WindowTimers.h"

class QAction;
class QMenuBar;

namespace rd::client {

class RdclientDlg;

// The dialogs the menu commands open. Until a dialog exists its command does
// nothing (a null result).
class ClientDialogs {
 public:
  virtual ~ClientDialogs() = default;
  // Modeless, shown by the caller. The DVR management dialog posts 0x461 to
  // the main window's port when it has closed (the window then deletes it);
  // the statistics dialog posts 0x462 and deletes itself.
  virtual QDialog* CreateDvrManagement(RdclientDlg& owner, RcCtrlMain& main) = 0;
  virtual QDialog* CreateStatistics(RdclientDlg& owner, RcCtrlMain& main) = 0;
  // Modal display colour choice: true on OK with *true_colour the choice.
  virtual bool ChooseColours(RdclientDlg& owner, bool currently_true_colour, bool* true_colour) = 0;
  // Modal DVR play dialog over the DVR's event list (newest first): true on
  // OK with *choice the timed or event play to start. Without the dialog the
  // play search ends as if it was cancelled.
  virtual bool ChoosePlay(RdclientDlg& owner, const std::vector<EventRecord>& events,
                          ui::PlayChoice* choice) {
    (void)owner;
    (void)events;
    (void)choice;
    return false;
  }
};

class RdclientDlg : public QDialog {
 public:
  struct Options {
    uint16_t control_port = RcCtrlMain::kControlPort;
    uint16_t stream_port = RcCtrlMain::kStreamPort;
    std::string config_dir;  // where config/ is; empty: the current directory
    ClientDialogs* dialogs = nullptr;
    ui::FileChooser* files = nullptr;          // null: the toolkit's file dialog
    CompressorChooser* compressors = nullptr;  // null: the compressor dialog
  };

  explicit RdclientDlg(Options options, QWidget* parent = nullptr);
  ~RdclientDlg() override;

  RcCtrlMain& Main() { return main_; }
  // The window's side of the window messages (modeless dialogs post to it).
  RcWindow& Port() { return port_; }
  const ui::ControlSet& Controls() const { return controls_; }
  ui::VideoWidget* Video() const { return video_; }
  QWidget* ClientArea() const { return client_; }
  QAction* MenuAction(int id) const;
  const ConnectionDisplay& Display() const { return display_; }
  bool SlowConnect() const { return slow_connect_; }
  bool StreamConnected() const { return stream_connected_; }
  QDialog* DvrManagementDialog() const { return dvr_mgr_.data(); }
  QDialog* StatisticsDialog() const { return stat_.data(); }

  // Connects at once, as the Connect command does after its dialog.
  void ConnectTo(const std::string& address, const uint8_t digits[6]);
  // The commands (the buttons' and menu's handlers).
  void OnConnectButton();
  void OnMenu(int id);
  // Close Window, Escape, the title-bar close and SIGINT/SIGTERM.
  void CloseWindow();

  // The window message and timer handlers (also reachable directly by tests).
  void OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);
  void OnTimer(int id);

 protected:
  void reject() override;  // Escape and Close Window
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildWindow();
  void Initialise();
  void ApplyDisplay();
  void SetConnectButton(const QString& text);
  // The teardown of a connection event; `code` 7 shows no box.
  void Teardown(int code, intptr_t param);
  void DisableChannelButtons();
  void CloseModelessDialogs();
  void OnCtrlConnectResult(int error);
  void OnStreamConnectResult(int error);
  void SaveAsAvi();
  void Capture();
  void OpenDvrManagement();
  void OpenStatistics();
  void ColourSetup();
  void LayOutForSize();

  // --- panels (rdclientDlgPanels.cpp)
  void SelectChannelLayout(bool audio, bool remember);
  void ResetDvrDisplay();
  void ApplyMute();
  void PollVolume();
  void RefreshDvrStatusDisplay();
  void RefreshLocalBanners();
  void SecondTickPanels();
  bool HandlePanelMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);
  void SetUpPanels();
  bool Muted() const;
  void ShowDvrButtons(const panels::DvrButtons& buttons);
  void RunDvrCommand(const panels::DvrCommand& command);
  void OnDvrStatus();
  void OnEventListDone();
  panels::ChannelView ReadChannelView() const;
  void ShowChannelView(const panels::ChannelView& view);
  void OnChannelsPresent(intptr_t packed);
  void OnRefreshDisplay();
  void OnChannelButton(int channel, bool narrow);
  void OnQuadButton();
  void OnFrameRateChosen(int index);
  void OnSecondTickTexts();
  void OnAudioAvailable(bool available);
  void SetVolumeControls(bool enabled);
  void ResetVolumeTo50(const QString& text);
  void ShowLocalButtons(const panels::LocalButtons& buttons);
  void OnLocalRec();
  void OnLocalPlay();
  void OnLocalSpeed(int button);
  void OnLocalStop();
  void OnLocalPlayStopped();

  Options options_;
  RcCtrlMain main_;
  ui::WindowPort port_;
  ui::WindowTimers timers_;
  ui::ControlSet controls_;
  ConnectionDisplay display_;
  std::unique_ptr<ui::FileChooser> own_files_;
  std::unique_ptr<CompressorChooser> own_compressors_;
  QMenuBar* menu_ = nullptr;
  QWidget* client_ = nullptr;
  ui::VideoWidget* video_ = nullptr;
  class VideoTarget;
  std::unique_ptr<VideoTarget> video_target_;
  bool closing_ = false;
  bool closed_ = false;

  // --- window state
  int registry_number_ = 0;
  bool stream_connected_ = false;
  // A pending REC command, a pending PLAY search and the REC/PLAY watchdog.
  panels::DvrControl dvr_control_;
  uint8_t local_mode_ = 0;  // 0 idle, 1 local playback, 2 local recording
  bool slow_connect_ = false;
  ChannelDisplayState channels_present_;
  ChannelDisplayState channels_wanted_;
  ChannelDisplayState channels_shown_;
  bool dvr_blink_ = false;
  bool local_blink_ = false;
  QPointer<QDialog> stat_;
  bool stat_shown_ = false;
  QPointer<QDialog> dvr_mgr_;
  bool dvr_mgr_shown_ = false;
  uint16_t volume_position_ = 0;
  bool saved_mute_ = false;
  // Set when a new stream starts muted, until the session's first audio
  // state (0x414): that state may have been read before the mute was queued.
  bool stream_start_muted_ = false;
  bool audio_layout_ = false;  // false wide (no audio), true narrow (audio)
  QString video_mode_text_ = QStringLiteral("N/A");
  QString last_avi_path_;
};

}  // namespace rd::client
