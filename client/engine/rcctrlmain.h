#pragma once
// RcCtrlMain: the one object through which the client's windows (and the
// headless client) drive the engine. It owns the control session, the stream
// receiver, the image handler, the local recorder and player, the audio
// output, the streaming statistics and the frame-interval adjuster; it is the
// EngineEvents sink of all of them and turns what they report into follow-up
// requests and window messages 0x401..0x4F0.
//
// Window messages: windows implement RcWindow. Post queues a message to the
// user-interface thread; Send is a direct call. RcCtrlMain sends directly only
// on the thread that constructed it (the user-interface thread); a message
// "sent" from a worker thread is posted instead, so a worker never blocks on
// the user-interface thread while that thread waits for the worker. A worker
// posts in the order the messages would reach a window that handles a sent
// message at once: a result that is "sent" is queued before the connection
// event that follows it.
//
// Posting happens under the window registry's lock and only queues, so once
// UnregisterWindow has returned no thread reaches that window any more.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/engine/rdcp/RdcpSession.h"
#include "client/engine/stream/RateAdjuster.h"
#include "client/engine/stream/StreamReceiver.h"
#include "client/engine/stream/StreamStats.h"
#include "client/events/EngineEvents.h"
#include "client/media/RcLocalPlayer.h"
#include "client/media/RcLocalRecorder.h"
#include "client/media/rcimghdlr.h"
#include "platform/RcWindow.h"
#include "shared/audio/AudioOutput.h"
#include "shared/audio/AudioOwner.h"
#include "shared/avi/AviWriter.h"

