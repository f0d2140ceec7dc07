#include "tools/dvrsim/DvrSim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>

#include "shared/stream/RecTimeCalendar.h"
#include "tools/dvrsim/AlawTone.h"

namespace rd::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxControlOut = 1 << 20;   // a client that reads nothing is dropped
constexpr std::size_t kMaxStreamQueue = 2 << 20;  // whole frames are dropped beyond this
constexpr std::size_t kEventsPerPart = 14;        // 14 x 18 = 252 payload bytes
constexpr uint64_t kFullFrameEvery = 16;          // every 16th frame of a channel is full
constexpr uint64_t kReverseWindow = 64;           // packets read per step of backward play

int MakeListener(const std::string& addr, int port, int* bound_port, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
    *error = "not an IPv4 address: " + addr;
    ::close(fd);
    return -1;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0) {
    *error = "cannot listen on " + addr + ":" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  *bound_port = ntohs(sa.sin_port);
  return fd;
}

int AcceptOne(int listen_fd) {
  int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// The events pending on a socket now, without waiting.
short PollNow(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, 0) > 0 ? p.revents : 0;
}

// A client that closes and reconnects at once has its close queued ahead of
// the new connection: before refusing the new one as busy, the server looks
// for the current client's hang-up (and, on the control connection, reads
// what it sent before it).
constexpr short kHangUp = POLLRDHUP | POLLHUP | POLLERR;

// Seconds since 1970 of a time the recorder can hold, else nothing.
std::optional<int64_t> SecondsFromDvrTime(const DvrTime& t) {
  return CheckedRecTimeSeconds(t.ToRecTime());
}

int QualityToQ(uint8_t quality) {
  switch (quality) {
    case 0:
      return 9;  // "Low"
    case 1:
      return 3;  // "High"
    default:
      return 5;  // "Normal"
  }
}

bool ValidAlarmOn(uint8_t v) {
  return v == 35 || (v <= 30 && v % 5 == 0);
}
bool ValidAlarmRecord(uint8_t v) {
  return v >= 5 && v <= 30 && v % 5 == 0;
}

}  // namespace

std::vector<int> BaseFrameRates(bool pal) {
  if (pal) return {25, 12, 8, 6, 4, 3, 2, 1};
  return {30, 15, 10, 7, 5, 4, 3, 2, 1};
}

uint8_t RateCodeFor(double fps) {
  if (fps <= 0) return 29;
  long code = std::lround(30.0 / fps) - 1;
  return static_cast<uint8_t>(std::clamp(code, 0L, 255L));
}

DvrSim::DvrSim(SimOptions options) : opt_(std::move(options)) {
  settings_.record_mode = opt_.quad ? 1 : 0;
  settings_.input_mask = 0x0F;
  settings_.record_mask = 0x0F;
  settings_.video_quality = 2;
  settings_.video_standard = opt_.pal ? 1 : 0;
  settings_.record_frame_rate = 0;
  settings_.alarm_on_duration = 10;
  settings_.alarm_record_duration = 10;
  settings_.disk_installed[0] = 1;
  settings_.audio_flags = opt_.audio ? 1 : 0;
  settings_.audio_available = opt_.audio ? 1 : 0;
  status_.mode = dvr_mode::kView;
  status_.stream_filter = opt_.quad ? 0 : stream_filter::kPerChannel;
  audio_block_.resize(kAudioPayloadSize);
}

DvrSim::~DvrSim() {
  Stop();
}

// ==================================================================== start/stop

bool DvrSim::Start(std::string* error) {
  std::string dummy;
  if (!error) error = &dummy;
  if (running_) {
    *error = "already running";
    return false;
  }
  if (!opt_.log_file.empty() && !log_.Open(opt_.log_file, error)) return false;
  {
    std::lock_guard lock(disk_mu_);
    if (!disk_.OpenOrCreate(opt_.disk, opt_.disk.empty() ? (256ull << 20) : opt_.disk_size,
                            opt_.network, error))
      return false;
  }
  {
    std::lock_guard lock(mu_);
    UpdateDiskFields();
  }
  control_listen_ = MakeListener(opt_.listen, opt_.control_port, &control_port_, error);
  if (control_listen_ < 0) return false;
  stream_listen_ = MakeListener(opt_.listen, opt_.stream_port, &stream_port_, error);
  if (stream_listen_ < 0) {
    ::close(control_listen_);
    control_listen_ = -1;
    return false;
  }
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  cameras_ = std::make_unique<CameraBank>(opt_.pal ? mjpeg::VideoStandard::kPal
                                                   : mjpeg::VideoStandard::kNtsc);
  chunker_ = std::make_unique<StreamChunker>(
      [this](const uint8_t* chunk, bool video) { OnChunk(chunk, video); });
  cursor_ = std::make_unique<PlaybackCursor>(&disk_);
  log_.Note("listening control=" + std::to_string(control_port_) +
            " stream=" + std::to_string(stream_port_));
  running_ = true;
  control_thread_ = std::thread([this] { ControlLoop(); });
  media_thread_ = std::thread([this] { MediaLoop(); });
  return true;
}

