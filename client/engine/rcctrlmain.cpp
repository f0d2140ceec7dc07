#include "client/engine/rcctrlmain.h"

#include <chrono>
#include <cstring>

#include "shared/still/BmpFile.h"
#include "shared/stream/StreamPacket.h"

namespace rd {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// How long a deliberate disconnect waits for CloseSession to reach the DVR.
constexpr int kCloseSessionWaitMs = 500;

ChannelDisplayState AllFlags() {
  ChannelDisplayState s;
  s.quad = 1;
  for (auto& c : s.channel) c = 1;
  return s;
}

}  // namespace

// ------------------------------------------------------------------ events

namespace rcevent {

Text Describe(int code, intptr_t param, bool after_ten_seconds) {
  static const char* const kNotFoundText = "Could find the DVR\nCheck the IP address and try again";
  switch (code) {
    case kNotFound:
      return {"RDCP Connection Failed", kNotFoundText};
    case kConnectFailed:
      return {"RDCP Connection Failed",
              after_ten_seconds ? kNotFoundText
                                : "Cannot connect to the DVR.\nThe DVR is down, or\nThe DVR may "
                                  "be connected to other client."};
    case kCtrlClosed:
      return {"RDCP Connection Closed", "RDCP On Close."};
    case kCtrlReceiveError:
      return {"RDCP Connection Closed", "RDCP Receive Error."};
    case kPollTimeout:
      return {"RDCP Connection Closed", "Polling Timeout.\nThe DVR may be turned off."};
    case kSessionEnded:
      return {"RDCP Connection Closed",
              "Connection closed by the DVR.\nThe DVR keypad may be pressed."};
    case kOpenRejected:
      if (param == 1)
        return {"RDCP Session Open Failed", "Connection Denied by DVR.\nInvalid Password."};
      if (param == 10)
        return {"RDCP Session Open Failed", "Connection Denied by DVR.\nNetwork access disabled."};
      return {nullptr, nullptr};
    case kStreamConnectFailed:
      return {"Stream Connection Fail", "Stream connection failed."};
    case kStreamClosed:
      return {"Connection Failed", "Stream connection closed"};
    case kStreamError:
      return {"Connection Failed", "Stream Socket Error"};
    default:
      return {nullptr, nullptr};
  }
}

}  // namespace rcevent

// ------------------------------------------------------------------ windows

int WindowRegistry::Register(RcWindow* window) {
  std::lock_guard lock(mu_);
  if (window == nullptr || count_ >= kMaxWindows) return 0;
  windows_[count_++] = window;
  return count_;
}

void WindowRegistry::Unregister(int number) {
  std::lock_guard lock(mu_);
  if (number < 1 || number > count_) return;
  for (int i = number - 1; i + 1 < count_; ++i) windows_[i] = windows_[i + 1];
  windows_[--count_] = nullptr;
}

int WindowRegistry::Count() const {
  std::lock_guard lock(mu_);
  return count_;
}

std::vector<RcWindow*> WindowRegistry::All() const {
  std::lock_guard lock(mu_);
  return std::vector<RcWindow*>(windows_.begin(), windows_.begin() + count_);
}

RcWindow* WindowRegistry::Main() const {
  std::lock_guard lock(mu_);
  return count_ > 0 ? windows_[0] : nullptr;
}

void RcCtrlMain::PostMain(uint32_t msg, uintptr_t w, intptr_t l) {
  if (RcWindow* m = windows_.Main()) m->Post(msg, w, l);
}

void RcCtrlMain::PostAll(uint32_t msg, uintptr_t w, intptr_t l) {
  for (RcWindow* win : windows_.All()) win->Post(msg, w, l);
}

void RcCtrlMain::SendMain(uint32_t msg, uintptr_t w, intptr_t l) {
  if (RcWindow* m = windows_.Main()) {
    if (OnUiThread())
      m->Send(msg, w, l);
    else
      m->Post(msg, w, l);
  }
}

void RcCtrlMain::SendAll(uint32_t msg, uintptr_t w, intptr_t l) {
  const bool ui = OnUiThread();
  for (RcWindow* win : windows_.All()) {
    if (ui)
      win->Send(msg, w, l);
    else
      win->Post(msg, w, l);
  }
}

// ------------------------------------------------------------------ life

