// Disk images written by the emulated DVR, read back with a small reader of
// the recorder's disk layout written here from the layout rules (marker in
// the last sector, pair-swapped words, status, event and packet sectors).

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "SimFixture.h"
#include "client/engine/rdcp/RdcpWire.h"
#include "shared/mjpeg/MjpegDecoder.h"
#include "shared/stream/StreamPacket.h"
#include "tools/dvrsim/MakeDisk.h"

namespace rd::sim {
namespace {

using namespace std::chrono_literals;

class ImageReader {
 public:
  explicit ImageReader(const std::filesystem::path& p) {
    fd_ = ::open(p.c_str(), O_RDONLY);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0) sectors_ = static_cast<uint64_t>(st.st_size) / 512;
  }
  ~ImageReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  std::vector<uint8_t> Read(uint64_t sector, std::size_t count = 1) {
    std::vector<uint8_t> b(512 * count);
    EXPECT_EQ(::pread(fd_, b.data(), b.size(), static_cast<off_t>(sector * 512)),
              static_cast<ssize_t>(b.size()));
    return b;
  }
  uint64_t sectors() const { return sectors_; }
  uint64_t marker() const { return sectors_ - 1; }
  bool MarkerOk() {
    auto s = Read(marker());
    bool raw = std::memcmp(s.data(), "KORVELT!", 8) == 0;
    PairSwap(s.data(), s.size());
    return !raw && std::memcmp(s.data(), "KORVELT!", 8) == 0;
  }
  // W and the wrapped flag from the status sector (disk order).
  std::pair<uint32_t, bool> Status() {
    auto s = Read(marker() - 1);
    uint32_t w =
        (uint32_t(s[1] & 0x7F) << 24) | (uint32_t(s[0]) << 16) | (uint32_t(s[3]) << 8) | s[2];
    return {w, (s[1] & 0x80) != 0};
  }
  struct Event {
    bool timer;
    uint8_t start[6];  // minute, second, day, hour, year, month (disk order)
    uint8_t end[6];
  };
  std::vector<Event> Events() {
    std::vector<Event> out;
    for (uint64_t k = 0; k < 4; ++k) {
      auto s = Read(marker() - 5 + k);
      for (int r = 0; r < 16; ++r) {
        const uint8_t* rec = s.data() + r * 32;
        if (rec[8] == 0) continue;
        Event e{rec[3] == 0x54, {}, {}};
        std::memcpy(e.start, rec + 4, 6);
        std::memcpy(e.end, rec + 20, 6);
        out.push_back(e);
      }
    }
    return out;
  }
  std::vector<uint8_t> Packet(uint64_t n) {
    auto p = Read(n * 8, 8);
    PairSwap(p.data(), p.size());
    return p;
  }

 private:
  int fd_ = -1;
  uint64_t sectors_ = 0;
};

struct Walk {
  std::size_t video = 0, audio = 0;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<RecTime> frame_times;
  bool times_ordered = true;
  RecTime first, last;
};

int64_t Key(const RecTime& t) {
  return ((((int64_t(t.year) * 13 + t.month) * 32 + t.day) * 24 + t.hour) * 60 + t.minute) * 60 +
         t.second;
}

// Follows the packets in ring order from `from` for `count` packets.
Walk WalkPackets(ImageReader& img, uint64_t from, uint64_t count, uint64_t capacity) {
  Walk w;
  std::vector<uint8_t> es;
  std::vector<std::pair<std::size_t, RecTime>> starts_time;  // es offset of each video packet
  int64_t prev = -1;  // as a recorder writes them: times never decrease in ring order
  for (uint64_t i = 0; i < count; ++i) {
    auto p = img.Packet((from + i) % capacity);
    RecTime t = RecTime::FromHeader(p.data());
    if (i == 0) w.first = t;
    w.last = t;
    const bool is_audio = ClassifyPacket(p.data()) == PacketKind::kAudio;
    if (Key(t) < prev) w.times_ordered = false;
    prev = Key(t);
    if (is_audio) {
      ++w.audio;
      continue;
    }
    ++w.video;
    starts_time.emplace_back(es.size(), t);
    es.insert(es.end(), p.begin() + 8, p.end());
  }
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 4 <= es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xF8) starts.push_back(i);
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    w.frames.emplace_back(es.begin() + starts[k], es.begin() + starts[k + 1]);
    w.frame_times.push_back(starts_time[starts[k] / 4088].second);
  }
  return w;
}

