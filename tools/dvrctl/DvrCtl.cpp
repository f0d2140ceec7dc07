#include "tools/dvrctl/DvrCtl.h"

#include <QGuiApplication>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "client/engine/rcctrlmain.h"
#include "client/media/MysFormat.h"
#include "client/media/RcLocalPlayer.h"
#include "rd/Version.h"
#include "shared/stream/Password.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/JsonText.h"

namespace rd::dvrctl {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitEvent = 3;
constexpr int kExitRefused = 4;

const char kUsage[] =
    "usage: dvrctl --dvr ADDR --password HEX6 [--control-port N] [--stream-port N]\n"
    "              [--connect-timeout S] COMMAND ...\n"
    "       dvrctl mys-info FILE.mys\n"
    "       dvrctl play-file FILE.mys [--speed N] [--snapshot FILE.bmp]\n"
    "\n"
    "Commands with a DVR:\n"
    "  info                      settings, status, time, schedule and disks as JSON\n"
    "  events                    the recorded-event list as JSON\n"
    "  record start|stop         start or stop recording on the DVR\n"
    "  play [--disk master|slave] [--from \"YYYY-MM-DD hh:mm:ss\" | --event ID]\n"
    "  stop | pause | ff | rew   playback control\n"
    "  set KEY=VALUE...          quality, frame-rate, alarm-on, alarm-record, input-channels,\n"
    "                            record-channels, audio-recording, speaker\n"
    "  set-time now|\"YYYY-MM-DD hh:mm:ss\"\n"
    "  set-schedule V0,...,V23   recording mode per hour (0..3)\n"
    "  watch --seconds N         a line per second: fps, Mbps, stream interval, channels\n"
    "  capture --seconds N [--dir D]   record the stream into a local .mys file\n"
    "  snapshot [--frames N] FILE.bmp  the picture after N frames (default 1) were shown\n"
    "  export-avi --seconds N [--codec NAME] FILE.avi\n"
    "\n"
    "Without a DVR:\n"
    "  mys-info FILE.mys         header and records of a local recording as JSON\n"
    "  play-file FILE.mys        play a local recording through the display path\n"
    "\n"
    "The control and stream ports default to 14337 and 14338. A DVR that cannot be\n"
    "reached within --connect-timeout seconds (default 30) is a connection event.\n"
    "A connection event prints its caption and text and ends the run with status 3;\n"
    "a request the command waits for that the DVR refuses ends it with status 4.\n"
    "dvrctl COMMAND --help shows the help of one command, dvrctl --version the version.\n";

bool ParseInt(const std::string& s, long lo, long hi, long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseDateTime(const std::string& s, DvrTime* out) {
  int y, mo, d, h, mi, se;
  char tail;
  if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6)
    return false;
  if (y < 2000 || y > 2127 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || se < 0 || se > 59)
    return false;
  out->year = static_cast<uint8_t>(y - 2000);
  out->month = static_cast<uint8_t>(mo);
  out->day = static_cast<uint8_t>(d);
  out->hour = static_cast<uint8_t>(h);
  out->minute = static_cast<uint8_t>(mi);
  out->second = static_cast<uint8_t>(se);
  return true;
}

std::string TimeString(const DvrTime& t) {
  char s[40];
  std::snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + (t.year & 0x7F), t.month,
                t.day, t.hour, t.minute, t.second);
  return s;
}

std::string RecTimeString(const RecTime& t) {
  return TimeString(DvrTime{t.second, t.minute, t.hour, t.day, t.month, t.year});
}

// Channel mask (bit 3 = CH1 .. bit 0 = CH4) as a list of channel numbers.
cli::Json MaskChannels(uint8_t mask) {
  cli::Json list = cli::Json::array();
  for (int ch = 1; ch <= 4; ++ch)
    if (mask & (0x08 >> (ch - 1))) list.push_back(ch);
  return list;
}

bool ParseChannelList(const std::string& v, uint8_t* mask) {
  *mask = 0;
  if (v == "none") return true;
  std::stringstream ss(v);
  std::string item;
  while (std::getline(ss, item, ',')) {
    long ch;
    if (!ParseInt(item, 1, 4, &ch)) return false;
    *mask = static_cast<uint8_t>(*mask | (0x08 >> (ch - 1)));
  }
  return true;
}

bool ParseOnOff(const std::string& v, bool* on) {
  if (v == "on" || v == "1" || v == "true") return *on = true, true;
  if (v == "off" || v == "0" || v == "false") return *on = false, true;
  return false;
}

// The requests a command can wait for, by name.
std::string RequestName(uint8_t type) {
  static const std::map<uint8_t, const char*> kNames = {
      {rdcp::kOpenSession, "OpenSession"},
      {rdcp::kGetSettings, "GetSettings"},
      {rdcp::kGetSchedule, "GetSchedule"},
      {rdcp::kSetSchedule, "SetSchedule"},
      {rdcp::kGetTime, "GetTime"},
      {rdcp::kSetTime, "SetTime"},
      {rdcp::kSetRecordMode, "SetRecordMode"},
      {rdcp::kSetInputChannels, "SetInputChannels"},
      {rdcp::kSetRecordChannels, "SetRecordChannels"},
      {rdcp::kSetVideoQuality, "SetVideoQuality"},
      {rdcp::kSetRecordFrameRate, "SetRecordFrameRate"},
      {rdcp::kSetAlarmOnDuration, "SetAlarmOnDuration"},
      {rdcp::kSetAlarmRecordDuration, "SetAlarmRecordDuration"},
      {rdcp::kStartRecording, "StartRecording"},
      {rdcp::kStopRecording, "StopRecording"},
      {rdcp::kGetEventList, "GetEventList"},
      {rdcp::kPlay, "Play"},
      {rdcp::kStopPlay, "StopPlay"},
      {rdcp::kPause, "Pause"},
      {rdcp::kFastForward, "FastForward"},
      {rdcp::kRewind, "Rewind"},
      {rdcp::kSetStreamFilter, "SetStreamFilter"},
      {rdcp::kGetStatus, "GetStatus"},
      {rdcp::kSetAudioFlags, "SetAudioFlags"},
  };
  auto it = kNames.find(type);
  return it != kNames.end() ? it->second : "request " + std::to_string(type);
}

