#include "client/engine/rdcp/RdcpSession.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace rd {

namespace {

EngineEvents& NullSink() {
  static EngineEvents sink;
  return sink;
}

uint32_t ChannelBitsHigh(uint8_t mask, int i) {  // CH1 = bit 3
  return (mask >> (3 - i)) & 1u;
}

// DvrSettings byte stored by the acknowledgements 73..79.
int SettingsOffsetForAck(uint8_t ack) {
  switch (ack) {
    case rdcp::kRecordModeChanged:
      return settings_offset::kRecordMode;
    case rdcp::kInputChannelsChanged:
      return settings_offset::kInputMask;
    case rdcp::kRecordChannelsChanged:
      return settings_offset::kRecordMask;
    case rdcp::kVideoQualityChanged:
      return settings_offset::kVideoQuality;
    case rdcp::kRecordFrameRateChanged:
      return settings_offset::kRecordFrameRate;
    case rdcp::kAlarmOnDurationChanged:
      return settings_offset::kAlarmOnDuration;
    case rdcp::kAlarmRecordDurationChanged:
      return settings_offset::kAlarmRecordDuration;
    default:
      return -1;
  }
}

}  // namespace

RdcpSession::RdcpSession() = default;

RdcpSession::~RdcpSession() {
  // Stop the threads before the members they use go away.
  if (started_.load()) {
    Stop();
  } else {
    if (SenderRunning()) StopSender();
    if (IsCreated()) Close();
  }
}

EngineEvents& RdcpSession::Sink() const {
  EngineEvents* s = sink_.load();
  return s != nullptr ? *s : NullSink();
}

EngineResult RdcpSession::SetSink(EngineEvents* sink) {
  if (sink == nullptr) return engine::kNoSink;
  sink_.store(sink);
  return engine::kOk;
}

EngineResult RdcpSession::Start() {
  if (started_.load()) return engine::kSessionAlreadyStarted;
  if (!IsCreated()) {
    EngineResult r = Create();
    if (r != engine::kOk) return r;
  }
  EngineResult r = StartSender();
  if (r != engine::kOk) return r;
  started_.store(true);
  return engine::kOk;
}

EngineResult RdcpSession::Stop() {
  if (!started_.load()) return engine::kSessionNotStarted;
  EngineResult r = StopSender();
  if (r != engine::kOk) return r;
  if (IsCreated()) {
    r = Close();
    if (r != engine::kOk) return r;
  }
  started_.store(false);
  return engine::kOk;
}

// ------------------------------------------------------------------ ring

EngineResult RdcpSession::Enqueue(const uint8_t* message, std::size_t length, bool no_reply,
                                  uint8_t expected_reply) {
  return EnqueueFramed(message, length, no_reply, expected_reply, nullptr);
}

EngineResult RdcpSession::SendDirect(const uint8_t* message, std::size_t length) {
  return Send(message, length);
}

void RdcpSession::ClearRing() {
  std::lock_guard<std::mutex> lock(ring_mutex_);
  for (Slot& s : ring_) s = Slot{};
  read_ = write_ = 0;
  awaiting_reply_ = long_wait_ = progress_ = false;
  ring_changed_.notify_all();
}

