#include "client/engine/net/EngineSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace rd {

namespace {

// Waits for `events` on fd or for the wake eventfd. Returns revents of fd (0
// when woken or timed out), or -1 with errno set when poll itself fails.
int WaitFd(int fd, short events, int wake_fd, int timeout_ms) {
  pollfd fds[2];
  fds[0] = pollfd{fd, events, 0};
  fds[1] = pollfd{wake_fd, POLLIN, 0};
  int r = ::poll(fds, 2, timeout_ms);
  if (r < 0) return -1;
  return fds[0].revents;
}

}  // namespace

EngineSocket::EngineSocket() = default;

EngineSocket::~EngineSocket() {
  // A derived class should have closed already; this is the safety net for
  // plain EngineSocket objects.
  if (sender_started_.load()) StopSender();
  if (created_.load()) Close();
  CloseWakeFd();
}

void EngineSocket::OnConnect(int) {}
void EngineSocket::OnClose(int) {}
void EngineSocket::OnReceive(int) {}
void EngineSocket::RunSender() {
  while (SenderShouldRun()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

EngineResult EngineSocket::Create() {
  std::lock_guard<std::mutex> lock(close_mutex_);
  if (created_.load()) return engine::kSocketAlreadyCreated;
  if (socket_thread_.joinable()) return engine::kThreadAlreadyRunning;  // never restarted
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  if (wake_fd_ < 0) {
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) {
      int err = errno;
      ::close(fd);
      return err;
    }
  }
  fd_.store(fd);
  created_.store(true);
  stop_.store(false);
  thread_running_.store(true);
  try {
    socket_thread_ = std::thread(&EngineSocket::SocketThread, this);
  } catch (...) {
    thread_running_.store(false);
    created_.store(false);
    fd_.store(-1);
    ::close(fd);
    return engine::kThreadCreateFailed;
  }
  return engine::kOk;
}

EngineResult EngineSocket::SetRemote(const char* ip, uint16_t port) {
  if (!created_.load()) return engine::kSocketNotCreated;
  if (!thread_running_.load()) return engine::kThreadNotRunning;
  {
    std::lock_guard<std::mutex> lock(remote_mutex_);
    std::memset(&remote_, 0, sizeof remote_);
    remote_.sin_family = AF_INET;
    remote_.sin_port = htons(port);
    remote_valid_ = ip != nullptr && ::inet_pton(AF_INET, ip, &remote_.sin_addr) == 1;
  }
  connect_requested_.store(true);
  Wake();
  return engine::kOk;
}

EngineResult EngineSocket::Send(const uint8_t* data, std::size_t length) {
  if (!connected_.load()) return engine::kNotConnected;
  std::lock_guard<std::mutex> lock(send_mutex_);
  int fd = fd_.load();
  if (fd < 0) return engine::kNotConnected;
  std::size_t written = 0;
  while (written < length) {
    ssize_t n = ::send(fd, data + written, length - written, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    written += static_cast<std::size_t>(n);
  }
  return written == length ? engine::kOk : engine::kShortSend;
}

EngineResult EngineSocket::Receive(int* length, uint8_t* buffer, std::size_t size) {
  if (!connected_.load()) {
    if (length) *length = -1;
    return engine::kNotConnected;
  }
  int fd = fd_.load();
  ssize_t n;
  do {
    n = ::recv(fd, buffer, size, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int err = errno;
    if (length) *length = -1;
    // A hard error leaves the socket unusable: stop watching it, so the error
    // is reported once instead of on every pass of the socket thread.
    if (err != EAGAIN && err != EWOULDBLOCK) connected_.store(false);
    return err;
  }
  if (length) *length = static_cast<int>(n);
  return engine::kOk;
}

int EngineSocket::UnacknowledgedBytes() const {
  const int fd = fd_.load();
  int n = 0;
  if (fd < 0 || ::ioctl(fd, SIOCOUTQ, &n) != 0) return -1;
  return n;
}

bool EngineSocket::MarkPeerClosed() {
  connected_.store(false);
  if (stop_.load()) return false;
  return !peer_closed_reported_.exchange(true);
}

EngineResult EngineSocket::Close() {
  std::lock_guard<std::mutex> lock(close_mutex_);
  if (!created_.load()) return engine::kSocketNotCreated;
  stop_.store(true);
  Wake();
  if (socket_thread_.joinable()) {
    if (socket_thread_.get_id() == std::this_thread::get_id()) {
      // Called from one of our own callbacks: the thread leaves its loop when
      // the callback returns; the join and the close happen on the next
      // Close() from another thread (at the latest in the destructor).
      connected_.store(false);
      int fd = fd_.load();
      if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
      return engine::kOk;
    }
    socket_thread_.join();
  }
  int fd = fd_.load();
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);  // wakes a Send blocked on a peer that does not read
    std::lock_guard<std::mutex> send_lock(send_mutex_);
    if (::close(fd) != 0 && errno != EINTR) return errno;
    fd_.store(-1);
  }
  connected_.store(false);
  created_.store(false);
  return engine::kOk;
}

void EngineSocket::Wake() {
  if (wake_fd_ >= 0) {
    uint64_t one = 1;
    ssize_t r = ::write(wake_fd_, &one, sizeof one);
    (void)r;
  }
}

void EngineSocket::CloseWakeFd() {
  if (wake_fd_ >= 0) {
    ::close(wake_fd_);
    wake_fd_ = -1;
  }
}

void EngineSocket::ConnectNow() {
  sockaddr_in addr;
  bool valid;
  {
    std::lock_guard<std::mutex> lock(remote_mutex_);
    addr = remote_;
    valid = remote_valid_;
  }
  if (!valid) {
    OnConnect(EINVAL);
    return;
  }
  int fd = fd_.load();
  int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    err = errno;
    // The connect is "blocking" for this thread, but it waits in poll so that
    // Close() can wake it at once.
    while (err == EINPROGRESS || err == EINTR) {
      int rev = WaitFd(fd, POLLOUT, wake_fd_, -1);
      if (stop_.load()) {
        ::fcntl(fd, F_SETFL, flags);
        return;
      }
      if (rev < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      if (rev == 0) {
        uint64_t v;
        ssize_t r = ::read(wake_fd_, &v, sizeof v);  // a SetRemote wake-up
        (void)r;
        continue;
      }
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      break;
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  if (stop_.load()) return;
  if (err != 0) {
    OnConnect(err);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  // Requests and replies are small and answered one by one: send each at once.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  connected_.store(true);
  OnConnect(0);
}

void EngineSocket::SocketThread() {
  while (!stop_.load()) {
    int fd = fd_.load();
    if (connected_.load()) {
      int rev = WaitFd(fd, POLLIN, wake_fd_, -1);
      if (stop_.load()) break;
      if (rev < 0) {
        if (errno == EINTR) continue;
        OnReceive(errno);
        continue;
      }
      if (rev == 0) {
        uint64_t v;
        ssize_t r = ::read(wake_fd_, &v, sizeof v);
        (void)r;
        continue;
      }
      if (rev & POLLNVAL) {
        connected_.store(false);
        OnReceive(EBADF);
        continue;
      }
      OnReceive(0);
    } else if (connect_requested_.exchange(false)) {
      ConnectNow();
    } else {
      // Idle: sleep up to 1 ms, or until SetRemote / Close wakes us.
      pollfd p{wake_fd_, POLLIN, 0};
      if (::poll(&p, 1, 1) > 0) {
        uint64_t v;
        ssize_t r = ::read(wake_fd_, &v, sizeof v);
        (void)r;
      }
    }
  }
  thread_running_.store(false);
}

EngineResult EngineSocket::StartSender() {
  if (sender_started_.load()) return engine::kSenderAlreadyRunning;
  if (sender_.joinable()) sender_.join();  // a sender that left on its own
  sender_run_.store(true);
  sender_left_.store(false);
  try {
    sender_ = std::thread([this] {
      RunSender();
      sender_left_.store(true);
    });
  } catch (...) {
    sender_run_.store(false);
    return engine::kSenderCreateFailed;
  }
  sender_started_.store(true);
  return engine::kOk;
}

EngineResult EngineSocket::StopSender() {
  if (!sender_started_.load()) return engine::kSenderNotRunning;
  sender_run_.store(false);
  WakeSender();
  // Bounded wait in 1 ms steps, so the whole stop stays within a second.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSenderStopWaitMs);
  while (!sender_left_.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!sender_left_.load()) {
    // Stuck in a Send to a peer that does not read: shutting the socket down
    // makes that Send return.
    int fd = fd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }
  if (sender_.joinable() && sender_.get_id() != std::this_thread::get_id()) sender_.join();
  sender_started_.store(false);
  return engine::kOk;
}

}  // namespace rd