const char* ModeName(uint8_t mode) {
  static const char* const kNames[] = {
      "VIEW", "PLAY", "PAUSE", "FF", "REC", "NOT SCHEDULED", "ALARM RECORDING", "SENSOR ACTIVATED"};
  return mode < 8 ? kNames[mode] : "UNKNOWN";
}

cli::Json SettingsJson(const DvrSettings& s) {
  return {{"record_mode", s.record_mode == 0 ? "EACH" : "QUAD"},
          {"input_channels", MaskChannels(s.input_mask)},
          {"record_channels", MaskChannels(s.record_mask)},
          {"quality", int(s.video_quality)},
          {"video_standard", s.video_standard ? "PAL" : "NTSC"},
          {"frame_rate", int(s.record_frame_rate)},
          {"alarm_on", int(s.alarm_on_duration)},
          {"alarm_record", int(s.alarm_record_duration)},
          {"audio_recording", (s.audio_flags & 1) != 0},
          {"speaker", (s.audio_flags & 2) == 0},
          {"audio_available", s.audio_available != 0}};
}

cli::Json StatusJson(const DvrStatus& s) {
  return {{"mode", int(s.mode)},
          {"mode_name", ModeName(s.mode)},
          {"frame_interval", int(s.frame_interval)},
          {"stream_filter", int(s.stream_filter)},
          {"play_speed", int(s.play_speed)}};
}

cli::Json Schedule(const DvrStateBlock& st) {
  uint8_t h[24];
  st.schedule.Unpack(h);
  cli::Json hours = cli::Json::array();
  for (uint8_t v : h) hours.push_back(int(v));
  return hours;
}

// One document on a line of its own.
void Print(std::ostream& out, const cli::Json& j, bool lines = false) {
  out << cli::SpacedJson(j, lines) << "\n";
}

// The stand-in for the main window: a message queue handled on the thread that
// runs the commands (the user-interface thread of RcCtrlMain), and the video
// area that receives every refresh.
class Headless : public RcWindow, public DisplayTarget {
 public:
  void Post(uint32_t m, uintptr_t w, intptr_t l) override {
    std::lock_guard lock(mu_);
    queue_.push_back({m, w, l});
  }
  void Send(uint32_t m, uintptr_t w, intptr_t l) override {
    if (m == rcmsg::kAskMute && l != 0) *reinterpret_cast<uint8_t*>(l) = 0;  // not muted
    Post(m, w, l);
  }
  void Present(const QImage&) override { presents_++; }
  struct Msg {
    uint32_t m;
    uintptr_t w;
    intptr_t l;
  };
  bool Take(Msg* out) {
    std::lock_guard lock(mu_);
    if (queue_.empty()) return false;
    *out = queue_.front();
    queue_.pop_front();
    return true;
  }
  int presents_ = 0;

 private:
  std::mutex mu_;
  std::deque<Msg> queue_;
};

struct Global {
  std::string dvr;
  unsigned char password[6]{};
  bool have_password = false;
  uint16_t control_port = RcCtrlMain::kControlPort;
  uint16_t stream_port = RcCtrlMain::kStreamPort;
  int connect_timeout_s = 30;  // the window's connect timer
};

class Runner {
 public:
  Runner(std::ostream& out, std::ostream& err) : out_(out), err_(err) {
    main_.RegisterWindow(&win_);
    main_.SetDisplayTarget(&win_);
  }
  ~Runner() {
    main_.StopLocalPlayback();
    main_.DisconnectStream();
    main_.DisconnectControl();
  }

  RcCtrlMain& main() { return main_; }
  bool event_seen() const { return event_code_ >= 0; }
  int count(uint32_t m) const {
    auto it = counts_.find(m);
    return it == counts_.end() ? 0 : it->second;
  }
  // Calls `each_second` on every one-second tick.
  std::function<void()> each_second;

  // The requests whose refusal by the DVR ends the command: those it waits for.
  void WaitsFor(std::vector<uint8_t> requests) { waits_for_ = std::move(requests); }
  bool refused() const { return refused_ != 0; }

  // Handles messages and runs the timers until `done` holds (true), a
  // connection event arrives, a request waited for is refused or the time
  // runs out (false).
  bool Pump(Clock::duration limit, const std::function<bool()>& done) {
    const auto end = Clock::now() + limit;
    for (;;) {
      Headless::Msg m;
      while (win_.Take(&m)) Handle(m);
      if (event_seen()) return false;
      for (uint8_t request : waits_for_) {
        const RdcpSession::Refusal r = main_.RefusalOf(request);
        if (r.count > 0) {
          refused_ = request;
          refused_code_ = r.code;
          return false;
        }
      }
      if (done && done()) return true;
      const auto now = Clock::now();
      if (now >= end) return false;
      if (connecting_ && now - connect_start_ >= connect_timeout_) {
        connecting_ = false;
        main_.Tick(rctick::kConnectTimeout);
      }
      if (now >= next_second_) {
        next_second_ = now + milliseconds(rctick::kSecondMs);
        // The one-second timer runs from the control connection on, as in
        // the window (keep-alive, statistics, frame-rate adjustment).
        if (control_up_) main_.Tick(rctick::kSecond);
        if (each_second) each_second();
      }
      if (now >= next_frame_) {
        next_frame_ = now + milliseconds(rctick::kRefreshMs);
        main_.Tick(rctick::kRefresh);
      }
      std::this_thread::sleep_for(milliseconds(2));
    }
  }

