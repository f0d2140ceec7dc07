#include "tools/dvrsim/SimConfig.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <tuple>

#include "tools/cli/CommandLine.h"

#include "shared/stream/RecTimeCalendar.h"

namespace rd::sim {
namespace {

struct ScenarioInfo {
  const char* name;
  ScenarioKind kind;
  int default_arg;
};

constexpr ScenarioInfo kScenarios[] = {
    {"wrong-password", ScenarioKind::kWrongPassword, 0},
    {"network-off", ScenarioKind::kNetworkOff, 0},
    {"refuse", ScenarioKind::kRefuse, 2},
    {"silent-keepalive", ScenarioKind::kSilentKeepAlive, 5},
    {"session-end", ScenarioKind::kSessionEnd, 5},
    {"keypad-close", ScenarioKind::kKeypadClose, 5},
    {"drop-first-reply", ScenarioKind::kDropFirstReply, 0},
    {"refuse-request", ScenarioKind::kRefuseRequest, 0},
    {"garbage", ScenarioKind::kGarbage, 16},
    {"two-replies", ScenarioKind::kTwoReplies, 0},
    {"close-control", ScenarioKind::kCloseControl, 5},
    {"close-stream", ScenarioKind::kCloseStream, 5},
    {"mid-chunk", ScenarioKind::kMidChunk, 1000},
    {"restart", ScenarioKind::kRestart, 50},
    {"split-start", ScenarioKind::kSplitStart, 2},
    {"mode6", ScenarioKind::kMode6, 3},
};

bool ParseInt(const std::string& text, long long lo, long long hi, long long* out) {
  if (text.empty()) return false;
  long long v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size() || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseDouble(const std::string& text, double lo, double hi, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}


}  // namespace

std::optional<Scenario> ParseScenario(const std::string& text, std::string* error) {
  std::string name = text;
  std::string arg;
  auto colon = text.find(':');
  if (colon != std::string::npos) {
    name = text.substr(0, colon);
    arg = text.substr(colon + 1);
  }
  for (const auto& info : kScenarios) {
    if (name != info.name) continue;
    Scenario s{info.kind, info.default_arg};
    if (colon != std::string::npos) {
      long long v = 0;
      if (!ParseInt(arg, 0, 1000000, &v)) {
        if (error) *error = "scenario " + name + ": bad argument '" + arg + "'";
        return std::nullopt;
      }
      s.arg = static_cast<int>(v);
    }
    return s;
  }
  if (error) *error = "unknown scenario '" + name + "' (see --help)";
  return std::nullopt;
}

const char* ScenarioName(ScenarioKind kind) {
  for (const auto& info : kScenarios)
    if (info.kind == kind) return info.name;
  return "?";
}

const Scenario* SimOptions::Find(ScenarioKind kind) const {
  for (const auto& s : scenarios)
    if (s.kind == kind) return &s;
  return nullptr;
}

std::optional<uint64_t> ParseSize(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::string digits = text;
  uint64_t mult = 1;
  char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
  if (last == 'B' && text.size() > 1) {  // "512MB", "1GiB"-less forms
    digits.pop_back();
    if (!digits.empty() && (digits.back() == 'i' || digits.back() == 'I')) digits.pop_back();
    last = digits.empty()
               ? 0
               : static_cast<char>(std::toupper(static_cast<unsigned char>(digits.back())));
  }
  switch (last) {
    case 'K':
      mult = 1ull << 10;
      break;
    case 'M':
      mult = 1ull << 20;
      break;
    case 'G':
      mult = 1ull << 30;
      break;
    case 'T':
      mult = 1ull << 40;
      break;
    default:
      break;
  }
  if (mult != 1) digits.pop_back();
  long long v = 0;
  if (!ParseInt(digits, 1, (1ll << 53), &v)) return std::nullopt;
  uint64_t r = static_cast<uint64_t>(v) * mult;
  if (r / mult != static_cast<uint64_t>(v) || r > (1ull << 50)) return std::nullopt;
  return r;
}

std::optional<uint64_t> ParseDuration(const std::string& text) {
  if (text.empty()) return std::nullopt;
  if (text.find(':') != std::string::npos) {
    // h:mm:ss or mm:ss
    std::vector<long long> parts;
    std::size_t pos = 0;
    while (true) {
      auto c = text.find(':', pos);
      long long v = 0;
      if (!ParseInt(text.substr(pos, c == std::string::npos ? std::string::npos : c - pos), 0,
                    100000000, &v))
        return std::nullopt;
      parts.push_back(v);
      if (c == std::string::npos) break;
      pos = c + 1;
    }
    if (parts.size() > 3) return std::nullopt;
    uint64_t s = 0;
    for (auto p : parts) s = s * 60 + static_cast<uint64_t>(p);
    return s;
  }
  std::string digits = text;
  uint64_t mult = 1;
  switch (text.back()) {
    case 's':
      mult = 1;
      digits.pop_back();
      break;
    case 'm':
      mult = 60;
      digits.pop_back();
      break;
    case 'h':
      mult = 3600;
      digits.pop_back();
      break;
    case 'd':
      mult = 86400;
      digits.pop_back();
      break;
    default:
      break;
  }
  long long v = 0;
  if (!ParseInt(digits, 0, 100000000, &v)) return std::nullopt;
  return static_cast<uint64_t>(v) * mult;
}

std::optional<int64_t> ParseCalendarTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
  if (n == 3) {
    h = mi = s = 0;
  } else if (n != 7 || (sep != ' ' && sep != 'T')) {
    return std::nullopt;
  }
  return CheckedCalendarSeconds(y, mo, d, h, mi, s);
}

bool ParseSimArgs(const std::vector<std::string>& args, SimOptions* out, bool* help,
                  std::string* error) {
  *help = false;
  CLI::App app;
  cli::Configure(app, SimUsage());
  std::string control_port, stream_port, password, disk_size, fps;
  std::vector<std::string> scenarios;
  cli::AddValue(app, "--listen", out->listen);
  cli::AddValue(app, "--control-port", control_port);
  cli::AddValue(app, "--stream-port", stream_port);
  cli::AddValue(app, "--password", password);
  app.add_flag("--pal", out->pal);
  app.add_flag("--quad", out->quad);
  bool no_audio = false;
  app.add_flag("--no-audio", no_audio);
  cli::AddValue(app, "--disk", out->disk);
  CLI::Option* size_given = cli::AddValue(app, "--disk-size", disk_size);
  CLI::Option* network_given = app.add_flag("--network", out->network);
  app.add_option("--scenario", scenarios, "a value")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cli::AddValue(app, "--log", out->log_file);
  CLI::Option* fps_given = cli::AddValue(app, "--fps", fps);
  app.add_flag("-q,--quiet", out->quiet);
  const cli::Parsed p = cli::Parse(app, args);
  if (p.kind == cli::Parsed::kHelp) return *help = true, true;
  if (p.kind == cli::Parsed::kError) {
    *error = p.text + (p.text.rfind("unknown option", 0) == 0 ? " (see --help)" : "");
    return false;
  }
  if (no_audio) out->audio = false;
  for (auto [name, text, port] : {std::tuple{"--control-port", &control_port, &out->control_port},
                                  std::tuple{"--stream-port", &stream_port, &out->stream_port}}) {
    long long v = 0;
    if (app.count(name) == 0) continue;
    if (!ParseInt(*text, 0, 65535, &v)) {
      *error = std::string(name) + ": not a port number: '" + *text + "'";
      return false;
    }
    *port = static_cast<int>(v);
  }
  if (app.count("--password")) {
    auto pw = ParsePassword(password);
    if (!pw) {
      *error = "--password needs six hex digits, got '" + password + "'";
      return false;
    }
    out->password = *pw;
  }
  if (size_given->count()) {
    auto s = ParseSize(disk_size);
    if (!s) {
      *error = "--disk-size: bad size '" + disk_size + "'";
      return false;
    }
    out->disk_size = *s;
  }
  for (const std::string& text : scenarios) {
    auto s = ParseScenario(text, error);
    if (!s) return false;
    out->scenarios.push_back(*s);
  }
  if (fps_given->count() && !ParseDouble(fps, 0.1, 240, &out->fps)) {
    *error = "--fps: expected 0.1 to 240, got '" + fps + "'";
    return false;
  }
  if ((size_given->count() || network_given->count()) && out->disk.empty()) {
    *error = "--disk-size and --network need --disk FILE";
    return false;
  }
  if (out->control_port != 0 && out->control_port == out->stream_port) {
    *error = "the control and stream ports must differ";
    return false;
  }
  return true;
}

bool ParseMakeDiskArgs(const std::vector<std::string>& args, MakeDiskOptions* out, bool* help,
                       std::string* error) {
  *help = false;
  CLI::App app;
  cli::Configure(app, MakeDiskUsage());
  std::string size, duration, start, fps;
  cli::AddValue(app, "--out", out->out);
  CLI::Option* have_size = cli::AddValue(app, "--size", size);
  CLI::Option* have_duration = cli::AddValue(app, "--duration", duration);
  CLI::Option* have_start = cli::AddValue(app, "--start", start);
  app.add_flag("--pal", out->pal);
  app.add_flag("--quad", out->quad);
  bool no_audio = false;
  app.add_flag("--no-audio", no_audio);
  app.add_flag("--wrap", out->wrap);
  app.add_flag("--network", out->network);
  cli::AddValue(app, "--events", out->events);
  CLI::Option* fps_given = cli::AddValue(app, "--fps", fps);
  app.add_flag("-q,--quiet", out->quiet);
  const cli::Parsed p = cli::Parse(app, args);
  if (p.kind == cli::Parsed::kHelp) return *help = true, true;
  if (p.kind == cli::Parsed::kError) {
    *error = p.text + (p.text.rfind("unknown option", 0) == 0 ? " (see make-disk --help)" : "");
    return false;
  }
  if (no_audio) out->audio = false;
  if (have_size->count()) {
    auto s = ParseSize(size);
    if (!s) {
      *error = "--size: bad size '" + size + "'";
      return false;
    }
    out->size = *s;
  }
  if (have_duration->count()) {
    auto d = ParseDuration(duration);
    if (!d) {
      *error = "--duration: bad duration '" + duration + "'";
      return false;
    }
    out->duration_s = *d;
  }
  if (have_start->count()) {
    auto t = ParseCalendarTime(start);
    if (!t) {
      *error = "--start: expected YYYY-MM-DD[ HH:MM:SS] in 2000-2099, got '" + start + "'";
      return false;
    }
    out->start = *t;
  }
  if (fps_given->count() && !ParseDouble(fps, 0.1, 240, &out->fps)) {
    *error = "--fps: expected 0.1 to 240, got '" + fps + "'";
    return false;
  }
  if (out->out.empty() || !have_size->count() || !have_duration->count()) {
    *error = "make-disk needs --out FILE, --size SIZE and --duration D";
    return false;
  }
  return true;
}

const char* SimUsage() {
  return R"(dvrsim - emulated four-channel DVR (control and stream server, recording disk)

Usage:
  dvrsim [--listen ADDR] [--control-port N] [--stream-port N] [--password HEX6]
         [--pal] [--quad] [--no-audio] [--disk FILE [--disk-size SIZE] [--network]]
         [--scenario NAME[:ARG]]... [--log FILE] [--fps N] [--quiet]
  dvrsim make-disk --out FILE --size SIZE --duration D [options]   (see make-disk --help)
  dvrsim --version

Options:
  --listen ADDR        IPv4 address to listen on (default 0.0.0.0)
  --control-port N     control port (default 14337; 0 picks a free port)
  --stream-port N      stream port (default 14338; 0 picks a free port)
  --password HEX6      the six password digits, hex (default 123456)
  --pal                PAL video (640x272, 25 frames/s base rate); default NTSC
  --quad               start in QUAD record mode (the stream carries the quad picture)
  --no-audio           the DVR has no audio
  --disk FILE          record into FILE (DVR disk layout); an existing image is
                       continued, a missing one created as a sparse file.
                       Without --disk recordings go to a temporary image.
  --disk-size SIZE     size of a new image (default 1G; K, M, G, T suffixes)
  --network            network layout (ring ends 2,000,039 sectors below the index)
  --scenario NAME[:ARG]  fault scenario, repeatable:
      wrong-password       refuse every session with code 1
      network-off          refuse every session with code 10 (network access off)
      refuse[:CODE]        refuse every session with CODE (default 2)
      silent-keepalive[:N] stop answering keep-alives N s after the session opened (5)
      session-end[:N]      send 65 (session ended) N s after the session opened (5)
      keypad-close[:N]     send 66 (keypad used) N s after the session opened, close (5)
      drop-first-reply[:T] do not send the first reply to request type T (default:
                           the first request after the challenge answer)
      refuse-request[:T]   refuse requests of type T after the session opened with
                           241 code 2 (default 0: every request but the keep-alive)
      garbage[:N]          N garbage bytes ahead of the first reply after opening (16)
      two-replies          join each reply with the next message in one write
      close-control[:N]    close the control connection N s after opening (5)
      close-stream[:N]     close the stream connection N s after it started (5)
      mid-chunk[:N]        the stream starts N bytes into its first chunk (1000)
      restart[:N]          every N-th video chunk carries the frame-restart bit (50)
      split-start[:N]      every frame start code straddles two chunks, N bytes of
                           it in the first (2)
      mode6[:N]            N s after opening: notification 91 with mode 6 (alarm
                           recording), then after the alarm-record time 91 mode 4 (3)
  --log FILE           write one line per event (format below)
  --fps N              capture rate of the multiplexed stream in frames/s
                       (default: the record frame rate setting, 30 NTSC / 25 PAL)
  --quiet              print only the listening ports

On start it prints "dvrsim listening control=<port> stream=<port>" on stdout.
Ctrl-C (SIGINT/SIGTERM) ends it; the disk image's status sector is written.

Log lines (--log), fields separated by one space, times in seconds since start:
  <t> RX <type> <param> <len> <payload hex>   control message received
  <t> TX <type> <param> <len> <payload hex>   control message sent
  <t> BAD <len> <bytes hex>                   received bytes that start no message
                                              (also: BAD short <type> <len>, BAD unknown <type>)
  <t> FRAME <channel code> <len> <fnv1a32>    video frame sent on the stream; len and
                                              the FNV-1a 32-bit hash cover the bytes from
                                              its start code up to the next start code
                                              (zero padding included), as a receiver
                                              assembles them
  <t> AUDIO <len> <fnv1a32>                   audio block (4000 A-law bytes) sent
  <t> NOTE <text>                             connections, mode changes, scenarios
  An empty payload is written as "-".
)";
}