void DvrSim::Stop() {
  if (running_.exchange(false)) {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_fd_, &one, sizeof one);
    if (control_thread_.joinable()) control_thread_.join();
    if (media_thread_.joinable()) media_thread_.join();
  }
  if (conn_.fd >= 0) {
    FlushControl();
    ::close(conn_.fd);
    conn_.fd = -1;
  }
  if (stream_fd_ >= 0) {
    ::close(stream_fd_);
    stream_fd_ = -1;
  }
  for (int* fd : {&control_listen_, &stream_listen_, &wake_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  std::lock_guard lock(mu_);
  std::lock_guard dlock(disk_mu_);
  if (disk_.is_open()) {
    if (disk_.event_open()) disk_.EndEvent(NowRecTime());
    disk_.Close();
    log_.Note("disk image closed");
  }
}

DvrStatus DvrSim::status() {
  std::lock_guard lock(mu_);
  return status_;
}

DvrSettings DvrSim::settings() {
  std::lock_guard lock(mu_);
  return settings_;
}

DvrTime DvrSim::time() {
  std::lock_guard lock(mu_);
  return DvrTime::FromRecTime(NowRecTime());
}

bool DvrSim::session_open() {
  std::lock_guard lock(mu_);
  return session_live_;
}

uint64_t DvrSim::packets_recorded() {
  std::lock_guard lock(disk_mu_);
  return disk_.packets_written();
}

// ==================================================================== state

int64_t DvrSim::NowSeconds() const {
  return static_cast<int64_t>(std::floor(LocalCalendarSeconds())) + clock_offset_;
}

RecTime DvrSim::NowRecTime() const {
  return RecTimeFromSeconds(NowSeconds());
}

uint8_t DvrSim::ScheduledMode() const {
  bool any = false;
  for (auto b : schedule_.bytes) any = any || b != 0;
  if (!any) return dvr_mode::kRecord;  // no schedule: record all the time
  const int hour = NowRecTime().hour;
  const uint8_t v = schedule_.Hour(hour);
  // 1 and 3 record; 0 (OFF) and 2 (sensor; this recorder has no sensors) wait.
  return (v == 1 || v == 3) ? dvr_mode::kRecord : dvr_mode::kNotScheduled;
}

void DvrSim::UpdateRecordingEvent(uint8_t old_mode, uint8_t new_mode) {
  auto records = [](uint8_t m) { return m == 4 || m == 6 || m == 7; };
  const bool was = records(old_mode), is = records(new_mode);
  const bool kind_changed = was && is && ((old_mode == 6) != (new_mode == 6));
  if (!was && !is) return;
  std::lock_guard dlock(disk_mu_);
  const RecTime now = NowRecTime();
  if (was && (!is || kind_changed)) {
    disk_.EndEvent(now);
    disk_.Sync();
  }
  if (is && (!was || kind_changed)) disk_.BeginEvent(new_mode != 6, now);
}

void DvrSim::SetMode(uint8_t mode, uint8_t speed, bool push) {
  const uint8_t old = status_.mode;
  const bool changed = old != mode || status_.play_speed != speed;
  status_.mode = mode;
  status_.play_speed = speed;
  if (old != mode) {
    UpdateRecordingEvent(old, mode);
    log_.Note("mode " + std::to_string(old) + " -> " + std::to_string(mode) + " speed " +
              std::to_string(speed));
  }
  if (changed && push) PushStatus();
}

void DvrSim::StartPlayback(uint64_t logical) {
  play_seek_ = logical;
  play_seek_pending_ = true;
  // Backward play asked for before the first frame from here was played
  // starts here, not where the previous playback stood (or ended).
  play_position_ = logical;
  have_play_position_ = true;
  play_ended_ = false;
  SetMode(dvr_mode::kPlay, 0, false);
}

void DvrSim::UpdateDiskFields() {
  std::lock_guard dlock(disk_mu_);
  const uint64_t mib = 1ull << 20;
  const uint64_t cap = disk_.capacity() * kPacketSize / mib;
  const uint64_t used = (disk_.recorded_packets() * kPacketSize + mib - 1) / mib;  // started MiB
  settings_.disk_installed[0] = disk_.is_open() ? 1 : 0;
  settings_.disk_capacity[0] = static_cast<uint32_t>(std::min<uint64_t>(cap, 0xFFFFFF) << 8);
  settings_.disk_used[0] = static_cast<uint32_t>(std::min<uint64_t>(used, 0xFFFFFF) << 8);
  settings_.disk_overwriting[0] = disk_.wrapped() ? 1 : 0;
}

// ==================================================================== control

void DvrSim::ControlLoop() {
  auto last_second = Clock::now();
  while (running_) {
    pollfd fds[3] = {{control_listen_, POLLIN, 0}, {wake_fd_, POLLIN, 0}, {-1, 0, 0}};
    int n = 2;
    if (conn_.fd >= 0) {
      fds[2] = {conn_.fd, static_cast<short>(POLLIN | (conn_.out.empty() ? 0 : POLLOUT)), 0};
      n = 3;
    }
    ::poll(fds, static_cast<nfds_t>(n), 50);
    if (!running_) break;
    if (fds[1].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] auto r = ::read(wake_fd_, &v, sizeof v);
    }
    if (fds[0].revents & POLLIN) AcceptControl();
    if (n == 3 && conn_.fd >= 0 && fds[2].fd == conn_.fd) {
      if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) ReadControl();
      if (conn_.fd >= 0 && (fds[2].revents & POLLOUT)) FlushControl();
    }
    Housekeeping();
    if (Clock::now() - last_second >= std::chrono::seconds(1)) {
      last_second = Clock::now();
      std::lock_guard lock(mu_);
      {
        std::lock_guard dlock(disk_mu_);
        if (disk_.event_open()) disk_.UpdateEvent(NowRecTime());
      }
      UpdateDiskFields();
    }
  }
}

void DvrSim::AcceptControl() {
  int fd = AcceptOne(control_listen_);
  if (fd < 0) return;
  // Take in what the current client sent before deciding it is still there.
  for (int i = 0; i < 256 && conn_.fd >= 0 && PollNow(conn_.fd, POLLIN | POLLRDHUP) != 0; ++i)
    ReadControl();
  if (conn_.fd >= 0) {
    log_.Note("control connection refused: a client is connected");
    ::close(fd);
    return;
  }
  conn_ = ControlConn{};
  conn_.fd = fd;
  if (auto* s = opt_.Find(ScenarioKind::kDropFirstReply)) conn_.drop_type = s->arg;
  log_.Note("control connected");
}

void DvrSim::CloseControl(const char* why) {
  if (conn_.fd < 0) return;
  FlushControl();
  ::close(conn_.fd);
  conn_.fd = -1;
  log_.Note(std::string("control closed: ") + why);
  if (session_live_) {
    session_live_ = false;
    ++session_epoch_;
    control_closed_at_ = Clock::now();
  }
  conn_.state = SessionState::kNone;
}

void DvrSim::EndSession(const char* why) {
  log_.Note(std::string("session ended: ") + why);
  conn_.state = SessionState::kNone;
  if (session_live_) {
    session_live_ = false;
    ++session_epoch_;
  }
}

void DvrSim::ReadControl() {
  uint8_t buf[4096];
  ssize_t r = ::recv(conn_.fd, buf, sizeof buf, 0);
  if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    std::lock_guard lock(mu_);
    CloseControl(r == 0 ? "peer closed" : "read error");
    return;
  }
  if (r < 0) return;
  conn_.in.insert(conn_.in.end(), buf, buf + r);
  std::size_t pos = 0;
  while (pos < conn_.in.size() && conn_.fd >= 0) {
    const uint8_t* p = conn_.in.data() + pos;
    const std::size_t left = conn_.in.size() - pos;
    if (p[0] != rdcp::kStartByte) {
      const void* next = std::memchr(p, rdcp::kStartByte, left);
      std::size_t skip =
          next ? static_cast<std::size_t>(static_cast<const uint8_t*>(next) - p) : left;
      log_.Bad(p, skip);
      pos += skip;
      continue;
    }
    rdcp::Frame f;
    if (rdcp::ParseFrame(p, left, &f) != rdcp::ParseResult::kOk) break;  // wait for the rest
    HandleMessage(f);
    pos += f.size();
  }
  if (conn_.fd >= 0)
    conn_.in.erase(conn_.in.begin(),
                   conn_.in.begin() + static_cast<std::ptrdiff_t>(std::min(pos, conn_.in.size())));
}

