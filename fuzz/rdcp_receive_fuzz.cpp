// Feeds arbitrary bytes to the control session's receive and dispatch path,
// as a sequence of socket reads. Each read is prefixed by two bytes giving its
// length (little-endian, taken modulo 2048, plus 1).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/engine/rdcp/RdcpSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rd::RdcpSession session;
  std::size_t pos = 0;
  while (pos + 2 <= size) {
    std::size_t n = 1 + ((data[pos] | data[pos + 1] << 8) % 2048);
    pos += 2;
    if (n > size - pos) n = size - pos;
    if (n == 0) break;
    // A copy of exactly the read, so any read beyond it is caught.
    std::vector<uint8_t> read(data + pos, data + pos + n);
    session.ProcessRead(read.data(), read.size());
    pos += n;
  }
  // The cache must stay readable whatever arrived.
  std::vector<rd::EventRecord> events;
  session.EventList(&events);
  uint8_t hours[24];
  session.Schedule(hours);
  rd::DvrTime t;
  session.Time(&t);
  volatile uint32_t sink = session.DiskCapacityMb(0) + session.DiskUsedMb(1) +
                           session.StreamChannelsShown().quad + events.size() + hours[23];
  (void)sink;
  return 0;
}