const char* MakeDiskUsage() {
  return R"(dvrsim make-disk - write a DVR disk image offline (sparse file)

Usage:
  dvrsim make-disk --out FILE --size SIZE --duration D [--start TIME] [--pal]
                   [--quad] [--no-audio] [--wrap] [--network] [--events SPEC]
                   [--fps N] [--quiet]

  --out FILE       image to write (replaced if it exists)
  --size SIZE      image size (K, M, G, T suffixes), e.g. 256M
  --duration D     recorded time: 90, 90s, 15m, 2h, 1:30:00
  --start TIME     time of the first packet, "YYYY-MM-DD HH:MM:SS" (default: now)
  --pal            PAL pictures; default NTSC
  --quad           QUAD record mode (quad pictures)
  --no-audio       no audio packets
  --wrap           keep recording over the oldest packets once the ring is full,
                   at least until a third of the ring has been overwritten, so
                   the image is wrapped; without it recording ends at a full ring
  --network        network layout
  --events SPEC    events to list, comma-separated KIND@OFFSET[+LENGTH] with KIND
                   "time" or "alarm", OFFSET and LENGTH durations from the start
                   (LENGTH default 60 s), e.g. "alarm@10m+30,time@0+1h".
                   Default: one TIME event over the whole recording.
  --fps N          frames/s of the multiplexed stream (default 30 NTSC / 25 PAL)
)";
}

}  // namespace rd::sim
