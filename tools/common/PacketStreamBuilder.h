#pragma once
// Cuts an MJPEG elementary stream and audio blocks into 4K packets in stream
// order, the way the recorder lays them down: video payloads of 4088 bytes
// back to back (frames not aligned to packets), an audio packet inserted
// between video packets whenever half a second of audio is ready.
//
// A video packet takes the time, rate code and channel set current when its
// first payload byte is placed. Audio that is ready while a video packet is
// partly filled goes in right after that packet, so packet times never
// decrease in ring order (the time search bisects over them).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd {

class PacketStreamBuilder {
 public:
  using Packet = std::array<uint8_t, kPacketSize>;

  void set_time(const RecTime& time) { time_ = time; }
  void set_rate(uint8_t rate) { rate_ = rate; }
  void set_channel_set(uint8_t channel_set) { channel_set_ = channel_set; }

  // Appends bytes of the elementary stream (whole frames or pieces).
  void AppendVideo(const uint8_t* data, std::size_t size);
  void AppendVideo(const std::vector<uint8_t>& data) { AppendVideo(data.data(), data.size()); }
  // Emits an audio packet (4000 samples) between the video packets: now, or
  // after the partly filled video packet.
  void AppendAudio(const uint8_t* samples);
  // Pads the partly filled video packet with zeros and emits it, and the
  // audio waiting behind it.
  void Flush();

  // Bytes of the elementary stream placed so far (including a partial packet).
  std::size_t video_bytes() const { return video_bytes_; }
  std::vector<Packet>& packets() { return packets_; }
  // Takes the finished packets out of the builder.
  std::vector<Packet> TakePackets();

 private:
  void EmitPending();

  RecTime time_{};
  uint8_t rate_ = 0;
  uint8_t channel_set_ = 0x0F;
  Packet pending_{};
  std::size_t pending_size_ = 0;
  std::size_t video_bytes_ = 0;
  std::vector<Packet> packets_;
  std::vector<Packet> held_audio_;  // waiting for the partly filled video packet
};

}  // namespace rd
