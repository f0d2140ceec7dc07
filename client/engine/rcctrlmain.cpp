#include "client/engine/rcctrlmain.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>

#include "shared/still/BmpFile.h"
#include "shared/stream/StreamPacket.h"

namespace rd {
namespace {

// Bits of the DVR's audio flags (settings byte 28).
constexpr uint8_t kAudioRecordingBit = 0x01;
constexpr uint8_t kSpeakerMutedBit = 0x02;

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

// Moves the owned worker out under its lock, stops it outside the lock (its
// threads may call back into the owner and take that lock), then deletes it.
// `before_stop` runs on the taken worker, outside the lock.
template <typename Mutex, typename Worker, typename Pred, typename Before>
void StopAndDelete(Mutex& mu, std::unique_ptr<Worker>& owned, Pred&& should_stop,
                   Before&& before_stop) {
  std::unique_ptr<Worker> taken;
  {
    std::lock_guard lock(mu);
    if (owned && should_stop(*owned)) taken = std::move(owned);
  }
  if (!taken) return;
  before_stop(*taken);
  taken->Stop();
}

template <typename Mutex, typename Worker>
void StopAndDelete(Mutex& mu, std::unique_ptr<Worker>& owned) {
  StopAndDelete(
      mu, owned, [](Worker&) { return true; }, [](Worker&) {});
}

// A session about to close gets a short bounded wait for its CloseSession to
// reach the DVR (nothing to wait for when none was asked).
void StopAndDeleteSession(std::recursive_mutex& mu, std::unique_ptr<RdcpSession>& owned,
                          bool only_started) {
  StopAndDelete(
      mu, owned, [&](RdcpSession& s) { return !only_started || s.IsStarted(); },
      [](RdcpSession& s) { s.WaitCloseSessionSent(kCloseSessionWaitMs); });
}

}  // namespace

// ------------------------------------------------------------------ messages

namespace rcmsg {

intptr_t PackAddress(const std::string& dotted) {
  in_addr a{};
  if (::inet_pton(AF_INET, dotted.c_str(), &a) != 1) return 0;
  return static_cast<intptr_t>(ntohl(a.s_addr));
}

std::string AddressText(intptr_t packed) {
  const auto v = static_cast<uint32_t>(packed);
  return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xFF) + "." +
         std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

intptr_t PackChannels(const ChannelDisplayState& flags) {
  intptr_t packed = 0;
  for (int i = 0; i < 5; ++i)
    if (flags[i] != 0) packed |= intptr_t{1} << i;
  return packed;
}

ChannelDisplayState UnpackChannels(intptr_t packed) {
  ChannelDisplayState flags;
  for (int i = 0; i < 5; ++i) flags[i] = (packed >> i) & 1;
  return flags;
}

}  // namespace rcmsg

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
    case kClosedByDvr:
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

void WindowRegistry::Unregister(RcWindow* window) {
  std::lock_guard lock(mu_);
  int kept = 0;
  for (int i = 0; i < count_; ++i)
    if (windows_[i] != window) windows_[kept++] = windows_[i];
  for (int i = kept; i < count_; ++i) windows_[i] = nullptr;
  count_ = kept;
}

bool WindowRegistry::Contains(RcWindow* window) const {
  std::lock_guard lock(mu_);
  for (int i = 0; i < count_; ++i)
    if (windows_[i] == window) return true;
  return false;
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

void WindowRegistry::PostMain(uint32_t msg, uintptr_t w, intptr_t l) const {
  std::lock_guard lock(mu_);
  if (count_ > 0) windows_[0]->Post(msg, w, l);
}

void WindowRegistry::PostAll(uint32_t msg, uintptr_t w, intptr_t l) const {
  std::lock_guard lock(mu_);
  for (int i = 0; i < count_; ++i) windows_[i]->Post(msg, w, l);
}

// A sent message is handled during the call, so the registry's lock is not
// held then (a handler may register or unregister a window). Windows are
// registered and unregistered on the user-interface thread only, so a window
// still registered when its turn comes is alive for the call.
void RcCtrlMain::SendMain(uint32_t msg, uintptr_t w, intptr_t l) {
  if (!OnUiThread()) return PostMain(msg, w, l);
  if (RcWindow* m = windows_.Main()) m->Send(msg, w, l);
}

void RcCtrlMain::SendAll(uint32_t msg, uintptr_t w, intptr_t l) {
  if (!OnUiThread()) return PostAll(msg, w, l);
  for (RcWindow* win : windows_.All())
    if (windows_.Contains(win)) win->Send(msg, w, l);
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
  StopAndDeleteSession(session_mu_, session_, false);
  StopAndDelete(stream_mu_, stream_);
  image_.SetAviExport(nullptr);
  avi_adapter_.reset();
  avi_.Close();
  {
    std::lock_guard lock(audio_mu_);
    audio_.Close();
  }
}

bool RcCtrlMain::SetDisplayTarget(DisplayTarget* target) {
  if (target == nullptr) return false;
  target_ = target;
  return true;
}

void RcCtrlMain::SetPorts(uint16_t control_port, uint16_t stream_port) {
  if (control_port != 0) control_port_ = control_port;
  if (stream_port != 0) stream_port_ = stream_port;
}

// Start() has the socket thread running when it returns, so the connect can
// be asked for at once; its outcome arrives as OnCtrlConnect / OnStreamConnect.
void RcCtrlMain::Connect(const std::string& ip, const uint8_t password[6]) {
  {
    std::lock_guard lock(stream_mu_);
    address_ = ip;
  }
  std::memcpy(password_, password, 6);
  connect_started_ms_.store(NowMs());
  close_session_sent_.store(false);
  SendAll(rcmsg::kCtrlConnecting, 0, reinterpret_cast<intptr_t>(address_.c_str()));
  state_.store(rcstate::kCtrlConnecting);
  // The old session's threads are stopped before a new one is made.
  StopAndDelete(session_mu_, session_);
  {
    std::lock_guard lock(queued_mu_);
    queued_pair_.reset();
    queued_audio_flags_.reset();
    audio_before_status_.reset();
  }
  filter_changes_pending_.store(0);
  auto session = std::make_unique<RdcpSession>();
  session->SetSink(this);
  int result = session->Start();
  std::lock_guard lock(session_mu_);
  session_ = std::move(session);
  if (result == 0) result = session_->SetRemote(ip.c_str(), control_port_);
  if (result != 0) OnCtrlConnect(result);
}

// The DVR hears that the client leaves before the connection closes
// (CloseSession goes out ahead of the send ring, and the close waits briefly
// for it to be acknowledged).
void RcCtrlMain::DisconnectControl() {
  SendCloseSession();
  StopAndDeleteSession(session_mu_, session_, true);
  state_.store(rcstate::kIdle);
}

void RcCtrlMain::ConnectStream(const std::string& ip, uint16_t port) {
  stats_.Reset();
  {
    std::lock_guard lock(stream_mu_);
    stream_address_ = ip;
  }
  SendAll(rcmsg::kStreamConnecting, 0, rcmsg::PackAddress(ip));
  StopAndDelete(stream_mu_, stream_);
  auto rx = std::make_unique<StreamReceiver>();
  rx->SetSink(this);
  int result = rx->Start();
  {
    std::lock_guard lock(stream_mu_);
    stream_ = std::move(rx);
    if (result == 0) result = stream_->SetRemote(ip.c_str(), port);
  }
  if (result != 0) OnStreamConnect(result);
}

void RcCtrlMain::SendCloseSession() {
  WithSession([this](RdcpSession& s) {
    if (s.IsConnected() && !close_session_sent_.exchange(true)) s.CloseSession();
  });
}

void RcCtrlMain::DisconnectStream() {
  StopAndDelete(stream_mu_, stream_);
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

bool RcCtrlMain::DvrState(DvrStateBlock* out) const {
  return out != nullptr && WithSession([&](RdcpSession& s) { *out = s.State(); });
}

bool RcCtrlMain::EventList(std::vector<EventRecord>* out) const {
  bool ok = false;
  WithSession([&](RdcpSession& s) { ok = s.EventList(out); });
  return ok;
}

bool RcCtrlMain::Time(DvrTime* out) const {
  bool ok = false;
  WithSession([&](RdcpSession& s) { ok = s.Time(out); });
  return ok;
}

std::string RcCtrlMain::Address() const {
  std::lock_guard lock(stream_mu_);
  return address_;
}

std::string RcCtrlMain::StreamAddress() const {
  std::lock_guard lock(stream_mu_);
  return stream_address_;
}

ChannelDisplayState RcCtrlMain::ChannelsPresent() const {
  std::lock_guard lock(channels_mu_);
  return prev_present_;
}

ChannelDisplayState RcCtrlMain::StreamChannelsShown() const {
  return FromSession(&RdcpSession::StreamChannelsShown);
}
ChannelDisplayState RcCtrlMain::StreamChannelsWanted() const {
  return FromSession(&RdcpSession::StreamChannelsWanted);
}
ChannelDisplayState RcCtrlMain::InputChannels() const {
  return FromSession(&RdcpSession::InputChannels);
}
ChannelDisplayState RcCtrlMain::RecordChannels() const {
  return FromSession(&RdcpSession::RecordChannels);
}
uint8_t RcCtrlMain::DvrMode() const {
  return FromSession(&RdcpSession::DvrMode);
}
uint8_t RcCtrlMain::PlaySpeed() const {
  return FromSession(&RdcpSession::PlaySpeed);
}
uint8_t RcCtrlMain::RecordMode() const {
  return FromSession(&RdcpSession::RecordMode);
}
uint8_t RcCtrlMain::VideoStandard() const {
  return FromSession(&RdcpSession::VideoStandard);
}
uint8_t RcCtrlMain::VideoQuality() const {
  return FromSession(&RdcpSession::VideoQuality);
}
uint8_t RcCtrlMain::RecordFrameRate() const {
  return FromSession(&RdcpSession::RecordFrameRate);
}
uint8_t RcCtrlMain::AlarmOnDuration() const {
  return FromSession(&RdcpSession::AlarmOnDuration);
}
uint8_t RcCtrlMain::AlarmRecordDuration() const {
  return FromSession(&RdcpSession::AlarmRecordDuration);
}
uint8_t RcCtrlMain::AudioAvailable() const {
  return FromSession(&RdcpSession::AudioAvailable);
}
uint8_t RcCtrlMain::AudioEnabled() const {
  return FromSession(&RdcpSession::AudioEnabled);
}
uint8_t RcCtrlMain::AudioRecordingEnabled() const {
  return FromSession(&RdcpSession::AudioRecordingEnabled);
}
uint8_t RcCtrlMain::SpeakerMuted() const {
  return FromSession(&RdcpSession::SpeakerMuted);
}
uint8_t RcCtrlMain::StreamFrameInterval() const {
  return FromSession(&RdcpSession::StreamFrameInterval);
}
uint8_t RcCtrlMain::StreamFilter() const {
  return FromSession(&RdcpSession::StreamFilter);
}
uint8_t RcCtrlMain::DiskInstalled(int disk) const {
  return FromSession(&RdcpSession::DiskInstalled, disk);
}
uint8_t RcCtrlMain::DiskOverwriting(int disk) const {
  return FromSession(&RdcpSession::DiskOverwriting, disk);
}
uint32_t RcCtrlMain::DiskCapacityMb(int disk) const {
  return FromSession(&RdcpSession::DiskCapacityMb, disk);
}
uint32_t RcCtrlMain::DiskUsedMb(int disk) const {
  return FromSession(&RdcpSession::DiskUsedMb, disk);
}

int RcCtrlMain::AudioVolume() const {
  // Without an output (no sound device) the window shows the volume an
  // output starts with, not 0.
  int16_t percent = 50;
  audio_.GetVolume(&percent);
  return percent;
}

void RcCtrlMain::FlushAudio() {
  std::lock_guard lock(audio_mu_);
  audio_.Reset();
}

int64_t RcCtrlMain::MillisSinceConnect() const {
  return NowMs() - connect_started_ms_.load();
}

RdcpSession::Refusal RcCtrlMain::RefusalOf(uint8_t request_type) const {
  RdcpSession::Refusal r;
  WithSession([&](RdcpSession& s) { r = s.RefusalOf(request_type); });
  return r;
}

uint64_t RcCtrlMain::LastStatusRequest() const {
  uint64_t n = 0;
  WithSession([&](RdcpSession& s) { n = s.LastStatusRequest(); });
  return n;
}

uint64_t RcCtrlMain::StatusAnsweredThrough() const {
  uint64_t n = 0;
  WithSession([&](RdcpSession& s) { n = s.StatusAnsweredThrough(); });
  return n;
}

std::vector<std::string> RcCtrlMain::RecordingFiles() const {
  std::vector<std::string> out;
  for (const auto& p : recorder_.Files()) out.push_back(p.string());
  return out;
}

// ------------------------------------------------------------------ events

void RcCtrlMain::PostEvent(int code, intptr_t param) {
  PostAll(rcmsg::kEventBroadcast, static_cast<uintptr_t>(code), param);
  if (code >= rcevent::kShutdown && code <= rcevent::kStreamError) SendCloseSession();
  if (code >= rcevent::kNotFound && code <= rcevent::kStreamError)
    PostMain(rcmsg::kConnectionEvent, static_cast<uintptr_t>(code), param);
}

void RcCtrlMain::OnFrameIntervalChosen(uint8_t interval) {
  filter_changes_pending_.fetch_add(1);
  SetFrameInterval(interval);
}

void RcCtrlMain::OnCtrlConnect(int error) {
  if (error != 0) {
    PostEvent(rcevent::kConnectFailed, error);
  } else {
    state_.store(rcstate::kOpening);
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
    case rdcp::kSessionAccepted:
      if (state_.load() == rcstate::kOpening) {
        bool streaming;
        {
          std::lock_guard lock(stream_mu_);
          streaming = stream_ != nullptr;
        }
        // One stream connection per session: a second 64 does nothing.
        if (!streaming) ConnectStream(Address(), stream_port_);
        WithSession([](RdcpSession& s) { s.RequestSettings(); });
      }
      break;
    case rdcp::kSessionEndedReply:
      PostAll(rcmsg::kEventBroadcast, 255, 255);
      break;
    case rdcp::kClosedByKeypad:
      PostEvent(rcevent::kClosedByDvr, 0);
      break;
    case rdcp::kSettingsReply:
      if (settings_refresh_.load()) {
        WithSession([](RdcpSession& s) { s.RequestTime(); });
      } else {
        uint8_t available = 0;
        WithSession([&](RdcpSession& s) {
          if (state_.load() == rcstate::kOpening) s.RequestStatus();
          available = s.AudioAvailable();
        });
        PostMain(rcmsg::kAudioAvailable, available, 0);
        PostMain(rcmsg::kRefreshDisplay, 0, 0);
        OnDvrInfoChanged();
      }
      break;
    case rdcp::kScheduleReply:
      if (settings_refresh_.exchange(false)) PostAll(rcmsg::kSettingsRefreshed, 0, 0);
      break;
    case rdcp::kTimeReply:
      if (settings_refresh_.load()) WithSession([](RdcpSession& s) { s.RequestSchedule(); });
      break;
    case rdcp::kRecordModeChanged: {
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
    case rdcp::kRecordChannelsChanged:
    case rdcp::kRecordFrameRateChanged:
      adjuster_.ResetHistory();
      PostMain(rcmsg::kRefreshDisplay, 0, 0);
      break;
    case rdcp::kRecordingStarted:
    case rdcp::kRecordingStopped:
    case rdcp::kPlayAccepted:
    case rdcp::kPlayStopped:
    case rdcp::kPaused:
    case rdcp::kFastForwardAccepted:
    case rdcp::kRewindAccepted:
      WithSession([](RdcpSession& s) { s.RequestStatus(); });
      break;
    case rdcp::kEventListPart:
      PostAll(rcmsg::kEventListDone, 0, 0);
      break;
    case rdcp::kStreamFilterChanged:
      ForgetAppliedChanges();
      adjuster_.ResetHistory();
      // Every change refreshes the display with its own acknowledgement: a
      // refresh after only the first of two quick channel clicks would leave
      // the second click's button showing the state before it.
      {
        int n = filter_changes_pending_.load();
        while (n > 0 && !filter_changes_pending_.compare_exchange_weak(n, n - 1)) {
        }
        if (n > 0) PostMain(rcmsg::kRefreshDisplay, 0, 0);
      }
      break;
    case rdcp::kStatusReply: {
      int standard = 0;
      uint8_t mode = 0, audio = 0;
      std::optional<bool> audio_choice;
      {
        std::lock_guard lock(queued_mu_);
        audio_choice = std::exchange(audio_before_status_, std::nullopt);
      }
      if (audio_choice) SetAudioEnabled(*audio_choice);
      WithSession([&](RdcpSession& s) {
        standard = s.VideoStandard();
        mode = s.DvrMode();
        // The stream's audio as the filter queued last leaves it: a status
        // that overtook the main window's mute at the stream connect must
        // not unmute the new stream.
        uint8_t interval, filter;
        BaseStreamPair(s, &interval, &filter);
        audio = (filter & stream_filter::kAudioExcluded) == 0 ? 1 : 0;
      });
      StartImageHandler(standard);
      if (state_.load() == rcstate::kOpening) {
        if (mode == dvr_mode::kView || mode > dvr_mode::kFastForward) {
          WithSession([](RdcpSession& s) { s.RequestTime(); });
          state_.store(rcstate::kOpen);
        } else {
          state_.store(rcstate::kOpenPlaying);
        }
        SendMain(rcmsg::kAudioState, audio, 0);
      }
      PostMain(rcmsg::kDvrStatus, audio, 0);
      PostMain(rcmsg::kRefreshDisplay, 0, 0);
      break;
    }
    case rdcp::kAudioFlagsChanged:
      ForgetAppliedChanges();
      break;
    case rdcp::kNak:
      if (state_.load() == rcstate::kOpening) {
        PostEvent(rcevent::kOpenRejected, error);
        state_.store(rcstate::kIdle);
      } else if (state_.load() == rcstate::kOpen) {
        WithSession([&](RdcpSession& s) {
          s.RequestTime();
          state_.store(s.DvrMode() == dvr_mode::kView ? rcstate::kOpen : rcstate::kOpenPlaying);
        });
      }
      break;
    default:
      break;
  }
}

// The result is "sent": a window handles it before the connection event that
// a failure raises, so the teardown's status text is the one that stays.
void RcCtrlMain::OnStreamConnect(int error) {
  if (error == 0) {
    std::lock_guard lock(channels_mu_);
    prev_present_ = ChannelDisplayState{};
    adjuster_.SetOwner(this);
  }
  SendAll(rcmsg::kStreamConnectResult, static_cast<uintptr_t>(error), 0);
  if (error != 0) PostEvent(rcevent::kStreamConnectFailed, error);
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
    if (!(present == prev_present_)) {
      prev_present_ = present;
      changed = true;
    }
  }
  if (changed) {
    SetChannelFilter(&present, nullptr);
    PostMain(rcmsg::kChannelsPresent, 0, rcmsg::PackChannels(present));
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
    case rctick::kConnectTimeout:
      PostEvent(rcevent::kNotFound, 0);
      break;
    case rctick::kSecond: {
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
    case rctick::kRefresh: {
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

void RcCtrlMain::RequestStatus() {
  WithSession([](RdcpSession& s) { s.RequestStatus(); });
}
void RcCtrlMain::StartRecording() {
  WithSession([](RdcpSession& s) { s.StartRecording(); });
}
void RcCtrlMain::StopRecording() {
  WithSession([](RdcpSession& s) { s.StopRecording(); });
}
void RcCtrlMain::RequestEventList() {
  WithSession([](RdcpSession& s) { s.RequestEventList(); });
}

void RcCtrlMain::PlayDvr() {
  if (!WithSession([](RdcpSession& s) {
        s.Play();
        s.RequestStatus();
      }))
    return;
  RestartAudio();
}

template <typename Request>
void RcCtrlMain::StartDvrPlayback(Request&& request) {
  if (!WithSession(request)) return;
  SetChannelFilter(nullptr, nullptr);
  RestartAudio();
  SendMain(rcmsg::kAskMute, 0, reinterpret_cast<intptr_t>(&mute_at_play_));
}

void RcCtrlMain::PlayDvrFrom(uint8_t disk, const DvrTime& time) {
  StartDvrPlayback([&](RdcpSession& s) { s.PlayFrom(disk, time); });
}

void RcCtrlMain::PlayDvrEvent(uint8_t disk, uint32_t id) {
  StartDvrPlayback([&](RdcpSession& s) { s.PlayEvent(disk, id); });
}

void RcCtrlMain::StopDvrPlay() {
  if (!WithSession([](RdcpSession& s) { s.StopPlay(); })) return;
  RestartAudio();
  SendMain(rcmsg::kAudioState, mute_at_play_ == 0 ? 1 : 0, 0);
  const ChannelDisplayState all = AllFlags();
  const uint8_t mute = mute_at_play_;
  SetChannelFilter(&all, &mute);
}

template <typename Request>
void RcCtrlMain::ChangeDvrPlay(Request&& request, bool restart_audio) {
  if (!HasSession()) return;
  SetAudioEnabled(false);
  WithSession([&](RdcpSession& s) {
    request(s);
    s.RequestStatus();
  });
  if (restart_audio) RestartAudio();
}

void RcCtrlMain::PauseDvr() {
  ChangeDvrPlay([](RdcpSession& s) { s.Pause(); }, false);
}
void RcCtrlMain::FastForwardDvr() {
  ChangeDvrPlay([](RdcpSession& s) { s.FastForward(); }, true);
}
void RcCtrlMain::RewindDvr() {
  ChangeDvrPlay([](RdcpSession& s) { s.Rewind(); }, true);
}

void RcCtrlMain::RefreshSettings() {
  WithSession([&](RdcpSession& s) {
    settings_refresh_.store(true);
    s.RequestSettings();
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

// Change requests of the stream pair (interval, filter) and of the audio
// flags are built on the last value queued until the cache holds it: two
// changes queued before the first acknowledgement must not undo each other
// (the second would otherwise start from the cache the first has not changed
// yet). Once the cache holds the last value queued, the cache counts again,
// so a change the DVR or the session makes itself is kept.
void RcCtrlMain::BaseStreamPair(RdcpSession& s, uint8_t* interval, uint8_t* filter) {
  std::lock_guard lock(queued_mu_);
  *interval = queued_pair_ ? queued_pair_->first : s.StreamFrameInterval();
  *filter = queued_pair_ ? queued_pair_->second : s.StreamFilter();
}

void RcCtrlMain::QueueStreamPair(RdcpSession& s, uint8_t interval, uint8_t filter) {
  {
    std::lock_guard lock(queued_mu_);
    queued_pair_ = std::make_pair(interval, filter);
  }
  s.SetStreamFilter(interval, filter);
}

void RcCtrlMain::ForgetAppliedChanges() {
  uint8_t interval = 0, filter = 0, flags = 0;
  if (!WithSession([&](RdcpSession& s) {
        interval = s.StreamFrameInterval();
        filter = s.StreamFilter();
        flags = s.State().settings.audio_flags;
      }))
    return;
  std::lock_guard lock(queued_mu_);
  if (queued_pair_ && *queued_pair_ == std::make_pair(interval, filter)) queued_pair_.reset();
  if (queued_audio_flags_ && *queued_audio_flags_ == flags) queued_audio_flags_.reset();
}

// The audio flags with one bit replaced.
void RcCtrlMain::SetAudioFlagBit(uint8_t bit, bool on) {
  WithSession([&](RdcpSession& s) {
    uint8_t flags;
    {
      std::lock_guard lock(queued_mu_);
      flags = queued_audio_flags_.value_or(s.State().settings.audio_flags);
      flags = static_cast<uint8_t>((flags & ~bit) | (on ? bit : 0));
      queued_audio_flags_ = flags;
    }
    s.SetAudioFlags(flags);
  });
}

void RcCtrlMain::SetAudioRecording(bool on) {
  SetAudioFlagBit(kAudioRecordingBit, on);
}
void RcCtrlMain::SetSpeakerMute(bool on) {
  SetAudioFlagBit(kSpeakerMutedBit, on);
}

void RcCtrlMain::SetFrameInterval(uint8_t interval) {
  WithSession([&](RdcpSession& s) {
    uint8_t current_interval, filter;
    BaseStreamPair(s, &current_interval, &filter);
    QueueStreamPair(s, interval, filter);
  });
}

void RcCtrlMain::SetChannelFilter(const ChannelDisplayState* wanted, const uint8_t* audio_bits) {
  WithSession([&](RdcpSession& s) {
    uint8_t interval, current;
    BaseStreamPair(s, &interval, &current);
    uint8_t f = 0;
    if (audio_bits != nullptr)
      f |= *audio_bits;
    else if ((current & stream_filter::kAudioExcluded) != 0)
      f |= stream_filter::kAudioExcluded;
    if (wanted != nullptr) {
      if ((s.State().stream_content & kChannelSetQuad) != 0) {
        f |= stream_filter::kChannelMask;
      } else {
        f |= stream_filter::kPerChannel;
        for (int i = 0; i < 4; ++i)
          if (wanted->channel[i] == 0) f |= static_cast<uint8_t>(1u << i);
      }
    }
    filter_changes_pending_.fetch_add(1);
    QueueStreamPair(s, interval, f);
  });
}

void RcCtrlMain::SetAudioEnabled(bool on) {
  WithSession([&](RdcpSession& s) {
    // Before the first status the stream filter is unknown: a filter built
    // on the empty cache would switch the DVR to its quad picture. The
    // choice waits for the status reply and is sent on its filter.
    {
      // Checked and kept under the lock the status reply takes to pick the
      // choice up, so a status arriving in between cannot miss it.
      std::lock_guard lock(queued_mu_);
      if (!s.StatusValid()) {
        audio_before_status_ = on;
        return;
      }
    }
    uint8_t interval, current;
    BaseStreamPair(s, &interval, &current);
    uint8_t f =
        s.RecordMode() != 0 ? 0 : static_cast<uint8_t>(current & ~stream_filter::kAudioExcluded);
    if (!on) f |= stream_filter::kAudioExcluded;
    QueueStreamPair(s, interval, f);
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
  if (!image_.IsRunning()) return kAviBadSize;  // no picture to export
  StopAviExport();
  const int w = RcImageHandler::kWidth, h = image_.DisplayHeight();
  avi_.SetCompressorChooser(chooser);
  const int r = avi_.Create(path, 24, w, h, BitmapInfoHeader::Make24(w, h));
  if (r != kAviOk) return r;
  avi_adapter_ = std::make_unique<AviAdapter>(avi_, w, h);
  image_.SetAviExport(avi_adapter_.get());
  return kAviOk;
}

std::string RcCtrlMain::AviFailureReason(int code) const {
  // Without a picture nothing was tried: the writer knows of no failure.
  if (code == kAviBadSize && !image_.IsRunning()) return "no picture to export";
  return avi_.FailureReason(code);
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
