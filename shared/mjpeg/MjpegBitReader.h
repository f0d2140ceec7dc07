#pragma once
// The decoder's bit reader.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "shared/stream/ByteOrder.h"

namespace rd::mjpeg {

// ---------------------------------------------------------------------------
// Bit reader over the frame bytes plus the format's end-of-data padding: zero
// bytes up to the next multiple of four bytes from the start of the data, then
// 00 00 01 FF repeated without end. Bits are read most significant first.

class BitReader {
 public:
  BitReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {
    round4_ = size + ((4 - (size & 3)) & 3);
    tail_start_ = size > 8 ? size - 8 : 0;
    for (std::size_t k = 0; k < sizeof(tail_); ++k) tail_[k] = ByteAt(tail_start_ + k);
    pattern_offset_ = round4_ - tail_start_;
    Refill();
  }

  // The logical byte at position p (data, then padding).
  uint8_t ByteAt(std::size_t p) const {
    if (p < size_) return data_[p];
    if (p < round4_) return 0;
    static constexpr uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xFF};
    return kEnd[(p - round4_) & 3];
  }

  // Makes at least 56 bits available.
  inline void Refill() {
    window_ |= Load64(pos_) >> count_;
    pos_ += (63 - count_) >> 3;
    count_ |= 56;
  }
  inline void Need(int n) {
    if (count_ < n) Refill();
  }
  // Next n bits (1..32) without consuming them; needs Need(n) before.
  inline uint32_t Peek(int n) const { return static_cast<uint32_t>(window_ >> (64 - n)); }
  inline void Skip(int n) {
    window_ <<= n;
    count_ -= n;
  }
  inline uint32_t Get(int n) {
    Need(n);
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  inline uint32_t Show(int n) {
    Need(n);
    return Peek(n);
  }
  void ByteAlign() { Skip(count_ & 7); }

  // Byte position of the next unread bit (reader byte-aligned).
  std::size_t BytePosition() const { return pos_ - static_cast<std::size_t>(count_ >> 3); }
  void Seek(std::size_t byte_position) {
    pos_ = byte_position;
    window_ = 0;
    count_ = 0;
    Refill();
  }

  // Slice search: skip to the byte boundary, then advance byte by byte until
  // the next 24 bits are 00 00 01. Always ends: the padding has start codes.
  void NextStartCode() {
    ByteAlign();
    std::size_t p = BytePosition();
    // Fast scan inside the data for the 01 of 00 00 01.
    while (size_ >= 3 && p + 3 <= size_) {
      const void* hit = std::memchr(data_ + p + 2, 0x01, size_ - p - 2);
      if (hit == nullptr) {
        p = size_ - 2;
        break;
      }
      const std::size_t k = static_cast<const uint8_t*>(hit) - data_;
      if (data_[k - 1] == 0 && data_[k - 2] == 0) {
        Seek(k - 2);
        return;
      }
      p = k - 1;
    }
    // Near the end and in the padding: byte by byte over the logical stream.
    while (!(ByteAt(p) == 0 && ByteAt(p + 1) == 0 && ByteAt(p + 2) == 1)) ++p;
    Seek(p);
  }

  // The window as a value, for hot loops that keep it in registers.
  struct State {
    uint64_t window;
    int count;
    std::size_t pos;
  };
  State state() const { return State{window_, count_, pos_}; }
  void set_state(const State& s) {
    window_ = s.window;
    count_ = s.count;
    pos_ = s.pos;
  }
  inline void Need(State& s, int n) const {
    if (s.count < n) {
      s.window |= Load64(s.pos) >> s.count;
      s.pos += (63 - s.count) >> 3;
      s.count |= 56;
    }
  }
  static inline void Skip(State& s, int n) {
    s.window <<= n;
    s.count -= n;
  }

 private:
  inline uint64_t Load64(std::size_t p) const {
    if (p + 8 <= size_) return LoadBe64(data_ + p);
    std::size_t off = p - tail_start_;
    if (off >= pattern_offset_ + 4) off = pattern_offset_ + ((off - pattern_offset_) & 3);
    return LoadBe64(tail_ + off);
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t round4_;
  std::size_t tail_start_;
  std::size_t pattern_offset_;
  uint8_t tail_[32];
  std::size_t pos_ = 0;  // next byte to load into the window
  uint64_t window_ = 0;  // left-aligned bits
  int count_ = 0;        // valid bits in window_
};

}  // namespace rd::mjpeg
