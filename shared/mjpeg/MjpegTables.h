#pragma once
// Fixed tables of the MJPEG frame syntax, shared by the decoder and
// the project's encoder:
//  - the standard zigzag scan (scan 0 of ISO/IEC 13818-2),
//  - the default intra quantiser matrix of ISO/IEC 13818-2 in natural order,
//  - DCT coefficient table zero (ISO/IEC 13818-2 Table B.14 = ISO/IEC 11172-2
//    Tables B.5c-f) in its form for the coefficients after the first of an
//    intra block: 10 = end of block, 1s = run 0 level 1, 000001 = escape.
// The coefficient table exists once (kCoefCodes); the decoder's 16-bit
// lookahead table and the encoder's (run, |level|) lookup are derived from it.

#include <array>
#include <cstddef>
#include <cstdint>

namespace rd::mjpeg {

// Scan index (0..63) -> natural position (row * 8 + column).
extern const std::array<uint8_t, 64> kZigzag;

// Default intra quantiser matrix W, natural order (row * 8 + column).
extern const std::array<uint8_t, 64> kIntraQuantMatrix;

// One variable-length code of table B.14 (AC coefficients of an intra block
// after the first): `bits` holds the `length` code bits right-aligned, the
// sign bit that follows every such code is NOT included.
struct CoefCode {
  uint8_t run;     // 0..31
  uint8_t level;   // 1..40 (absolute value)
  uint8_t length;  // 2..16 bits, without the sign bit
  uint16_t bits;
};

inline constexpr std::size_t kCoefCodeCount = 111;
// The one source table (run, level, code); every other coefficient table is
// derived from it.
extern const std::array<CoefCode, kCoefCodeCount> kCoefCodes;

inline constexpr uint32_t kEobBits = 0x2;  // 10
inline constexpr int kEobLength = 2;
inline constexpr uint32_t kEscapeBits = 0x1;  // 000001
inline constexpr int kEscapeLength = 6;

// ---- Decoder form: one read per code on a 16-bit lookahead ----------------
// Entry for the next 16 bits of the stream (most significant bit first).
// Packed in 16 bits: length (bits 0..4), level (bits 5..10), run (bits 11..15).
//   regular code: level 1..40, run 0..31, length 2..16 (sign bit not counted)
//   end of block: level 0, length 2 (entry value kCoefEntryEob)
//   escape:       level 0, length 6 (entry value kCoefEntryEscape)
//   invalid:      entry value 0 (only lookaheads below 16: twelve leading zeros)
using CoefEntry = uint16_t;
inline constexpr CoefEntry kCoefEntryInvalid = 0;
inline constexpr CoefEntry kCoefEntryEob = kEobLength;
inline constexpr CoefEntry kCoefEntryEscape = kEscapeLength;

constexpr int CoefEntryLength(CoefEntry e) {
  return e & 31;
}
constexpr int CoefEntryLevel(CoefEntry e) {
  return (e >> 5) & 63;
}
constexpr int CoefEntryRun(CoefEntry e) {
  return e >> 11;
}
constexpr CoefEntry MakeCoefEntry(int run, int level, int length) {
  return static_cast<CoefEntry>((run << 11) | (level << 5) | length);
}

// The 65536-entry lookahead table (built once, thread-safe, never freed).
const CoefEntry* CoefLookupTable();

// ---- Encoder form ----------------------------------------------------------
struct CoefVlc {
  uint16_t bits;   // code bits, right-aligned, without the sign bit
  uint8_t length;  // 0: (run, |level|) has no code in the table -> use escape
};

inline constexpr int kMaxCodedRun = 31;
inline constexpr int kMaxCodedLevel = 40;

// Code for (run, |level|); length 0 when the pair has no code (also for run
// or level out of range). The encoder appends the sign bit (1 = negative).
CoefVlc CoefEncode(int run, int abs_level);

// The whole escape sequence for (run, level) of the frame syntax, right-aligned in
// *bits: 000001, run (6 bits), then v (8 bits) and, for |level| > 127 and for
// level -128, a second byte. Valid for run 0..63 and level -256..255; returns
// the number of bits (20 or 28), or 0 if run or level is out of range.
int CoefEscape(int run, int level, uint32_t* bits);

}  // namespace rd::mjpeg