  int Connect(const Global& g) {
    main_.SetPorts(g.control_port, g.stream_port);
    connect_timeout_ = seconds(g.connect_timeout_s);
    connecting_ = true;
    connect_start_ = Clock::now();
    next_second_ = Clock::now() + milliseconds(rctick::kSecondMs);
    main_.Connect(g.dvr, g.password);
    WaitsFor({rdcp::kGetSettings, rdcp::kGetStatus});
    bool ok = Pump(seconds(g.connect_timeout_s + 10), [&] {
      DvrStateBlock st;
      return main_.ConnectionState() >= rcstate::kOpen && main_.DvrState(&st) &&
             st.settings_valid && st.status_valid;
    });
    connecting_ = false;
    WaitsFor({});
    return ok ? kExitOk : Failure("no settings and status from the DVR");
  }

  // The status of a command that could not finish, with its message: a
  // connection event (already printed), a refused request, or `what`.
  int Failure(const char* what) {
    if (event_seen()) return kExitEvent;
    if (refused()) {
      err_ << "dvrctl: the DVR refused " << RequestName(refused_) << " (code " << int(refused_code_)
           << ")\n";
      return kExitRefused;
    }
    err_ << "dvrctl: " << what << "\n";
    return kExitFailed;
  }

  // Waits for the next message `m` (true), or an event / timeout (false).
  bool WaitMessage(uint32_t m, Clock::duration limit = seconds(10)) {
    const int before = count(m);
    return Pump(limit, [&] { return count(m) > before; });
  }

  // Asks for the status and waits for a status the DVR sent after answering
  // our status request and everything queued before it (true), or an event / timeout (false).
  bool WaitFreshStatus(Clock::duration limit = seconds(10)) {
    main_.RequestStatus();
    const uint64_t through = main_.LastStatusRequest();
    return Pump(limit, [&] { return main_.StatusAnsweredThrough() >= through; });
  }

  DvrStateBlock State() {
    DvrStateBlock st;
    main_.DvrState(&st);
    return st;
  }

 private:
  void Handle(const Headless::Msg& m) {
    counts_[m.m]++;
    if (m.m == rcmsg::kCtrlConnectResult) {
      // As in the window: the connect timer ends with the connect's result.
      connecting_ = false;
      control_up_ = m.w == 0;
    }
    if (m.m == rcmsg::kConnectionEvent && event_code_ < 0) {
      event_code_ = static_cast<int>(m.w);
      const bool late = event_code_ == rcevent::kConnectFailed &&
                        main_.MillisSinceConnect() > rctick::kSlowConnectMs;
      rcevent::Text t = rcevent::Describe(event_code_, m.l, late);
      if (t.caption != nullptr)
        err_ << t.caption << "\n" << t.text << "\n";
      else if (event_code_ == rcevent::kOpenRejected)
        err_ << "dvrctl: the DVR refused the session (code " << m.l << ")\n";
      else
        err_ << "connection event " << event_code_ << "\n";
      err_.flush();
      // The main window's answer to every connection event.
      main_.DisconnectStream();
      main_.DisconnectControl();
      control_up_ = false;
    }
  }

  std::ostream& out_;
  std::ostream& err_;
  Headless win_;
  RcCtrlMain main_;
  std::map<uint32_t, int> counts_;
  int event_code_ = -1;
  std::vector<uint8_t> waits_for_;
  uint8_t refused_ = 0;
  uint8_t refused_code_ = 0;
  bool connecting_ = false;
  bool control_up_ = false;
  Clock::duration connect_timeout_ = seconds(30);
  Clock::time_point connect_start_{};
  Clock::time_point next_second_{};
  Clock::time_point next_frame_{};
};

// Options after a command: --name VALUE pairs and plain arguments.
struct CommandArgs {
  std::map<std::string, std::string> opts;
  std::vector<std::string> plain;
  bool help = false;
};

bool SplitArgs(const std::vector<std::string>& args, std::size_t from,
               const std::vector<std::string>& valued, CommandArgs* out, std::ostream& err) {
  CLI::App app;
  cli::Configure(app, "");
  app.set_help_flag();
  app.add_flag("-h,--help", out->help);
  std::vector<std::optional<std::string>> values(valued.size());
  for (std::size_t i = 0; i < valued.size(); ++i) cli::AddValue(app, valued[i], values[i]);
  app.add_option("arguments", out->plain);
  const cli::Parsed p =
      cli::Parse(app, std::vector<std::string>(args.begin() + static_cast<long>(from), args.end()));
  if (p.kind == cli::Parsed::kError) {
    err << "dvrctl: " << p.text << "\n";
    return false;
  }
  for (std::size_t i = 0; i < valued.size(); ++i)
    if (values[i]) out->opts[valued[i]] = *values[i];
  return true;
}