namespace rd {

// Private window messages.
namespace rcmsg {
inline constexpr uint32_t kConnectionEvent = 0x401;      // main, posted: code, param
inline constexpr uint32_t kCtrlConnecting = 0x411;       // all, sent: 0, address string (*)
inline constexpr uint32_t kCtrlConnectResult = 0x412;    // main, posted: error, 0
inline constexpr uint32_t kEventBroadcast = 0x413;       // all, posted: code, param; (255, 255)
inline constexpr uint32_t kAudioState = 0x414;           // main, sent: audio enabled, 0
inline constexpr uint32_t kAudioAvailable = 0x415;       // main, posted: available, 0
inline constexpr uint32_t kStreamConnecting = 0x430;     // all, sent: 0, PackAddress(address)
inline constexpr uint32_t kStreamConnectResult = 0x431;  // all, sent: error, 0
inline constexpr uint32_t kStreamClosed = 0x432;         // all, sent
inline constexpr uint32_t kChannelsPresent = 0x433;      // main, posted: 0, PackChannels(flags)
inline constexpr uint32_t kRefreshDisplay = 0x434;       // main, posted
inline constexpr uint32_t kDvrInfoChanged = 0x435;       // main, posted
inline constexpr uint32_t kEventListDone = 0x436;        // all, posted
inline constexpr uint32_t kRecordCreateError = 0x441;    // all, sent
inline constexpr uint32_t kRecordWriteError = 0x442;     // all, sent
inline constexpr uint32_t kLocalPlayStopped = 0x450;     // all, sent
inline constexpr uint32_t kSettingsRefreshed = 0x460;    // all, posted
inline constexpr uint32_t kDvrMgrDestroyed = 0x461;   // main, posted by the DVR management dialog
inline constexpr uint32_t kStatDestroyed = 0x462;     // main, posted by the statistics dialog
inline constexpr uint32_t kDvrStatus = 0x463;         // main, posted: audio enabled or 0
inline constexpr uint32_t kLocalAudioPlayed = 0x480;  // main, sent
inline constexpr uint32_t kAskMute = 0x490;           // main, sent: 0, uint8_t* (16 muted)
inline constexpr uint32_t kSecondTick = 0x4F0;        // all, sent
// (*) 0x411 is sent on the user-interface thread only: its string lives until
// the next Connect, so a handler reads it during the call.

// Posted messages carry values, never pointers into the engine: a posted
// message may be handled after the engine has changed the value again.
// 0x430: the dotted IPv4 address as a 32-bit number (first byte highest);
// 0 when the text is no dotted address.
intptr_t PackAddress(const std::string& dotted);
std::string AddressText(intptr_t packed);
// 0x433: bit 0 the quad flag, bits 1..4 CH1..CH4.
intptr_t PackChannels(const ChannelDisplayState& flags);
ChannelDisplayState UnpackChannels(intptr_t packed);
}  // namespace rcmsg

// Connection events (PostEvent codes).
namespace rcevent {
inline constexpr int kNotFound = 0;
inline constexpr int kConnectFailed = 1;
inline constexpr int kCtrlClosed = 2;
inline constexpr int kCtrlReceiveError = 3;
inline constexpr int kPollTimeout = 4;
inline constexpr int kClosedByDvr = 5;  // reply 66: the DVR's keypad ended the session
inline constexpr int kOpenRejected = 6;
inline constexpr int kShutdown = 7;
inline constexpr int kStreamConnectFailed = 8;
inline constexpr int kStreamClosed = 9;
inline constexpr int kStreamError = 10;

struct Text {
  const char* caption;  // nullptr: no message box
  const char* text;
};
// The caption and text the main window shows for an event (code 1 after more
// than 10 s of trying shows the code-0 text; code 6 only for params 1 and 10).
Text Describe(int code, intptr_t param, bool after_ten_seconds = false);
}  // namespace rcevent

// Connection state (ConnectionState()).
namespace rcstate {
inline constexpr uint8_t kIdle = 0;
inline constexpr uint8_t kCtrlConnecting = 1;  // control TCP connect in progress
inline constexpr uint8_t kOpening = 2;         // control connected, session being opened
inline constexpr uint8_t kOpen = 3;            // session open; the DVR was not playing
inline constexpr uint8_t kOpenPlaying = 4;     // session open; the DVR was playing (mode 1..3)
}  // namespace rcstate

// Tick kinds and the periods of the timers that call them (the main window
// and the headless client run the same timers).
namespace rctick {
inline constexpr int kConnectTimeout = 0;  // once, 30 s after the connect attempt started
inline constexpr int kSecond = 3;          // every second while connected
inline constexpr int kRefresh = 4;         // every 33 ms: display refresh

inline constexpr int kConnectTimeoutMs = 30000;
inline constexpr int kSlowConnectMs = 10000;  // after this, a refused connect reads as "not found"
inline constexpr int kSecondMs = 1000;
inline constexpr int kRefreshMs = 33;
}  // namespace rctick

// Up to 16 windows; entry 0 is the main window.
class WindowRegistry {
 public:
  static constexpr int kMaxWindows = 16;
  // Returns the new count (the entry's 1-based number), 0 when refused.
  int Register(RcWindow* window);
  void Unregister(int number);
  // Removes `window` wherever it is (numbers shift when an earlier entry goes).
  void Unregister(RcWindow* window);
  int Count() const;
  bool Contains(RcWindow* window) const;
  std::vector<RcWindow*> All() const;
  RcWindow* Main() const;
  // Post to the main window / every window, under the lock.
  void PostMain(uint32_t msg, uintptr_t w, intptr_t l) const;
  void PostAll(uint32_t msg, uintptr_t w, intptr_t l) const;

 private:
  mutable std::mutex mu_;
  std::array<RcWindow*, kMaxWindows> windows_{};
  int count_ = 0;
};

class RcCtrlMain : public EngineEvents, public AudioOwner {
 public:
  static constexpr uint16_t kControlPort = 14337;
  static constexpr uint16_t kStreamPort = 14338;

  RcCtrlMain();
  ~RcCtrlMain() override;
  RcCtrlMain(const RcCtrlMain&) = delete;
  RcCtrlMain& operator=(const RcCtrlMain&) = delete;

  // --- connection and bookkeeping (user-interface thread)
  int RegisterWindow(RcWindow* window) { return windows_.Register(window); }
  void UnregisterWindow(int number) { windows_.Unregister(number); }
  void UnregisterWindow(RcWindow* window) { windows_.Unregister(window); }
  // False (and nothing stored) for a null target.
  bool SetDisplayTarget(DisplayTarget* target);
  // Ports of the DVR; 14337 and 14338 unless overridden (tests, unusual networks).
  void SetPorts(uint16_t control_port, uint16_t stream_port);
  uint16_t ControlPort() const { return control_port_; }
  uint16_t StreamPort() const { return stream_port_; }
  void Connect(const std::string& ip, const uint8_t password[6]);
  // Sends CloseSession while connected, then stops and deletes the session.
  void DisconnectControl();
  void ConnectStream(const std::string& ip, uint16_t port);
  void DisconnectStream();
  void Tick(int kind);
  void PostEvent(int code, intptr_t param);

