// The .mys reader: opening a file (header, record walk) and stepping through
// its records in every playback state must stay inside the file and the
// record buffer for any bytes.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "client/media/RcLocalPlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/rd_mys_fuzz_" + std::to_string(::getpid()) + ".mys";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  rd::RcLocalPlayer player;
  player.SetPacing(false);
  if (player.Open(path) == 0) {
    const uint8_t states[] = {16, 18, 22, 23, 27, 24, 16};
    for (uint8_t state : states) {
      player.SetState(state);
      for (int i = 0; i < 64; ++i) {
        int r = player.ReadNext();
        if (r == rd::RcLocalPlayer::kPause || r == 84 || r == 85) break;
        // Touch what a consumer reads.
        volatile uint8_t sink =
            player.DataLength() > 0 ? player.Data()[player.DataLength() - 1] : 0;
        (void)sink;
      }
    }
  }
  player.Close();
  std::remove(path.c_str());
  return 0;
}