RcCtrlMain::RcCtrlMain() : ui_thread_(std::this_thread::get_id()) {
  recorder_.SetOwner(this);
  player_.SetOwner(this);
  adjuster_.SetOwner(this);
  audio_.Open(8000, 16, this);  // no device: audio is ignored
}

RcCtrlMain::~RcCtrlMain() {
  PostEvent(rcevent::kShutdown, 0);
  StopLocalPlayback();
  recorder_.Stop();
  std::unique_ptr<RdcpSession> session;
  {
    std::lock_guard lock(session_mu_);
    session = std::move(session_);
  }
  if (session) {
    EndSession(*session);
    session->Stop();
  }
  std::unique_ptr<StreamReceiver> stream;
  {
    std::lock_guard lock(stream_mu_);
    stream = std::move(stream_);
  }
  if (stream) stream->Stop();
  stream.reset();
  session.reset();
  image_.SetAviExport(nullptr);
  avi_adapter_.reset();
  avi_.Close();
  {
    std::lock_guard lock(audio_mu_);
    audio_.Close();
  }
}

void RcCtrlMain::SetDisplayTarget(DisplayTarget* target) {
  if (target != nullptr) target_ = target;
}

void RcCtrlMain::SetPorts(uint16_t control_port, uint16_t stream_port) {
  if (control_port != 0) control_port_ = control_port;
  if (stream_port != 0) stream_port_ = stream_port;
}

