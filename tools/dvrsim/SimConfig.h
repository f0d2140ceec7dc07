#pragma once
// Command-line configuration of the emulated DVR: the server options, the
// make-disk options, the fault scenarios, and the small parsers they share
// (sizes, durations, calendar times).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/stream/Password.h"

namespace rd::sim {

// One fault scenario. Each provokes one behaviour of a client on purpose.
enum class ScenarioKind {
  kWrongPassword,    // every OpenSession is refused with code 1
  kNetworkOff,       // every OpenSession is refused with code 10
  kRefuse,           // every OpenSession is refused with code ARG (default 2)
  kSilentKeepAlive,  // keep-alives go unanswered ARG s (default 5) after the session opened
  kSessionEnd,       // message 65 ARG s (default 5) after the session opened
  kKeypadClose,      // message 66 ARG s (default 5) after the session opened, then close
  kDropFirstReply,   // the first reply to request type ARG (default: first request after open) is
                     // not sent
  kRefuseRequest,    // requests of type ARG (default 0: every request) after the session opened
                     // are refused (241, code 2)
  kGarbage,       // ARG garbage bytes (default 16) ahead of the first reply after open, same write
  kTwoReplies,    // replies are joined with the next message in one write
  kCloseControl,  // the control connection is closed ARG s (default 5) after the session opened
  kCloseStream,   // the stream connection is closed ARG s (default 5) after it started
  kMidChunk,      // the stream starts ARG bytes (default 1000) into its first chunk
  kRestart,       // every ARG-th video chunk (default 50) carries the frame-restart bit
  kSplitStart,    // every frame start code straddles two chunks (ARG bytes in the first, default 2)
  kMode6,         // ARG s (default 3) after open: notification 91 mode 6, later mode 4
};

struct Scenario {
  ScenarioKind kind{};
  int arg = 0;  // the ARG of NAME:ARG, or the default of the scenario
};

// Parses "NAME[:ARG]"; nullopt on an unknown name or a bad argument.
std::optional<Scenario> ParseScenario(const std::string& text, std::string* error);
const char* ScenarioName(ScenarioKind kind);

struct SimOptions {
  std::string listen = "0.0.0.0";
  int control_port = 14337;  // 0 = pick a free port
  int stream_port = 14338;   // 0 = pick a free port
  std::array<uint8_t, 6> password{1, 2, 3, 4, 5, 6};
  bool pal = false;
  bool quad = false;
  bool audio = true;
  std::string disk;  // empty: recordings go to a temporary image
  uint64_t disk_size = 1ull << 30;
  bool network = false;
  std::vector<Scenario> scenarios;
  std::string log_file;
  double fps = 0;  // capture rate of the multiplexed stream; 0 = from the record frame rate
  bool quiet = false;

  const Scenario* Find(ScenarioKind kind) const;
};

struct MakeDiskOptions {
  std::string out;
  uint64_t size = 0;
  uint64_t duration_s = 0;
  int64_t start = -1;  // seconds since 1970 of the first packet (calendar time, no zone); -1 = now
  bool pal = false;
  bool quad = false;
  bool audio = true;
  bool wrap = false;
  bool network = false;
  std::string events;  // SPEC, see the help text
  double fps = 0;
  bool quiet = false;
};

// Both return false with a message in *error on bad input. "help" sets *help.
bool ParseSimArgs(const std::vector<std::string>& args, SimOptions* out, bool* help,
                  std::string* error);
bool ParseMakeDiskArgs(const std::vector<std::string>& args, MakeDiskOptions* out, bool* help,
                       std::string* error);

const char* SimUsage();
const char* MakeDiskUsage();

// "4096", "64K", "512M", "2G", "1T" (binary units); nullopt on bad text.
std::optional<uint64_t> ParseSize(const std::string& text);
// "90", "90s", "15m", "2h", "1d", "1:30:00"; nullopt on bad text.
std::optional<uint64_t> ParseDuration(const std::string& text);
// "2024-05-01 12:00:00", "2024-05-01T12:00:00", "2024-05-01" → seconds since
// 1970 of that calendar time (no zone). Years 2000-2099 only.
std::optional<int64_t> ParseCalendarTime(const std::string& text);

}  // namespace rd::sim
