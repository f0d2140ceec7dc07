#pragma once
// The DVR's 4096-byte recording and streaming unit (the 4K packet), its 8-byte
// header, the recording time, the channel code of an MJPEG frame and the
// byte-pair exchange of the disk image. Used by the stream receiver, the local
// recorder, the player's disk index and chunk loader, and the emulated DVR.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rd {

inline constexpr std::size_t kPacketSize = 4096;
inline constexpr std::size_t kPacketHeaderSize = 8;
inline constexpr std::size_t kVideoPayloadSize = kPacketSize - kPacketHeaderSize;  // 4088
inline constexpr std::size_t kAudioPayloadSize = 4000;  // 0.5 s of 8 kHz A-law
inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kSectorsPerPacket = kPacketSize / kSectorSize;  // 8
inline constexpr std::size_t kChunkPackets = 512;
inline constexpr std::size_t kChunkBytes = kChunkPackets * kPacketSize;  // 2 MiB

inline constexpr uint8_t kAudioMarker6 = 0xF1;
inline constexpr uint8_t kAudioMarker7 = 0xF2;

// The frame start code 00 00 01 F8 and the one header byte after it.
inline constexpr std::array<uint8_t, 4> kFrameStartCode{0x00, 0x00, 0x01, 0xF8};

// Channel of an MJPEG frame: 0..3 are CH1..CH4, 4 is the DVR's quad picture,
// 5..7 are undefined.
enum class ChannelCode : uint8_t { kCh1 = 0, kCh2 = 1, kCh3 = 2, kCh4 = 3, kQuad = 4 };
// The raw codes as the frame header byte carries them: the quad picture's, and
// how many codes are defined (CH1..CH4 and the quad).
inline constexpr uint8_t kQuadCode = static_cast<uint8_t>(ChannelCode::kQuad);
inline constexpr int kChannelCodes = kQuadCode + 1;

// The byte after the frame start code: full-frame flag (bit 7), quantisation
// level code (bits 6..3), channel code (bits 2..0).
struct FrameHeaderByte {
  bool full_frame = false;
  uint8_t q = 0;        // 0..15
  uint8_t channel = 0;  // raw ChannelCode, 0..7

  static constexpr FrameHeaderByte Parse(uint8_t b) {
    return FrameHeaderByte{(b & 0x80) != 0, static_cast<uint8_t>((b >> 3) & 0x0F),
                           static_cast<uint8_t>(b & 0x07)};
  }
  constexpr uint8_t Pack() const {
    return static_cast<uint8_t>((full_frame ? 0x80 : 0) | ((q & 0x0F) << 3) | (channel & 0x07));
  }
};

// ChannelSet (video byte 7): bit 3 CH1, bit 2 CH2, bit 1 CH3, bit 0 CH4; 0x10 quad.
inline constexpr uint8_t kChannelSetQuad = 0x10;
constexpr uint8_t ChannelSetBit(int channel /*1..4*/) {
  return static_cast<uint8_t>(0x08 >> (channel - 1));
}

// Recording time: year - 2000 (7 bits), month, day, hour, minute, second.
struct RecTime {
  uint8_t year = 0;  // years since 2000, 0..127 (bit 7 of the packet byte masked off)
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;

  // Reads bytes 0..5 of a packet header (stream order); masks bit 7 of the year.
  static RecTime FromHeader(const uint8_t* header);
  void ToHeader(uint8_t* header) const;  // writes bytes 0..5; bit 7 of byte 0 stays 0

  // "20%02d/%02d/%02d %02d:%02d:%02d"
  std::string Format() const;

  friend bool operator==(const RecTime&, const RecTime&) = default;
};

enum class PacketKind { kVideo, kAudio };

// Audio only when bit 7 of byte 0 is set AND byte 6 is F1 AND byte 7 is F2.
constexpr PacketKind ClassifyPacket(const uint8_t* header) {
  return ((header[0] & 0x80) != 0 && header[6] == kAudioMarker6 && header[7] == kAudioMarker7)
             ? PacketKind::kAudio
             : PacketKind::kVideo;
}

// Nominal display time of a frame for a RateCode: (code + 1) / 30 s, in ms.
constexpr double FrameIntervalMs(uint8_t rate_code) {
  return (rate_code + 1) * 1000.0 / 30.0;
}

// Exchanges the two bytes of every 16-bit word in place (disk order <-> stream
// order). An odd trailing byte is left alone.
void PairSwap(uint8_t* data, std::size_t size);

// Stream byte b of a packet read straight from a disk sector is at disk byte b ^ 1.
constexpr std::size_t DiskOffsetOfStreamByte(std::size_t b) {
  return b ^ 1u;
}

}  // namespace rd