void DvrSim::SendRaw(const uint8_t* data, std::size_t n) {
  if (conn_.fd < 0 || n == 0) return;
  if (join_next_) {
    joined_.insert(joined_.end(), data, data + n);
    return;
  }
  if (conn_.out.empty()) {
    ssize_t w = ::send(conn_.fd, data, n, MSG_NOSIGNAL);
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      return;  // read side closes
    std::size_t sent = w > 0 ? static_cast<std::size_t>(w) : 0;
    data += sent;
    n -= sent;
  }
  conn_.out.insert(conn_.out.end(), data, data + n);
}

void DvrSim::FlushControl() {
  while (conn_.fd >= 0 && !conn_.out.empty()) {
    ssize_t w = ::send(conn_.fd, conn_.out.data(), conn_.out.size(), MSG_NOSIGNAL);
    if (w <= 0) break;
    conn_.out.erase(conn_.out.begin(), conn_.out.begin() + w);
  }
}

void DvrSim::Reply(uint8_t type, uint8_t param, const uint8_t* payload, std::size_t n) {
  uint8_t msg[rdcp::kMaxMessage];
  const std::size_t len = rdcp::BuildFrame(type, param, payload, n, msg, sizeof msg);
  if (len == 0 || conn_.fd < 0) return;
  log_.Message("TX", type, param, payload, n);
  SendRaw(msg, len);
}

void DvrSim::PushStatus() {
  if (conn_.fd < 0 || conn_.state != SessionState::kOpen) return;
  uint8_t s[kDvrStatusSize];
  PackStatus(status_, s);
  Reply(rdcp::kStatusPush, 0, s, sizeof s);
}

void DvrSim::StatusChanged() {
  if (conn_.fd < 0 || conn_.state != SessionState::kOpen) return;
  Reply(rdcp::kStatusChanged);
}

void DvrSim::HandleMessage(const rdcp::Frame& f) {
  log_.Message("RX", f.type, f.param, f.payload, f.length);
  std::lock_guard lock(mu_);
  const bool two = opt_.Find(ScenarioKind::kTwoReplies) != nullptr &&
                   conn_.state == SessionState::kOpen && f.type != rdcp::kKeepAlive;
  if (two) {
    join_next_ = true;
    joined_.clear();
  }
  HandleRequest(f);
  if (two) {
    // Each write carries two messages: a lone reply gets a status push behind it.
    const bool single = !joined_.empty() && joined_.size() == 4u + joined_[1];
    if (single) {
      uint8_t s[kDvrStatusSize];
      PackStatus(status_, s);
      uint8_t msg[rdcp::kMaxMessage];
      std::size_t len = rdcp::BuildFrame(rdcp::kStatusPush, 0, s, sizeof s, msg, sizeof msg);
      log_.Message("TX", rdcp::kStatusPush, 0, s, sizeof s);
      joined_.insert(joined_.end(), msg, msg + len);
    }
    join_next_ = false;
    SendRaw(joined_.data(), joined_.size());
    joined_.clear();
  }
}

// ------------------------------------------------------------ request table

// How a request is answered: what it needs before its handler runs and the
// handler itself. Checks run in this order: session open, payload length,
// value, VIEW mode.
struct DvrSim::RequestRoute {
  uint8_t type;
  bool needs_session;                               // NAK 3 before the session is open
  std::size_t min_payload;                          // shorter payloads get NAK 4
  bool (DvrSim::*valid)(const rdcp::Frame&) const;  // false: NAK 4 (nullptr: any value)
  bool view_only;                                   // NAK 5 outside VIEW mode
  int settings_offset;                              // settings byte the request sets (-1 none)
  void (DvrSim::*handle)(const rdcp::Frame&);
};

const DvrSim::RequestRoute* DvrSim::FindRoute(uint8_t type) {
  using namespace rdcp;
  using D = DvrSim;
  namespace so = settings_offset;
  static constexpr RequestRoute kRoutes[] = {
      {kOpenSession, false, 0, nullptr, false, -1, &D::OnOpenSession},
      {kCloseSession, false, 0, nullptr, false, -1, &D::OnCloseSession},
      {kChallengeAnswer, false, 0, nullptr, false, -1, &D::OnChallengeAnswer},
      {kKeepAlive, false, 0, nullptr, false, -1, &D::OnKeepAlive},
      {kGetSettings, true, 0, nullptr, false, -1, &D::OnGetSettings},
      {kGetSchedule, true, 0, nullptr, false, -1, &D::OnGetSchedule},
      {kSetSchedule, true, 6, nullptr, true, -1, &D::OnSetSchedule},
      {kGetTime, true, 0, nullptr, false, -1, &D::OnGetTime},
      {kSetTime, true, 6, &D::ValidTime, true, -1, &D::OnSetTime},
      {kSetRecordMode, true, 1, nullptr, true, so::kRecordMode, &D::OnSetSetting},
      {kSetInputChannels, true, 1, &D::ValidMask, true, so::kInputMask, &D::OnSetSetting},
      {kSetRecordChannels, true, 1, &D::ValidMask, true, so::kRecordMask, &D::OnSetSetting},
      {kSetVideoQuality, true, 1, &D::ValidQuality, true, so::kVideoQuality, &D::OnSetSetting},
      {kSetRecordFrameRate, true, 1, &D::ValidFrameRate, true, so::kRecordFrameRate,
       &D::OnSetSetting},
      {kSetAlarmOnDuration, true, 1, &D::ValidAlarmOnValue, true, so::kAlarmOnDuration,
       &D::OnSetSetting},
      {kSetAlarmRecordDuration, true, 1, &D::ValidAlarmRecordValue, true, so::kAlarmRecordDuration,
       &D::OnSetSetting},
      {kStartRecording, true, 0, nullptr, false, -1, &D::OnStartRecording},
      {kStopRecording, true, 0, nullptr, false, -1, &D::OnStopRecording},
      {kGetEventList, true, 0, nullptr, false, -1, &D::OnGetEventList},
      {kPlay, true, 0, nullptr, false, -1, &D::OnPlay},
      {kStopPlay, true, 0, nullptr, false, -1, &D::OnStopPlay},
      {kPause, true, 0, nullptr, false, -1, &D::OnPause},
      {kFastForward, true, 0, nullptr, false, -1, &D::OnFastForward},
      {kRewind, true, 0, nullptr, false, -1, &D::OnRewind},
      {kSetStreamFilter, true, 2, nullptr, false, -1, &D::OnSetStreamFilter},
      {kGetStatus, true, 0, nullptr, false, -1, &D::OnGetStatus},
      {kSetAudioFlags, true, 1, &D::ValidAudioFlags, false, -1, &D::OnSetAudioFlags},
  };
  for (const auto& r : kRoutes)
    if (r.type == type) return &r;
  return nullptr;
}

