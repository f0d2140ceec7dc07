#include "tools/dvrdisk/DvrDiskTool.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "player/disk/DvrDisk.h"
#include "player/disk/RecordingIndex.h"
#include "player/playback/ChunkLoader.h"
#include "rd/Version.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/JsonText.h"
#include "tools/dvrdisk/DiskExport.h"
#include "tools/dvrdisk/DiskPlay.h"

namespace rd::dvrdisk {

namespace {

using cli::Json;

// A document on a line of its own.
void Print(std::ostream& out, const Json& j) {
  out << cli::CompactJson(j) << "\n";
}

// A text, or null when it is empty.
Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

// The full-frame flag of frame i (bit 7 of the byte after its start code).
bool FullFrame(const StreamBuffer& buf, uint32_t i) {
  const std::size_t at = std::size_t{buf.frames[i].start} + kFrameStartCode.size();
  return at < buf.mjpeg_length && FrameHeaderByte::Parse(buf.mjpeg[at]).full_frame;
}

struct Options {
  std::string command;
  bool network = false;
  std::optional<std::string> image;
  std::optional<int> drive;
  std::vector<std::string> positional;
  std::optional<uint64_t> at;
  uint64_t chunks = 1;
  std::optional<RecTime> from, to;
  std::optional<uint64_t> frames;
  int channel = 5;
  std::optional<std::string> bmp, avi;
  std::string codec = "uncompressed";
  // play
  int speed = 1;
  bool reverse = false;
  std::optional<int> steps;
  std::optional<double> seconds;
  std::optional<std::string> trace, snapshot;
  bool help = false;
  bool version = false;
};

bool ParseUnsigned(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return true;
}

// Returns an empty string on success, else the usage error.
std::string ParseOptions(const std::vector<std::string>& args, Options* o) {
  CLI::App app;
  cli::Configure(app, HelpText(), "dvrdisk");
  struct Valued {
    const char* name;
    const char* needs;
    std::optional<std::string> value;
  };
  Valued v[] = {{"--drive", "0-10", {}},
                {"--at", "a byte offset", {}},
                {"--chunks", "a count 1-100000", {}},
                {"--from", "a time \"YY/MM/DD hh:mm:ss\"", {}},
                {"--to", "a time \"YY/MM/DD hh:mm:ss\"", {}},
                {"--frames", "a count", {}},
                {"--channel", "1-4 or all", {}},
                {"--bmp", "a folder", {}},
                {"--avi", "a file", {}},
                {"--codec", "a compressor name", {}},
                {"--speed", "1, 4, 16, 32 or 64", {}},
                {"--step", "a count", {}},
                {"--seconds", "a time in seconds", {}},
                {"--trace", "a file", {}},
                {"--snapshot", "a file", {}}};
  for (Valued& x : v) cli::AddValue(app, x.name, x.value, x.needs);
  auto& [drive, at, chunks, from, to, frames, channel, bmp, avi, codec, speed, step, seconds, trace,
         snapshot] = v;
  app.add_flag("--network", o->network);
  app.add_flag("--reverse", o->reverse);
  app.add_option("command", o->command);
  app.add_option("arguments", o->positional);
  const cli::Parsed p = cli::Parse(app, args);
  if (p.kind == cli::Parsed::kHelp) o->help = true;
  if (p.kind == cli::Parsed::kVersion) o->version = true;
  if (p.kind != cli::Parsed::kGoOn) return p.kind == cli::Parsed::kError ? p.text : "";
  uint64_t n = 0;
  auto bad = [](const Valued& x) { return std::string(x.name) + " needs " + x.needs; };
  if (drive.value) {
    if (!ParseUnsigned(*drive.value, &n) || n >= kDriveCount) return bad(drive);
    o->drive = static_cast<int>(n);
  }
  if (at.value) {
    if (!ParseUnsigned(*at.value, &n)) return bad(at);
    o->at = n;
  }
  if (chunks.value &&
      (!ParseUnsigned(*chunks.value, &o->chunks) || o->chunks == 0 || o->chunks > 100000))
    return bad(chunks);
  for (Valued* x : {&from, &to}) {
    if (!x->value) continue;
    const auto t = ParseTime(*x->value);
    if (!t) return "bad time \"" + *x->value + "\": expected \"YY/MM/DD hh:mm:ss\" in range";
    (x == &from ? o->from : o->to) = t;
  }
  if (frames.value) {
    if (!ParseUnsigned(*frames.value, &n) || n == 0) return bad(frames);
    o->frames = n;
  }
  if (channel.value) {
    const std::string& c = *channel.value;
    if (c == "all")
      o->channel = 5;
    else if (c.size() == 1 && c[0] >= '1' && c[0] <= '4')
      o->channel = c[0] - '0';
    else
      return bad(channel);
  }
  o->bmp = bmp.value;
  o->avi = avi.value;
  if (codec.value) o->codec = *codec.value;
  if (speed.value) {
    if (!ParseUnsigned(*speed.value, &n) || (n != 1 && n != 4 && n != 16 && n != 32 && n != 64))
      return bad(speed);
    o->speed = static_cast<int>(n);
  }
  if (step.value) {
    if (!ParseUnsigned(*step.value, &n) || n > 100000) return bad(step);
    o->steps = static_cast<int>(n);
  }
  if (seconds.value) {
    char* tail = nullptr;
    const std::string& text = *seconds.value;
    const double d = std::strtod(text.c_str(), &tail);
    if (text.empty() || *tail != '\0' || !(d > 0) || d > 86400) return bad(seconds);
    o->seconds = d;
  }
  o->trace = trace.value;
  o->snapshot = snapshot.value;
  return {};
}

// The opened target: its path, marker and area.
struct Target {
  std::string path;
  DvrDisk disk;
  uint64_t marker = 0;
  std::optional<uint64_t> area;
};

// Takes the image from the first positional argument unless --drive is given.
int OpenTarget(Options& o, Target* t, std::ostream& err) {
  if (o.drive) {
    std::string map_error;
    const auto path = DriveMap::FromEnvironment(&map_error).PathOf(*o.drive);
    if (!map_error.empty()) err << "dvrdisk: " << map_error << "\n";
    if (!path) {
      err << "dvrdisk: drive " << *o.drive << " does not exist\n";
      return kExitNoDevice;
    }
    t->path = *path;
  } else {
    if (o.positional.empty()) {
      err << "dvrdisk: " << o.command << " needs an image file or --drive N (see --help)\n";
      return kExitUsage;
    }
    t->path = o.positional.front();
    o.positional.erase(o.positional.begin());
  }
  std::string error;
  if (!OpenSectorDevice(t->path, &error)) {
    err << "dvrdisk: cannot open " << error << "\n";
    return kExitNoDevice;
  }
  std::string fault;
  t->disk.set_box_text_sink([&](const std::string& text) { fault = text; });
  t->disk.SetNetworkVersion(o.network);
  if (!t->disk.DetectDvrDisk(t->path)) {
    if (!fault.empty()) {
      err << "dvrdisk: " << fault << ": the size of " << t->path << " cannot be read\n";
      return kExitNoDevice;
    }
    err << "dvrdisk: No DVR HDD: no DVR marker near the end of " << t->path << "\n";
    return kExitNoMarker;
  }
  t->marker = t->disk.marker_sector();
  t->area = AreaSectors(t->marker, o.network ? DiskLayout::kNetwork : DiskLayout::kStandard);
  t->disk.set_device_path(t->path);
  return kExitOk;
}

// The checks of opening a disk for playback: an area and the data flag.
int CheckData(Target& t, bool network, std::ostream& err) {
  if (!t.area) {
    err << "dvrdisk: No Data: the " << (network ? "network" : "standard")
        << " layout leaves no recording area below marker sector " << t.marker << "\n";
    return kExitNoData;
  }
  const auto present = t.disk.DataPresent(t.marker);
  if (!present) {
    err << "dvrdisk: READ HDD Error: the index sectors of " << t.path << " cannot be read\n";
    return kExitFailed;
  }
  if (!*present) {
    err << "dvrdisk: No Data: " << t.path << " holds no recording\n";
    return kExitNoData;
  }
  return kExitOk;
}

int ReadSpanOrFail(RecordingIndex& index, RecordingSpan* span, const Target& t, std::ostream& err) {
  switch (index.ReadSpan(span)) {
    case SpanResult::kOk:
      return kExitOk;
    case SpanResult::kNoData:
      err << "dvrdisk: No Data: " << t.path << " holds no recorded packet\n";
      return kExitNoData;
    case SpanResult::kReadError:
      break;
  }
  err << "dvrdisk: READ HDD Error: the recording index of " << t.path << " cannot be read\n";
  return kExitFailed;
}

int Scan(const Options& o, std::ostream& out, std::ostream& err) {
  DvrDisk disk;
  // The layout decides which marker the walk stops at (the lower one of a
  // network disk), as when a disk is opened.
  disk.SetNetworkVersion(o.network);
  disk.set_box_text_sink([&](const std::string& text) { err << "dvrdisk: " << text << "\n"; });
  std::string map_error;
  const DriveMap drives = DriveMap::FromEnvironment(&map_error);
  if (!map_error.empty()) {
    err << "dvrdisk: " << map_error << "\n";
    return kExitUsage;
  }
  disk.Scan(drives);
  bool any = false;
  for (int n = 1; n <= 9; ++n) {
    const uint64_t m = disk.disk_table()[static_cast<std::size_t>(n)];
    if (m == 0) continue;
    out << "drive " << n << " marker " << m << "\n";
    any = true;
  }
  if (!any) {
    err << "dvrdisk: No DVR HDD among drives 1-9\n";
    return kExitNoMarker;
  }
  return kExitOk;
}

int Info(Options& o, std::ostream& out, std::ostream& err) {
  Target t;
  if (int rc = OpenTarget(o, &t, err); rc != kExitOk) return rc;
  const int data = CheckData(t, o.network, err);
  if (data == kExitFailed) return data;
  RecordingSpan span;
  int rc = data;
  std::optional<std::vector<std::string>> events;
  if (data == kExitOk) {
    RecordingIndex index(t.disk, t.marker, *t.area);
    rc = ReadSpanOrFail(index, &span, t, err);
    if (rc == kExitFailed) return rc;
    events = index.ListEvents();
    if (!events) {
      err << "dvrdisk: READ HDD Error: the event sectors of " << t.path << " cannot be read\n";
      return kExitFailed;
    }
  }
  const bool ok = rc == kExitOk;
  Json doc = {
      {"marker", t.marker}, {"area_sectors", t.area ? Json(*t.area) : Json(nullptr)}, {"data", ok}};
  for (const char* key :
       {"write_packet", "wrapped", "first_packet", "last_packet", "start", "end", "default_search"})
    doc[key] = nullptr;
  if (ok) {
    doc["write_packet"] = span.status.next_packet;
    doc["wrapped"] = span.status.wrapped;
    doc["first_packet"] = span.first_packet;
    doc["last_packet"] = span.last_packet;
    doc["start"] = FormatDiskTime(span.start);
    doc["end"] = FormatDiskTime(span.end);
    doc["default_search"] = FormatDiskTime(span.default_search);
  }
  doc["events"] = events ? Json(*events) : Json::array();
  Print(out, doc);
  return rc;
}

int Find(Options& o, std::ostream& out, std::ostream& err) {
  Target t;
  if (int rc = OpenTarget(o, &t, err); rc != kExitOk) return rc;
  if (o.positional.size() != 1) {
    err << "dvrdisk: find needs one time \"YY/MM/DD hh:mm:ss\"\n";
    return kExitUsage;
  }
  const auto target = ParseTime(o.positional.front());
  if (!target) {
    err << "dvrdisk: bad time \"" << o.positional.front()
        << "\": expected \"YY/MM/DD hh:mm:ss\" in range\n";
    return kExitUsage;
  }
  if (int rc = CheckData(t, o.network, err); rc != kExitOk) return rc;
  RecordingIndex index(t.disk, t.marker, *t.area);
  RecordingSpan span;
  if (int rc = ReadSpanOrFail(index, &span, t, err); rc != kExitOk) return rc;
  uint64_t position = 0;
  if (!index.FindTime(*target, span, &position)) {
    Print(out, {{"found", false}, {"probes", index.last_probe_count()}});
    err << "dvrdisk: It's not found !: " << FormatDiskTime(*target) << " is not in the recording ("
        << FormatDiskTime(span.start) << " - " << FormatDiskTime(span.end) << ")\n";
    return kExitNotFound;
  }
  Print(out, {{"found", true},
              {"packet", position / kPacketSize},
              {"position", position},
              {"probes", index.last_probe_count()}});
  return kExitOk;
}

int Frames(Options& o, std::ostream& out, std::ostream& err) {
  Target t;
  if (int rc = OpenTarget(o, &t, err); rc != kExitOk) return rc;
  if (!o.at) {
    err << "dvrdisk: frames needs --at BYTE_OFFSET\n";
    return kExitUsage;
  }
  if (int rc = CheckData(t, o.network, err); rc != kExitOk) return rc;
  const uint64_t area_bytes = *t.area * kSectorSize;
  if (*o.at % kPacketSize != 0 || *o.at >= area_bytes) {
    err << "dvrdisk: --at must be a multiple of 4096 below the area size " << area_bytes << "\n";
    return kExitUsage;
  }
  ChunkLoader loader;
  if (!loader.OpenSource(t.path)) {
    err << "dvrdisk: File Open Error: " << t.path << "\n";
    return kExitNoDevice;
  }
  std::vector<uint8_t> chunk(kChunkBytes);
  uint64_t pos = *o.at;
  Json chunks = Json::array();
  for (uint64_t c = 0; c < o.chunks; ++c) {
    const std::size_t bytes = loader.ReadChunk(pos, area_bytes, chunk.data());
    if (bytes == 0) {
      Print(out, {{"chunks", chunks}});
      err << "dvrdisk: READ HDD Error at byte " << pos << "\n";
      return kExitFailed;
    }
    PairSwap(chunk.data(), bytes);
    loader.ParseChunk(chunk.data(), bytes, 0);
    loader.IndexFrames(0);
    const StreamBuffer& buf = loader.buffer(0);
    Json frames = Json::array();
    for (uint32_t i = 0; i < buf.frame_count; ++i) {
      const FrameRecord& f = buf.frames[i];
      frames.push_back({{"start", f.start},
                        {"length", f.length},
                        {"time", FormatDiskTime(f.time)},
                        {"rate", int{f.rate}},
                        {"channel", int{buf.ChannelOf(i)}},
                        {"audio", int{f.audio_flag}},
                        {"full", FullFrame(buf, i)}});
    }
    chunks.push_back({{"position", pos},
                      {"bytes", bytes},
                      {"frames", std::move(frames)},
                      {"audio_packets", buf.audio_packet_count},
                      {"audio_present", loader.audio_present()}});
    pos += bytes;
    if (pos >= area_bytes) pos = 0;
  }
  Print(out, {{"chunks", chunks}});
  return kExitOk;
}

// The checks of opening a disk, its span and the packet of --from.
int FindStart(const Options& o, Target& t, RecordingSpan* span, uint64_t* position,
              std::ostream& err) {
  if (int rc = CheckData(t, o.network, err); rc != kExitOk) return rc;
  RecordingIndex index(t.disk, t.marker, *t.area);
  if (int rc = ReadSpanOrFail(index, span, t, err); rc != kExitOk) return rc;
  if (!index.FindTime(*o.from, *span, position)) {
    err << "dvrdisk: It's not found !: " << FormatDiskTime(*o.from) << " is not in the recording ("
        << FormatDiskTime(span->start) << " - " << FormatDiskTime(span->end) << ")\n";
    return kExitNotFound;
  }
  return kExitOk;
}

int Export(Options& o, std::ostream& out, std::ostream& err) {
  Target t;
  if (int rc = OpenTarget(o, &t, err); rc != kExitOk) return rc;
  if (!o.from || (!o.to && !o.frames) || (!o.bmp == !o.avi)) {
    err << "dvrdisk: export needs --from TIME, --to TIME or --frames N, and --bmp DIR or "
           "--avi FILE\n";
    return kExitUsage;
  }
  RecordingSpan span;
  uint64_t position = 0;
  if (int rc = FindStart(o, t, &span, &position, err); rc != kExitOk) return rc;
  ExportJob job;
  job.device_path = t.path;
  job.marker_sector = t.marker;
  job.network = o.network;
  job.area_bytes = *t.area * kSectorSize;
  job.start_position = position;
  job.write_position = uint64_t{span.status.next_packet} * kPacketSize;
  job.wrapped = span.status.wrapped;
  job.to = o.to;
  job.max_frames = o.frames;
  job.channel = o.channel;
  job.bmp_dir = o.bmp;
  job.avi_file = o.avi;
  job.codec = o.codec;
  ExportResult result;
  const int rc = RunExport(job, &result, err);
  Print(out, {{"frames", result.frames},
              {"audio_packets", result.audio_packets},
              {"skipped", result.skipped},
              {"first", TextOrNull(result.first_time)},
              {"last", TextOrNull(result.last_time)},
              {"report", TextOrNull(result.report)}});
  if (rc == kExitOk && result.frames == 0) {
    err << "dvrdisk: no frame of the chosen channel in that time\n";
    return kExitNotFound;
  }
  return rc;
}

int Play(Options& o, std::ostream& out, std::ostream& err) {
  Target t;
  if (int rc = OpenTarget(o, &t, err); rc != kExitOk) return rc;
  if (!o.from || o.bmp || o.to || o.frames) {
    err << "dvrdisk: play needs --from TIME (and takes no --to, --frames or --bmp)\n";
    return kExitUsage;
  }
  RecordingSpan span;
  uint64_t position = 0;
  if (int rc = FindStart(o, t, &span, &position, err); rc != kExitOk) return rc;
  PlayJob job;
  job.disk = PlaybackDisk{t.path, *t.area * kSectorSize, span};
  job.start_position = position;
  job.speed = o.speed;
  job.reverse = o.reverse;
  job.steps = o.steps;
  job.seconds = o.seconds.value_or(10);
  job.channel = o.channel;
  job.trace_file = o.trace;
  job.snapshot = o.snapshot;
  job.avi_file = o.avi;
  job.codec = o.codec;
  PlayResult result;
  const int rc = RunPlay(job, &result, err);
  const auto time = [](const std::optional<RecTime>& t) {
    return t ? Json(FormatDiskTime(*t)) : Json(nullptr);
  };
  Print(out, {{"frames_walked", result.stats.frames_walked},
              {"frames_shown", result.stats.frames_shown},
              {"chunks", result.stats.chunks_loaded},
              {"audio_packets", result.stats.audio_packets},
              {"steps", result.steps_done},
              {"first", time(result.stats.first_shown)},
              {"last", time(result.stats.last_shown)},
              {"ended", result.stats.ended}});
  if (rc == kExitOk && result.stats.frames_shown == 0) {
    err << "dvrdisk: no frame of the chosen channel was shown\n";
    return kExitNotFound;
  }
  return rc;
}

}  // namespace

std::optional<RecTime> ParseTime(const std::string& text) {
  return ParseSearchTime(text);
}

std::string HelpText() {
  return R"(dvrdisk - read a DVR recording disk or its image

usage:
  dvrdisk scan   [--network]
  dvrdisk info   [--network] TARGET
  dvrdisk find   [--network] TARGET "YY/MM/DD hh:mm:ss"
  dvrdisk frames [--network] TARGET --at BYTE_OFFSET [--chunks N]
  dvrdisk export [--network] TARGET --from TIME (--to TIME | --frames N)
                 [--channel 1-4|all] (--bmp DIR | --avi FILE [--codec NAME])
  dvrdisk play   [--network] TARGET --from TIME [--speed 1|4|16|32|64]
                 [--reverse] [--step N] [--seconds S] [--channel 1-4|all]
                 [--trace FILE] [--snapshot FILE.bmp] [--avi FILE [--codec NAME]]

TARGET is a disk image file (a dd copy of a DVR disk) or --drive N. Drives
are numbered as RD_DRIVES maps them ("1=/path/disk.img,3=/dev/sdc"), else the
whole disks of /sys/block in order (sd*, vd*, nvme*, mmcblk*, hd*) from 0.
scan looks at drives 1-9. --network reads the disk in the network layout.

scan    prints "drive N marker M" for every DVR disk found; with --network
        the marker of the network layout (the lower one of a disk with two).
info    prints the recording as JSON: marker, area_sectors, data,
        write_packet, wrapped, first_packet, last_packet, start, end,
        default_search, events.
find    prints {"found", "packet", "position"} for the packet recorded
        within one second of the time.
frames  prints the frame index of N chunks (2 MiB each) from BYTE_OFFSET (a
        multiple of 4096): frames with start, length, time, rate, channel,
        audio flag, full-frame flag; audio_packets; audio_present.
export  decodes the frames from the time found (each channel from its first
        full frame on): one BMP file per picture,
        or one AVI file (all channels as a quad picture) with the recorded
        audio; --codec picks the AVI video compressor (default uncompressed).
        A report goes beside the export (FILE.avi.report.txt, or
        DIR/export.report.txt): the SHA-256 of every file written, the
        source, marker sector, packets, first and last frame time, frame
        count and program version.
play    runs the player's playback engine without windows from the time
        found, for --seconds S of real time (default 10), at --speed (the
        speed button's 1X..64X), backwards with --reverse, or --step N frames
        one at a time from the found frame (backwards with --reverse); one
        channel full size or all four in quadrants (--channel). Audio goes to
        the sound device (RD_AUDIO_DEVICE; none: silent). --snapshot writes
        the picture at the end with its time stamp, --avi records what is
        shown with the sound. Prints {"frames_walked", "frames_shown",
        "chunks", "audio_packets", "steps", "first", "last", "ended"}; an
        unwrapped recording ends play at its end.
        --trace FILE (or RD_PLAYER_TRACE=FILE, in rdplayer too) writes one
        line per frame walked, tab-separated:
          MS CHUNK INDEX CHANNEL full|partial YYYY/MM/DD hh:mm:ss full|quadrant|no
        MS: milliseconds since the engine started; CHUNK: byte offset of the
        2 MiB chunk holding the frame; INDEX: the frame in that chunk;
        CHANNEL: 0-3 for CH1-CH4, 4 the recorder's quad picture; whether it
        is a full or a partial frame; its recorded time; how it was shown
        (full size, in its quadrant, or not).

--help shows this text, --version the program's version.

exit status: 0 done, 1 bad usage, 2 the image or drive cannot be opened,
3 no DVR marker ("No DVR HDD"), 4 no recording ("No Data"), 5 the time is not
in the recording, 6 a read or write failed.
)";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  const std::string error = ParseOptions(args, &o);
  if (o.version) return out << "dvrdisk " << kVersion << "\n", kExitOk;
  if (o.help || (args.empty())) {
    (args.empty() ? err : out) << HelpText();
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (!error.empty()) {
    err << "dvrdisk: " << error << "\n";
    return kExitUsage;
  }
  if (o.command == "scan") return Scan(o, out, err);
  if (o.command == "info") return Info(o, out, err);
  if (o.command == "find") return Find(o, out, err);
  if (o.command == "frames") return Frames(o, out, err);
  if (o.command == "export") return Export(o, out, err);
  if (o.command == "play") return Play(o, out, err);
  err << "dvrdisk: unknown command \"" << o.command << "\" (see --help)\n";
  return kExitUsage;
}

}  // namespace rd::dvrdisk