int MysInfo(const std::string& path, std::ostream& out, std::ostream& err) {
  RcLocalPlayer player;
  int r = player.Open(path);
  if (r != 0) {
    err << "dvrctl: " << path << ": "
        << (r == RcLocalPlayer::kOpenFailed ? "cannot be opened" : "not a .mys recording") << "\n";
    return kExitFailed;
  }
  const MysFileHeader h = player.FileHeader();
  player.Close();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return kExitFailed;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  cli::Json doc = {{"file", path},
                   {"size", size},
                   {"header",
                    {{"length", h.length},
                     {"records", h.count},
                     {"first", RecTimeString(h.first)},
                     {"last", RecTimeString(h.last)},
                     {"flags", int(h.flags)},
                     {"video_standard", (h.flags & kMysFlagPal) ? "PAL" : "NTSC"},
                     {"channels", int(h.flags & 0x1F)},
                     {"finished", h.length == static_cast<uint32_t>(size)}}}};
  cli::Json records = cli::Json::array();
  uint64_t pos = kMysFileHeaderSize;
  uint32_t n = 0, video = 0, audio = 0;
  uint8_t raw[kMysRecordHeaderSize];
  while (pos + kMysRecordHeaderSize <= static_cast<uint64_t>(size)) {
    std::fseek(f, static_cast<long>(pos), SEEK_SET);
    if (std::fread(raw, 1, sizeof raw, f) != sizeof raw) break;
    MysRecordHeader rh = MysRecordHeader::Read(raw);
    if (!rh.IsValid() || pos + kMysRecordHeaderSize + rh.length > static_cast<uint64_t>(size))
      break;
    cli::Json r = {
        {"index", n},          {"offset", pos},       {"kind", rh.IsVideo() ? "video" : "audio"},
        {"length", rh.length}, {"millis", rh.millis}, {"prev_length", rh.prev_length}};
    if (rh.IsVideo()) {
      r["sequence"] = int(rh.sequence);
      r["time"] = RecTimeString(rh.time);
      r["state"] = int(rh.state);
    }
    records.push_back(std::move(r));
    (rh.IsVideo() ? video : audio)++;
    ++n;
    pos += kMysRecordHeaderSize + rh.length;
  }
  std::fclose(f);
  doc["records"] = std::move(records);
  doc["found"] = {{"records", n},
                  {"video", video},
                  {"audio", audio},
                  {"end", pos},
                  {"trailing_bytes", static_cast<uint64_t>(size) - pos}};
  Print(out, doc, true);
  return kExitOk;
}