void RcCtrlMain::Connect(const std::string& ip, const uint8_t password[6]) {
  address_ = ip;
  std::memcpy(password_, password, 6);
  connect_started_ms_.store(NowMs());
  SendAll(rcmsg::kCtrlConnecting, 0, reinterpret_cast<intptr_t>(address_.c_str()));
  state_.store(1);
  // The old session's threads are stopped before a new one is made.
  std::unique_ptr<RdcpSession> old;
  {
    std::lock_guard lock(session_mu_);
    old = std::move(session_);
  }
  if (old) old->Stop();
  old.reset();
  auto session = std::make_unique<RdcpSession>();
  session->SetSink(this);
  session->Start();
  RdcpSession* raw = session.get();
  {
    std::lock_guard lock(session_mu_);
    session_ = std::move(session);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard lock(session_mu_);
  if (session_.get() == raw) session_->SetRemote(address_.c_str(), control_port_);
}

void RcCtrlMain::DisconnectControl() {
  std::unique_ptr<RdcpSession> session;
  {
    std::lock_guard lock(session_mu_);
    if (session_ && session_->IsStarted()) session = std::move(session_);
  }
  if (session) {
    EndSession(*session);
    session->Stop();
  }
  session.reset();
  state_.store(0);
}

void RcCtrlMain::EndSession(RdcpSession& session) {
  // The DVR learns that the client leaves before the connection closes: a
  // session that is open (or being opened) is closed, and the message gets a
  // short bounded wait to go out. A DVR that is gone costs only that wait.
  if (state_.load() >= 2 && session.IsConnected()) session.CloseSession();
  session.WaitCloseSessionSent(kCloseSessionWaitMs);
}

void RcCtrlMain::ConnectStream(const std::string& ip, uint16_t port) {
  stats_.Reset();
  stream_address_ = ip;
  SendAll(rcmsg::kStreamConnecting, 0, reinterpret_cast<intptr_t>(stream_address_.c_str()));
  std::unique_ptr<StreamReceiver> old;
  {
    std::lock_guard lock(stream_mu_);
    old = std::move(stream_);
  }
  if (old) old->Stop();
  old.reset();
  auto rx = std::make_unique<StreamReceiver>();
  rx->SetSink(this);
  rx->Start();
  StreamReceiver* raw = rx.get();
  {
    std::lock_guard lock(stream_mu_);
    stream_ = std::move(rx);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard lock(stream_mu_);
  if (stream_.get() == raw) stream_->SetRemote(stream_address_.c_str(), port);
}

void RcCtrlMain::DisconnectStream() {
  std::unique_ptr<StreamReceiver> rx;
  {
    std::lock_guard lock(stream_mu_);
    rx = std::move(stream_);
  }
  if (rx) rx->Stop();
  rx.reset();
  SendAll(rcmsg::kStreamClosed, 0, 0);
}

bool RcCtrlMain::HasSession() const {
  std::lock_guard lock(session_mu_);
  return session_ != nullptr;
}

bool RcCtrlMain::IsSessionConnected() const {
  std::lock_guard lock(session_mu_);
  return session_ != nullptr && session_->IsConnected();
}

bool RcCtrlMain::IsStreamLive() const {
  bool rx;
  {
    std::lock_guard lock(stream_mu_);
    rx = stream_ != nullptr;
  }
  return rx && IsSessionConnected();
}

bool RcCtrlMain::GetDvrState(DvrStateBlock* out) const {
  return out != nullptr && WithSession([&](RdcpSession& s) { *out = s.State(); });
}

bool RcCtrlMain::GetEventList(std::vector<EventRecord>* out) const {
  bool ok = false;
  WithSession([&](RdcpSession& s) { ok = s.GetEventList(out); });
  return ok;
}

bool RcCtrlMain::GetDvrTime(DvrTime* out) const {
  bool ok = false;
  WithSession([&](RdcpSession& s) { ok = s.GetDvrTime(out); });
  return ok;
}

ChannelDisplayState RcCtrlMain::ChannelsPresent() const {
  std::lock_guard lock(const_cast<std::mutex&>(channels_mu_));
  return prev_present_;
}

int64_t RcCtrlMain::MillisSinceConnect() const {
  return NowMs() - connect_started_ms_.load();
}

RdcpSession::Refusal RcCtrlMain::RefusalOf(uint8_t request_type) const {
  RdcpSession::Refusal r;
  WithSession([&](RdcpSession& s) { r = s.RefusalOf(request_type); });
  return r;
}

std::vector<std::string> RcCtrlMain::RecordingFiles() const {
  std::vector<std::string> out;
  for (const auto& p : recorder_.Files()) out.push_back(p.string());
  return out;
}

// ------------------------------------------------------------------ events

void RcCtrlMain::PostEvent(int code, intptr_t param) {
  PostAll(rcmsg::kEventBroadcast, static_cast<uintptr_t>(code), param);
  if (code >= 7 && code <= 10) {
    WithSession([](RdcpSession& s) {
      if (s.IsConnected()) s.CloseSession();
    });
  }
  if (code >= 0 && code <= 10)
    PostMain(rcmsg::kConnectionEvent, static_cast<uintptr_t>(code), param);
}

void RcCtrlMain::OnFrameIntervalChosen(uint8_t interval) {
  filter_change_pending_.store(true);
  WithSession([&](RdcpSession& s) { s.SetStreamFilter(interval, s.StreamFilter()); });
}

void RcCtrlMain::OnCtrlConnect(int error) {
  if (error != 0) {
    PostEvent(rcevent::kConnectFailed, error);
  } else {
    state_.store(2);
    settings_refresh_.store(false);
    WithSession([&](RdcpSession& s) { s.OpenSession(password_); });
  }
  PostMain(rcmsg::kCtrlConnectResult, static_cast<uintptr_t>(error), 0);
}

void RcCtrlMain::OnCtrlClose(int error) {
  PostEvent(rcevent::kCtrlClosed, error);
}
void RcCtrlMain::OnCtrlReceiveError(int error) {
  PostEvent(rcevent::kCtrlReceiveError, error);
}
void RcCtrlMain::OnPollTimeout() {
  PostEvent(rcevent::kPollTimeout, 0);
}
void RcCtrlMain::OnDvrInfoChanged() {
  PostMain(rcmsg::kDvrInfoChanged, 0, 0);
}
void RcCtrlMain::OnDvrStatus(int) {
  PostMain(rcmsg::kDvrStatus, 0, 0);
}

void RcCtrlMain::StartImageHandler(int standard) {
  if (image_.IsRunning()) return;
  image_.Init(standard != 0 ? mjpeg::VideoStandard::kPal : mjpeg::VideoStandard::kNtsc, target_,
              &stats_adapter_);
}

void RcCtrlMain::OnRdcpReply(int type, int error) {
  switch (type) {
    case 64:
      if (state_.load() == 2) {
        bool streaming;
        {
          std::lock_guard lock(stream_mu_);
          streaming = stream_ != nullptr;
        }
        // One stream connection per session: a second 64 does nothing.
        if (!streaming) ConnectStream(address_, stream_port_);
        WithSession([](RdcpSession& s) { s.GetSettings(); });
      }
      break;
    case 65:
      PostAll(rcmsg::kEventBroadcast, 255, 255);
      break;
    case 66:
      PostEvent(rcevent::kSessionEnded, 0);
      break;
    case 67:
      if (settings_refresh_.load()) {
        WithSession([](RdcpSession& s) { s.GetTime(); });
      } else {
        uint8_t available = 0;
        WithSession([&](RdcpSession& s) {
          if (state_.load() == 2) s.GetStatus();
          available = s.AudioAvailable();
        });
        PostMain(rcmsg::kAudioAvailable, available, 0);
        PostMain(rcmsg::kRefreshDisplay, 0, 0);
        OnDvrInfoChanged();
      }
      break;
    case 68:
      if (settings_refresh_.exchange(false)) PostAll(rcmsg::kSettingsRefreshed, 0, 0);
      break;
    case 70:
      if (settings_refresh_.load()) WithSession([](RdcpSession& s) { s.GetSchedule(); });
      break;
    case 73: {
      ChannelDisplayState wanted;
      bool each = false;
      WithSession([&](RdcpSession& s) {
        each = s.RecordMode() == 0;
        wanted = s.InputChannels();
      });
      if (!each) wanted = AllFlags();
      SetChannelFilter(&wanted, nullptr);
      break;
    }
    case 75:
    case 77:
      adjuster_.ResetHistory();
      PostMain(rcmsg::kRefreshDisplay, 0, 0);
      break;
    case 80:
    case 81:
    case 83:
    case 85:
    case 86:
    case 87:
    case 88:
      WithSession([](RdcpSession& s) { s.GetStatus(); });
      break;
    case 82:
      PostAll(rcmsg::kEventListDone, 0, 0);
      break;
    case 89:
      adjuster_.ResetHistory();
      if (filter_change_pending_.exchange(false)) PostMain(rcmsg::kRefreshDisplay, 0, 0);
      break;
    case 90: {
      int standard = 0;
      uint8_t mode = 0, audio = 0;
      WithSession([&](RdcpSession& s) {
        standard = s.VideoStandard();
        mode = s.DvrMode();
        audio = s.AudioEnabled();
      });
      StartImageHandler(standard);
      if (state_.load() == 2) {
        if (mode == 0 || mode > 3) {
          WithSession([](RdcpSession& s) { s.GetTime(); });
          state_.store(3);
        } else {
          state_.store(4);
        }
        SendMain(rcmsg::kAudioState, audio, 0);
      }
      PostMain(rcmsg::kDvrStatus, audio, 0);
      PostMain(rcmsg::kRefreshDisplay, 0, 0);
      break;
    }
    case 241:
      if (state_.load() == 2) {
        PostEvent(rcevent::kOpenRejected, error);
        state_.store(0);
      } else if (state_.load() == 3) {
        WithSession([&](RdcpSession& s) {
          s.GetTime();
          state_.store(s.DvrMode() == 0 ? 3 : 4);
        });
      }
      break;
    default:
      break;
  }
}

void RcCtrlMain::OnStreamConnect(int error) {
  if (error != 0) {
    PostEvent(rcevent::kStreamConnectFailed, error);
  } else {
    std::lock_guard lock(channels_mu_);
    wanted_at_play_ = shown_ = prev_present_ = present_ = ChannelDisplayState{};
    adjuster_.SetOwner(this);
  }
  SendAll(rcmsg::kStreamConnectResult, static_cast<uintptr_t>(error), 0);
}

void RcCtrlMain::OnStreamClose(int error) {
  PostEvent(rcevent::kStreamClosed, error);
}
void RcCtrlMain::OnStreamError(int error) {
  PostEvent(rcevent::kStreamError, error);
}
void RcCtrlMain::OnStreamBytes(uint32_t count) {
  stats_.AddPacket(count);
}
void RcCtrlMain::OnStreamGap(uint32_t ms) {
  stats_.AddGap(ms);
}
void RcCtrlMain::OnFrameRestart() {
  stats_.AddRestart();
}

void RcCtrlMain::OnStreamHeader(const RecTime& time, uint8_t rate_code, uint8_t channel_set) {
  ChannelDisplayState present;
  bool have = WithSession([&](RdcpSession& s) {
    s.StoreStreamHeader(time, rate_code, channel_set);
    present = s.StreamChannelsPresent();
  });
  if (!have) return;
  bool changed = false;
  {
    std::lock_guard lock(channels_mu_);
    present_ = present;
    if (!(present == prev_present_)) {
      prev_present_ = present;
      present_posted_ = present;
      changed = true;
    }
  }
  if (changed) {
    filter_change_pending_.store(true);
    SetChannelFilter(&present, nullptr);
    PostMain(rcmsg::kChannelsPresent, 0, reinterpret_cast<intptr_t>(&present_posted_));
  }
}

void RcCtrlMain::OnVideoFrame(FrameSlot& slot, const RecTime& time, uint8_t, uint8_t) {
  std::lock_guard slot_lock(slot.Lock());
  stats_.AddFrame(slot.Length());
  ChannelDisplayState shown;
  if (!WithSession([&](RdcpSession& s) { shown = s.StreamChannelsShown(); })) return;
  recorder_.AddVideo(slot.Data(), slot.Length(), &shown, time);
  if (local_playback_active_.load() == 0) {
    std::lock_guard lock(display_mu_);
    image_.QueueFrame(slot.Data(), slot.Length(), shown, time);
  }
}

void RcCtrlMain::AddAviAudio(const uint8_t* stream_order, uint32_t length) {
  if (!image_.IsAviExporting()) return;
  // The AVI holds the samples in playing order: the byte pairs exchanged.
  std::lock_guard lock(avi_audio_mu_);
  const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(avi_audio_.size()));
  std::memcpy(avi_audio_.data(), stream_order, n);
  PairSwap(avi_audio_.data(), n);
  avi_.AddAudio(avi_audio_.data(), n);
}

void RcCtrlMain::OnAudioBlock(AudioSlot& slot) {
  const uint32_t length = slot.Length();
  recorder_.AddAudio(slot.Data(), length);
  if (local_playback_active_.load() != 0) return;
  AddAviAudio(slot.Data(), length);
  std::lock_guard lock(audio_mu_);
  audio_.PlayBlock(slot.buffer, length);
}

void RcCtrlMain::OnRecordFileCreateError() {
  SendAll(rcmsg::kRecordCreateError, 0, 0);
}
void RcCtrlMain::OnRecordFileWriteError() {
  SendAll(rcmsg::kRecordWriteError, 0, 0);
}

void RcCtrlMain::OnPlaybackFrame(const uint8_t* data, uint32_t length,
                                 const ChannelDisplayState& channels, const RecTime& time,
                                 uint8_t) {
  if (local_playback_active_.load() == 0) return;
  std::lock_guard lock(display_mu_);
  image_.QueueFrame(data, length, channels, time);
}

void RcCtrlMain::OnPlaybackAudio(const uint8_t* data, uint32_t length) {
  if (local_playback_active_.load() == 0) return;
  AddAviAudio(data, length);
  {
    std::lock_guard lock(audio_mu_);
    // The player's buffer is its own and is read again only at the next record.
    audio_.PlayBlock(const_cast<uint8_t*>(data), length);
  }
  SendMain(rcmsg::kLocalAudioPlayed, 0, 0);
}

// ------------------------------------------------------------------ timers

void RcCtrlMain::Tick(int kind) {
  switch (kind) {
    case 0:
      PostEvent(rcevent::kNotFound, 0);
      break;
    case 3: {
      stats_.Roll();
      WithSession([](RdcpSession& s) { s.PollTick(); });
      SendAll(rcmsg::kSecondTick, 0, 0);
      uint8_t mode = 0, standard = 0, interval = 0, rate = 0;
      bool connected = false;
      WithSession([&](RdcpSession& s) {
        connected = s.IsConnected();
        mode = s.DvrMode();
        standard = s.VideoStandard();
        interval = s.StreamFrameInterval();
        rate = s.RecordFrameRate();
      });
      if (connected)
        adjuster_.Run(stats_, mode, standard, interval,
                      RateAdjuster::RecordInterval(standard, rate));
      break;
    }
    case 4: {
      if (!image_.IsRunning()) break;
      uint8_t code = player_.GetState();
      uint8_t speed = 0;
      WithSession([&](RdcpSession& s) { speed = s.PlaySpeed(); });
      if (code == 0 && IsStreamLive()) WithSession([&](RdcpSession& s) { code = s.DvrMode(); });
      image_.Refresh(code, speed);
      break;
    }
    default:
      break;
  }
}

// ------------------------------------------------------------------ DVR control

void RcCtrlMain::RestartAudio() {
  std::lock_guard lock(audio_mu_);
  audio_.Close();
  audio_.Open(8000, 16, this);
}

void RcCtrlMain::SendStreamFilter(uint8_t interval, uint8_t filter) {
  WithSession([&](RdcpSession& s) { s.SetStreamFilter(interval, filter); });
}

void RcCtrlMain::RequestStatus() {
  WithSession([](RdcpSession& s) { s.GetStatus(); });
}
void RcCtrlMain::StartRecording() {
  WithSession([](RdcpSession& s) { s.StartRecording(); });
}
void RcCtrlMain::StopRecording() {
  WithSession([](RdcpSession& s) { s.StopRecording(); });
}
void RcCtrlMain::RequestEventList() {
  WithSession([](RdcpSession& s) { s.GetEventList(); });
}

void RcCtrlMain::PlayDvr() {
  if (!WithSession([](RdcpSession& s) {
        s.Play();
        s.GetStatus();
      }))
    return;
  RestartAudio();
}

void RcCtrlMain::PlayDvrFrom(uint8_t disk, const DvrTime& time) {
  if (!WithSession([&](RdcpSession& s) { s.PlayFrom(disk, time); })) return;
  SetChannelFilter(nullptr, nullptr);
  RestartAudio();
  WithSession([&](RdcpSession& s) { wanted_at_play_ = s.StreamChannelsWanted(); });
  SendMain(rcmsg::kAskMute, 0, reinterpret_cast<intptr_t>(&mute_at_play_));
}

void RcCtrlMain::PlayDvrEvent(uint8_t disk, uint32_t id) {
  if (!WithSession([&](RdcpSession& s) { s.PlayEvent(disk, id); })) return;
  SetChannelFilter(nullptr, nullptr);
  RestartAudio();
  WithSession([&](RdcpSession& s) { wanted_at_play_ = s.StreamChannelsWanted(); });
  SendMain(rcmsg::kAskMute, 0, reinterpret_cast<intptr_t>(&mute_at_play_));
}

void RcCtrlMain::StopDvrPlay() {
  if (!WithSession([](RdcpSession& s) { s.StopPlay(); })) return;
  RestartAudio();
  SendMain(rcmsg::kAudioState, mute_at_play_ == 0 ? 1 : 0, 0);
  const ChannelDisplayState all = AllFlags();
  const uint8_t mute = mute_at_play_;
  SetChannelFilter(&all, &mute);
}

void RcCtrlMain::PauseDvr() {
  if (!HasSession()) return;
  SetAudioEnabled(false);
  WithSession([](RdcpSession& s) {
    s.Pause();
    s.GetStatus();
  });
}

void RcCtrlMain::FastForwardDvr() {
  if (!HasSession()) return;
  SetAudioEnabled(false);
  WithSession([](RdcpSession& s) {
    s.FastForward();
    s.GetStatus();
  });
  RestartAudio();
}

void RcCtrlMain::RewindDvr() {
  if (!HasSession()) return;
  SetAudioEnabled(false);
  WithSession([](RdcpSession& s) {
    s.Rewind();
    s.GetStatus();
  });
  RestartAudio();
}

void RcCtrlMain::RefreshSettings() {
  WithSession([&](RdcpSession& s) {
    settings_refresh_.store(true);
    s.GetSettings();
  });
}

void RcCtrlMain::SetSchedule(const uint8_t hours[24]) {
  WithSession([&](RdcpSession& s) { s.SetSchedule(hours); });
}
void RcCtrlMain::SetTime(const DvrTime& time) {
  WithSession([&](RdcpSession& s) { s.SetTime(time); });
}
void RcCtrlMain::SetRecordMode(uint8_t v) {
  WithSession([&](RdcpSession& s) { s.SetRecordMode(v); });
}
void RcCtrlMain::SetInputChannels(uint8_t m) {
  WithSession([&](RdcpSession& s) { s.SetInputChannels(m); });
}
void RcCtrlMain::SetRecordChannels(uint8_t m) {
  WithSession([&](RdcpSession& s) { s.SetRecordChannels(m); });
}
void RcCtrlMain::SetVideoQuality(uint8_t v) {
  WithSession([&](RdcpSession& s) { s.SetVideoQuality(v); });
}
void RcCtrlMain::SetRecordFrameRate(uint8_t v) {
  WithSession([&](RdcpSession& s) { s.SetRecordFrameRate(v); });
}
void RcCtrlMain::SetAlarmOnDuration(uint8_t v) {
  WithSession([&](RdcpSession& s) { s.SetAlarmOnDuration(v); });
}
void RcCtrlMain::SetAlarmRecordDuration(uint8_t v) {
  WithSession([&](RdcpSession& s) { s.SetAlarmRecordDuration(v); });
}

void RcCtrlMain::SetAudioRecording(bool on) {
  WithSession([&](RdcpSession& s) {
    uint8_t flags = s.State().settings.audio_flags;
    s.SetAudioFlags(static_cast<uint8_t>((flags & ~0x01) | (on ? 0x01 : 0)));
  });
}

void RcCtrlMain::SetSpeakerMute(bool on) {
  WithSession([&](RdcpSession& s) {
    uint8_t flags = s.State().settings.audio_flags;
    s.SetAudioFlags(static_cast<uint8_t>((flags & ~0x02) | (on ? 0x02 : 0)));
  });
}

void RcCtrlMain::SetFrameInterval(uint8_t interval) {
  WithSession([&](RdcpSession& s) { s.SetStreamFilter(interval, s.StreamFilter()); });
}

void RcCtrlMain::SetChannelFilter(const ChannelDisplayState* wanted, const uint8_t* audio_bits) {
  WithSession([&](RdcpSession& s) {
    const uint8_t current = s.StreamFilter();
    uint8_t f = 0;
    if (audio_bits != nullptr)
      f |= *audio_bits;
    else if ((current & 0x10) != 0)
      f |= 0x10;
    if (wanted != nullptr) {
      if ((s.State().stream_content & kChannelSetQuad) != 0) {
        f |= 0x0F;
      } else {
        f |= 0x80;
        for (int i = 0; i < 4; ++i)
          if (wanted->channel[i] == 0) f |= static_cast<uint8_t>(1u << i);
      }
    }
    filter_change_pending_.store(true);
    s.SetStreamFilter(s.StreamFrameInterval(), f);
  });
}

void RcCtrlMain::SetAudioEnabled(bool on) {
  WithSession([&](RdcpSession& s) {
    uint8_t f = s.RecordMode() != 0 ? 0 : static_cast<uint8_t>(s.StreamFilter() & ~0x10);
    if (!on) f |= 0x10;
    s.SetStreamFilter(s.StreamFrameInterval(), f);
  });
}

// ------------------------------------------------------------------ local media

int RcCtrlMain::StartLocalRecording() {
  uint8_t standard = 0;
  WithSession([&](RdcpSession& s) { standard = s.VideoStandard(); });
  return recorder_.Start(standard != 0 ? 1 : 0);
}

int RcCtrlMain::StopLocalRecording() {
  return recorder_.Stop();
}

int RcCtrlMain::StartLocalPlayback(const std::string& path) {
  RestartAudio();
  local_playback_active_.store(0);
  player_.Close();
  int r = player_.Open(path);
  if (r != 0) return r;
  StartImageHandler(player_.GetVideoStandard());
  local_playback_active_.store(1);
  r = player_.Start();
  if (r != 0) local_playback_active_.store(0);
  return r;
}

void RcCtrlMain::StopLocalPlayback() {
  const bool was = local_playback_active_.exchange(0) != 0;
  player_.Close();
  if (was) {
    RestartAudio();
    SendAll(rcmsg::kLocalPlayStopped, 0, 0);
  }
}

void RcCtrlMain::LocalPlay() {
  RestartAudio();
  player_.ResumePlay();
}
void RcCtrlMain::LocalPause() {
  RestartAudio();
  player_.PausePlay();
}
void RcCtrlMain::LocalFastForward() {
  RestartAudio();
  player_.FasterForward();
}
void RcCtrlMain::LocalRewind() {
  RestartAudio();
  player_.FasterBackward();
}

int RcCtrlMain::StartAviExport(const std::string& path, CompressorChooser* chooser) {
  if (!image_.IsRunning()) return 404;
  StopAviExport();
  const int w = RcImageHandler::kWidth, h = image_.DisplayHeight();
  avi_.SetCompressorChooser(chooser);
  int r = avi_.Create(path, 24, w, h, BitmapInfoHeader::Make24(w, h));
  if (r != 0) return r;
  avi_adapter_ = std::make_unique<AviAdapter>(avi_, w, h);
  image_.SetAviExport(avi_adapter_.get());
  return 0;
}

void RcCtrlMain::StopAviExport() {
  if (!image_.IsAviExporting()) return;
  image_.SetAviExport(nullptr);
  {
    std::lock_guard lock(avi_audio_mu_);
    avi_.Release();
  }
  avi_adapter_.reset();
}

}  // namespace rd
