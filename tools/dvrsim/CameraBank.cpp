#include "tools/dvrsim/CameraBank.h"

#include <cstring>

namespace rd::sim {

CameraBank::CameraBank(mjpeg::VideoStandard standard)
    : standard_(standard), picture_(standard), part_(standard) {
  for (int c = 0; c < 4; ++c) cards_[c] = std::make_unique<TestCard>(c + 1, standard);
  for (auto& e : encoders_) e = std::make_unique<MjpegEncoder>(standard);
}

void CameraBank::ResetAll() {
  for (auto& e : encoders_) e->Reset();
}

namespace {

// Halves `src` into the quadrant (qx, qy) of `dst` by averaging 2 x 2 samples.
void HalveInto(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int qx, int qy) {
  const int hw = sw / 2, hh = sh / 2;
  for (int y = 0; y < hh; ++y) {
    const uint8_t* a = src + static_cast<std::size_t>(2 * y) * sw;
    const uint8_t* b = a + sw;
    uint8_t* d = dst + static_cast<std::size_t>(qy * hh + y) * dw + qx * hw;
    for (int x = 0; x < hw; ++x)
      d[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
  }
}

void FillQuadrant(uint8_t* dst, int dw, int dh, int qx, int qy, uint8_t v) {
  const int hw = dw / 2, hh = dh / 2;
  for (int y = 0; y < hh; ++y)
    std::memset(dst + static_cast<std::size_t>(qy * hh + y) * dw + qx * hw, v, hw);
}

}  // namespace

void CameraBank::RenderQuad(uint64_t frame, const RecTime& time, uint8_t quad_mask) {
  for (int c = 0; c < 4; ++c) {
    const int qx = c % 2, qy = c / 2;
    if ((quad_mask & ChannelSetBit(c + 1)) == 0) {
      FillQuadrant(picture_.y.data(), picture_.width, picture_.height, qx, qy, 16);
      FillQuadrant(picture_.cb.data(), picture_.chroma_width(), picture_.chroma_height(), qx, qy,
                   128);
      FillQuadrant(picture_.cr.data(), picture_.chroma_width(), picture_.chroma_height(), qx, qy,
                   128);
      continue;
    }
    cards_[c]->Render(frame, time, &part_);
    HalveInto(part_.y.data(), part_.width, part_.height, picture_.y.data(), picture_.width, qx, qy);
    HalveInto(part_.cb.data(), part_.chroma_width(), part_.chroma_height(), picture_.cb.data(),
              picture_.chroma_width(), qx, qy);
    HalveInto(part_.cr.data(), part_.chroma_width(), part_.chroma_height(), picture_.cr.data(),
              picture_.chroma_width(), qx, qy);
  }
}

std::span<const uint8_t> CameraBank::Encode(int code, uint64_t frame, const RecTime& time, int q,
                                            bool full, uint8_t quad_mask) {
  if (code < 0 || code > kQuadCode) return {};
  if (code == kQuadCode)
    RenderQuad(frame, time, quad_mask);
  else
    cards_[code]->Render(frame, time, &picture_);
  MjpegEncoder& enc = *encoders_[code];
  if (full || !enc.has_reference()) return enc.EncodeFull(picture_, q, code);
  return enc.EncodePartial(picture_, q, code);
}

}  // namespace rd::sim