int PlayFile(const std::string& file, long presses, bool pacing,
             const std::optional<std::string>& snapshot, std::ostream& out, std::ostream& err) {
  Runner run(out, err);
  run.main().SetLocalPacing(pacing);
  const auto t0 = Clock::now();
  int r = run.main().StartLocalPlayback(file);
  if (r != 0) {
    err << "dvrctl: " << file << ": "
        << (r == RcLocalPlayer::kOpenFailed ? "cannot be opened" : "not a .mys recording") << "\n";
    return kExitFailed;
  }
  for (long i = 0; i < presses; ++i) run.main().LocalFastForward();
  // Until the player pauses at the end of the file.
  run.Pump(std::chrono::hours(24),
           [&] { return run.main().LocalPlayerState() == RcLocalPlayer::kPause; });
  // Let the display thread show what was queued.
  run.Pump(milliseconds(200), nullptr);
  run.main().Tick(rctick::kRefresh);
  int saved = kBmpOk;
  if (snapshot) saved = run.main().SaveBitmap(*snapshot);
  const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  Print(out, {{"file", file},
              {"frames_shown", run.main().ImageHandler().FramesHandled()},
              {"audio_blocks", run.count(rcmsg::kLocalAudioPlayed)},
              {"seconds", secs}});
  run.main().StopLocalPlayback();
  if (saved != kBmpOk) {
    err << "dvrctl: cannot write " << *snapshot << ": " << BmpResultText(saved) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

// What a command works with once its arguments are checked: the options
// before it, the output streams, and (commands with a DVR) the connected
// runner.
struct Session {
  const Global& g;
  std::ostream& out;
  std::ostream& err;
  Runner* run = nullptr;
  RcCtrlMain& m() { return run->main(); }
};

// The work of a command after its arguments were checked.
using Job = std::function<int(Session&)>;

// One command: its help, whether it needs a DVR, its options taking a value
// and the check of its arguments, which sets the job (usage errors return
// kExitUsage before anything is connected).
struct Command {
  const char* help;
  bool needs_dvr;
  std::vector<std::string> options;
  int (*prepare)(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err);
};

const std::map<std::string, Command>& Commands();

int UsageOf(const std::string& name, std::ostream& err) {
  err << Commands().at(name).help;
  return kExitUsage;
}

// The reply chain of a settings refresh.
const std::vector<uint8_t>& RefreshRequests() {
  static const std::vector<uint8_t> requests = {rdcp::kGetSettings, rdcp::kGetTime,
                                                rdcp::kGetSchedule};
  return requests;
}

int Info(Session& s) {
  Runner& run = *s.run;
  run.WaitsFor(RefreshRequests());
  s.m().RefreshSettings();
  if (!run.WaitMessage(rcmsg::kSettingsRefreshed)) return run.Failure("no settings");
  run.WaitsFor({rdcp::kGetStatus});
  if (!run.WaitFreshStatus()) return run.Failure("no status");
  DvrStateBlock st = run.State();
  DvrTime t{};
  const bool have_time = s.m().Time(&t);
  cli::Json disks = cli::Json::array();
  for (int d = 0; d < 2; ++d)
    disks.push_back({{"disk", d ? "slave" : "master"},
                     {"installed", st.settings.disk_installed[d] != 0},
                     {"overwriting", st.settings.disk_overwriting[d] != 0},
                     {"capacity_mb", st.settings.disk_capacity[d] >> 8},
                     {"used_mb", st.settings.disk_used[d] >> 8}});
  Print(s.out,
        {{"dvr", s.g.dvr},
         {"settings", SettingsJson(st.settings)},
         {"status", StatusJson(st.status)},
         {"time", have_time ? cli::Json(TimeString(t)) : cli::Json(nullptr)},
         {"schedule", Schedule(st)},
         {"disks", std::move(disks)}},
        true);
  return kExitOk;
}

int Events(Session& s) {
  s.run->WaitsFor({rdcp::kGetEventList});
  s.m().RequestEventList();
  if (!s.run->WaitMessage(rcmsg::kEventListDone, seconds(30)))
    return s.run->Failure("no event list");
  std::vector<EventRecord> events;
  s.m().EventList(&events);
  cli::Json list = cli::Json::array();
  for (const EventRecord& e : events)
    list.push_back({{"id", e.id},
                    {"disk", e.disk ? "slave" : "master"},
                    {"kind", e.kind == 0   ? "all"
                             : e.kind == 1 ? "Time"
                                           : "Sensor"},
                    {"start", TimeString(e.start)},
                    {"end", TimeString(e.end)}});
  Print(s.out, list, true);
  return kExitOk;
}

// A recording or playback control: the request, then a status request; a
// refusal of either ends the command. Prints the new status.
Job Control(uint8_t request, std::function<void(RcCtrlMain&)> act) {
  return [request, act](Session& s) {
    s.run->WaitsFor({request, rdcp::kGetStatus});
    act(s.m());
    if (!s.run->WaitFreshStatus()) return s.run->Failure("no status");
    Print(s.out, {{"status", StatusJson(s.run->State().status)}});
    return kExitOk;
  };
}

// Changes of the settings, then a settings refresh (requests are answered in
// order: the refresh ends after the changes). Prints the settings after.
Job Change(std::vector<std::function<void(RcCtrlMain&)>> changes) {
  return [changes = std::move(changes)](Session& s) {
    std::vector<uint8_t> waits = RefreshRequests();
    waits.insert(waits.end(),
                 {rdcp::kSetSchedule, rdcp::kSetTime, rdcp::kSetInputChannels,
                  rdcp::kSetRecordChannels, rdcp::kSetVideoQuality, rdcp::kSetRecordFrameRate,
                  rdcp::kSetAlarmOnDuration, rdcp::kSetAlarmRecordDuration, rdcp::kSetAudioFlags});
    s.run->WaitsFor(waits);
    for (auto& c : changes) c(s.m());
    s.m().RefreshSettings();
    if (!s.run->WaitMessage(rcmsg::kSettingsRefreshed)) return s.run->Failure("no settings");
    DvrStateBlock st = s.run->State();
    DvrTime t{};
    s.m().Time(&t);
    Print(s.out, {{"settings", SettingsJson(st.settings)},
                  {"time", TimeString(t)},
                  {"schedule", Schedule(st)}});
    return kExitOk;
  };
}

int PrepareNoArguments(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (!ca.plain.empty()) return UsageOf(name, err);
  if (name == "info") *job = Info;
  if (name == "events") *job = Events;
  if (name == "stop") *job = Control(rdcp::kStopPlay, [](RcCtrlMain& m) { m.StopDvrPlay(); });
  if (name == "pause") *job = Control(rdcp::kPause, [](RcCtrlMain& m) { m.PauseDvr(); });
  if (name == "ff") *job = Control(rdcp::kFastForward, [](RcCtrlMain& m) { m.FastForwardDvr(); });
  if (name == "rew") *job = Control(rdcp::kRewind, [](RcCtrlMain& m) { m.RewindDvr(); });
  return kExitOk;
}

int PrepareRecord(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.size() != 1 || (ca.plain[0] != "start" && ca.plain[0] != "stop"))
    return UsageOf(name, err);
  *job = ca.plain[0] == "start"
             ? Control(rdcp::kStartRecording, [](RcCtrlMain& m) { m.StartRecording(); })
             : Control(rdcp::kStopRecording, [](RcCtrlMain& m) { m.StopRecording(); });
  return kExitOk;
}

int PreparePlay(const std::string&, CommandArgs& ca, Job* job, std::ostream& err) {
  uint8_t disk = 0;
  DvrTime when{};
  long event_id = -1;
  if (ca.opts.count("--disk")) {
    if (ca.opts["--disk"] != "master" && ca.opts["--disk"] != "slave")
      return err << "dvrctl: --disk is master or slave\n", kExitUsage;
    disk = ca.opts["--disk"] == "slave" ? 1 : 0;
  }
  const bool from = ca.opts.count("--from") != 0;
  if (from && ca.opts.count("--event"))
    return err << "dvrctl: --from and --event exclude each other\n", kExitUsage;
  if (from && !ParseDateTime(ca.opts["--from"], &when))
    return err << "dvrctl: --from needs \"YYYY-MM-DD hh:mm:ss\"\n", kExitUsage;
  if (ca.opts.count("--event") && !ParseInt(ca.opts["--event"], 0, 0xFFFFFFFFL, &event_id))
    return err << "dvrctl: --event needs an event id\n", kExitUsage;
  *job = Control(rdcp::kPlay, [=](RcCtrlMain& m) {
    if (from)
      m.PlayDvrFrom(disk, when);
    else if (event_id >= 0)
      m.PlayDvrEvent(disk, static_cast<uint32_t>(event_id));
    else
      m.PlayDvr();
  });
  return kExitOk;
}

int PrepareSet(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.empty()) return UsageOf(name, err);
  std::vector<std::function<void(RcCtrlMain&)>> changes;
  for (const std::string& kv : ca.plain) {
    const auto eq = kv.find('=');
    const std::string key = kv.substr(0, eq),
                      value = eq == std::string::npos ? "" : kv.substr(eq + 1);
    long n;
    uint8_t mask;
    bool on;
    if (key == "quality" && ParseInt(value, 0, 2, &n))
      changes.push_back([n](RcCtrlMain& m) { m.SetVideoQuality(static_cast<uint8_t>(n)); });
    else if (key == "frame-rate" && ParseInt(value, 0, 255, &n))
      changes.push_back([n](RcCtrlMain& m) { m.SetRecordFrameRate(static_cast<uint8_t>(n)); });
    else if (key == "alarm-on" && ParseInt(value, 0, 35, &n))
      changes.push_back([n](RcCtrlMain& m) { m.SetAlarmOnDuration(static_cast<uint8_t>(n)); });
    else if (key == "alarm-record" && ParseInt(value, 5, 30, &n))
      changes.push_back([n](RcCtrlMain& m) { m.SetAlarmRecordDuration(static_cast<uint8_t>(n)); });
    else if (key == "input-channels" && ParseChannelList(value, &mask))
      changes.push_back([mask](RcCtrlMain& m) { m.SetInputChannels(mask); });
    else if (key == "record-channels" && ParseChannelList(value, &mask))
      changes.push_back([mask](RcCtrlMain& m) { m.SetRecordChannels(mask); });
    else if (key == "audio-recording" && ParseOnOff(value, &on))
      changes.push_back([on](RcCtrlMain& m) { m.SetAudioRecording(on); });
    else if (key == "speaker" && ParseOnOff(value, &on))
      changes.push_back([on](RcCtrlMain& m) { m.SetSpeakerMute(!on); });
    else {
      err << "dvrctl: bad setting " << cli::SpacedJson(kv) << "\n";
      return UsageOf(name, err);
    }
  }
  *job = Change(std::move(changes));
  return kExitOk;
}