void RdcpSession::RunSender() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point sent_at = Clock::now();
  uint8_t message[255];
  std::unique_lock<std::mutex> lock(ring_mutex_);
  while (SenderShouldRun()) {
    if (CloseAsked()) {  // CloseSession: ahead of anything queued
      const uint8_t close[4] = {rdcp::kStartByte, 0, rdcp::kCloseSession, 0};
      lock.unlock();
      const bool sent = Send(close, sizeof close) == engine::kOk;
      lock.lock();
      close_state_.store(sent ? 2 : 3);
      continue;
    }
    if (read_ == write_) {  // nothing queued: wait for a request (or the stop)
      ring_changed_.wait(lock,
                         [&] { return read_ != write_ || !SenderShouldRun() || CloseAsked(); });
      continue;
    }
    Slot& s = ring_[read_];
    if (s.state == 0) {
      // Answered: move on, after the pause the recorder gets between requests.
      read_ = static_cast<uint8_t>((read_ + 1) % kRingSlots);
      ring_changed_.notify_all();  // a producer may wait for room
      ring_changed_.wait_for(lock, std::chrono::milliseconds(kAnsweredPauseMs),
                             [&] { return !SenderShouldRun() || CloseAsked(); });
      continue;
    }
    if (s.state == 1) {
      const std::size_t length = s.length;
      std::memcpy(message, s.message, length);
      // Marked before the send: on loopback the reply can arrive before the
      // send call returns.
      if (s.no_reply) {
        s.state = 0;
        // A keep-alive has its own reply and is never refused.
        if (length > 2 && message[2] != rdcp::kKeepAlive) {
          last_untracked_ = message[2];
          untracked_answered_ = rdcp::AnsweredInOrder(message[2]);
        }
      } else {
        s.state = 2;
        awaiting_reply_ = true;
        // A request the DVR always answers stays the one a refusal is for
        // until an answer arrives: answers come in order.
        if (!untracked_answered_) last_untracked_ = 0;
      }
      if (length > 2 && rdcp::IsLongWait(message[2])) long_wait_ = true;
      sent_at = Clock::now();
      progress_ = false;
      lock.unlock();
      Send(message, length);
      lock.lock();
      continue;
    }
    // Sent and waiting for its reply.
    if (progress_) {  // part of a multi-message reply arrived
      progress_ = false;
      sent_at = Clock::now();
    }
    const auto limit =
        std::chrono::milliseconds(long_wait_ ? kLongReplyTimeoutMs : kReplyTimeoutMs);
    if (Clock::now() - sent_at > limit) {
      s.state = 1;  // sent again on the next pass
      retransmissions_.fetch_add(1);
      continue;
    }
    const uint8_t slot = read_;
    ring_changed_.wait_until(lock, sent_at + limit + std::chrono::milliseconds(1), [&] {
      return !SenderShouldRun() || read_ != slot || ring_[slot].state != 2 || progress_ ||
             CloseAsked();
    });
  }
}

void RdcpSession::WakeSender() {
  std::lock_guard<std::mutex> lock(ring_mutex_);
  ring_changed_.notify_all();
}

bool RdcpSession::CompleteRequest(uint8_t reply_type, Change* change) {
  std::lock_guard<std::mutex> lock(ring_mutex_);
  last_untracked_ = 0;  // a reply came: a later refusal is not for that request
  Slot& s = ring_[read_];
  // Only a request that has been sent can be answered; one still waiting in
  // the ring is left to be sent.
  if (s.state != 2) return false;
  s.state = 0;
  answered_number_ = s.number;
  awaiting_reply_ = false;
  long_wait_ = false;
  if (change != nullptr) {
    *change = (s.expected == reply_type) ? s.change : Change{};
  }
  ring_changed_.notify_all();
  return true;
}

EngineResult RdcpSession::EnqueueRequest(uint8_t type, uint8_t param, const uint8_t* payload,
                                         std::size_t n, bool no_reply, const Change* change) {
  uint8_t message[rdcp::kMaxMessage];
  std::size_t length = rdcp::BuildFrame(type, param, payload, n, message, sizeof message);
  if (length == 0) return EMSGSIZE;
  return EnqueueFramed(message, length, no_reply, rdcp::ReplyTypeFor(type), change);
}