bool DvrSim::ShortPayload(const rdcp::Frame& f, std::size_t need) {
  if (f.length >= need) return false;
  log_.BadText("short " + std::to_string(f.type) + " " + std::to_string(f.length));
  Nak(nak::kBadRequest);
  return true;
}

void DvrSim::HandleRequest(const rdcp::Frame& f) {
  const RequestRoute* route = FindRoute(f.type);
  if (!route && rdcp::ReplyTypeFor(f.type) == 0) {
    log_.BadText("unknown " + std::to_string(f.type));
    if (f.type < 64) Nak(nak::kRefused);
    return;
  }
  if (!route || route->needs_session) {
    if (conn_.state != SessionState::kOpen) return Nak(nak::kNotOpen);
    if (RequestScenario(f)) return;
  }
  if (!route) {
    log_.BadText("unknown " + std::to_string(f.type));
    return Nak(nak::kRefused);
  }
  if (ShortPayload(f, route->min_payload)) return;
  if (route->valid && !(this->*route->valid)(f)) return Nak(nak::kBadRequest);
  if (route->view_only && status_.mode != dvr_mode::kView) return Nak(nak::kNotInView);
  (this->*route->handle)(f);
}

// The fault scenarios that concern any request of an open session. True when
// the request has been dealt with here.
bool DvrSim::RequestScenario(const rdcp::Frame& f) {
  if (auto* s = opt_.Find(ScenarioKind::kRefuseRequest); s && (s->arg == 0 || s->arg == f.type)) {
    log_.Note("request " + std::to_string(f.type) + " refused (scenario)");
    Nak(nak::kRefused);
    return true;
  }
  const bool first_after_open = !conn_.any_request_after_open;
  conn_.any_request_after_open = true;
  if (conn_.drop_type >= 0 &&
      (conn_.drop_type == 0 ? first_after_open : conn_.drop_type == f.type)) {
    conn_.drop_type = -1;
    log_.Note("reply to " + std::to_string(f.type) + " dropped (scenario)");
    // The request still takes effect; only its answer is lost.
    auto saved = conn_.fd;
    conn_.fd = -1;  // Reply() sends nothing while the descriptor is hidden
    bool saved_join = join_next_;
    join_next_ = false;
    // Run the request for its effect, with the reply swallowed.
    rdcp::Frame copy = f;
    conn_.any_request_after_open = true;
    HandleRequest(copy);
    conn_.fd = saved;
    join_next_ = saved_join;
    return true;
  }
  if (auto* s = opt_.Find(ScenarioKind::kGarbage); s && !conn_.garbage_done) {
    conn_.garbage_done = true;
    std::vector<uint8_t> junk(static_cast<std::size_t>(s->arg));
    for (std::size_t i = 0; i < junk.size(); ++i) {
      junk[i] = static_cast<uint8_t>(i * 37 + 11);
      if (junk[i] == rdcp::kStartByte) junk[i] = 0xF4;
    }
    log_.Note("garbage " + std::to_string(junk.size()) + " bytes (scenario)");
    bool was_joined = join_next_;
    join_next_ = true;
    std::vector<uint8_t> keep;
    keep.swap(joined_);
    joined_ = junk;
    HandleRequest(f);  // its messages are appended behind the garbage
    std::vector<uint8_t> all;
    all.swap(joined_);
    joined_.swap(keep);
    join_next_ = was_joined;
    SendRaw(all.data(), all.size());
    return true;
  }
  return false;
}

// ------------------------------------------------------------ value checks

bool DvrSim::ValidTime(const rdcp::Frame& f) const {
  return SecondsFromDvrTime(UnpackTime(f.payload, 6)).has_value();
}
bool DvrSim::ValidMask(const rdcp::Frame& f) const {
  return f.payload[0] <= 0x0F;
}
bool DvrSim::ValidQuality(const rdcp::Frame& f) const {
  return f.payload[0] <= 2;
}
bool DvrSim::ValidFrameRate(const rdcp::Frame& f) const {
  return f.payload[0] < BaseFrameRates(opt_.pal).size();
}
bool DvrSim::ValidAlarmOnValue(const rdcp::Frame& f) const {
  return ValidAlarmOn(f.payload[0]);
}
bool DvrSim::ValidAlarmRecordValue(const rdcp::Frame& f) const {
  return ValidAlarmRecord(f.payload[0]);
}
bool DvrSim::ValidAudioFlags(const rdcp::Frame& f) const {
  return f.payload[0] <= 3;
}

// ------------------------------------------------------------ session

void DvrSim::OnOpenSession(const rdcp::Frame& f) {
  if (opt_.Find(ScenarioKind::kWrongPassword)) return Nak(rdcp::kNakInvalidPassword);
  if (opt_.Find(ScenarioKind::kNetworkOff)) return Nak(rdcp::kNakNetworkDisabled);
  if (auto* s = opt_.Find(ScenarioKind::kRefuse)) return Nak(static_cast<uint8_t>(s->arg));
  if (ShortPayload(f, 6)) return;
  if (!std::equal(opt_.password.begin(), opt_.password.end(), f.payload)) {
    log_.Note("wrong password");
    return Nak(rdcp::kNakInvalidPassword);
  }
  static thread_local std::mt19937 rng{std::random_device{}()};
  conn_.challenge = static_cast<uint8_t>(rng());
  conn_.state = SessionState::kChallenge;
  session_live_ = true;
  Reply(rdcp::kSessionAccepted, 0, &conn_.challenge, 1);
}

void DvrSim::OnCloseSession(const rdcp::Frame&) {
  EndSession("closed by the client");
}

void DvrSim::OnChallengeAnswer(const rdcp::Frame& f) {
  if (conn_.state != SessionState::kChallenge) {
    log_.BadText("challenge answer without a challenge");
    return;
  }
  if (f.param != static_cast<uint8_t>(conn_.challenge ^ rdcp::kChallengeXor)) {
    log_.Note("wrong challenge answer");
    Reply(rdcp::kSessionEndedReply);
    EndSession("wrong challenge answer");
    conn_.close_done = true;
    return;
  }
  conn_.state = SessionState::kOpen;
  conn_.opened = Clock::now();
  log_.Note("session open");
}

void DvrSim::OnKeepAlive(const rdcp::Frame& f) {
  if (auto* s = opt_.Find(ScenarioKind::kSilentKeepAlive);
      s && conn_.state == SessionState::kOpen &&
      Clock::now() - conn_.opened >= std::chrono::seconds(s->arg)) {
    log_.Note("keep-alive left unanswered (scenario)");
    return;
  }
  uint8_t seq = f.length > 0 ? f.payload[0] : 0;
  Reply(rdcp::kKeepAliveReply, 0, &seq, 1);
}

// ------------------------------------------------------------ settings, schedule, time

