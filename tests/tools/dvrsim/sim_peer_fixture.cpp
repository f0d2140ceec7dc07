#include "SimPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace simtest {
namespace {

int ConnectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

int MsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

std::optional<std::size_t> FindStart(const std::vector<uint8_t>& b) {
  for (std::size_t i = 0; i + 4 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xF8) return i;
  return std::nullopt;
}

}  // namespace

uint32_t Fnv(const std::vector<uint8_t>& b) {
  uint32_t h = 2166136261u;
  for (uint8_t c : b) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

std::vector<uint8_t> Frame(uint8_t type, uint8_t param, std::vector<uint8_t> payload) {
  std::vector<uint8_t> m{0xF5, static_cast<uint8_t>(payload.size()), type, param};
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

// ------------------------------------------------------------ control

ControlPeer::~ControlPeer() {
  Close();
}

bool ControlPeer::Connect(int port) {
  fd_ = ConnectTo(port);
  return fd_ >= 0;
}

void ControlPeer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ControlPeer::Send(const std::vector<uint8_t>& bytes) {
  return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(bytes.size());
}

bool ControlPeer::Fill(std::chrono::steady_clock::time_point deadline) {
  if (fd_ < 0 || closed_) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, MsLeft(deadline)) <= 0) return false;
  uint8_t tmp[4096];
  ssize_t r = ::recv(fd_, tmp, sizeof tmp, 0);
  if (r <= 0) {
    closed_ = true;
    return false;
  }
  buf_.insert(buf_.end(), tmp, tmp + r);
  reads_.emplace_back(tmp, tmp + r);
  return true;
}

std::optional<Msg> ControlPeer::Next(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    // Drop bytes that cannot start a message (garbage scenario).
    while (!buf_.empty() && buf_[0] != 0xF5) buf_.erase(buf_.begin());
    if (buf_.size() >= 4 && buf_.size() >= 4u + buf_[1]) {
      Msg m{buf_[2], buf_[3], std::vector<uint8_t>(buf_.begin() + 4, buf_.begin() + 4 + buf_[1])};
      buf_.erase(buf_.begin(), buf_.begin() + 4 + buf_[1]);
      return m;
    }
    if (!Fill(deadline)) return std::nullopt;
  }
}

std::optional<Msg> ControlPeer::Expect(uint8_t type, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto m = Next(std::chrono::milliseconds(MsLeft(deadline)));
    if (!m) return std::nullopt;
    if (m->type == type) return m;
    if (m->type == 84 || m->type == 91) notifications.push_back(*m);
  }
}

std::optional<Msg> ControlPeer::Request(uint8_t type, std::vector<uint8_t> payload, uint8_t param) {
  if (!Send(Frame(type, param, std::move(payload)))) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3000);
  while (true) {
    auto m = Next(std::chrono::milliseconds(MsLeft(deadline)));
    if (!m) return std::nullopt;
    if (m->type == 84 || m->type == 91) {
      notifications.push_back(*m);
      continue;
    }
    if (m->type == 92) continue;
    return m;
  }
}

bool ControlPeer::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Fill(deadline);
  }
  return true;
}

bool ControlPeer::OpenSession(std::vector<uint8_t> password) {
  auto r = Request(16, std::move(password));
  if (!r || r->type != 64 || r->payload.size() != 1) return false;
  return Send(Frame(18, static_cast<uint8_t>(r->payload[0] ^ 0x6E)));
}

// ------------------------------------------------------------ stream

StreamPeer::~StreamPeer() {
  Close();
}

bool StreamPeer::Connect(int port) {
  fd_ = ConnectTo(port);
  return fd_ >= 0;
}

void StreamPeer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void StreamPeer::Chunk(const uint8_t* c) {
  if (audio_half_) {
    std::vector<uint8_t> block = audio_first_;
    block.insert(block.end(), c, c + 1960);
    audio.push_back(std::move(block));
    audio_half_ = false;
    return;
  }
  if (c[0] == 0xF7) {
    video_chunks.emplace_back(c, c + 20);
    video_chunks.back().push_back(c[2046]);
    video_chunks.back().push_back(c[2047]);
    std::vector<uint8_t> info(c + 12, c + 20);
    if (c[10] & 0x80) {
      in_frame_ = false;
      ++restarts;
      restart_seen_ = true;
    }
    assembly_.insert(assembly_.end(), c + 20, c + 2048);
    auto s = FindStart(assembly_);
    if (!in_frame_) {
      if (!s) {
        if (assembly_.size() > 3) assembly_.erase(assembly_.begin(), assembly_.end() - 3);
        return;
      }
      frames.push_back(StreamFrame{});  // placeholder, completed at the next start code
      frames.back().bytes.assign(assembly_.begin() + static_cast<std::ptrdiff_t>(*s),
                                 assembly_.end());
      frames.back().info = info;
      frames.back().restarted = restart_seen_;
      restart_seen_ = false;
      assembly_.clear();
      in_frame_ = true;
      return;
    }
    auto& cur = frames.back();
    if (!s) {
      cur.bytes.insert(cur.bytes.end(), assembly_.begin(), assembly_.end() - 3);
      assembly_.erase(assembly_.begin(), assembly_.end() - 3);
      return;
    }
    cur.bytes.insert(cur.bytes.end(), assembly_.begin(),
                     assembly_.begin() + static_cast<std::ptrdiff_t>(*s));
    StreamFrame next;
    next.bytes.assign(assembly_.begin() + static_cast<std::ptrdiff_t>(*s), assembly_.end());
    next.info = info;
    frames.push_back(std::move(next));
    assembly_.clear();
    return;
  }
  if (c[6] == 0xF1 && c[7] == 0xF2) {
    audio_first_.assign(c + 8, c + 2048);
    audio_half_ = true;
    return;
  }
  ++resyncs;
  in_frame_ = false;
  for (std::size_t u = 1; u + 1 < 2048; ++u) {
    if (c[u] == 0xF7 && c[u + 1] == 0x7D) {
      pending_.insert(pending_.begin(), c + u, c + 2048);
      return;
    }
  }
}

bool StreamPeer::Pump(std::chrono::steady_clock::time_point deadline) {
  if (fd_ < 0 || closed_) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, MsLeft(deadline)) <= 0) return false;
  uint8_t tmp[16384];
  ssize_t r = ::recv(fd_, tmp, sizeof tmp, 0);
  if (r <= 0) {
    closed_ = true;
    return false;
  }
  bytes += static_cast<std::size_t>(r);
  pending_.insert(pending_.end(), tmp, tmp + r);
  while (pending_.size() >= 2048) {
    std::vector<uint8_t> c(pending_.begin(), pending_.begin() + 2048);
    pending_.erase(pending_.begin(), pending_.begin() + 2048);
    Chunk(c.data());
  }
  return true;
}

// A frame counts as complete once the next one has started.
bool StreamPeer::ReadFrames(std::size_t n, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (frames.size() < n + 1) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Pump(deadline);
  }
  return true;
}

bool StreamPeer::ReadAudio(std::size_t n, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (audio.size() < n) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Pump(deadline);
  }
  return true;
}

bool StreamPeer::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Pump(deadline);
  }
  return true;
}

}  // namespace simtest
