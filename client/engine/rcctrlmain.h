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
// the user-interface thread while that thread waits for the worker.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/engine/net/EngineEvents.h"
#include "client/engine/rdcp/RdcpSession.h"
#include "client/engine/stream/RateAdjuster.h"
#include "client/engine/stream/StreamReceiver.h"
#include "client/engine/stream/StreamStats.h"
#include "client/media/RcLocalPlayer.h"
#include "client/media/RcLocalRecorder.h"
#include "client/media/rcimghdlr.h"
#include "shared/audio/AudioOutput.h"
#include "shared/audio/AudioOwner.h"
#include "shared/avi/AviWriter.h"

namespace rd {

// Private window messages.
namespace rcmsg {
inline constexpr uint32_t kConnectionEvent = 0x401;      // main, posted: code, param
inline constexpr uint32_t kCtrlConnecting = 0x411;       // all, sent: 0, address string
inline constexpr uint32_t kCtrlConnectResult = 0x412;    // main, posted: error, 0
inline constexpr uint32_t kEventBroadcast = 0x413;       // all, posted: code, param; (255, 255)
inline constexpr uint32_t kAudioState = 0x414;           // main, sent: audio enabled, 0
inline constexpr uint32_t kAudioAvailable = 0x415;       // main, posted: available, 0
inline constexpr uint32_t kStreamConnecting = 0x430;     // all, sent: 0, address string
inline constexpr uint32_t kStreamConnectResult = 0x431;  // all, sent: error, 0
inline constexpr uint32_t kStreamClosed = 0x432;         // all, sent
inline constexpr uint32_t kChannelsPresent = 0x433;      // main, posted: 0, five flags
inline constexpr uint32_t kRefreshDisplay = 0x434;       // main, posted
inline constexpr uint32_t kDvrInfoChanged = 0x435;       // main, posted
inline constexpr uint32_t kEventListDone = 0x436;        // all, posted
inline constexpr uint32_t kRecordCreateError = 0x441;    // all, sent
inline constexpr uint32_t kRecordWriteError = 0x442;     // all, sent
inline constexpr uint32_t kLocalPlayStopped = 0x450;     // all, sent
inline constexpr uint32_t kSettingsRefreshed = 0x460;    // all, posted
inline constexpr uint32_t kDvrStatus = 0x463;            // main, posted: audio enabled or 0
inline constexpr uint32_t kLocalAudioPlayed = 0x480;     // main, sent
inline constexpr uint32_t kAskMute = 0x490;              // main, sent: 0, uint8_t* (16 muted)
inline constexpr uint32_t kSecondTick = 0x4F0;           // all, sent
}  // namespace rcmsg

// Connection events (PostEvent codes).
namespace rcevent {
inline constexpr int kNotFound = 0;
inline constexpr int kConnectFailed = 1;
inline constexpr int kCtrlClosed = 2;
inline constexpr int kCtrlReceiveError = 3;
inline constexpr int kPollTimeout = 4;
inline constexpr int kSessionEnded = 5;
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

class RcWindow {
 public:
  virtual ~RcWindow() = default;
  // Queued to the user-interface thread.
  virtual void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
  // Called directly on the user-interface thread.
  virtual void Send(uint32_t message, uintptr_t wparam, intptr_t lparam) = 0;
};

// Up to 16 windows; entry 0 is the main window.
class WindowRegistry {
 public:
  static constexpr int kMaxWindows = 16;
  // Returns the new count (the entry's 1-based number), 0 when refused.
  int Register(RcWindow* window);
  void Unregister(int number);
  int Count() const;
  std::vector<RcWindow*> All() const;
  RcWindow* Main() const;

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
  void SetDisplayTarget(DisplayTarget* target);
  // Ports of the DVR; 14337 and 14338 unless overridden (tests, unusual networks).
  void SetPorts(uint16_t control_port, uint16_t stream_port);
  void Connect(const std::string& ip, const uint8_t password[6]);
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
  int SetVolume(int percent) { return audio_.SetVolume(percent); }
  int SetMute(bool muted) { return audio_.SetEnabled(muted ? 0 : 1); }
  void SetTrueColour(bool on) { image_.SetTrueColour(on); }
  bool IsTrueColour() const { return image_.IsTrueColour(); }
  int SaveBitmap(const std::string& path) { return image_.SaveBitmap(path); }
  // AVI export of the displayed picture and the audio.
  int StartAviExport(const std::string& path, CompressorChooser* chooser = nullptr);
  void StopAviExport();
  bool IsAviExporting() const { return image_.IsAviExporting(); }

