#include "shared/stream/StreamPacket.h"

#include <cstdio>
#include <utility>

namespace rd {

RecTime RecTime::FromHeader(const uint8_t* header) {
  return RecTime{static_cast<uint8_t>(header[0] & 0x7F),
                 header[1],
                 header[2],
                 header[3],
                 header[4],
                 header[5]};
}

void RecTime::ToHeader(uint8_t* header) const {
  header[0] = static_cast<uint8_t>(year & 0x7F);
  header[1] = month;
  header[2] = day;
  header[3] = hour;
  header[4] = minute;
  header[5] = second;
}

std::string RecTime::Format() const {
  char text[40];
  std::snprintf(text, sizeof text, "20%02d/%02d/%02d %02d:%02d:%02d", year, month, day, hour,
                minute, second);
  return text;
}

void PairSwap(uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + 1 < size; i += 2) std::swap(data[i], data[i + 1]);
}

}  // namespace rd