  // --- DVR control (nothing without a control session)
  void RequestStatus();
  void StartRecording();
  void StopRecording();
  void RequestEventList();
  void PlayDvr();
  void PlayDvrFrom(uint8_t disk, const DvrTime& time);
  void PlayDvrEvent(uint8_t disk, uint32_t id);
  void StopDvrPlay();
  void PauseDvr();
  void FastForwardDvr();
  void RewindDvr();
  void RefreshSettings();
  void SetSchedule(const uint8_t hours[24]);
  void SetTime(const DvrTime& time);
  void SetRecordMode(uint8_t value);
  void SetInputChannels(uint8_t mask);
  void SetRecordChannels(uint8_t mask);
  void SetVideoQuality(uint8_t value);
  void SetRecordFrameRate(uint8_t value);
  void SetAlarmOnDuration(uint8_t seconds);
  void SetAlarmRecordDuration(uint8_t seconds);
  void SetAudioRecording(bool on);
  void SetSpeakerMute(bool on);
  void SetFrameInterval(uint8_t interval);
  // Either pointer may be null ("none").
  void SetChannelFilter(const ChannelDisplayState* wanted, const uint8_t* audio_bits);
  void SetAudioEnabled(bool on);
  // Automatic frame-interval adjustment (on at start).
  void SetAutoAdjust(bool on) { adjuster_.SetEnabled(on); }
  bool AutoAdjust() const { return adjuster_.IsEnabled(); }

  // --- local media
  int StartLocalRecording();
  int StopLocalRecording();
  bool IsLocalRecording() const { return recorder_.IsRunning(); }
  void SetRecordingDirectory(const std::string& dir) { recorder_.SetDirectory(dir); }
  std::vector<std::string> RecordingFiles() const;
  // Opens and plays a .mys file (81/82 from the player, 88..91 on start).
  int StartLocalPlayback(const std::string& path);
  void StopLocalPlayback();
  void LocalPlay();
  void LocalPause();
  void LocalFastForward();
  void LocalRewind();
  bool LocalPlaybackActive() const { return local_playback_active_.load() != 0; }
  uint8_t LocalPlayerState() const { return player_.GetState(); }
  void SetLocalPacing(bool on) { player_.SetPacing(on); }
  // Audio output: volume in percent, enabled (not muted), and a flush that
  // throws the queued audio away.
  int SetVolume(int percent) { return audio_.SetVolume(percent); }
  int AudioVolume() const;
  int SetMute(bool muted) { return audio_.SetEnabled(muted ? 0 : 1); }
  bool AudioOutputEnabled() const { return audio_.IsEnabled(); }
  void FlushAudio();
  void SetTrueColour(bool on) { image_.SetTrueColour(on); }
  bool IsTrueColour() const { return image_.IsTrueColour(); }
  bool IsImageHandlerRunning() const { return image_.IsRunning(); }
  int SaveBitmap(const std::string& path) { return image_.SaveBitmap(path); }
  // AVI export of the displayed picture and the audio.
  // An AviResult; AviFailureReason puts a failure into words.
  int StartAviExport(const std::string& path, CompressorChooser* chooser = nullptr);
  std::string AviFailureReason(int code) const;
  void StopAviExport();
  bool IsAviExporting() const { return image_.IsAviExporting(); }