void DvrSim::OnGetSettings(const rdcp::Frame&) {
  UpdateDiskFields();
  uint8_t s[kDvrSettingsSize];
  PackSettings(settings_, s);
  Reply(rdcp::kSettingsReply, 0, s, sizeof s);
}

void DvrSim::OnGetSchedule(const rdcp::Frame&) {
  Reply(rdcp::kScheduleReply, 0, schedule_.bytes.data(), schedule_.bytes.size());
}

void DvrSim::OnSetSchedule(const rdcp::Frame& f) {
  std::copy(f.payload, f.payload + 6, schedule_.bytes.begin());
  Reply(rdcp::kScheduleChanged);
}

void DvrSim::OnGetTime(const rdcp::Frame&) {
  uint8_t t[kDvrTimeSize];
  PackTime(DvrTime::FromRecTime(NowRecTime()), t);
  Reply(rdcp::kTimeReply, 0, t, sizeof t);
}

void DvrSim::OnSetTime(const rdcp::Frame& f) {
  const auto secs = SecondsFromDvrTime(UnpackTime(f.payload, 6));
  clock_offset_ = *secs - static_cast<int64_t>(std::floor(LocalCalendarSeconds()));
  Reply(rdcp::kTimeChanged);
}

void DvrSim::OnSetSetting(const rdcp::Frame& f) {
  SetSettingsByte(settings_, FindRoute(f.type)->settings_offset, f.payload[0]);
  Reply(static_cast<uint8_t>(f.type + 48));  // 25..31 -> 73..79
}

void DvrSim::OnSetStreamFilter(const rdcp::Frame& f) {
  status_.frame_interval = f.payload[0];
  status_.stream_filter = f.payload[1];
  Reply(rdcp::kStreamFilterChanged);
}

void DvrSim::OnGetStatus(const rdcp::Frame&) {
  uint8_t s[kDvrStatusSize];
  PackStatus(status_, s);
  Reply(rdcp::kStatusReply, 0, s, sizeof s);
}

void DvrSim::OnSetAudioFlags(const rdcp::Frame& f) {
  settings_.audio_flags = f.payload[0];
  Reply(rdcp::kAudioFlagsChanged);
}

// ------------------------------------------------------------ recording

void DvrSim::OnStartRecording(const rdcp::Frame&) {
  if (Playing()) return Nak(nak::kWrongMode);
  if (!armed_) {
    armed_ = true;
    SetMode(alarm_until_ ? dvr_mode::kAlarmRecording : ScheduledMode(), 0, false);
  }
  Reply(rdcp::kRecordingStarted);
  StatusChanged();
}

void DvrSim::OnStopRecording(const rdcp::Frame&) {
  const bool was = armed_;
  armed_ = false;
  alarm_until_.reset();
  if (was) SetMode(dvr_mode::kView, 0, false);
  Reply(rdcp::kRecordingStopped);
  if (was) StatusChanged();
}

void DvrSim::OnGetEventList(const rdcp::Frame&) {
  SendEventList();
}

// ------------------------------------------------------------ playback

void DvrSim::OnPlay(const rdcp::Frame& f) {
  if (Recording()) return Nak(nak::kWrongMode);
  const uint8_t* p = f.payload;
  const std::size_t n = f.length;
  if (n == 0) {
    if (Playing()) {
      SetMode(dvr_mode::kPlay, 0, false);  // resume from pause, FF or backward play
    } else {
      uint64_t count = 0;
      {
        std::lock_guard dlock(disk_mu_);
        count = disk_.recorded_packets();
      }
      if (count == 0) return Nak(nak::kNoRecording);
      StartPlayback(have_play_position_ && play_position_ < count ? play_position_ : 0);
    }
  } else if (n == 7 || n == 5) {
    if (p[0] != 0) return Nak(nak::kNoSuchDisk);
    std::optional<uint64_t> at;
    {
      std::lock_guard dlock(disk_mu_);
      if (disk_.recorded_packets() == 0) return Nak(nak::kNoRecording);
      if (n == 7) {
        DvrTime t = UnpackTime(p + 1, 6);
        if (!SecondsFromDvrTime(t)) return Nak(nak::kBadRequest);
        at = disk_.FindTime(t.ToRecTime());
      } else {
        uint8_t disk = 0;
        uint32_t id = 0;
        rdcp::UnpackPlayEvent(p, n, &disk, &id);
        if (id == 0) {
          at = 0;
        } else if (id <= kDiskEventSlots) {
          if (auto e = disk_.Event(id - 1)) at = disk_.FindTime(e->start);
        }
        if (!at) return Nak(nak::kNoSuchEvent);
      }
    }
    if (!at) return Nak(nak::kNoRecording);
    StartPlayback(*at);
  } else {
    log_.BadText("short " + std::to_string(f.type) + " " + std::to_string(n));
    return Nak(nak::kBadRequest);
  }
  Reply(rdcp::kPlayAccepted);
  StatusChanged();
}

void DvrSim::OnStopPlay(const rdcp::Frame&) {
  const bool was = Playing();
  if (was) SetMode(dvr_mode::kView, 0, false);
  Reply(rdcp::kPlayStopped);
  if (was) StatusChanged();
}

void DvrSim::OnPause(const rdcp::Frame&) {
  if (!Playing()) return Nak(nak::kWrongMode);
  SetMode(dvr_mode::kPause, 0, false);
  Reply(rdcp::kPaused);
  StatusChanged();
}

void DvrSim::OnFastForward(const rdcp::Frame&) {
  if (!Playing()) return Nak(nak::kWrongMode);
  const uint8_t speed =
      status_.mode == dvr_mode::kFastForward ? static_cast<uint8_t>(status_.play_speed % 5 + 1) : 1;
  SetMode(dvr_mode::kFastForward, speed, false);
  Reply(rdcp::kFastForwardAccepted);  // the client asks for the status itself
}

void DvrSim::OnRewind(const rdcp::Frame&) {
  if (!Playing()) return Nak(nak::kWrongMode);
  SetMode(dvr_mode::kPlay, 6, false);
  Reply(rdcp::kRewindAccepted);
  StatusChanged();
}