  // --- state
  uint8_t ConnectionState() const { return state_.load(); }
  bool HasSession() const;
  bool IsSessionConnected() const;
  bool IsStreamLive() const;
  bool GetDvrState(DvrStateBlock* out) const;
  bool GetEventList(std::vector<EventRecord>* out) const;
  bool GetDvrTime(DvrTime* out) const;
  const std::string& Address() const { return address_; }
  ChannelDisplayState ChannelsPresent() const;
  StreamStats& Stats() { return stats_; }
  RcImageHandler& ImageHandler() { return image_; }
  // Milliseconds since the last Connect (the main window words event 1 by it).
  int64_t MillisSinceConnect() const;
  // Refusals of a request type by the DVR in this session (none without one).
  RdcpSession::Refusal RefusalOf(uint8_t request_type) const;

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
  void PostMain(uint32_t msg, uintptr_t w, intptr_t l);
  void PostAll(uint32_t msg, uintptr_t w, intptr_t l);
  void SendMain(uint32_t msg, uintptr_t w, intptr_t l);
  void SendAll(uint32_t msg, uintptr_t w, intptr_t l);
  bool OnUiThread() const { return std::this_thread::get_id() == ui_thread_; }

  void RestartAudio();
  void StartImageHandler(int standard);
  void AddAviAudio(const uint8_t* stream_order, uint32_t length);
  // Runs `fn(session)` under the session lock when a session exists.
  template <typename Fn>
  bool WithSession(Fn&& fn) const {
    std::lock_guard lock(session_mu_);
    if (!session_) return false;
    fn(*session_);
    return true;
  }
  void SendStreamFilter(uint8_t interval, uint8_t filter);
  // Before a session's control connection closes by the client's will.
  void EndSession(RdcpSession& session);

  const std::thread::id ui_thread_;
  WindowRegistry windows_;
  StreamStats stats_;
  StatsAdapter stats_adapter_{stats_};
  RcImageHandler image_;
  std::mutex display_mu_;
  mutable std::recursive_mutex session_mu_;
  std::unique_ptr<RdcpSession> session_;
  mutable std::mutex stream_mu_;
  std::unique_ptr<StreamReceiver> stream_;
  RcLocalRecorder recorder_;
  RcLocalPlayer player_;
  AudioOutput audio_;
  std::mutex audio_mu_;  // reopening against the threads that play blocks
  DisplayTarget* target_ = nullptr;
  std::atomic<uint8_t> state_{0};
  std::atomic<bool> settings_refresh_{false};
  std::string address_;
  std::string stream_address_;
  uint8_t password_[6]{};
  uint16_t control_port_ = kControlPort;
  uint16_t stream_port_ = kStreamPort;
  std::mutex channels_mu_;
  ChannelDisplayState wanted_at_play_;
  ChannelDisplayState shown_;
  ChannelDisplayState prev_present_;
  ChannelDisplayState present_;
  ChannelDisplayState present_posted_;  // what 0x433 points at
  uint8_t mute_at_play_ = 0;
  std::atomic<uint32_t> local_playback_active_{0};
  RateAdjuster adjuster_;
  std::atomic<bool> filter_change_pending_{false};
  std::atomic<int64_t> connect_started_ms_{0};

  AviWriter avi_;
  std::unique_ptr<AviAdapter> avi_adapter_;
  std::mutex avi_audio_mu_;
  std::array<uint8_t, 4096> avi_audio_{};
};

}  // namespace rd
