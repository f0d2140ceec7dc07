#pragma once
// Scripted peers for driving dvrsim over loopback: a control peer that sends
// raw bytes and reads whole RDCP messages, and a stream peer that reads
// 2048-byte chunks and reassembles frames the way a receiver does.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

struct Msg {
  uint8_t type = 0;
  uint8_t param = 0;
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> Frame(uint8_t type, uint8_t param = 0, std::vector<uint8_t> payload = {});

class ControlPeer {
 public:
  ControlPeer() = default;
  ~ControlPeer();
  bool Connect(int port);
  void Close();
  bool Send(const std::vector<uint8_t>& bytes);
  // The next whole message, or nothing when none arrives in time.
  std::optional<Msg> Next(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
  // Skips messages until one of `type` arrives.
  std::optional<Msg> Expect(uint8_t type,
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Sends a request and returns the next message that is not a notification
  // (84, 91) nor a keep-alive reply.
  std::optional<Msg> Request(uint8_t type, std::vector<uint8_t> payload = {}, uint8_t param = 0);
  // True when the peer closed the connection within the timeout.
  bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Bytes of the last recv that carried them (for "two messages in one read").
  const std::vector<std::vector<uint8_t>>& reads() const { return reads_; }
  // Opens a session with the default password; returns false on refusal.
  bool OpenSession(std::vector<uint8_t> password = {1, 2, 3, 4, 5, 6});

  std::vector<Msg> notifications;  // 84 / 91 seen by Request

 private:
  bool Fill(std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  std::vector<uint8_t> buf_;
  std::vector<std::vector<uint8_t>> reads_;
  bool closed_ = false;
};

struct StreamFrame {
  std::vector<uint8_t> bytes;  // from its start code to the next start code
  std::vector<uint8_t> info;   // 8-byte header of the chunk holding the start code
  bool restarted = false;      // a restart bit was seen while it was assembled
};

class StreamPeer {
 public:
  ~StreamPeer();
  bool Connect(int port);
  void Close();
  // Reads until `frames` frames are complete (or audio blocks counted) or the timeout.
  bool ReadFrames(std::size_t frames, std::chrono::milliseconds timeout);
  bool ReadAudio(std::size_t blocks, std::chrono::milliseconds timeout);
  bool WaitClosed(std::chrono::milliseconds timeout);

  std::vector<StreamFrame> frames;
  std::vector<std::vector<uint8_t>> audio;         // 4000-byte blocks
  std::vector<std::vector<uint8_t>> video_chunks;  // headers (20 bytes) + last 2 bytes of each
  std::size_t resyncs = 0;
  std::size_t restarts = 0;
  std::size_t bytes = 0;

 private:
  bool Pump(std::chrono::steady_clock::time_point deadline);
  void Chunk(const uint8_t* c);
  int fd_ = -1;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> assembly_;
  bool in_frame_ = false;
  std::vector<uint8_t> frame_info_;
  bool audio_half_ = false;
  std::vector<uint8_t> audio_first_;
  bool closed_ = false;
  bool restart_seen_ = false;
};

// FNV-1a 32 of bytes (as dvrsim's log).
uint32_t Fnv(const std::vector<uint8_t>& b);

}  // namespace simtest