void DvrSim::SendEventList() {
  std::vector<EventRecord> list;
  {
    std::lock_guard dlock(disk_mu_);
    const uint64_t count = disk_.recorded_packets();
    if (count > 0) {
      auto first = disk_.TimeOfLogical(0);
      auto last = disk_.TimeOfLogical(count - 1);
      if (first && last) {
        EventRecord whole;
        whole.id = 0;
        whole.disk = 0;
        whole.kind = 0;
        whole.start = DvrTime::FromRecTime(*first);
        whole.end = DvrTime::FromRecTime(*last);
        list.push_back(whole);
      }
    }
    for (const auto& [slot, e] : disk_.Events()) {
      EventRecord r;
      r.id = static_cast<uint32_t>(slot + 1);
      r.disk = 0;
      r.kind = e.timer ? 1 : 2;
      r.start = DvrTime::FromRecTime(e.start);
      r.end = DvrTime::FromRecTime(e.end);
      list.push_back(r);
    }
  }
  for (std::size_t i = 0; i < list.size(); i += kEventsPerPart) {
    const std::size_t k = std::min(kEventsPerPart, list.size() - i);
    uint8_t payload[kEventsPerPart * kEventRecordSize];
    for (std::size_t j = 0; j < k; ++j) PackEvent(list[i + j], payload + j * kEventRecordSize);
    Reply(rdcp::kEventListPart, 0, payload, k * kEventRecordSize);
  }
  Reply(rdcp::kEventListPart);
}

void DvrSim::Housekeeping() {
  const auto now = Clock::now();
  std::lock_guard lock(mu_);
  if (conn_.fd >= 0 && conn_.out.size() > kMaxControlOut) CloseControl("client does not read");
  if (play_ended_.exchange(false) && Playing()) {
    have_play_position_ = false;
    SetMode(dvr_mode::kView, 0, true);
  }
  if (armed_ && !Playing()) {
    if (alarm_until_ && now >= *alarm_until_) alarm_until_.reset();
    const uint8_t want = alarm_until_ ? dvr_mode::kAlarmRecording : ScheduledMode();
    if (status_.mode != want) SetMode(want, 0, true);
  }
  if (conn_.fd < 0) return;
  if (conn_.close_done && conn_.state == SessionState::kNone && conn_.out.empty()) {
    // wrong challenge answer: 65 went out, now the connection ends
    CloseControl("wrong challenge answer");
    return;
  }
  if (conn_.state != SessionState::kOpen) return;
  const auto elapsed = now - conn_.opened;
  auto due = [&](ScenarioKind k, bool& done) -> const Scenario* {
    const Scenario* s = opt_.Find(k);
    if (!s || done || elapsed < std::chrono::seconds(s->arg)) return nullptr;
    done = true;
    return s;
  };
  if (due(ScenarioKind::kMode6, conn_.mode6_done)) {
    log_.Note("alarm (scenario)");
    const int secs = std::max<int>(5, settings_.alarm_record_duration);
    alarm_until_ = now + std::chrono::seconds(secs);
    if (!Playing()) {
      armed_ = true;
      SetMode(dvr_mode::kAlarmRecording, 0, true);
    }
  }
  if (due(ScenarioKind::kSessionEnd, conn_.session_end_done)) {
    Reply(rdcp::kSessionEndedReply);
    EndSession("session end (scenario)");
    return;
  }
  if (due(ScenarioKind::kKeypadClose, conn_.keypad_done)) {
    Reply(rdcp::kClosedByKeypad);
    EndSession("keypad used (scenario)");
    CloseControl("keypad used (scenario)");
    return;
  }
  bool close_done = false;
  if (due(ScenarioKind::kCloseControl, close_done)) CloseControl("closed (scenario)");
}

// ==================================================================== media

double DvrSim::CaptureFps() {
  if (opt_.fps > 0) return opt_.fps;
  auto rates = BaseFrameRates(opt_.pal);
  int r = settings_.record_frame_rate < rates.size() ? rates[settings_.record_frame_rate] : 1;
  return std::max(1, r);
}

bool DvrSim::StreamDue(int code, uint8_t interval) const {
  return std::min<int>(stream_skip_[static_cast<std::size_t>(code)], interval) == 0;
}

void DvrSim::StreamOffered(int code, bool sent, uint8_t interval) {
  int& left = stream_skip_[static_cast<std::size_t>(code)];
  left = std::min<int>(left, interval);  // the interval may have become shorter
  if (left > 0)
    --left;
  else if (sent)
    left = interval;
}

bool DvrSim::StreamRoom(std::size_t bytes) const {
  return stream_out_.size() - stream_out_pos_ + bytes <= kMaxStreamQueue;
}

void DvrSim::OnChunk(const uint8_t* chunk, bool video) {
  const std::size_t at = stream_out_.size();
  std::size_t skip = std::min(skip_bytes_, kChunkSize);
  skip_bytes_ -= skip;
  stream_out_.insert(stream_out_.end(), chunk + skip, chunk + kChunkSize);
  chunks_sent_.fetch_add(1, std::memory_order_relaxed);
  if (video) {
    ++video_chunks_;
    if (auto* s = opt_.Find(ScenarioKind::kRestart);
        s && s->arg > 0 && video_chunks_ % static_cast<uint64_t>(s->arg) == 0 && skip <= 10)
      stream_out_[at + 10 - skip] |= 0x80;
  }
}

void DvrSim::AcceptStream() {
  int fd = AcceptOne(stream_listen_);
  if (fd < 0) return;
  if (stream_fd_ >= 0 && (PollNow(stream_fd_, POLLRDHUP) & kHangUp) != 0)
    CloseStream("peer closed");
  if (stream_fd_ >= 0) {
    log_.Note("stream connection refused: a client is connected");
    ::close(fd);
    return;
  }
  stream_fd_ = fd;
  stream_was_live_ = false;
  log_.Note("stream connected");
}

void DvrSim::CloseStream(const char* why) {
  if (stream_fd_ < 0) return;
  ::close(stream_fd_);
  stream_fd_ = -1;
  stream_out_.clear();
  stream_out_pos_ = 0;
  stream_was_live_ = false;
  log_.Note(std::string("stream closed: ") + why);
}