EngineResult RdcpSession::EnqueueFramed(const uint8_t* message, std::size_t length, bool no_reply,
                                        uint8_t expected, const Change* change) {
  if (!SenderRunning()) return engine::kSenderNotRunning;
  if (message == nullptr || length == 0 || length > 255) return EMSGSIZE;
  std::lock_guard<std::mutex> producers(producer_mutex_);
  std::unique_lock<std::mutex> lock(ring_mutex_);
  auto has_room = [&] { return static_cast<uint8_t>((write_ + 1) % kRingSlots) != read_; };
  // Full: wait for the sender, unless it is being stopped (then it would
  // never drain the ring).
  ring_changed_.wait(lock, [&] { return has_room() || !SenderShouldRun(); });
  if (!has_room()) return engine::kSenderNotRunning;
  Slot& s = ring_[write_];
  std::memcpy(s.message, message, length);
  s.length = static_cast<uint8_t>(length);
  s.no_reply = no_reply ? 1 : 0;
  s.expected = expected;
  s.change = change != nullptr ? *change : Change{};
  s.number = ++queued_number_;
  if (length > 2 && message[2] == rdcp::kGetStatus) status_request_ = s.number;
  s.state = 1;
  write_ = static_cast<uint8_t>((write_ + 1) % kRingSlots);
  ring_changed_.notify_all();
  return engine::kOk;
}

EngineResult RdcpSession::EnqueueChange(uint8_t type, const uint8_t* payload, std::size_t n) {
  Change change;
  change.present = true;
  std::memcpy(change.values, payload, std::min<std::size_t>(n, sizeof change.values));
  return EnqueueRequest(type, 0, payload, n, false, &change);
}

// ------------------------------------------------------------- connection

void RdcpSession::ClearCache() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  cache_ = DvrStateBlock{};
}

void RdcpSession::OnConnect(int error) {
  if (error == 0) {
    close_state_.store(0);
    ClearCache();
    {
      std::lock_guard<std::mutex> lock(rx_mutex_);
      carry_ = 0;
    }
    ClearRing();
  }
  Sink().OnCtrlConnect(error);
}

void RdcpSession::OnClose(int error) {
  Sink().OnCtrlClose(error);
}

void RdcpSession::OnReceive(int error) {
  if (error != 0) {
    if (!IsClosing()) Sink().OnCtrlReceiveError(error);
    return;
  }
  uint8_t buffer[kReceiveSize];
  int n = 0;
  EngineResult r = Receive(&n, buffer, sizeof buffer);
  if (r == EAGAIN || r == EWOULDBLOCK) return;  // nothing after all
  if (r != engine::kOk) {
    if (!IsClosing()) Sink().OnCtrlReceiveError(r);
    return;
  }
  if (n == 0) {
    if (MarkPeerClosed()) OnClose(0);
    return;
  }
  ProcessRead(buffer, static_cast<std::size_t>(n));
}

// ------------------------------------------------------- receive, dispatch

void RdcpSession::ProcessRead(const uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  std::lock_guard<std::mutex> lock(rx_mutex_);
  size = std::min(size, kReceiveSize);
  std::memcpy(rx_ + carry_, data, size);
  const std::size_t total = carry_ + size;
  carry_ = 0;
  std::size_t pos = 0;
  while (pos < total) {
    rdcp::Frame f;
    rdcp::ParseResult r = rdcp::ParseFrame(rx_ + pos, total - pos, &f);
    if (r == rdcp::ParseResult::kBadStart) return;  // the rest of the read is dropped
    if (r == rdcp::ParseResult::kNeedMore) {
      // The message continues in the next read: keep its bytes (at most 258).
      carry_ = total - pos;
      std::memmove(rx_, rx_ + pos, carry_);
      return;
    }
    if (Dispatch(f)) return;
    pos += f.size();
  }
}

