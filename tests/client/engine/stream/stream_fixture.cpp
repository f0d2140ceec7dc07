#include "StreamFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

namespace rdtest {

using rd::StreamReceiver;

Bytes VideoChunk(const Bytes& payload, const Info& info, bool restart) {
  if (payload.size() > StreamReceiver::kVideoPayload) throw std::logic_error("payload too big");
  Bytes chunk(StreamReceiver::kChunkSize, 0);
  chunk[0] = 0xF7;
  chunk[1] = 0x7D;
  chunk[2] = 0x12;  // fields the receiver does not use
  chunk[3] = 0x34;
  if (restart) chunk[10] = 0x80;
  info.time.ToHeader(chunk.data() + 12);
  chunk[18] = info.rate;
  chunk[19] = info.channels;
  std::copy(payload.begin(), payload.end(), chunk.begin() + 20);
  return chunk;
}

Bytes AudioChunks(const Bytes& samples, const Info& info) {
  if (samples.size() != rd::kAudioPayloadSize) throw std::logic_error("audio is 4000 bytes");
  Bytes packet(rd::kPacketSize, 0xEE);  // bytes 4008.. are unused
  info.time.ToHeader(packet.data());
  packet[0] |= 0x80;
  packet[6] = rd::kAudioMarker6;
  packet[7] = rd::kAudioMarker7;
  std::copy(samples.begin(), samples.end(), packet.begin() + 8);
  return packet;
}

Bytes MakeFrame(int channel_code, std::size_t body_size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes frame{0x00, 0x00, 0x01, 0xF8};
  frame.push_back(rd::FrameHeaderByte{true, 5, static_cast<uint8_t>(channel_code)}.Pack());
  for (std::size_t i = 0; i < body_size; ++i) {
    // Plenty of 00 and 01 bytes so that near-misses of the start code occur.
    const uint32_t r = rng() % 16;
    frame.push_back(r == 0 ? 0x00 : r == 1 ? 0x01 : static_cast<uint8_t>(rng()));
  }
  for (std::size_t i = 4; i + 3 < frame.size(); ++i) {
    if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xF8) {
      frame[i + 3] = 0xF9;
    }
  }
  return frame;
}

Bytes MakeAudio(uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes samples(rd::kAudioPayloadSize);
  for (auto& s : samples) s = static_cast<uint8_t>(rng());
  return samples;
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

GeneratedStream Generate(const std::vector<Bytes>& frames, int audio_every) {
  GeneratedStream g;
  g.frames = frames;
  const Bytes es = Concat(frames);
  const std::size_t payload = StreamReceiver::kVideoPayload;
  auto info_of = [](std::size_t chunk) {
    Info info;
    info.time.second = static_cast<uint8_t>(chunk % 60);
    info.time.minute = static_cast<uint8_t>(chunk / 60 % 60);
    info.rate = static_cast<uint8_t>(chunk % 6);
    info.channels = static_cast<uint8_t>(chunk & 0x1F);
    return info;
  };
  std::size_t offset = 0;
  for (const auto& f : frames) {
    g.frame_infos.push_back(info_of((offset + 3) / payload));
    offset += f.size();
  }
  std::size_t chunk = 0;
  for (std::size_t pos = 0; pos < es.size(); pos += payload, ++chunk) {
    const std::size_t n = std::min(payload, es.size() - pos);
    const Bytes part(es.begin() + static_cast<std::ptrdiff_t>(pos),
                     es.begin() + static_cast<std::ptrdiff_t>(pos + n));
    const Bytes c = VideoChunk(part, info_of(chunk));
    g.bytes.insert(g.bytes.end(), c.begin(), c.end());
    if (audio_every > 0 && chunk % static_cast<std::size_t>(audio_every) ==
                               static_cast<std::size_t>(audio_every) - 1) {
      g.audio.push_back(MakeAudio(static_cast<uint32_t>(chunk)));
      const Bytes a = AudioChunks(g.audio.back(), info_of(chunk));
      g.bytes.insert(g.bytes.end(), a.begin(), a.end());
    }
  }
  return g;
}

// --- RecordingSink -----------------------------------------------------------

void RecordingSink::Add(std::string event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
}

void RecordingSink::OnStreamConnect(int error) {
  Add("connect:" + std::to_string(error));
}
void RecordingSink::OnStreamClose(int error) {
  Add("close:" + std::to_string(error));
}
void RecordingSink::OnStreamError(int error) {
  Add("error:" + std::to_string(error));
}
void RecordingSink::OnStreamBytes(uint32_t count) {
  Add("bytes:" + std::to_string(count));
}
void RecordingSink::OnStreamGap(uint32_t ms) {
  std::lock_guard lock(mutex_);
  events_.push_back("gap");
  gaps_.push_back(ms);
}
void RecordingSink::OnFrameRestart() {
  Add("restart");
}
void RecordingSink::OnStreamHeader(const rd::RecTime& time, uint8_t, uint8_t) {
  Add("header:" + std::to_string(time.second));
}

void RecordingSink::OnVideoFrame(rd::FrameSlot& slot, const rd::RecTime& time, uint8_t rate,
                                 uint8_t channels) {
  Frame f;
  f.slot = receiver_ ? static_cast<int>(&slot - &receiver_->frame_slot(0)) : -1;
  {
    std::lock_guard slot_lock(slot.Lock());
    f.data.assign(slot.Data(), slot.Data() + slot.Length());
  }
  f.time = time;
  f.rate = rate;
  f.channels = channels;
  std::lock_guard lock(mutex_);
  events_.push_back("frame:" + std::to_string(f.slot) + ":" + std::to_string(f.data.size()));
  frames_.push_back(std::move(f));
}

void RecordingSink::OnAudioBlock(rd::AudioSlot& slot) {
  Audio a;
  a.slot = receiver_ ? static_cast<int>(&slot - &receiver_->audio_slot(0)) : -1;
  a.data.assign(slot.Data(), slot.Data() + slot.Length());
  std::lock_guard lock(mutex_);
  events_.push_back("audio:" + std::to_string(a.slot));
  audio_.push_back(std::move(a));
}

std::vector<std::string> RecordingSink::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::string> RecordingSink::MainEvents() const {
  std::vector<std::string> out;
  for (const auto& e : Events()) {
    if (e.rfind("bytes:", 0) == 0 || e == "gap" || e.rfind("header:", 0) == 0 ||
        e.rfind("connect:", 0) == 0) {
      continue;
    }
    out.push_back(e);
  }
  return out;
}

std::vector<RecordingSink::Frame> RecordingSink::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<RecordingSink::Audio> RecordingSink::AudioBlocks() const {
  std::lock_guard lock(mutex_);
  return audio_;
}

std::vector<uint32_t> RecordingSink::Gaps() const {
  std::lock_guard lock(mutex_);
  return gaps_;
}

std::size_t RecordingSink::FrameCount() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

std::size_t RecordingSink::AudioCount() const {
  std::lock_guard lock(mutex_);
  return audio_.size();
}

int RecordingSink::Count(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                        [&](const auto& e) { return e.rfind(prefix, 0) == 0; }));
}