int PrepareSetTime(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.size() != 1) return UsageOf(name, err);
  DvrTime when{};
  if (ca.plain[0] == "now") {
    std::time_t now = std::time(nullptr);
    std::tm lt{};
    localtime_r(&now, &lt);
    when = DvrTime{static_cast<uint8_t>(lt.tm_sec),     static_cast<uint8_t>(lt.tm_min),
                   static_cast<uint8_t>(lt.tm_hour),    static_cast<uint8_t>(lt.tm_mday),
                   static_cast<uint8_t>(lt.tm_mon + 1), static_cast<uint8_t>(lt.tm_year - 100)};
  } else if (!ParseDateTime(ca.plain[0], &when)) {
    return err << "dvrctl: set-time needs now or \"YYYY-MM-DD hh:mm:ss\"\n", kExitUsage;
  }
  *job = Change({[when](RcCtrlMain& m) { m.SetTime(when); }});
  return kExitOk;
}

int PrepareSetSchedule(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.size() != 1) return UsageOf(name, err);
  std::array<uint8_t, 24> hours{};
  std::stringstream ss(ca.plain[0]);
  std::string item;
  int i = 0;
  while (std::getline(ss, item, ',')) {
    long v;
    if (i >= 24 || !ParseInt(item, 0, 3, &v))
      return err << "dvrctl: set-schedule needs 24 values 0..3\n", kExitUsage;
    hours[static_cast<std::size_t>(i++)] = static_cast<uint8_t>(v);
  }
  if (i != 24) return err << "dvrctl: set-schedule needs 24 values 0..3\n", kExitUsage;
  *job = Change({[hours](RcCtrlMain& m) {
    uint8_t h[24];
    std::copy(hours.begin(), hours.end(), h);
    m.SetSchedule(h);
  }});
  return kExitOk;
}

// --seconds N of the commands that run for a time.
bool Seconds(CommandArgs& ca, long* secs) {
  return ca.opts.count("--seconds") && ParseInt(ca.opts["--seconds"], 1, 86400, secs);
}

int PrepareWatch(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  long secs = 0;
  if (!Seconds(ca, &secs) || !ca.plain.empty()) return UsageOf(name, err);
  *job = [secs](Session& s) {
    RcCtrlMain& m = s.m();
    Runner& run = *s.run;
    int left = static_cast<int>(secs);
    run.each_second = [&] {
      uint32_t fps = 0, fmax, fmin, bytes = 0, bmax, bmin;
      float favg, bavg;
      m.Stats().GetFrameRate(&fps, &fmax, &fmin, &favg);
      m.Stats().GetSpeed(&bytes, &bmax, &bmin, &bavg);
      DvrStateBlock st = run.State();
      ChannelDisplayState ch = m.ChannelsPresent();
      std::string chans = ch.quad ? "quad" : "";
      for (int i = 0; i < 4; ++i)
        if (ch.channel[i])
          chans += (chans.empty() ? "" : ",") + std::string("CH") + std::to_string(i + 1);
      char line[160];
      std::snprintf(line, sizeof line, "fps %3u  Mbps %6.3f  interval %u  channels %s  mode %s\n",
                    fps, bytes * 8.0 / 1e6, st.status.frame_interval,
                    chans.empty() ? "-" : chans.c_str(), ModeName(st.status.mode));
      s.out << line;
      s.out.flush();
      --left;
    };
    run.Pump(seconds(secs) + milliseconds(500), [&] { return left <= 0; });
    return run.event_seen() ? kExitEvent : kExitOk;
  };
  return kExitOk;
}

int PrepareCapture(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  long secs = 0;
  if (!Seconds(ca, &secs) || !ca.plain.empty()) return UsageOf(name, err);
  const std::string dir = ca.opts.count("--dir") ? ca.opts["--dir"] : "stream_files";
  *job = [secs, dir](Session& s) {
    RcCtrlMain& m = s.m();
    Runner& run = *s.run;
    m.SetRecordingDirectory(dir);
    if (m.StartLocalRecording() != 0)
      return s.err << "dvrctl: cannot start recording\n", kExitFailed;
    run.Pump(seconds(secs), nullptr);
    m.StopLocalRecording();
    if (run.count(rcmsg::kRecordCreateError) || run.count(rcmsg::kRecordWriteError)) {
      s.err << "Local Recording Stop\n"
            << (run.count(rcmsg::kRecordCreateError)
                    ? "File Creation Error.\nLocal stream capturing stop.\n"
                    : "File Writing Error.\nLocal stream capturing stop.\n");
      return kExitFailed;
    }
    Print(s.out, {{"files", m.RecordingFiles()}});
    return run.event_seen() ? kExitEvent : kExitOk;
  };
  return kExitOk;
}