void DvrSim::FlushStream() {
  if (stream_fd_ < 0) {
    stream_out_.clear();
    stream_out_pos_ = 0;
    return;
  }
  while (stream_out_pos_ < stream_out_.size()) {
    ssize_t w = ::send(stream_fd_, stream_out_.data() + stream_out_pos_,
                       stream_out_.size() - stream_out_pos_, MSG_NOSIGNAL);
    if (w > 0) {
      stream_out_pos_ += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    CloseStream("write error");
    return;
  }
  if (stream_out_pos_ == stream_out_.size()) {
    stream_out_.clear();
    stream_out_pos_ = 0;
  } else if (stream_out_pos_ > (1u << 20)) {
    stream_out_.erase(stream_out_.begin(),
                      stream_out_.begin() + static_cast<std::ptrdiff_t>(stream_out_pos_));
    stream_out_pos_ = 0;
  }
}

void DvrSim::SendFrame(int code, std::span<const uint8_t> frame, const FrameInfo& info) {
  std::size_t split = 0;
  if (auto* s = opt_.Find(ScenarioKind::kSplitStart))
    split = static_cast<std::size_t>(std::clamp(s->arg, 1, 3));
  uint32_t hash = 0;
  // The wire length and hash of a frame include the padding up to the next
  // start code, which is exactly what a receiver assembles.
  std::size_t wire = chunker_->AppendFrame(frame.data(), frame.size(), info, split, &hash);
  log_.Frame(code, wire, hash);
  frames_sent_.fetch_add(1, std::memory_order_relaxed);
}

void DvrSim::SendAudio(const RecTime& time, const uint8_t* samples) {
  chunker_->AppendAudio(time, samples);
  log_.Audio(kAudioPayloadSize, Fnv1a32(samples, kAudioPayloadSize));
  audio_sent_.fetch_add(1, std::memory_order_relaxed);
}

bool DvrSim::ChannelAllowed(int code, uint8_t filter) {
  if (code == kQuadCode) return true;
  if (code < 0 || code > 3) return false;
  return (filter & stream_filter::kPerChannel) == 0 || (filter & (1 << code)) == 0;
}

void DvrSim::MediaLoop() {
  next_live_ = Clock::now();
  next_audio_ = Clock::now();
  play_due_ = Clock::now();
  was_playing_ = false;
  disk_synced_.fill(false);
  play_synced_.fill(false);
  reverse_ = false;
  rev_end_ = 0;
  rev_frames_.clear();

  while (running_) {
    PollStream();
    if (!running_) break;
    const MediaState st = TakeMediaState();
    const auto now = Clock::now();
    FollowSession(st.live, now);
    const bool streaming = stream_fd_ >= 0 && stream_was_live_ && st.live;
    const bool playing = st.status.mode >= 1 && st.status.mode <= 3;
    if (playing != was_playing_) {
      stream_synced_.fill(false);
      play_synced_.fill(false);
      was_playing_ = playing;
      reverse_ = false;
      rev_frames_.clear();
    }
    if (playing)
      PlayTick(st, now, streaming);
    else if (now >= next_live_)
      LiveTick(st, now, streaming);
    AudioTick(st, now, streaming, playing);
    FlushStream();
  }
}

void DvrSim::PollStream() {
  const auto now = Clock::now();
  const auto due = std::min(next_live_, next_audio_);
  int timeout = static_cast<int>(std::clamp<int64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count(), 0, 20));
  pollfd fds[3] = {{stream_listen_, POLLIN, 0}, {wake_fd_, POLLIN, 0}, {-1, 0, 0}};
  int n = 2;
  if (stream_fd_ >= 0) {
    fds[2] = {stream_fd_,
              static_cast<short>(POLLIN | (stream_out_pos_ < stream_out_.size() ? POLLOUT : 0)), 0};
    n = 3;
  }
  ::poll(fds, static_cast<nfds_t>(n), timeout);
  if (!running_) return;
  if (fds[1].revents & POLLIN) {
    uint64_t v;
    [[maybe_unused]] auto r = ::read(wake_fd_, &v, sizeof v);
  }
  if (fds[0].revents & POLLIN) AcceptStream();
  if (n == 3 && stream_fd_ >= 0 && fds[2].fd == stream_fd_ &&
      (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
    uint8_t junk[512];
    ssize_t r = ::recv(stream_fd_, junk, sizeof junk, 0);
    if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
      CloseStream(r == 0 ? "peer closed" : "read error");
    else if (r > 0)
      log_.BadText("stream " + std::to_string(r) + " bytes from the client ignored");
  }
}

DvrSim::MediaState DvrSim::TakeMediaState() {
  MediaState st;
  std::lock_guard lock(mu_);
  st.settings = settings_;
  st.status = status_;
  // The stream ends a moment after the control connection, as a recorder's
  // does: a client sees the control connection go first.
  st.live = session_live_ || Clock::now() - control_closed_at_ < kStreamAfterControlClose;
  st.recording = status_.mode == 4 || status_.mode == 6 || status_.mode == 7;
  if (play_seek_pending_) {
    st.seek = true;
    st.seek_to = play_seek_;
    play_seek_pending_ = false;
  }
  st.rec_now = NowRecTime();
  st.fps = CaptureFps();
  return st;
}

void DvrSim::FollowSession(bool live, Clock::time_point now) {
  if (stream_fd_ < 0) return;
  if (stream_was_live_ && !live) {
    CloseStream("session ended");
  } else if (!stream_was_live_ && live) {
    stream_was_live_ = true;
    stream_started_ = now;
    stream_close_done_ = false;
    chunker_->Reset();
    stream_synced_.fill(false);
    stream_skip_.fill(0);
    play_synced_.fill(false);
    if (auto* s = opt_.Find(ScenarioKind::kMidChunk))
      skip_bytes_ = static_cast<std::size_t>(s->arg);
  }
  if (auto* s = opt_.Find(ScenarioKind::kCloseStream);
      s && stream_fd_ >= 0 && stream_was_live_ && !stream_close_done_ &&
      now - stream_started_ >= std::chrono::seconds(s->arg)) {
    stream_close_done_ = true;
    CloseStream("closed (scenario)");
  }
}

void DvrSim::PlayTick(const MediaState& st, Clock::time_point now, bool streaming) {
  const DvrStatus& status = st.status;
  if (st.seek) {
    std::lock_guard dlock(disk_mu_);
    cursor_->Seek(st.seek_to);
    play_synced_.fill(false);
    rev_frames_.clear();
    reverse_ = false;
    play_due_ = now;
  }
  const bool want_reverse = status.mode == dvr_mode::kPlay && status.play_speed != 0;
  if (want_reverse != reverse_) {
    std::lock_guard lock(mu_);
    reverse_ = want_reverse;
    rev_frames_.clear();
    play_synced_.fill(false);
    std::lock_guard dlock(disk_mu_);
    if (reverse_)
      rev_end_ = play_position_;
    else
      cursor_->Seek(play_position_);
  }
  if (status.mode == dvr_mode::kPause) play_due_ = now;
  const int mult =
      status.mode == dvr_mode::kFastForward ? (1 << std::clamp<int>(status.play_speed, 1, 5)) : 1;
  const uint8_t interval = status.frame_interval;
  const uint8_t filter = status.stream_filter;
  PlaybackCursor::Item& item = play_item_;  // its buffer is reused from turn to turn
  int guard = 0;
  while (status.mode != dvr_mode::kPause && now >= play_due_ && guard++ < 256) {
    bool got = false;
    if (reverse_) {
      const ReverseStep step = NextReverseFrame(&item);
      if (step == ReverseStep::kStart) break;
      if (step == ReverseStep::kRetry) continue;
      got = true;
    } else {
      std::lock_guard dlock(disk_mu_);
      got = cursor_->Next(&item);
    }
    if (!got) {
      if (!reverse_ || rev_end_ == 0) {
        play_ended_ = true;
        std::lock_guard lock(mu_);
        play_position_ = 0;
        have_play_position_ = false;
      }
      play_due_ = now + std::chrono::milliseconds(100);
      break;
    }
    if (item.audio) {
      if (mult == 1 && !reverse_ && streaming && st.settings.audio_available &&
          (filter & stream_filter::kAudioExcluded) == 0 && StreamRoom(kPacketSize)) {
        item.bytes.resize(kAudioPayloadSize);
        SendAudio(item.info.time, item.bytes.data());
      }
      continue;
    }
    const auto hdr = FrameHeaderByte::Parse(item.bytes.size() > 4 ? item.bytes[4] : 0);
    const int code = hdr.channel;
    const double dur = (item.info.rate_code + 1) / 30.0;
    play_due_ += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(reverse_ ? 4.0 / 30.0 : dur / mult));
    {
      std::lock_guard lock(mu_);
      play_position_ = item.packet;
      have_play_position_ = true;
    }
    if (code > kQuadCode) continue;
    const bool offered = streaming && ChannelAllowed(code, filter);
    const bool send_ok = offered && StreamDue(code, interval) &&
                         (hdr.full_frame || play_synced_[code]) && (mult <= 4 || hdr.full_frame) &&
                         StreamRoom(item.bytes.size() + 2 * kChunkSize);
    if (offered) StreamOffered(code, send_ok, interval);
    if (send_ok) {
      SendFrame(code, item.bytes, item.info);
      play_synced_[code] = true;
    } else {
      play_synced_[code] = false;
    }
  }
  if (now - play_due_ > std::chrono::seconds(1)) play_due_ = now;
}