// --- ScriptedStreamPeer -------------------------------------------------------

namespace {

int ListenOnLoopback(uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 1) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

// Waits for fd to become ready for `events`; false when woken through wake_fd.
bool WaitReady(int fd, short events, int wake_fd) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
  while (true) {
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (fds[1].revents & POLLIN)) return false;
    if (fds[0].revents) return true;
  }
}

}  // namespace

ScriptedStreamPeer::ScriptedStreamPeer(Bytes bytes, std::vector<std::size_t> write_sizes,
                                       bool close_at_end)
    : bytes_(std::move(bytes)), write_sizes_(std::move(write_sizes)), close_at_end_(close_at_end) {
  if (write_sizes_.empty()) write_sizes_.push_back(bytes_.size() ? bytes_.size() : 1);
  listen_fd_ = ListenOnLoopback(&port_);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread(&ScriptedStreamPeer::Serve, this);
}

ScriptedStreamPeer::~ScriptedStreamPeer() {
  const uint64_t one = 1;
  const ssize_t r = ::write(wake_fd_, &one, sizeof one);
  (void)r;
  thread_.join();
  ::close(listen_fd_);
  ::close(wake_fd_);
}

void ScriptedStreamPeer::Serve() {
  if (!WaitReady(listen_fd_, POLLIN, wake_fd_)) return;
  const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::size_t pos = 0;
  std::size_t piece = 0;
  bool ok = true;
  while (ok && pos < bytes_.size()) {
    std::size_t n = std::min(write_sizes_[piece++ % write_sizes_.size()], bytes_.size() - pos);
    if (n == 0) n = 1;
    const std::size_t end = pos + n;
    while (pos < end) {
      if (!WaitReady(fd, POLLOUT, wake_fd_)) {
        ok = false;
        break;
      }
      const ssize_t w = ::send(fd, bytes_.data() + pos, end - pos, MSG_NOSIGNAL);
      if (w <= 0) {
        ok = false;
        break;
      }
      pos += static_cast<std::size_t>(w);
    }
  }
  finished_ = true;
  if (ok && !close_at_end_) WaitReady(wake_fd_, POLLIN, wake_fd_);
  ::close(fd);
}

uint16_t RefusingPort() {
  uint16_t port = 0;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace rdtest