  // --- state (the DVR's cached records; 0 / empty without a session)
  uint8_t ConnectionState() const { return state_.load(); }
  bool HasSession() const;
  bool IsSessionConnected() const;
  bool IsStreamLive() const;
  // Readers of the session's cache (nothing is sent): false without a
  // session, and for the list and the time until their reply arrived.
  bool DvrState(DvrStateBlock* out) const;
  bool EventList(std::vector<EventRecord>* out) const;
  bool Time(DvrTime* out) const;
  // Copies: the address of the last Connect and of the stream connection.
  std::string Address() const;
  std::string StreamAddress() const;
  // The stream channels present as last reported by 0x433.
  ChannelDisplayState ChannelsPresent() const;
  ChannelDisplayState StreamChannelsShown() const;
  ChannelDisplayState StreamChannelsWanted() const;
  ChannelDisplayState InputChannels() const;
  ChannelDisplayState RecordChannels() const;
  uint8_t DvrMode() const;
  uint8_t PlaySpeed() const;
  uint8_t RecordMode() const;
  uint8_t VideoStandard() const;
  uint8_t VideoQuality() const;
  uint8_t RecordFrameRate() const;
  uint8_t AlarmOnDuration() const;
  uint8_t AlarmRecordDuration() const;
  uint8_t AudioAvailable() const;
  uint8_t AudioEnabled() const;
  uint8_t AudioRecordingEnabled() const;
  uint8_t SpeakerMuted() const;
  uint8_t StreamFrameInterval() const;
  uint8_t StreamFilter() const;
  // Disk 0 master, 1 slave; 0 when that disk is not installed.
  uint8_t DiskInstalled(int disk) const;
  uint8_t DiskOverwriting(int disk) const;
  uint32_t DiskCapacityMb(int disk) const;
  uint32_t DiskUsedMb(int disk) const;
  StreamStats& Stats() { return stats_; }
  RcImageHandler& ImageHandler() { return image_; }
  // Milliseconds since the last Connect (the main window words event 1 by it).
  int64_t MillisSinceConnect() const;
  // Refusals of a request type by the DVR in this session (none without one).
  RdcpSession::Refusal RefusalOf(uint8_t request_type) const;
  // The session's request numbers (RdcpSession::LastStatusRequest and
  // StatusAnsweredThrough); 0 without a session.
  uint64_t LastStatusRequest() const;
  uint64_t StatusAnsweredThrough() const;

  // --- EngineEvents
  void OnFrameIntervalChosen(uint8_t interval) override;
  void OnCtrlConnect(int error) override;
  void OnCtrlClose(int error) override;
  void OnCtrlReceiveError(int error) override;
  void OnRdcpReply(int type, int error) override;
  void OnPollTimeout() override;
  void OnDvrInfoChanged() override;
  void OnDvrStatus(int unused) override;
  void OnStreamConnect(int error) override;
  void OnStreamClose(int error) override;
  void OnStreamError(int error) override;
  void OnStreamBytes(uint32_t count) override;
  void OnStreamGap(uint32_t milliseconds) override;
  void OnFrameRestart() override;
  void OnStreamHeader(const RecTime& time, uint8_t rate_code, uint8_t channel_set) override;
  void OnVideoFrame(FrameSlot& slot, const RecTime& time, uint8_t rate_code,
                    uint8_t channel_set) override;
  void OnAudioBlock(AudioSlot& slot) override;
  void OnRecordFileCreateError() override;
  void OnRecordFileWriteError() override;
  void OnPlaybackFrame(const uint8_t* data, uint32_t length, const ChannelDisplayState& channels,
                       const RecTime& time, uint8_t state) override;
  void OnPlaybackAudio(const uint8_t* data, uint32_t length) override;
  void OnAudioQueueFull() override {}

 private:
  class StatsAdapter : public DisplayQueueStats {
   public:
    explicit StatsAdapter(StreamStats& s) : stats_(s) {}
    void AddQueued() override { stats_.AddQueued(); }
    uint32_t QueuedLastSecond() const override { return stats_.QueuedLastSecond(); }

   private:
    StreamStats& stats_;
  };
  class AviAdapter : public AviFrameSink {
   public:
    AviAdapter(AviWriter& w, int width, int height) : w_(w), width_(width), height_(height) {}
    int VideoWidth() const override { return width_; }
    int VideoHeight() const override { return height_; }
    int VideoBitsPerPixel() const override { return 24; }
    int AddVideoFrame(const uint8_t* pixels, bool key) override {
      return w_.AddVideoFrame(pixels, static_cast<std::size_t>(width_) * height_ * 3, key);
    }

   private:
    AviWriter& w_;
    int width_, height_;
  };

  // Window messages.
  void PostMain(uint32_t msg, uintptr_t w, intptr_t l) { windows_.PostMain(msg, w, l); }
  void PostAll(uint32_t msg, uintptr_t w, intptr_t l) { windows_.PostAll(msg, w, l); }
  void SendMain(uint32_t msg, uintptr_t w, intptr_t l);
  void SendAll(uint32_t msg, uintptr_t w, intptr_t l);
  bool OnUiThread() const { return std::this_thread::get_id() == ui_thread_; }