TEST(MakeDisk, ImageReadsBackWithMarkerStatusEventsAndDecodableFrames) {
  rdtest::TempDir dir;
  MakeDiskOptions o;
  o.out = (dir / "disk.img").string();
  o.size = 32ull << 20;
  o.duration_s = 20;
  o.start = *ParseCalendarTime("2024-05-01 12:00:00");
  o.events = "alarm@5+5,time@0+20";
  MakeDiskResult r;
  std::string err;
  ASSERT_TRUE(MakeDisk(o, nullptr, &r, &err)) << err;
  EXPECT_EQ(r.frames, 600u);
  EXPECT_EQ(r.audio_packets, 40u);

  ImageReader img(o.out);
  ASSERT_EQ(img.sectors(), (32ull << 20) / 512);
  ASSERT_TRUE(img.MarkerOk());
  const uint64_t capacity = ((img.marker() - 7) / 8 * 8) / 8;
  auto [w, wrapped] = img.Status();
  EXPECT_FALSE(wrapped);
  EXPECT_EQ(w, r.next_packet);
  EXPECT_EQ(w, r.packets);
  EXPECT_LT(w, capacity);
  EXPECT_NE(img.Read(img.marker() - 5)[0], 0) << "data-present flag";

  auto events = img.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[0].timer);
  EXPECT_EQ(events[0].start[1], 5);  // second
  EXPECT_EQ(events[0].end[1], 10);
  EXPECT_EQ(events[0].start[3], 12);  // hour
  EXPECT_EQ(events[0].start[4], 24);  // year
  EXPECT_EQ(events[0].start[5], 5);   // month
  EXPECT_TRUE(events[1].timer);

  Walk walk = WalkPackets(img, 0, w, capacity);
  EXPECT_EQ(walk.audio, 40u);
  EXPECT_TRUE(walk.times_ordered);
  EXPECT_EQ(walk.first, (RecTime{24, 5, 1, 12, 0, 0}));
  EXPECT_EQ(walk.last, (RecTime{24, 5, 1, 12, 0, 19}));
  ASSERT_GE(walk.frames.size(), 590u);
  std::map<int, std::unique_ptr<mjpeg::MjpegDecoder>> dec;
  int full = 0;
  for (std::size_t i = 0; i < walk.frames.size(); ++i) {
    const auto& f = walk.frames[i];
    const int code = f[4] & 7;
    ASSERT_LT(code, 4);
    EXPECT_EQ(code, static_cast<int>(i % 4));
    auto& d = dec[code];
    if (!d) {
      d = std::make_unique<mjpeg::MjpegDecoder>();
      d->Open(mjpeg::VideoStandard::kNtsc);
    }
    ASSERT_EQ(d->DecodeToPlanes(f.data(), f.size()), 0) << i;
    if (f[4] & 0x80) {
      ++full;
      EXPECT_EQ(d->last_picture_end(), mjpeg::PictureEnd::kComplete) << i;
    }
  }
  EXPECT_GE(full, 36);  // every 16th frame of each camera
  EXPECT_LT(full, 60);
  // 30 frames per second; a frame has the time of the packet its start code is in.
  for (std::size_t i = 0; i < walk.frame_times.size(); ++i) {
    const int t = walk.frame_times[i].second;
    ASSERT_LE(t, static_cast<int>(i / 30)) << i;
    ASSERT_GE(t + 1, static_cast<int>(i / 30)) << i;
  }
}