bool RdcpSession::Dispatch(const rdcp::Frame& f) {
  using namespace rdcp;
  const uint8_t t = f.type;
  if (t == kSessionAccepted || (t >= kSettingsReply && t <= kRecordingStopped) ||
      t == kPlayAccepted || (t >= kPlayStopped && t <= kStatusReply) || t == kAudioFlagsChanged) {
    HandleReply(t, f.payload, f.length, true, 0);
    return false;
  }
  switch (t) {
    case kSessionEndedReply:
    case kClosedByKeypad:
      Sink().OnRdcpReply(t, 0);
      return true;  // the session is over: the rest of the read is dropped
    case kEventListPart:
      HandleEventList(f.payload, f.length, true);
      return false;  // further parts in the same read are handled as well
    case kStatusChanged:
      RequestStatus();
      return false;
    case kStatusPush:
      HandleStatusPush(f.payload, f.length);
      return false;
    case kKeepAliveReply:
      missed_.store(0);
      return false;
    case kNak: {
      uint8_t expected, refused;
      bool for_untracked;
      {
        std::lock_guard<std::mutex> lock(ring_mutex_);
        const Slot& s = ring_[read_];
        expected = s.expected;
        for_untracked = last_untracked_ != 0 && (untracked_answered_ || s.state != 2);
        refused = for_untracked ? last_untracked_ : s.state == 2 && s.length > 2 ? s.message[2] : 0;
        last_untracked_ = 0;
      }
      if (refused != 0 && refused < refusals_.size()) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        ++refusals_[refused].count;
        refusals_[refused].code = f.param;
      }
      // A refused change leaves the tracked request after it waiting for its
      // own answer.
      if (for_untracked) return false;
      if (expected == kEventListPart)
        HandleEventList(nullptr, 0, false);
      else
        HandleReply(expected, nullptr, 0, false, f.param);
      return false;
    }
    default:
      return false;  // not ours: skipped by its length
  }
}

void RdcpSession::RememberPair(uint8_t interval, uint8_t filter) {
  // Called with state_mutex_ held.
  if (pair_saved_) return;  // a mode-6 memory keeps the pair from before it
  pair_interval_ = interval;
  pair_filter_ = filter;
}

void RdcpSession::HandleReply(uint8_t type, const uint8_t* payload, std::size_t n, bool ok,
                              int error) {
  using namespace rdcp;
  Change change;
  const bool completed = CompleteRequest(type, &change);
  const bool apply = ok && completed && change.present;
  EngineEvents& sink = Sink();

  if (!ok) {
    // A rejected request simply ends; only a rejected session open is
    // reported, and only when an open was actually outstanding (a stray
    // rejection must not report a refused password on an open session).
    if (type == kSessionAccepted && completed) sink.OnRdcpReply(kNak, error);
    if (type == kFastForwardAccepted) RequestStatus();
    return;
  }

  switch (type) {
    case kSessionAccepted: {
      uint8_t challenge = n >= 1 ? payload[0] : 0;
      challenge_ = challenge;
      EnqueueRequest(kChallengeAnswer, static_cast<uint8_t>(challenge ^ kChallengeXor), nullptr, 0,
                     true);
      break;
    }
    case kSettingsReply: {
      std::lock_guard<std::mutex> lock(state_mutex_);
      UnpackSettingsOver(payload, n, cache_.settings);
      if (cache_.settings.audio_flags > 3) cache_.settings.audio_flags = 0;
      if (cache_.settings.audio_available > 3) cache_.settings.audio_available = 0;
      cache_.settings_valid = true;
      break;
    }
    case kScheduleReply: {
      bool stored = false;
      if (n == kRecordScheduleSize) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        std::memcpy(cache_.schedule.bytes.data(), payload, kRecordScheduleSize);
        cache_.schedule_valid = true;
        stored = true;
      }
      if (stored) sink.OnDvrInfoChanged();
      break;
    }
    case kScheduleChanged:
      if (apply) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        std::memcpy(cache_.schedule.bytes.data(), change.values, kRecordScheduleSize);
      }
      break;
    case kTimeReply: {
      std::lock_guard<std::mutex> lock(state_mutex_);
      cache_.time = UnpackTime(payload, n);
      cache_.time_valid = true;
      break;
    }
    case kTimeChanged:
      if (apply) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        cache_.time = UnpackTime(change.values, kDvrTimeSize);
      }
      break;
    case kMasterDiskCleared: {
      std::lock_guard<std::mutex> lock(state_mutex_);
      cache_.settings.disk_overwriting[0] = 0;
      cache_.settings.disk_used[0] = 0;
      break;
    }
    case kRecordModeChanged:
    case kInputChannelsChanged:
    case kRecordChannelsChanged:
    case kVideoQualityChanged:
    case kRecordFrameRateChanged:
    case kAlarmOnDurationChanged:
    case kAlarmRecordDurationChanged:
      if (apply) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        SetSettingsByte(cache_.settings, SettingsOffsetForAck(type), change.values[0]);
      }
      break;
    case kRecordingStarted:
    case kRecordingStopped:
    case kPlayAccepted:
      sink.OnDvrInfoChanged();
      break;
    case kFastForwardAccepted:
      RequestStatus();
      break;
    case kStreamFilterChanged:
      if (apply) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        cache_.status.frame_interval = change.values[0];
        cache_.status.stream_filter = change.values[1];
        RememberPair(change.values[0], change.values[1]);
      }
      break;
    case kStatusReply: {
      {
        std::lock_guard<std::mutex> lock(state_mutex_);
        cache_.status = UnpackStatus(payload, n);
        cache_.status_valid = true;
      }
      {
        std::lock_guard<std::mutex> lock(ring_mutex_);
        status_through_.store(answered_number_);
      }
      sink.OnDvrStatus(0);
      sink.OnDvrInfoChanged();
      sink.OnRdcpReply(type, 0);
      std::lock_guard<std::mutex> lock(state_mutex_);
      RememberPair(cache_.status.frame_interval, cache_.status.stream_filter);
      return;
    }
    case kAudioFlagsChanged:
      if (apply) {
        std::lock_guard<std::mutex> lock(state_mutex_);
        cache_.settings.audio_flags = change.values[0];
      }
      break;
    default:
      break;
  }
  sink.OnRdcpReply(type, 0);
}

