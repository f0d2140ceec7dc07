#pragma once
// RdplayerDlg: the player's main window. The video picture on top, the
// position over the recorded span below it, and a row of picture buttons:
// the channels, the transport (previous frame, reverse, pause, play, next
// frame, stop), speed, search, HDD, capture and AVI; besides them "Open
// Image...", the previous and next event, and the clip export (mark in, mark
// out, export). The window owns the playback engine and drives it with its
// timers (the audio tick every 500 ms, the repaint every 33 ms); the engine's
// reports come from its threads and are queued to the user-interface thread.
//
// Files: rdplayerDlg.cpp (set-up, the disk flows, commands, closing),
// rdplayerDlgLayout.cpp (the control table), rdplayerDlgExport.cpp (capture,
// AVI, clip export and their reports).

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/PlaybackEngine.h"
#include "player/playback/PlaybackSinks.h"
#include "player/ui/SearchTime.h"
#include "player/ui/models/PlayerControls.h"
#include "shared/audio/AudioOutput.h"
#include "shared/avi/AviWriter.h"
#include "ui/ControlTable.h"
#include "ui/FileChooser.h"
#include "ui/VideoWidget.h"
#include "ui/WindowTimers.h"

class QSlider;

namespace rd::player {

// The three dialogs of the disk flows; the defaults run the real ones.
class PlayerDialogs {
 public:
  virtual ~PlayerDialogs() = default;
  // Shows the wait dialog while `work` runs on a worker thread, joined.
  virtual void Wait(QWidget* parent, const std::function<void()>& work);
  // The drive chosen, or nothing (Esc).
  virtual std::optional<int> SelectHdd(QWidget* parent, const DiskTable& table);
  // The time to play from, or nothing (Cancel).
  virtual std::optional<RecTime> SearchTime(QWidget* parent,
                                            const std::optional<RecordingSpan>& span,
                                            const SearchTimeDialog::EventSource& events);
};

class RdplayerDlg : public QDialog {
 public:
  struct Options {
    DeviceOpener opener = OpenSectorDevice;
    std::optional<DriveMap> drives;            // null: RD_DRIVES or /sys/block, at the scan
    PlayerDialogs* dialogs = nullptr;          // null: the real dialogs
    ui::FileChooser* files = nullptr;          // null: the toolkit's file dialogs
    CompressorChooser* compressors = nullptr;  // null: the compressor dialog
    PlaybackTrace* trace = nullptr;            // null: RD_PLAYER_TRACE
    PlaybackAudioSink* audio = nullptr;        // null: the sound device
    bool network = false;                      // "Network version" checked at start
  };

  // The disk open now.
  struct OpenDisk {
    std::string path;
    uint64_t marker = 0;
    uint64_t area_sectors = 0;
    bool network = false;
    RecordingSpan span;
    std::vector<DiskEvent> events;  // by start time
  };

  // A frame marked for the clip export.
  struct Mark {
    RecTime time;
    uint64_t packet_position = 0;
  };

  explicit RdplayerDlg(Options options, QWidget* parent = nullptr);
  ~RdplayerDlg() override;

  // ---- Commands
  // A control as a click (or its key) gives it; nothing when it is disabled.
  void Press(int id);
  // Opens a disk image or device directly (the command line, "Open
  // Image..."): without `time` the Search Time dialog asks.
  void OpenPath(const std::string& path, std::optional<RecTime> time = std::nullopt);
  // Drive N of the drive map, directly.
  void OpenDrive(int drive, std::optional<RecTime> time = std::nullopt);
  // Jumps to a place of the position control (0 .. its maximum).
  void SeekTo(int value);
  // The title-bar close, SIGINT and SIGTERM: the ordered teardown.
  void CloseWindow();