// Backward play shows the full frames only, last first: the packets below
// the window's end are read forwards a window at a time and their full frames
// handed out in reverse.
DvrSim::ReverseStep DvrSim::NextReverseFrame(PlaybackCursor::Item* item) {
  if (rev_frames_.empty()) {
    std::lock_guard dlock(disk_mu_);
    if (rev_end_ == 0) return ReverseStep::kStart;
    const uint64_t start = rev_end_ > kReverseWindow ? rev_end_ - kReverseWindow : 0;
    cursor_->Seek(start);
    PlaybackCursor::Item it;
    while (cursor_->Next(&it) && it.packet < rev_end_) {
      if (!it.audio && it.bytes.size() > 4 && FrameHeaderByte::Parse(it.bytes[4]).full_frame)
        rev_frames_.push_back(std::move(it));
    }
    rev_end_ = start;
    if (rev_frames_.empty()) return ReverseStep::kRetry;
  }
  *item = std::move(rev_frames_.back());
  rev_frames_.pop_back();
  return ReverseStep::kFrame;
}

// One frame of the multiplexed live stream.
void DvrSim::LiveTick(const MediaState& st, Clock::time_point now, bool streaming) {
  const DvrSettings& settings = st.settings;
  const uint8_t interval = st.status.frame_interval;
  const uint8_t filter = st.status.stream_filter;
  next_live_ +=
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / st.fps));
  if (now - next_live_ > std::chrono::seconds(1)) next_live_ = now;
  const uint8_t input = settings.input_mask & 0x0F;
  const uint8_t quad_set = static_cast<uint8_t>(kChannelSetQuad | input);
  // The cameras take turns; the disk records as the record mode says, the
  // stream carries what the filter asks for: the chosen cameras in turn
  // (bit 7) or else the quad picture of all of them.
  int camera = -1;
  for (int k = 0; k < 4; ++k) {
    const int c = (next_channel_ + k) % 4;
    if (input & ChannelSetBit(c + 1)) {
      camera = c;
      next_channel_ = c + 1;
      break;
    }
  }
  const bool disk_quad = settings.record_mode != 0;
  const int disk_code = disk_quad ? kQuadCode : camera;
  const bool disk_wants = st.recording && disk_code >= 0 &&
                          (disk_quad || (settings.record_mask & ChannelSetBit(camera + 1)) != 0);
  const bool stream_quad = (filter & stream_filter::kPerChannel) == 0;
  const int stream_code = stream_quad ? kQuadCode : camera;
  const bool offered = streaming && stream_code >= 0 && ChannelAllowed(stream_code, filter);
  bool stream_wants = offered && StreamDue(stream_code, interval);
  if (stream_wants && !StreamRoom(MjpegEncoder::MaxFrameSize(cameras_->standard()))) {
    stream_wants = false;
    frames_dropped_.fetch_add(1, std::memory_order_relaxed);
  }
  if (offered) StreamOffered(stream_code, stream_wants, interval);
  // Encodes the next frame of `code` for the disk, the stream or both. A
  // consumer that misses an encoded frame gets the next one full.
  auto capture = [&](int code, uint8_t channel_set, bool to_disk, bool to_stream) {
    if (!to_disk && !to_stream) return;
    const uint64_t fno = channel_frames_[code]++;
    const bool full = fno % kFullFrameEvery == 0 || (to_disk && !disk_synced_[code]) ||
                      (to_stream && !stream_synced_[code]);
    FrameInfo info{st.rec_now, RateCodeFor(st.fps), channel_set};
    auto frame =
        cameras_->Encode(code, fno, st.rec_now, QualityToQ(settings.video_quality), full, input);
    if (to_disk) {
      std::lock_guard dlock(disk_mu_);
      disk_.AddFrame(frame.data(), frame.size(), info);
      frames_recorded_.fetch_add(1, std::memory_order_relaxed);
    }
    if (to_stream) SendFrame(code, frame, info);
    disk_synced_[code] = to_disk;
    stream_synced_[code] = to_stream;
  };
  if (disk_code == stream_code) {
    capture(disk_code, disk_quad ? quad_set : input, disk_wants, stream_wants);
  } else {
    if (disk_code >= 0) capture(disk_code, disk_quad ? quad_set : input, disk_wants, false);
    if (stream_code >= 0) capture(stream_code, stream_quad ? quad_set : input, false, stream_wants);
  }
}

// Live audio: a block of the tone every half second, to the disk and the stream.
void DvrSim::AudioTick(const MediaState& st, Clock::time_point now, bool streaming, bool playing) {
  if (now < next_audio_) return;
  next_audio_ += std::chrono::milliseconds(500);
  if (now - next_audio_ > std::chrono::seconds(1)) next_audio_ = now;
  if (playing || !st.settings.audio_available) return;
  FillTone(audio_samples_, audio_block_.data(), kAudioPayloadSize);
  audio_samples_ += kAudioPayloadSize;
  if (st.recording && (st.settings.audio_flags & 1)) {
    std::lock_guard dlock(disk_mu_);
    disk_.AddAudio(st.rec_now, audio_block_.data());
  }
  if (streaming && (st.status.stream_filter & stream_filter::kAudioExcluded) == 0 &&
      StreamRoom(kPacketSize))
    SendAudio(st.rec_now, audio_block_.data());
}

}  // namespace rd::sim