void RdcpSession::HandleEventList(const uint8_t* payload, std::size_t n, bool ok) {
  if (!ok) {
    // Rejected: the request ends silently, and later requests are allowed again.
    CompleteRequest(rdcp::kEventListPart, nullptr);
    event_list_requested_.store(false);
    return;
  }
  if (n > 0) {
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      for (std::size_t off = 0; off + kEventRecordSize <= n; off += kEventRecordSize) {
        events_[event_next_] = UnpackEvent(payload + off, kEventRecordSize);
        event_next_ = (event_next_ + 1) % kMaxEvents;
        if (event_count_ < kMaxEvents) ++event_count_;
      }
    }
    // A part is progress: the request is not sent again while parts arrive.
    std::lock_guard<std::mutex> lock(ring_mutex_);
    progress_ = true;
    ring_changed_.notify_all();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    std::sort(events_, events_ + event_count_, [](const EventRecord& a, const EventRecord& b) {
      return CompareDvrTime(a.start, b.start) > 0;
    });
    event_next_ = event_count_ % kMaxEvents;
    cache_.event_list_valid = true;
  }
  event_list_requested_.store(false);
  CompleteRequest(rdcp::kEventListPart, nullptr);
  Sink().OnRdcpReply(rdcp::kEventListPart, 0);
}

void RdcpSession::HandleStatusPush(const uint8_t* payload, std::size_t n) {
  DvrStatus status = UnpackStatus(payload, n);
  bool restore = false;
  uint8_t interval = 0, filter = 0;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    if (status.mode == dvr_mode::kAlarmRecording) {
      if (!pair_saved_) {
        pair_saved_ = true;
        restore_interval_ = pair_interval_;
        restore_filter_ = pair_filter_;
      }
    } else if (status.mode >= 1 && status.mode <= 7) {
      if (pair_saved_) {
        restore = true;
        interval = restore_interval_;
        filter = restore_filter_;
        pair_saved_ = false;
      }
    }
    cache_.status = status;
    cache_.status_valid = true;
  }
  if (restore) SetStreamFilter(interval, filter);
  Sink().OnDvrStatus(0);
  Sink().OnDvrInfoChanged();
}