  // ---- State (tests and diagnostics)
  PlaybackEngine* Engine() const { return engine_.get(); }
  const ui::ControlSet& Controls() const { return controls_; }
  const PlayerControls& Enabled() const { return enabled_; }
  ui::VideoWidget* Video() const { return video_; }
  QSlider* Position() const;
  QString SpeedCaption() const { return speed_caption_; }
  bool AviRecording() const { return avi_recording_; }
  const std::optional<OpenDisk>& Disk() const { return disk_open_; }
  const std::optional<Mark>& MarkedIn() const { return mark_in_; }
  const std::optional<Mark>& MarkedOut() const { return mark_out_; }
  int Scans() const { return scans_; }
  bool Closed() const { return closed_; }
  // The last export report written (empty: none yet).
  const std::string& LastReport() const { return last_report_; }

 protected:
  void reject() override;  // Esc never closes the player
  void closeEvent(QCloseEvent* event) override;

 private:
  class EngineView;

  void BuildWindow();
  void SetUpEngine();
  void Apply();  // the enable table into the widgets
  void OnTimer(int id);
  void UpdatePosition();
  void SetSpeedPicture();
  void SetAviButton();
  void ShowMarks();

  // The disk flows (rdplayerDlg.cpp).
  void OpenHdd();
  void OpenImageCommand();
  void OpenChosen(const std::string& path, uint64_t marker, std::optional<RecTime> time);
  void NoDisk(const std::string& path, const char* message);
  void Search();
  void StartAt(uint64_t position);
  void JumpToEvent(bool next);
  std::optional<RecTime> AskTime();
  bool FindPosition(const RecTime& time, uint64_t* position);

  // Exports (rdplayerDlgExport.cpp).
  void Capture();
  void ToggleAvi();
  void FinishAvi();
  void SetMark(bool in);
  void ExportClip();
  void WriteReport(const std::string& kind, const std::vector<std::string>& files,
                   const std::optional<Mark>& first, const std::optional<Mark>& last,
                   uint64_t frames, uint64_t audio_packets, const std::string& note,
                   const std::string& report_path);
  void NoteAviFrames();

  // Teardown.
  void Teardown();
  bool Busy() const { return busy_ > 0; }

  Options options_;
  std::unique_ptr<PlayerDialogs> own_dialogs_;
  std::unique_ptr<ui::FileChooser> own_files_;
  std::unique_ptr<CompressorChooser> own_compressors_;
  std::unique_ptr<TraceFile> own_trace_;
  ui::WindowTimers timers_;
  ui::ControlSet controls_;
  PlayerControls enabled_;
  QWidget* client_ = nullptr;
  ui::VideoWidget* video_ = nullptr;
  DvrDisk disk_;
  std::optional<DriveMap> drives_;
  bool scanned_ = false;
  int scans_ = 0;
  std::optional<OpenDisk> disk_open_;
  uint64_t position_value_ = 0;  // whole chunks, kept from disk to disk
  uint64_t position_scale_ = 1;  // packets per step of the position control
  QString speed_caption_;

  // Engine and media (the view before the engine: the engine goes first).
  std::unique_ptr<EngineView> view_;
  AudioOutput audio_;
  std::unique_ptr<AudioOutputSink> audio_sink_;
  AviWriter avi_;
  AviWriterSink avi_sink_{avi_};
  std::unique_ptr<PlaybackEngine> engine_;

  // Exports.
  bool avi_recording_ = false;
  QString last_avi_path_;
  QString last_clip_path_;
  struct AviSpan {
    std::optional<OpenDisk> disk;
    std::optional<Mark> first, last;
    uint64_t seen_count = 0;
    uint64_t drawn = 0;
  } avi_span_;
  std::optional<Mark> mark_in_, mark_out_;
  std::atomic<bool> export_cancel_{false};
  std::string last_report_;

  bool paused_ = false;  // the last transport command was a Pause that stopped play
  int busy_ = 0;         // worker threads running under a nested loop (scan, clip export)
  bool closing_ = false;
  bool closed_ = false;
};

}  // namespace rd::player