int PrepareSnapshot(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  long frames = 1;
  if (ca.opts.count("--frames") && !ParseInt(ca.opts["--frames"], 1, 1000, &frames))
    return UsageOf(name, err);
  if (ca.plain.size() != 1) return UsageOf(name, err);
  const std::string file = ca.plain[0];
  *job = [frames, file](Session& s) {
    RcCtrlMain& m = s.m();
    const auto wanted = static_cast<uint64_t>(frames);
    // A channel shows its first picture with its first full frame.
    auto every_channel_shown = [&] {
      const ChannelDisplayState present = m.ChannelsPresent();
      uint8_t need = present.quad != 0 ? 0x10 : 0;
      for (int i = 0; i < 4 && present.quad == 0; ++i)
        if (present.channel[i] != 0) need = static_cast<uint8_t>(need | (1u << i));
      return (m.ImageHandler().ChannelsShown() & need) == need;
    };
    if (!s.run->Pump(seconds(20), [&] {
          return m.ImageHandler().FramesShown() >= wanted && every_channel_shown();
        }))
      return s.run->Failure("no frame arrived");
    if (const int saved = m.SaveBitmap(file); saved != kBmpOk)
      return s.err << "dvrctl: cannot write " << file << ": " << BmpResultText(saved) << "\n",
             kExitFailed;
    Print(s.out, {{"snapshot", file}});
    return kExitOk;
  };
  return kExitOk;
}

int PrepareExportAvi(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  long secs = 0;
  if (!Seconds(ca, &secs) || ca.plain.size() != 1) return UsageOf(name, err);
  CompressorOptions opt;
  if (ca.opts.count("--codec")) opt.compressor = ca.opts["--codec"];
  const std::string file = ca.plain[0];
  *job = [secs, opt, file](Session& s) {
    RcCtrlMain& m = s.m();
    if (!s.run->Pump(seconds(20), [&] { return m.ImageHandler().FramesHandled() > 0; }))
      return s.run->Failure("no frame arrived");
    FixedCompressorChooser chooser(opt);
    const int r = m.StartAviExport(file, &chooser);
    if (r != kAviOk) {
      s.err << "dvrctl: cannot create the AVI file " << file << ": " << m.AviFailureReason(r)
            << "\n";
      return kExitFailed;
    }
    s.run->Pump(seconds(secs), nullptr);
    m.StopAviExport();
    Print(s.out, {{"avi", file}});
    return s.run->event_seen() ? kExitEvent : kExitOk;
  };
  return kExitOk;
}

int PrepareMysInfo(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.size() != 1) return UsageOf(name, err);
  const std::string file = ca.plain[0];
  *job = [file](Session& s) { return MysInfo(file, s.out, s.err); };
  return kExitOk;
}

int PreparePlayFile(const std::string& name, CommandArgs& ca, Job* job, std::ostream& err) {
  if (ca.plain.size() != 1) return UsageOf(name, err);
  long presses = 0;
  bool pacing = true;
  if (ca.opts.count("--speed")) {
    if (ca.opts["--speed"] == "max")
      pacing = false;
    else if (!ParseInt(ca.opts["--speed"], 0, 5, &presses))
      return err << "dvrctl: --speed takes 0..5 or max\n", kExitUsage;
  }
  const std::string file = ca.plain[0];
  const std::optional<std::string> snapshot =
      ca.opts.count("--snapshot") ? std::optional(ca.opts["--snapshot"]) : std::nullopt;
  *job = [=](Session& s) { return PlayFile(file, presses, pacing, snapshot, s.out, s.err); };
  return kExitOk;
}

const std::map<std::string, Command>& Commands() {
  static const std::vector<std::string> kTimed = {"--seconds", "--dir", "--codec"};
  static const std::map<std::string, Command> commands = {
      {"info",
       {"dvrctl ... info\n  Prints the DVR's settings, status, time, recording schedule and disks "
        "as JSON.\n",
        true,
        {},
        PrepareNoArguments}},
      {"events",
       {"dvrctl ... events\n  Prints the DVR's recorded-event list (newest first) as JSON.\n",
        true,
        {},
        PrepareNoArguments}},
      {"record",
       {"dvrctl ... record start|stop\n  Starts or stops recording on the DVR and prints the new "
        "status.\n",
        true,
        {},
        PrepareRecord}},
      {"play",
       {"dvrctl ... play [--disk master|slave] [--from \"YYYY-MM-DD hh:mm:ss\" | --event ID]\n"
        "  Plays the DVR's recording: from where it is, from a time, or an event of the list.\n",
        true,
        {"--disk", "--from", "--event"},
        PreparePlay}},
      {"stop", {"dvrctl ... stop\n  Stops a DVR playback.\n", true, {}, PrepareNoArguments}},
      {"pause", {"dvrctl ... pause\n  Pauses a DVR playback.\n", true, {}, PrepareNoArguments}},
      {"ff",
       {"dvrctl ... ff\n  Fast forward (each call the next speed).\n",
        true,
        {},
        PrepareNoArguments}},
      {"rew", {"dvrctl ... rew\n  Rewind.\n", true, {}, PrepareNoArguments}},
      {"set",
       {"dvrctl ... set KEY=VALUE...\n"
        "  quality=0..2  frame-rate=INDEX  alarm-on=SECONDS  alarm-record=SECONDS\n"
        "  input-channels=1,2,3,4  record-channels=1,3  (or none)\n"
        "  audio-recording=on|off  speaker=on|off\n"
        "  Prints the settings after the change as JSON.\n",
        true,
        {},
        PrepareSet}},
      {"set-time",
       {"dvrctl ... set-time now|\"YYYY-MM-DD hh:mm:ss\"\n  Sets the DVR clock.\n",
        true,
        {},
        PrepareSetTime}},
      {"set-schedule",
       {"dvrctl ... set-schedule V0,...,V23\n  Recording mode for each hour 0..23 (values 0..3).\n",
        true,
        {},
        PrepareSetSchedule}},
      {"watch",
       {"dvrctl ... watch --seconds N\n"
        "  Prints a line per second: frames/s, Mbit/s, stream frame interval and the\n"
        "  channels present; connection events as they happen.\n",
        true, kTimed, PrepareWatch}},
      {"capture",
       {"dvrctl ... capture --seconds N [--dir D]\n"
        "  Records the live stream into a local .mys file (default folder stream_files).\n",
        true, kTimed, PrepareCapture}},
      {"snapshot",
       {"dvrctl ... snapshot [--frames N] FILE.bmp\n"
        "  Saves the picture as a 24-bit bitmap once N frames (default 1) were shown\n"
        "  and every channel of the stream has its picture.\n",
        true,
        {"--frames"},
        PrepareSnapshot}},
      {"export-avi",
       {"dvrctl ... export-avi --seconds N [--codec NAME] FILE.avi\n"
        "  Exports the picture and the audio as AVI (codec default: uncompressed).\n",
        true, kTimed, PrepareExportAvi}},
      {"mys-info",
       {"dvrctl mys-info FILE.mys\n  Prints the file header and every record as JSON.\n",
        false,
        {},
        PrepareMysInfo}},
      {"play-file",
       {"dvrctl play-file FILE.mys [--speed N] [--snapshot FILE.bmp]\n"
        "  Plays a local recording through the display path until its end. --speed 0\n"
        "  (default) plays at the recorded pace, 1..5 fast-forward (>> 1 .. >>64),\n"
        "  --speed max without pacing. --snapshot saves the last picture.\n",
        false,
        {"--speed", "--snapshot"},
        PreparePlayFile}},
  };
  return commands;
}