// ------------------------------------------------------------ keep-alive

void RdcpSession::PollTick() {
  ++keepalive_toggle_;
  if (keepalive_toggle_ & 1) return;
  int missed = missed_.fetch_add(1) + 1;
  if (missed > 5) {
    missed_.store(0);
    Sink().OnPollTimeout();
    return;
  }
  uint8_t message[5] = {rdcp::kStartByte, 1, rdcp::kKeepAlive, 0, keepalive_seq_};
  SendDirect(message, sizeof message);
  ++keepalive_seq_;
}

// -------------------------------------------------------------- requests

EngineResult RdcpSession::OpenSession(const uint8_t password[6]) {
  ClearCache();
  uint8_t digits[6];
  for (int i = 0; i < 6; ++i) digits[i] = static_cast<uint8_t>(password[i] & 0x0F);
  return EnqueueRequest(rdcp::kOpenSession, 0, digits, 6);
}

EngineResult RdcpSession::CloseSession() {
  if (!IsConnected()) return engine::kNotConnected;
  if (!SenderRunning()) return engine::kSenderNotRunning;
  int none = 0;
  if (close_state_.compare_exchange_strong(none, 1)) WakeSender();
  return engine::kOk;
}

uint64_t RdcpSession::LastStatusRequest() const {
  std::lock_guard<std::mutex> lock(ring_mutex_);
  return status_request_;
}

RdcpSession::Refusal RdcpSession::RefusalOf(uint8_t request_type) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return request_type < refusals_.size() ? refusals_[request_type] : Refusal{};
}