TEST(MakeDisk, WrapsTheRingAndKeepsTimeOrderFromTheOldestPacket) {
  rdtest::TempDir dir;
  MakeDiskOptions o;
  o.out = (dir / "wrap.img").string();
  o.size = 1ull << 20;  // a ring of 254 packets
  o.duration_s = 5;
  o.start = *ParseCalendarTime("2024-12-31 23:59:30");
  o.wrap = true;
  o.quad = true;
  o.audio = false;
  MakeDiskResult r;
  std::string err;
  ASSERT_TRUE(MakeDisk(o, nullptr, &r, &err)) << err;
  ImageReader img(o.out);
  ASSERT_TRUE(img.MarkerOk());
  const uint64_t capacity = ((img.marker() - 7) / 8 * 8) / 8;
  auto [w, wrapped] = img.Status();
  EXPECT_TRUE(wrapped);
  EXPECT_GE(w, capacity / 3);
  Walk walk = WalkPackets(img, w, capacity, capacity);  // oldest first
  EXPECT_TRUE(walk.times_ordered) << "across the new year too";
  EXPECT_GT(Key(walk.first), Key(RecTime{24, 12, 31, 23, 59, 30}));
  EXPECT_EQ(walk.audio, 0u);
  ASSERT_FALSE(walk.frames.empty());
  for (const auto& f : walk.frames) ASSERT_EQ(f[4] & 7, 4);  // quad pictures
}

TEST(MakeDisk, NetworkLayoutLeavesTheReservedSectorsAndRejectsBadInput) {
  rdtest::TempDir dir;
  MakeDiskOptions o;
  o.out = (dir / "net.img").string();
  o.size = 1100ull << 20;
  o.duration_s = 2;
  o.start = *ParseCalendarTime("2024-05-01 12:00:00");
  o.network = true;
  MakeDiskResult r;
  std::string err;
  ASSERT_TRUE(MakeDisk(o, nullptr, &r, &err)) << err;
  ImageReader img(o.out);
  ASSERT_TRUE(img.MarkerOk());
  uint64_t area = img.marker() - 2'000'039;
  area += (8 - area % 8) % 8;
  auto [w, wrapped] = img.Status();
  EXPECT_EQ(w, r.next_packet);
  EXPECT_LT(w * 8, area);
  struct stat st {};
  ASSERT_EQ(::stat(o.out.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, 8 << 20) << "sparse";

  MakeDiskOptions small = o;
  small.out = (dir / "small.img").string();
  small.size = 64ull << 20;  // too small for the network layout
  EXPECT_FALSE(MakeDisk(small, nullptr, &r, &err));
  MakeDiskOptions badspec = o;
  badspec.events = "fire@10";
  EXPECT_FALSE(MakeDisk(badspec, nullptr, &r, &err));
  EXPECT_NE(err.find("time or alarm"), std::string::npos);
}

class RecorderTest : public simtest::SimFixture {};

TEST_F(RecorderTest, StopWhileRecordingLeavesAConsistentImageThatRecordingContinues) {
  const auto path = dir_ / "rec.img";
  SimOptions o;
  o.disk = path.string();
  o.disk_size = 16ull << 20;
  StartSim(o);
  ASSERT_TRUE(control_.OpenSession());
  auto r = control_.Request(rdcp::kStartRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStarted);
  ASSERT_TRUE(rdtest::WaitFor([&] { return sim_->frames_recorded() >= 45; }, 10s));
  sim_->Stop();  // as on Ctrl-C: still recording
  const uint64_t written = sim_->packets_recorded();
  control_.Close();

  uint32_t w1 = 0;
  {
    ImageReader img(path);
    ASSERT_TRUE(img.MarkerOk());
    auto [w, wrapped] = img.Status();
    EXPECT_FALSE(wrapped);
    EXPECT_EQ(w, written);
    EXPECT_GT(w, 0u);
    w1 = w;
    auto ev = img.Events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_TRUE(ev[0].timer);
    Walk walk = WalkPackets(img, 0, w, 1u << 30);
    EXPECT_GE(walk.frames.size(), 40u);
    EXPECT_GE(walk.audio, 1u);
    EXPECT_TRUE(walk.times_ordered);
  }

  // A new emulator continues the same image.
  control_ = simtest::ControlPeer{};
  sim_.reset();
  StartSim(o);
  ASSERT_TRUE(control_.OpenSession());
  auto s = control_.Request(rdcp::kGetSettings);
  ASSERT_TRUE(s);
  EXPECT_EQ(UnpackSettings(s->payload.data(), s->payload.size()).disk_used[0], 1u << 8);
  r = control_.Request(rdcp::kStartRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStarted);
  ASSERT_TRUE(rdtest::WaitFor([&] { return sim_->frames_recorded() >= 10; }, 10s));
  r = control_.Request(rdcp::kStopRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStopped);
  sim_->Stop();
  ImageReader img(path);
  auto [w2, wrapped2] = img.Status();
  EXPECT_GT(w2, w1);
  EXPECT_EQ(img.Events().size(), 2u);
}

TEST_F(RecorderTest, ListsAManyEventDiskInPartsAndPlaysAnEventById) {
  MakeDiskOptions m;
  m.out = (dir_ / "many.img").string();
  m.size = 16ull << 20;
  m.duration_s = 40;
  m.start = *ParseCalendarTime("2024-05-01 12:00:00");
  for (int i = 0; i < 20; ++i)
    m.events +=
        (i ? "," : "") + std::string(i % 2 ? "alarm@" : "time@") + std::to_string(i * 2) + "+1";
  MakeDiskResult r;
  std::string err;
  ASSERT_TRUE(MakeDisk(m, nullptr, &r, &err)) << err;
  SimOptions o;
  o.disk = m.out;
  StartSim(o);
  ASSERT_TRUE(control_.OpenSession());
  ASSERT_TRUE(control_.Send(simtest::Frame(rdcp::kGetEventList)));
  std::vector<std::size_t> parts;
  std::vector<EventRecord> events;
  while (true) {
    auto part = control_.Expect(rdcp::kEventListPart);
    ASSERT_TRUE(part);
    parts.push_back(part->payload.size());
    for (std::size_t i = 0; i + 18 <= part->payload.size(); i += 18)
      events.push_back(UnpackEvent(part->payload.data() + i, 18));
    if (part->payload.empty()) break;
  }
  EXPECT_EQ(parts, (std::vector<std::size_t>{14 * 18, 7 * 18, 0}));  // whole range + 20 events
  ASSERT_EQ(events.size(), 21u);
  EXPECT_EQ(events[0].kind, 0);
  EXPECT_EQ(events[0].start.second, 0);
  EXPECT_EQ(events[20].kind, 2);
  EXPECT_EQ(events[20].start.second, 38);
  // Event play by its id: the stream then carries pictures from 12:00:38 on.
  ASSERT_TRUE(stream_.Connect(sim_->stream_port()));
  const uint32_t id = events[20].id;
  auto p = control_.Request(
      rdcp::kPlay, {0, uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)});
  ASSERT_TRUE(p && p->type == rdcp::kPlayAccepted);
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        stream_.ReadFrames(stream_.frames.size(), std::chrono::milliseconds(50));
        for (const auto& f : stream_.frames)
          if (f.info[0] == 24 && f.info[4] == 0 && f.info[5] >= 37) return true;
        return false;
      },
      10s));
}

