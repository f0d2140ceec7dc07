#pragma once
// Test helpers for the stream receiver: chunk builders, an elementary-stream
// generator that cuts frames and audio into chunks the way the DVR does, an
// EngineEvents sink that records every callback, and a scripted stream peer
// that serves prepared bytes over loopback TCP.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/events/EngineEvents.h"
#include "client/engine/stream/StreamReceiver.h"

namespace rdtest {

using Bytes = std::vector<uint8_t>;

struct Info {
  rd::RecTime time{24, 5, 1, 12, 0, 0};
  uint8_t rate = 0;
  uint8_t channels = 0x0F;
};

// A 2048-byte video chunk: F7 7D, restart bit in byte 10, info at 12..19 and
// `payload` (up to 2028 bytes, zero padded) at 20.
Bytes VideoChunk(const Bytes& payload, const Info& info = {}, bool restart = false);
// The two 2048-byte chunks of one 4K audio packet carrying `samples` (4000).
Bytes AudioChunks(const Bytes& samples, const Info& info = {});
// A frame: start code, header byte for `channel_code`, then `body_size` bytes
// that never form a start code (pseudo-random, seeded).
Bytes MakeFrame(int channel_code, std::size_t body_size, uint32_t seed);
// Distinct recognisable audio samples.
Bytes MakeAudio(uint32_t seed);
Bytes Concat(const std::vector<Bytes>& parts);

// One generated stream: the elementary stream of `frames` cut into video
// chunks (each with its own info, second = chunk index % 60), with an audio
// packet after every `audio_every`-th video chunk (0: none).
struct GeneratedStream {
  Bytes bytes;
  std::vector<Bytes> frames;
  std::vector<Info> frame_infos;  // info of the chunk in which each start code completes
  std::vector<Bytes> audio;
};
GeneratedStream Generate(const std::vector<Bytes>& frames, int audio_every);

// Records every callback. Frames are copied under the slot's lock.
class RecordingSink : public rd::EngineEvents {
 public:
  struct Frame {
    int slot = 0;
    Bytes data;
    rd::RecTime time;
    uint8_t rate = 0;
    uint8_t channels = 0;
  };
  struct Audio {
    int slot = 0;
    Bytes data;
  };

  void OnStreamConnect(int error) override;
  void OnStreamClose(int error) override;
  void OnStreamError(int error) override;
  void OnStreamBytes(uint32_t count) override;
  void OnStreamGap(uint32_t ms) override;
  void OnFrameRestart() override;
  void OnStreamHeader(const rd::RecTime& time, uint8_t rate, uint8_t channels) override;
  void OnVideoFrame(rd::FrameSlot& slot, const rd::RecTime& time, uint8_t rate,
                    uint8_t channels) override;
  void OnAudioBlock(rd::AudioSlot& slot) override;

  // Slot numbers need the receiver whose slots are reported.
  void Watch(rd::StreamReceiver* receiver) { receiver_ = receiver; }

  // Thread-safe copies.
  std::vector<std::string> Events() const;
  // The events without connect / bytes / gap / header entries.
  std::vector<std::string> MainEvents() const;
  std::vector<Frame> Frames() const;
  std::vector<Audio> AudioBlocks() const;
  std::vector<uint32_t> Gaps() const;
  std::size_t FrameCount() const;
  std::size_t AudioCount() const;
  int Count(const std::string& event_prefix) const;

 private:
  void Add(std::string event);

  rd::StreamReceiver* receiver_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<Frame> frames_;
  std::vector<Audio> audio_;
  std::vector<uint32_t> gaps_;
};

// Serves a script over one loopback TCP connection: accepts one client,
// writes `bytes` in pieces of the given sizes (cycled), then closes the
// connection (or keeps it open until the peer object is destroyed).
class ScriptedStreamPeer {
 public:
  ScriptedStreamPeer(Bytes bytes, std::vector<std::size_t> write_sizes, bool close_at_end);
  ~ScriptedStreamPeer();
  uint16_t port() const { return port_; }
  bool finished() const { return finished_; }

 private:
  void Serve();

  Bytes bytes_;
  std::vector<std::size_t> write_sizes_;
  bool close_at_end_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections (bound, never listened on, closed).
uint16_t RefusingPort();

}  // namespace rdtest