  // Runs `fn(session)` under the session lock when a session exists.
  template <typename Fn>
  bool WithSession(Fn&& fn) const {
    std::lock_guard lock(session_mu_);
    if (!session_) return false;
    fn(*session_);
    return true;
  }
  // A getter of the session's cache; `fallback` without a session.
  template <typename R, typename... Args>
  R FromSession(R (RdcpSession::*getter)(Args...) const, Args... args) const {
    R value{};
    WithSession([&](RdcpSession& s) { value = (s.*getter)(args...); });
    return value;
  }
  void RestartAudio();
  void StartImageHandler(int standard);
  void AddAviAudio(const uint8_t* stream_order, uint32_t length);
  // PlayFrom / PlayEvent: the request, then the stream filter and the mute
  // byte of the play.
  template <typename Request>
  void StartDvrPlayback(Request&& request);
  // Pause / fast forward / rewind: audio off, the request, a status request.
  template <typename Request>
  void ChangeDvrPlay(Request&& request, bool restart_audio);
  void SetAudioFlagBit(uint8_t bit, bool on);
  // The stream pair a change starts from, and queuing a new one (session
  // lock held); forgetting what the cache now holds (at 89 and 93).
  void BaseStreamPair(RdcpSession& s, uint8_t* interval, uint8_t* filter);
  void QueueStreamPair(RdcpSession& s, uint8_t interval, uint8_t filter);
  void ForgetAppliedChanges();
  // CloseSession once per session, while the control connection is up.
  void SendCloseSession();

  // --- constant after construction
  const std::thread::id ui_thread_;

  // --- own locks (any thread)
  WindowRegistry windows_;
  StreamStats stats_;
  StatsAdapter stats_adapter_{stats_};
  RcImageHandler image_;
  RcLocalRecorder recorder_;
  RcLocalPlayer player_;

  // --- session_mu_: the control session (replaced on the user-interface
  // thread, used by every thread)
  mutable std::recursive_mutex session_mu_;
  std::unique_ptr<RdcpSession> session_;

  // --- stream_mu_: the stream receiver and the addresses
  mutable std::mutex stream_mu_;
  std::unique_ptr<StreamReceiver> stream_;
  std::string address_;         // written by Connect (user-interface thread)
  std::string stream_address_;  // written by ConnectStream (control thread)

  // --- display_mu_: hands frames to the image handler (stream and player threads)
  std::mutex display_mu_;

  // --- audio_mu_: reopening the audio output against the threads that play blocks
  std::mutex audio_mu_;
  AudioOutput audio_;

  // --- channels_mu_: stream channel presence (stream thread; read by windows)
  mutable std::mutex channels_mu_;
  ChannelDisplayState prev_present_;

  // --- queued_mu_: the last stream pair and audio flags queued and not yet
  // in the cache (taken inside the session lock, never around it)
  std::mutex queued_mu_;
  std::optional<std::pair<uint8_t, uint8_t>> queued_pair_;
  std::optional<uint8_t> queued_audio_flags_;
  std::optional<bool> audio_before_status_;  // SetAudioEnabled before the first status

  // --- avi_audio_mu_: the AVI writer's audio side (stream / player threads)
  std::mutex avi_audio_mu_;
  std::array<uint8_t, 4096> avi_audio_{};
  AviWriter avi_;
  std::unique_ptr<AviAdapter> avi_adapter_;  // user-interface thread

  // --- user-interface thread
  DisplayTarget* target_ = nullptr;
  uint8_t password_[6]{};
  uint16_t control_port_ = kControlPort;
  uint16_t stream_port_ = kStreamPort;
  uint8_t mute_at_play_ = 0;  // the main window's answer to 0x490
  RateAdjuster adjuster_;     // Run on the UI thread; ResetHistory on the control thread

  // --- flags shared between threads
  std::atomic<uint8_t> state_{rcstate::kIdle};
  std::atomic<bool> settings_refresh_{false};
  std::atomic<uint32_t> local_playback_active_{0};
  // Stream filter changes sent whose acknowledgement is to refresh the display.
  std::atomic<int> filter_changes_pending_{0};
  std::atomic<int64_t> connect_started_ms_{0};
  std::atomic<bool> close_session_sent_{false};
};

}  // namespace rd
