#include "tools/common/PacketStreamBuilder.h"

#include <algorithm>
#include <cstring>

#include "tools/common/DvrDiskImage.h"

namespace rd {

void PacketStreamBuilder::AppendVideo(const uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (pending_size_ == 0) {
      DvrDiskImage::MakeVideoPacket(time_, rate_, channel_set_, nullptr, 0, pending_.data());
    }
    const std::size_t take = std::min(size, kVideoPayloadSize - pending_size_);
    std::memcpy(pending_.data() + kPacketHeaderSize + pending_size_, data, take);
    pending_size_ += take;
    video_bytes_ += take;
    data += take;
    size -= take;
    if (pending_size_ == kVideoPayloadSize) EmitPending();
  }
}

void PacketStreamBuilder::EmitPending() {
  packets_.push_back(pending_);
  pending_size_ = 0;
  packets_.insert(packets_.end(), held_audio_.begin(), held_audio_.end());
  held_audio_.clear();
}

void PacketStreamBuilder::AppendAudio(const uint8_t* samples) {
  Packet packet;
  DvrDiskImage::MakeAudioPacket(time_, samples, packet.data());
  (pending_size_ == 0 ? packets_ : held_audio_).push_back(packet);
}

void PacketStreamBuilder::Flush() {
  if (pending_size_ == 0) return;
  video_bytes_ += kVideoPayloadSize - pending_size_;
  EmitPending();  // the rest of the payload is already zero
}

std::vector<PacketStreamBuilder::Packet> PacketStreamBuilder::TakePackets() {
  std::vector<Packet> out;
  out.swap(packets_);
  return out;
}

}  // namespace rd