// Checks the command's arguments, connects when it needs a DVR, and runs it.
int RunCommand(const Global& g, const std::vector<std::string>& rest, std::ostream& out,
               std::ostream& err) {
  const std::string& name = rest[0];
  const auto it = Commands().find(name);
  if (it == Commands().end())
    return err << "dvrctl: unknown command " << name << "\n" << kUsage, kExitUsage;
  const Command& c = it->second;
  for (const auto& a : rest)
    if (a == "--help" || a == "-h") return out << c.help, kExitOk;
  if (c.needs_dvr && (g.dvr.empty() || !g.have_password))
    return err << "dvrctl: " << name << " needs --dvr ADDR and --password HEX6\n", kExitUsage;
  CommandArgs ca;
  if (!SplitArgs(rest, 1, c.options, &ca, err)) return kExitUsage;
  Job job;
  if (const int r = c.prepare(name, ca, &job, err); r != kExitOk) return r;
  Session s{g, out, err};
  if (!c.needs_dvr) return job(s);
  Runner run(out, err);
  s.run = &run;
  if (const int r = run.Connect(g); r != kExitOk) return r;
  return job(s);
}

}  // namespace

static void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
  // The offscreen platform's notes about the session (runtime folder, fonts)
  // are no business of a headless client; real problems still show.
  if (type == QtDebugMsg || type == QtInfoMsg) return;
  if (type == QtWarningMsg && (text.contains(QLatin1String("XDG_RUNTIME_DIR")) ||
                               text.contains(QLatin1String("runtime directory"))))
    return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Headless: the display surfaces need a GUI application, never a screen.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietQt);
  std::unique_ptr<QGuiApplication> app;
  static int argc = 1;
  static char name[] = "dvrctl";
  static char* argv[] = {name, nullptr};
  if (QGuiApplication::instance() == nullptr) app = std::make_unique<QGuiApplication>(argc, argv);

  Global g;
  CLI::App line;
  cli::Configure(line, kUsage, "dvrctl");
  // The options before the command; the command and its arguments are left.
  line.prefix_command();
  std::optional<std::string> password, control_port, stream_port, timeout;
  cli::AddValue(line, "--dvr", g.dvr);
  cli::AddValue(line, "--password", password);
  cli::AddValue(line, "--control-port", control_port);
  cli::AddValue(line, "--stream-port", stream_port);
  cli::AddValue(line, "--connect-timeout", timeout);
  const cli::Parsed p = cli::Parse(line, args, false);
  if (p.kind == cli::Parsed::kError)
    return err << "dvrctl: " << p.text << "\n" << kUsage, kExitUsage;
  if (auto done = cli::Finish(p, out, err, "dvrctl", kExitUsage)) return *done;
  std::vector<std::string> rest = line.remaining();
  if (!rest.empty() && rest[0].size() > 1 && rest[0][0] == '-')
    return err << "dvrctl: unknown option '" << rest[0] << "'\n" << kUsage, kExitUsage;
  if (password) {
    const auto digits = ParsePassword(*password);
    if (!digits) return err << "dvrctl: --password needs six hexadecimal digits\n", kExitUsage;
    std::copy(digits->begin(), digits->end(), g.password);
    g.have_password = true;
  }
  struct Ranged {
    const char* name;
    const std::optional<std::string>& text;
    long lo, hi;
    std::function<void(long)> set;
  };
  for (const Ranged& r : {Ranged{"--control-port", control_port, 1, 65535,
                                 [&](long v) { g.control_port = static_cast<uint16_t>(v); }},
                          Ranged{"--stream-port", stream_port, 1, 65535,
                                 [&](long v) { g.stream_port = static_cast<uint16_t>(v); }},
                          Ranged{"--connect-timeout", timeout, 1, 600,
                                 [&](long v) { g.connect_timeout_s = static_cast<int>(v); }}}) {
    long v = 0;
    if (!r.text) continue;
    if (!ParseInt(*r.text, r.lo, r.hi, &v))
      return err << "dvrctl: bad option " << r.name << " " << *r.text << "\n" << kUsage, kExitUsage;
    r.set(v);
  }
  if (rest.empty()) return err << kUsage, kExitUsage;
  return RunCommand(g, rest, out, err);
}

}  // namespace rd::dvrctl