TEST(DvrsimProgram, PrintsItsPortsAndEndsCleanlyOnSigint) {
  rdtest::TempDir dir;
  const std::string bin = std::string(RD_BINARY_DIR) + "/bin/dvrsim";
  const std::string disk = (dir / "d.img").string();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execl(bin.c_str(), bin.c_str(), "--control-port", "0", "--stream-port", "0", "--disk",
            disk.c_str(), "--disk-size", "8M", "--quiet", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  int cport = 0, sport = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "dvrsim listening control=%d stream=%d", &cport, &sport), 2)
      << line;
  simtest::ControlPeer peer;
  ASSERT_TRUE(peer.Connect(cport));
  ASSERT_TRUE(peer.OpenSession());
  auto r = peer.Request(rdcp::kStartRecording);
  ASSERT_TRUE(r && r->type == rdcp::kRecordingStarted);
  // Recording for a moment: a second of frames on the stream.
  simtest::StreamPeer stream;
  ASSERT_TRUE(stream.Connect(sport));
  ASSERT_TRUE(stream.ReadFrames(30, 10s));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(out[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ImageReader img(disk);
  ASSERT_TRUE(img.MarkerOk());
  auto [w, wrapped] = img.Status();
  EXPECT_GT(w, 0u);
  Walk walk = WalkPackets(img, 0, w, 1u << 30);
  EXPECT_GT(walk.frames.size(), 0u);
  EXPECT_EQ(img.Events().size(), 1u);
}

}  // namespace
}  // namespace rd::sim