bool RdcpSession::WaitCloseSessionSent(int timeout_ms) {
  if (close_state_.load() == 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const int state = close_state_.load();
    // Acknowledged counts even when the DVR closed the connection right after.
    if (state == 2 && UnacknowledgedBytes() == 0) return true;
    // (A connection that went away makes the sender's write fail: state 3.)
    if (state == 3 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

EngineResult RdcpSession::RequestSettings() {
  return EnqueueRequest(rdcp::kGetSettings, 0, nullptr, 0);
}
EngineResult RdcpSession::RequestSchedule() {
  return EnqueueRequest(rdcp::kGetSchedule, 0, nullptr, 0);
}
EngineResult RdcpSession::RequestTime() {
  return EnqueueRequest(rdcp::kGetTime, 0, nullptr, 0);
}
EngineResult RdcpSession::RequestStatus() {
  return EnqueueRequest(rdcp::kGetStatus, 0, nullptr, 0);
}

EngineResult RdcpSession::SetSchedule(const uint8_t hours[24]) {
  RecordSchedule s = RecordSchedule::Pack(hours);
  return EnqueueChange(rdcp::kSetSchedule, s.bytes.data(), s.bytes.size());
}

EngineResult RdcpSession::SetTime(const DvrTime& time) {
  uint8_t payload[kDvrTimeSize];
  PackTime(time, payload);
  return EnqueueChange(rdcp::kSetTime, payload, sizeof payload);
}

EngineResult RdcpSession::SetRecordMode(uint8_t v) {
  return EnqueueChange(rdcp::kSetRecordMode, &v, 1);
}
EngineResult RdcpSession::SetInputChannels(uint8_t v) {
  return EnqueueChange(rdcp::kSetInputChannels, &v, 1);
}
EngineResult RdcpSession::SetRecordChannels(uint8_t v) {
  return EnqueueChange(rdcp::kSetRecordChannels, &v, 1);
}
EngineResult RdcpSession::SetVideoQuality(uint8_t v) {
  return EnqueueChange(rdcp::kSetVideoQuality, &v, 1);
}
EngineResult RdcpSession::SetRecordFrameRate(uint8_t v) {
  return EnqueueChange(rdcp::kSetRecordFrameRate, &v, 1);
}
EngineResult RdcpSession::SetAlarmOnDuration(uint8_t v) {
  return EnqueueChange(rdcp::kSetAlarmOnDuration, &v, 1);
}
EngineResult RdcpSession::SetAlarmRecordDuration(uint8_t v) {
  return EnqueueChange(rdcp::kSetAlarmRecordDuration, &v, 1);
}
EngineResult RdcpSession::SetAudioFlags(uint8_t v) {
  return EnqueueChange(rdcp::kSetAudioFlags, &v, 1);
}
EngineResult RdcpSession::SetStreamFilter(uint8_t interval, uint8_t filter) {
  const uint8_t payload[2] = {interval, filter};
  return EnqueueChange(rdcp::kSetStreamFilter, payload, 2);
}

EngineResult RdcpSession::StartRecording() {
  return EnqueueRequest(rdcp::kStartRecording, 0, nullptr, 0, true);
}
EngineResult RdcpSession::StopRecording() {
  return EnqueueRequest(rdcp::kStopRecording, 0, nullptr, 0);
}

EngineResult RdcpSession::RequestEventList() {
  if (event_list_requested_.exchange(true)) return engine::kOk;  // one list at a time
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    event_count_ = 0;
    event_next_ = 0;
    cache_.event_list_valid = false;
  }
  EngineResult r = EnqueueRequest(rdcp::kGetEventList, 0, nullptr, 0);
  if (r != engine::kOk) event_list_requested_.store(false);  // nothing is running
  return r;
}

EngineResult RdcpSession::Play() {
  return EnqueueRequest(rdcp::kPlay, 0, nullptr, 0);
}

EngineResult RdcpSession::PlayFrom(uint8_t disk, const DvrTime& start) {
  uint8_t payload[7];
  rdcp::PackPlayFrom(disk, start, payload);
  return EnqueueRequest(rdcp::kPlay, 0, payload, sizeof payload);
}

EngineResult RdcpSession::PlayEvent(uint8_t disk, uint32_t event_id) {
  uint8_t payload[5];
  rdcp::PackPlayEvent(disk, event_id, payload);
  return EnqueueRequest(rdcp::kPlay, 0, payload, sizeof payload);
}

EngineResult RdcpSession::StopPlay() {
  return EnqueueRequest(rdcp::kStopPlay, 0, nullptr, 0);
}
EngineResult RdcpSession::Pause() {
  return EnqueueRequest(rdcp::kPause, 0, nullptr, 0);
}
EngineResult RdcpSession::FastForward() {
  return EnqueueRequest(rdcp::kFastForward, 0, nullptr, 0);
}
EngineResult RdcpSession::Rewind() {
  return EnqueueRequest(rdcp::kRewind, 0, nullptr, 0);
}

void RdcpSession::StoreStreamHeader(const RecTime& time, uint8_t rate_code, uint8_t channel_set) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  cache_.rate_code = rate_code;
  cache_.stream_content = channel_set;
  const uint8_t mode = cache_.status.mode;
  if (mode < dvr_mode::kPlay || mode > dvr_mode::kFastForward)
    cache_.time = DvrTime::FromRecTime(time);
}

// --------------------------------------------------------------- getters

DvrStateBlock RdcpSession::State() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_;
}

#define RD_SETTINGS_GETTER(Name, field)             \
  uint8_t RdcpSession::Name() const {               \
    std::lock_guard<std::mutex> lock(state_mutex_); \
    return cache_.settings.field;                   \
  }
RD_SETTINGS_GETTER(RecordMode, record_mode)
RD_SETTINGS_GETTER(VideoQuality, video_quality)
RD_SETTINGS_GETTER(VideoStandard, video_standard)
RD_SETTINGS_GETTER(RecordFrameRate, record_frame_rate)
RD_SETTINGS_GETTER(AlarmOnDuration, alarm_on_duration)
RD_SETTINGS_GETTER(AlarmRecordDuration, alarm_record_duration)
RD_SETTINGS_GETTER(AudioAvailable, audio_available)
#undef RD_SETTINGS_GETTER

