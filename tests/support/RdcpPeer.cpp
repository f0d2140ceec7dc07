#include "tests/support/RdcpPeer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "client/engine/rdcp/RdcpSession.h"
#include "tests/support/TestSupport.h"

namespace rdtest {

std::vector<uint8_t> Msg(uint8_t type, uint8_t param, std::vector<uint8_t> payload) {
  return rd::rdcp::BuildFrame(type, param, payload);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ScriptedPeer::ScriptedPeer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listener_, 4);
  socklen_t len = sizeof a;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

ScriptedPeer::~ScriptedPeer() {
  CloseClient();
  CloseListener();
}

bool ScriptedPeer::Accept(std::chrono::milliseconds timeout) {
  pollfd p{listener_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
  client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client_ < 0) return false;
  int one = 1;
  ::setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

std::optional<PeerMsg> ScriptedPeer::Next(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    rd::rdcp::Frame f;
    if (reader_.Next(&f)) {
      PeerMsg m;
      m.type = f.type;
      m.param = f.param;
      m.payload.assign(f.payload, f.payload + f.length);
      m.at = std::chrono::steady_clock::now();
      return m;
    }
    if (client_ < 0) return std::nullopt;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{client_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    uint8_t buf[4096];
    ssize_t n = ::recv(client_, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    reader_.Feed(buf, static_cast<std::size_t>(n));
  }
}

std::optional<PeerMsg> ScriptedPeer::NextOfType(uint8_t type, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto m = Next(left);
    if (!m || m->type == type) return m;
  }
}

bool ScriptedPeer::Quiet(std::chrono::milliseconds window) {
  return !Next(window).has_value();
}

bool ScriptedPeer::Write(const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ScriptedPeer::WaitClientClosed(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (client_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{client_, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    uint8_t buf[4096];
    ssize_t n = ::recv(client_, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    if (n > 0) reader_.Feed(buf, static_cast<std::size_t>(n));  // kept for Next
  }
  return false;
}

void ScriptedPeer::CloseClient() {
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

void ScriptedPeer::CloseListener() {
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

void RecordingSink::OnCtrlConnect(int error) {
  std::lock_guard<std::mutex> l(m_);
  connects_.push_back(error);
}
void RecordingSink::OnCtrlClose(int) {
  std::lock_guard<std::mutex> l(m_);
  ++closes_;
}
void RecordingSink::OnCtrlReceiveError(int error) {
  std::lock_guard<std::mutex> l(m_);
  receive_errors_.push_back(error);
}
void RecordingSink::OnRdcpReply(int type, int error) {
  std::lock_guard<std::mutex> l(m_);
  replies_.push_back({type, error});
}
void RecordingSink::OnPollTimeout() {
  std::lock_guard<std::mutex> l(m_);
  ++poll_timeouts_;
}
void RecordingSink::OnDvrInfoChanged() {
  std::lock_guard<std::mutex> l(m_);
  ++info_changed_;
}
void RecordingSink::OnDvrStatus(int) {
  std::lock_guard<std::mutex> l(m_);
  ++statuses_;
}

std::vector<int> RecordingSink::connects() const {
  std::lock_guard<std::mutex> l(m_);
  return connects_;
}
int RecordingSink::closes() const {
  std::lock_guard<std::mutex> l(m_);
  return closes_;
}
std::vector<int> RecordingSink::receive_errors() const {
  std::lock_guard<std::mutex> l(m_);
  return receive_errors_;
}
std::vector<RecordingSink::Reply> RecordingSink::replies() const {
  std::lock_guard<std::mutex> l(m_);
  return replies_;
}
int RecordingSink::CountReply(int type) const {
  std::lock_guard<std::mutex> l(m_);
  int n = 0;
  for (const auto& r : replies_) n += r.type == type;
  return n;
}
int RecordingSink::poll_timeouts() const {
  std::lock_guard<std::mutex> l(m_);
  return poll_timeouts_;
}
int RecordingSink::info_changed() const {
  std::lock_guard<std::mutex> l(m_);
  return info_changed_;
}
int RecordingSink::statuses() const {
  std::lock_guard<std::mutex> l(m_);
  return statuses_;
}

bool ConnectOpenCloseCycle(uint16_t port, const uint8_t password[6], std::string* why) {
  auto fail = [&](const char* step) {
    if (why) *why = step;
    return false;
  };
  RecordingSink sink;
  rd::RdcpSession session;
  if (session.SetSink(&sink) != rd::engine::kOk || session.Start() != rd::engine::kOk)
    return fail("start");
  if (session.SetRemote("127.0.0.1", port) != rd::engine::kOk) return fail("set remote");
  if (!WaitFor([&] { return !sink.connects().empty(); }) || sink.connects()[0] != 0)
    return fail("connect");
  if (session.OpenSession(password) != rd::engine::kOk) return fail("queue open");
  if (!WaitFor([&] {
        return sink.CountReply(rd::rdcp::kSessionAccepted) == 1 || sink.closes() > 0 ||
               !sink.receive_errors().empty();
      }))
    return fail("open accepted");
  if (sink.CountReply(rd::rdcp::kSessionAccepted) == 0) {
    session.Stop();
    return fail("refused");
  }
  if (session.RequestSettings() != rd::engine::kOk) return fail("queue settings");
  if (!WaitFor([&] { return sink.CountReply(rd::rdcp::kSettingsReply) == 1; }))
    return fail("settings reply");
  if (session.CloseSession() != rd::engine::kOk) return fail("close session");
  if (!session.WaitCloseSessionSent(5000)) return fail("close session not sent");
  if (session.Stop() != rd::engine::kOk) return fail("stop");
  return true;
}

int CountOpenFds() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n - 1;  // the directory itself
}

int CountThreads() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

}  // namespace rdtest