#define RD_STATUS_GETTER(Name, field)               \
  uint8_t RdcpSession::Name() const {               \
    std::lock_guard<std::mutex> lock(state_mutex_); \
    return cache_.status.field;                     \
  }
RD_STATUS_GETTER(DvrMode, mode)
RD_STATUS_GETTER(StreamFrameInterval, frame_interval)
RD_STATUS_GETTER(StreamFilter, stream_filter)
RD_STATUS_GETTER(PlaySpeed, play_speed)
#undef RD_STATUS_GETTER

ChannelDisplayState RdcpSession::InputChannels() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  ChannelDisplayState c;
  for (int i = 0; i < 4; ++i) c.channel[i] = ChannelBitsHigh(cache_.settings.input_mask, i);
  return c;
}

ChannelDisplayState RdcpSession::RecordChannels() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  ChannelDisplayState c;
  c.quad = cache_.settings.record_mode;
  for (int i = 0; i < 4; ++i) c.channel[i] = ChannelBitsHigh(cache_.settings.record_mask, i);
  return c;
}

uint8_t RdcpSession::DiskInstalled(int disk) const {
  if (disk != 0 && disk != 1) return 0;
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings.disk_installed[disk];
}

uint8_t RdcpSession::DiskOverwriting(int disk) const {
  if (disk != 0 && disk != 1) return 0;
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings.disk_installed[disk] ? cache_.settings.disk_overwriting[disk] : 0;
}

uint32_t RdcpSession::DiskCapacityMb(int disk) const {
  if (disk != 0 && disk != 1) return 0;
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings.disk_installed[disk] ? cache_.settings.disk_capacity[disk] >> 8 : 0;
}

uint32_t RdcpSession::DiskUsedMb(int disk) const {
  if (disk != 0 && disk != 1) return 0;
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings.disk_installed[disk] ? cache_.settings.disk_used[disk] >> 8 : 0;
}

uint8_t RdcpSession::AudioRecordingEnabled() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings.audio_flags & 1;
}

uint8_t RdcpSession::SpeakerMuted() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return (cache_.settings.audio_flags >> 1) & 1;
}

uint8_t RdcpSession::AudioEnabled() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return (cache_.status.stream_filter & stream_filter::kAudioExcluded) ? 0 : 1;
}

ChannelDisplayState RdcpSession::StreamChannelsPresent() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  ChannelDisplayState c;
  c.quad = (cache_.stream_content & kChannelSetQuad) ? 1 : 0;
  for (int i = 0; i < 4; ++i) c.channel[i] = ChannelBitsHigh(cache_.stream_content, i);
  return c;
}

ChannelDisplayState RdcpSession::StreamChannelsShown() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  ChannelDisplayState c;
  c.quad = (cache_.stream_content & kChannelSetQuad) ? 1 : 0;
  for (int i = 0; i < 4; ++i) {
    const bool excluded = (cache_.status.stream_filter >> i) & 1;
    c.channel[i] = (ChannelBitsHigh(cache_.stream_content, i) && !excluded) ? 1 : 0;
  }
  return c;
}

ChannelDisplayState RdcpSession::StreamChannelsWanted() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  ChannelDisplayState c;
  c.quad = cache_.settings.record_mode;
  for (int i = 0; i < 4; ++i) c.channel[i] = ((cache_.status.stream_filter >> i) & 1) ? 0 : 1;
  return c;
}

bool RdcpSession::Time(DvrTime* out) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  if (!cache_.time_valid || out == nullptr) return false;
  *out = cache_.time;
  return true;
}

void RdcpSession::Schedule(uint8_t hours[24]) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  cache_.schedule.Unpack(hours);
}

bool RdcpSession::EventList(std::vector<EventRecord>* out) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  if (!cache_.event_list_valid || out == nullptr) return false;
  out->assign(events_, events_ + event_count_);
  return true;
}

bool RdcpSession::SettingsValid() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.settings_valid;
}

bool RdcpSession::StatusValid() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return cache_.status_valid;
}

}  // namespace rd
