// Local recording and playback: the .mys format as written by the recorder,
// the round trip through the player, the player's states and skip counts, and
// the files a killed writer leaves behind.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "client/media/MysFormat.h"
#include "client/media/RcLocalPlayer.h"
#include "client/media/RcLocalRecorder.h"
#include "support/TestSupport.h"

namespace rd {
namespace {

using Bytes = std::vector<unsigned char>;

MysFileHeader HeaderOf(const Bytes& file) {
  EXPECT_GE(file.size(), kMysFileHeaderSize);
  return MysFileHeader::Read(file.data());
}

struct ParsedRecord {
  MysRecordHeader header;
  Bytes data;
};

std::vector<ParsedRecord> RecordsOf(const Bytes& file) {
  std::vector<ParsedRecord> out;
  std::size_t pos = kMysFileHeaderSize;
  while (pos + kMysRecordHeaderSize <= file.size()) {
    MysRecordHeader h = MysRecordHeader::Read(file.data() + pos);
    pos += kMysRecordHeaderSize;
    if (pos + h.length > file.size()) break;
    out.push_back({h, Bytes(file.begin() + pos, file.begin() + pos + h.length)});
    pos += h.length;
  }
  return out;
}

// Records for hand-built files: video records carry their number in byte 0.
struct Rec {
  bool video;
  uint8_t tag;
  uint32_t millis = 0;
  uint8_t state = 0x01;
};

Bytes BuildMys(const std::vector<Rec>& recs, uint8_t flags = 0, bool finished = true) {
  Bytes file(kMysFileHeaderSize);
  uint32_t prev = 0;
  for (const Rec& r : recs) {
    Bytes data(r.video ? 100 + r.tag : 4000, r.tag);
    MysRecordHeader h;
    h.magic = r.video ? kMysVideoMagic : kMysAudioMagic;
    h.millis = r.millis;
    h.prev_length = prev;
    h.length = static_cast<uint32_t>(data.size());
    if (r.video) h.state = r.state;
    prev = h.length;
    uint8_t raw[kMysRecordHeaderSize];
    h.Write(raw);
    file.insert(file.end(), raw, raw + sizeof raw);
    file.insert(file.end(), data.begin(), data.end());
  }
  MysFileHeader fh;
  fh.length = finished ? static_cast<uint32_t>(file.size()) : 28;
  fh.count = finished ? static_cast<uint32_t>(recs.size()) : 0;
  fh.flags = flags;
  fh.Write(file.data());
  return file;
}

std::vector<Rec> Videos(int n) {
  std::vector<Rec> v;
  for (int i = 0; i < n; ++i) v.push_back({true, static_cast<uint8_t>(i)});
  return v;
}

// Tags of the video records shown by repeated ReadNext until the player pauses.
std::vector<int> ShownUntilPause(RcLocalPlayer& p, int limit = 1000) {
  std::vector<int> shown;
  for (int i = 0; i < limit; ++i) {
    int r = p.ReadNext();
    if (r == RcLocalPlayer::kPause) break;
    if (r == RcLocalPlayer::kAudioRecord) continue;
    EXPECT_GE(r, 16) << "read failure " << r;
    if (r < 16) break;
    shown.push_back(p.Data()[0]);
  }
  return shown;
}

class FakeClock {
 public:
  void AdvanceMs(uint64_t ms) { ticks_ += ms * 10000; }
  void Set(uint64_t ticks) { ticks_ = ticks; }
  RcLocalRecorder::Clock Fn() {
    return [this] { return ticks_.load(); };
  }

 private:
  std::atomic<uint64_t> ticks_{0};
};

class RecordingSink : public EngineEvents {
 public:
  void OnRecordFileCreateError() override { create_errors++; }
  void OnRecordFileWriteError() override { write_errors++; }
  void OnPlaybackFrame(const uint8_t* data, uint32_t length, const ChannelDisplayState& ch,
                       const RecTime& time, uint8_t state) override {
    std::lock_guard lock(mu);
    events.push_back({true, data[0], length, ch, time, state, std::chrono::steady_clock::now()});
  }
  void OnPlaybackAudio(const uint8_t* data, uint32_t length) override {
    std::lock_guard lock(mu);
    events.push_back({false, data[0], length, {}, {}, 0, std::chrono::steady_clock::now()});
  }
  struct Event {
    bool video;
    uint8_t first;
    std::size_t length;
    ChannelDisplayState channels;
    RecTime time;
    uint8_t state;
    std::chrono::steady_clock::time_point at;
  };
  std::size_t Count() {
    std::lock_guard lock(mu);
    return events.size();
  }
  std::mutex mu;
  std::vector<Event> events;
  std::atomic<int> create_errors{0}, write_errors{0};
};

ChannelDisplayState Soft13() {
  ChannelDisplayState s;
  s.channel[0] = 1;
  s.channel[2] = 1;
  return s;
}

// --- Recorder -------------------------------------------------------------

TEST(LocalRecorder, WritesExactFormatAndPlaysBackWithTiming) {
  rdtest::TempDir dir;
  FakeClock clock;
  clock.Set(0xFFFFFF00ull);  // the low 32 bits wrap during the recording
  RecordingSink sink;
  RcLocalRecorder rec(&sink);
  rec.SetDirectory(dir.path());
  rec.SetClock(clock.Fn());
  ASSERT_EQ(rec.Start(1), 0);
  EXPECT_EQ(rec.Start(1), RcLocalRecorder::kAlreadyRunning);

  const ChannelDisplayState soft = Soft13();
  const RecTime t1{26, 12, 9, 23, 59, 58}, t2{26, 12, 9, 23, 59, 59};
  Bytes v1(3000, 0x11), audio(4000, 0xA5), v2(2500, 0x22);
  rec.AddVideo(v1.data(), v1.size(), &soft, t1);
  clock.AdvanceMs(30);
  rec.AddAudio(audio.data(), audio.size());
  clock.AdvanceMs(40);
  rec.AddVideo(v2.data(), v2.size(), nullptr, t2);
  clock.AdvanceMs(12);
  rec.AddAudio(audio.data(), audio.size());
  ASSERT_EQ(rec.Stop(), 0);
  EXPECT_EQ(rec.Stop(), RcLocalRecorder::kNotRunning);

  ASSERT_EQ(rec.Files().size(), 1u);
  const auto path = rec.Files()[0];
  EXPECT_EQ(path.parent_path(), dir.path());
  EXPECT_EQ(path.extension(), ".mys");
  Bytes file = rdtest::ReadFile(path);
  MysFileHeader fh = HeaderOf(file);
  EXPECT_EQ(fh.magic, kMysFileMagic);
  EXPECT_EQ(fh.length, file.size());
  EXPECT_EQ(fh.length, 28u + 4 * 28 + 3000 + 4000 + 2500 + 4000);
  EXPECT_EQ(fh.count, 4u);
  EXPECT_EQ(fh.first, t1);
  EXPECT_EQ(fh.last, RecTime{}) << "the last record written was audio";
  EXPECT_EQ(fh.flags, 0x85) << "PAL, channels 1 and 3 in a software quad";
  EXPECT_EQ(file[21] | file[22] | file[23], 0);

  auto recs = RecordsOf(file);
  ASSERT_EQ(recs.size(), 4u);
  struct Want {
    uint32_t magic, millis, prev, length;
    uint8_t seq, state;
  } want[] = {{kMysVideoMagic, 0, 0, 3000, 0, 0x05},
              {kMysAudioMagic, 30, 3000, 4000, 0, 0},
              {kMysVideoMagic, 40, 4000, 2500, 1, 0},
              {kMysAudioMagic, 12, 2500, 4000, 0, 0}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(recs[i].header.magic, want[i].magic);
    EXPECT_EQ(recs[i].header.millis, want[i].millis);
    EXPECT_EQ(recs[i].header.prev_length, want[i].prev);
    EXPECT_EQ(recs[i].header.length, want[i].length);
    EXPECT_EQ(recs[i].header.sequence, want[i].seq);
    EXPECT_EQ(recs[i].header.state, want[i].state);
  }
  EXPECT_EQ(recs[0].header.time, t1);
  EXPECT_EQ(recs[1].header.time, RecTime{});
  EXPECT_EQ(recs[2].data, v2);
  EXPECT_EQ(recs[3].data, audio);

  // Round trip through the player, paced by the recorded intervals.
  RcLocalPlayer player(&sink);
  ASSERT_EQ(player.Open(path.string()), 0);
  EXPECT_EQ(player.GetVideoStandard(), 1);
  EXPECT_FALSE(player.HeaderWasRepaired());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(player.Start(), 0);
  EXPECT_EQ(player.Start(), RcLocalPlayer::kAlreadyRunning);
  ASSERT_TRUE(rdtest::WaitFor([&] { return player.GetState() == RcLocalPlayer::kPause; }));
  ASSERT_EQ(player.Stop(), 0);
  EXPECT_EQ(player.Stop(), RcLocalPlayer::kNotRunning);
  // Forward play pauses before the last record of the file.
  ASSERT_EQ(sink.events.size(), 3u);
  EXPECT_TRUE(sink.events[0].video);
  EXPECT_EQ(sink.events[0].first, 0x11);
  EXPECT_EQ(sink.events[0].channels, soft);
  EXPECT_EQ(sink.events[0].time, t1);
  EXPECT_EQ(sink.events[0].state, 16);
  EXPECT_FALSE(sink.events[1].video);
  EXPECT_EQ(sink.events[1].length, 4000u);
  EXPECT_EQ(sink.events[1].first, 0xA5);
  EXPECT_TRUE(sink.events[2].video);
  EXPECT_EQ(sink.events[2].channels, ChannelDisplayState{});
  // Audio after 30 ms is held 22 ms, the next video 32 ms: at least 54 ms in all.
  EXPECT_GE(sink.events[2].at - started, std::chrono::milliseconds(54));
  EXPECT_GE(sink.events[2].at - sink.events[1].at, std::chrono::milliseconds(32));
}

TEST(LocalRecorder, RecordingThatStartsWithAudioHasZeroFirstTime) {
  rdtest::TempDir dir;
  RcLocalRecorder rec;
  rec.SetDirectory(dir.path());
  ASSERT_EQ(rec.Start(0), 0);
  Bytes audio(4000, 1), video(500, 2);
  rec.AddAudio(audio.data(), audio.size());
  rec.AddVideo(video.data(), video.size(), nullptr, RecTime{5, 1, 2, 3, 4, 5});
  ASSERT_EQ(rec.Stop(), 0);
  MysFileHeader fh = HeaderOf(rdtest::ReadFile(rec.Files().at(0)));
  EXPECT_EQ(fh.first, RecTime{});
  EXPECT_EQ(fh.last, (RecTime{5, 1, 2, 3, 4, 5}));
  EXPECT_EQ(fh.flags, 0x00);
  EXPECT_EQ(fh.count, 2u);
}

TEST(LocalRecorder, RollsOverIntoNewFilesThatKeepChannelBits) {
  rdtest::TempDir dir;
  RcLocalRecorder rec;
  rec.SetDirectory(dir.path());
  rec.SetRollOverBytes(10000);
  ASSERT_EQ(rec.Start(1), 0);
  ChannelDisplayState ch2;
  ch2.channel[1] = 1;
  ChannelDisplayState quad;
  quad.quad = 1;
  Bytes video(4000, 7);
  rec.AddVideo(video.data(), video.size(), &ch2, RecTime{1, 1, 1, 0, 0, 1});
  rec.AddVideo(video.data(), video.size(), &ch2, RecTime{1, 1, 1, 0, 0, 2});
  rec.AddVideo(video.data(), video.size(), &ch2, RecTime{1, 1, 1, 0, 0, 3});  // passes 10000
  rec.AddVideo(video.data(), video.size(), &quad, RecTime{1, 1, 1, 0, 0, 4});
  ASSERT_EQ(rec.Stop(), 0);

  auto files = rec.Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_NE(files[0], files[1]) << "files created within one second get distinct names";
  Bytes a = rdtest::ReadFile(files[0]), b = rdtest::ReadFile(files[1]);
  MysFileHeader ha = HeaderOf(a), hb = HeaderOf(b);
  EXPECT_EQ(ha.count, 3u);
  EXPECT_EQ(ha.length, a.size());
  EXPECT_EQ(ha.last, (RecTime{1, 1, 1, 0, 0, 3}));
  EXPECT_EQ(ha.flags, 0x82);
  EXPECT_EQ(hb.count, 1u);
  EXPECT_EQ(hb.length, b.size());
  EXPECT_EQ(hb.first, (RecTime{1, 1, 1, 0, 0, 4}));
  EXPECT_EQ(hb.flags, 0x92) << "a continuing file keeps the bits seen so far";
  // The record chain continues across the files.
  auto rb = RecordsOf(b);
  ASSERT_EQ(rb.size(), 1u);
  EXPECT_EQ(rb[0].header.sequence, 3);
  EXPECT_EQ(rb[0].header.prev_length, 4000u);
}

TEST(LocalRecorder, NeverOverwritesAFileOfTheSameSecond) {
  rdtest::TempDir dir;
  // Occupy the names of this second and the next ones.
  std::time_t now = std::time(nullptr);
  std::vector<std::filesystem::path> taken;
  for (int s = 0; s < 3; ++s) {
    std::time_t t = now + s;
    std::tm local{};
    localtime_r(&t, &local);
    auto p = dir / MysFileName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec);
    rdtest::WriteFile(p, Bytes{'k', 'e', 'e', 'p'});
    taken.push_back(p);
  }
  RcLocalRecorder rec;
  rec.SetDirectory(dir.path());
  ASSERT_EQ(rec.Start(0), 0);
  Bytes video(100, 1);
  rec.AddVideo(video.data(), video.size(), nullptr, RecTime{});
  ASSERT_EQ(rec.Stop(), 0);
  for (const auto& p : taken) EXPECT_EQ(rdtest::ReadFile(p), (Bytes{'k', 'e', 'e', 'p'}));
  ASSERT_EQ(rec.Files().size(), 1u);
  EXPECT_NE(rec.Files()[0].stem().string().find("_1"), std::string::npos) << rec.Files()[0];
  EXPECT_EQ(HeaderOf(rdtest::ReadFile(rec.Files()[0])).count, 1u);
}

TEST(LocalRecorder, FullRingLosesRecordsButKeepsTheChainConsistent) {
  rdtest::TempDir dir;
  RcLocalRecorder rec;
  rec.SetDirectory(dir.path());
  ASSERT_EQ(rec.Start(0), 0);
  const int kAdded = 300;
  for (int i = 0; i < kAdded; ++i) {
    Bytes video(50 + i % 7, static_cast<uint8_t>(i));
    rec.AddVideo(video.data(), video.size(), nullptr, RecTime{});
  }
  ASSERT_EQ(rec.Stop(), 0);
  EXPECT_GT(rec.LostRecords(), 0u) << "the writer drains one record per 2 ms";
  auto recs = RecordsOf(rdtest::ReadFile(rec.Files().at(0)));
  EXPECT_EQ(recs.size() + rec.LostRecords(), static_cast<std::size_t>(kAdded));
  for (std::size_t i = 1; i < recs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(recs[i].header.prev_length, recs[i - 1].header.length);
    EXPECT_EQ(recs[i].header.sequence, static_cast<uint8_t>(i));
  }
}

TEST(LocalRecorder, CreationFailureRaisesItsEventAndEndsTheRecording) {
  rdtest::TempDir dir;
  rdtest::WriteFile(dir / "file", Bytes{1});
  RecordingSink sink;
  RcLocalRecorder rec(&sink);
  rec.SetDirectory(dir / "file");  // a file where the folder should be
  ASSERT_EQ(rec.Start(0), 0);
  Bytes video(100, 1);
  rec.AddVideo(video.data(), video.size(), nullptr, RecTime{});
  ASSERT_TRUE(rdtest::WaitFor([&] { return sink.create_errors.load() == 1; }));
  ASSERT_TRUE(rdtest::WaitFor([&] { return !rec.IsRunning(); }));
  EXPECT_EQ(sink.write_errors.load(), 0);
  EXPECT_EQ(rec.Stop(), RcLocalRecorder::kNotRunning);
  rec.SetDirectory(dir / "ok");
  EXPECT_EQ(rec.Start(0), 0) << "a recorder ended by an error starts again";
  EXPECT_EQ(rec.Stop(), 0);
}

// Records into `dir` with a 64 KiB file-size limit; the exit code tells the
// outcome (0: exactly one write-error event, no create error, recording ended).
[[noreturn]] void RecordIntoFullDisk(const std::filesystem::path& dir) {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  RecordingSink sink;
  RcLocalRecorder rec(&sink);
  rec.SetDirectory(dir);
  if (rec.Start(0) != 0) std::_Exit(2);
  Bytes video(10000, 7);
  for (int i = 0; i < 20 && rec.IsRunning(); ++i) {
    rec.AddVideo(video.data(), video.size(), nullptr, RecTime{});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!rdtest::WaitFor([&] { return sink.write_errors.load() >= 1 && !rec.IsRunning(); }))
    std::_Exit(3);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::_Exit(sink.write_errors.load() == 1 && sink.create_errors.load() == 0 ? 0 : 4);
}

TEST(LocalRecorderDeathTest, WriteFailureRaisesItsEventOnceAndEndsTheRecording) {
  // A full disk, made by a file-size limit in a child process of its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  rdtest::TempDir dir;
  EXPECT_EXIT(RecordIntoFullDisk(dir.path()), ::testing::ExitedWithCode(0), "");
}

// --- Player ---------------------------------------------------------------

TEST(LocalPlayer, OpenErrors) {
  rdtest::TempDir dir;
  RcLocalPlayer p;
  EXPECT_EQ(p.Open((dir / "missing.mys").string()), RcLocalPlayer::kOpenFailed);
  rdtest::WriteFile(dir / "short.mys", Bytes(10, 0));
  EXPECT_EQ(p.Open((dir / "short.mys").string()), RcLocalPlayer::kHeaderReadFailed);
  rdtest::WriteFile(dir / "other.mys", Bytes(100, 0x42));
  EXPECT_EQ(p.Open((dir / "other.mys").string()), RcLocalPlayer::kHeaderReadFailed);
  EXPECT_EQ(p.GetState(), RcLocalPlayer::kNoFile);
  EXPECT_EQ(p.GetVideoStandard(), 0);
  EXPECT_EQ(p.Start(), 0);
  EXPECT_EQ(p.Stop(), 0) << "a reader without a file idles until stopped";
}

TEST(LocalPlayer, StateCommandsCycle) {
  rdtest::TempDir dir;
  rdtest::WriteFile(dir / "a.mys", BuildMys(Videos(3), 0x80));
  RcLocalPlayer p;
  p.FasterForward();
  EXPECT_EQ(p.GetState(), 0) << "no file: not a local-play state";
  ASSERT_EQ(p.Open((dir / "a.mys").string()), 0);
  EXPECT_EQ(p.GetState(), 16);
  EXPECT_EQ(p.GetVideoStandard(), 1);
  std::vector<int> seen;
  for (int i = 0; i < 6; ++i) {
    p.FasterForward();
    seen.push_back(p.GetState());
  }
  EXPECT_EQ(seen, (std::vector<int>{18, 19, 20, 21, 22, 18}));
  seen.clear();
  for (int i = 0; i < 6; ++i) {
    p.FasterBackward();
    seen.push_back(p.GetState());
  }
  EXPECT_EQ(seen, (std::vector<int>{23, 24, 25, 26, 27, 23}));
  p.PausePlay();
  EXPECT_EQ(p.GetState(), 17);
  p.FasterForward();
  EXPECT_EQ(p.GetState(), 18);
  p.ResumePlay();
  EXPECT_EQ(p.GetState(), 16);
  p.Close();
  EXPECT_EQ(p.GetState(), 0);
  EXPECT_EQ(p.GetVideoStandard(), 0);
}

// Every fast state, from the start (forward) or the end (backward) of a file of
// 200 video records: the records shown and where it pauses.
struct SkipCase {
  uint8_t state;
  int skip;
  int stride;  // distance between shown records
};

class LocalPlayerSkip : public ::testing::TestWithParam<SkipCase> {};

TEST_P(LocalPlayerSkip, ShowsEveryNthRecordAndPausesAtTheEnd) {
  const SkipCase c = GetParam();
  EXPECT_EQ(RcLocalPlayer::SkipCount(c.state), c.skip);
  rdtest::TempDir dir;
  rdtest::WriteFile(dir / "v.mys", BuildMys(Videos(200)));
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "v.mys").string()), 0);
  const bool backward = c.state >= 23;
  if (backward) {
    // Play forward to the pause before the last record, then show record 198.
    ASSERT_EQ(ShownUntilPause(p).size(), 199u);
    p.SetState(c.state);
  } else {
    ASSERT_EQ(p.ReadNext(), 16);  // record 0 shown at normal speed
    p.SetState(c.state);
  }
  std::vector<int> shown = ShownUntilPause(p);
  ASSERT_FALSE(shown.empty());
  int from = backward ? 198 : 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    int want = backward ? from - c.stride * static_cast<int>(i + 1)
                        : from + c.stride * static_cast<int>(i + 1);
    ASSERT_EQ(shown[i], want) << "at " << i;
  }
  EXPECT_EQ(p.GetState(), RcLocalPlayer::kPause);
  // Pausing happens when the next shown record would pass the end.
  int last = shown.back();
  if (backward) {
    EXPECT_GE(last, 1);
    EXPECT_LE(last - c.stride, 0) << "paused before passing record 1";
  } else
    EXPECT_GT(last + c.stride, 198) << "paused before the last record";
}

INSTANTIATE_TEST_SUITE_P(States, LocalPlayerSkip,
                         ::testing::Values(SkipCase{18, 2, 3}, SkipCase{19, 4, 5},
                                           SkipCase{20, 8, 9}, SkipCase{21, 16, 17},
                                           SkipCase{22, 32, 33}, SkipCase{23, 6, 5},
                                           SkipCase{24, 8, 7}, SkipCase{25, 12, 11},
                                           SkipCase{26, 20, 19}, SkipCase{27, 36, 35}),
                         [](const auto& info) {
                           return "State" + std::to_string(info.param.state);
                         });

TEST(LocalPlayer, FastForwardPassesAudioWithoutCountingIt) {
  rdtest::TempDir dir;
  std::vector<Rec> recs{{true, 0}, {false, 0xAA}, {true, 1}, {true, 2},
                        {true, 3}, {true, 4},     {true, 5}};
  rdtest::WriteFile(dir / "m.mys", BuildMys(recs));
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "m.mys").string()), 0);
  ASSERT_EQ(p.ReadNext(), 16);
  EXPECT_EQ(p.Data()[0], 0);
  p.SetState(18);
  ASSERT_EQ(p.ReadNext(), 18);
  EXPECT_EQ(p.Data()[0], 3);
}

TEST(LocalPlayer, RewindFromRecordSixShowsRecordOne) {
  rdtest::TempDir dir;
  rdtest::WriteFile(dir / "v.mys", BuildMys(Videos(10)));
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "v.mys").string()), 0);
  for (int i = 0; i <= 6; ++i) ASSERT_EQ(p.ReadNext(), 16);
  ASSERT_EQ(p.Data()[0], 6);
  p.SetState(23);
  ASSERT_EQ(p.ReadNext(), 23);
  EXPECT_EQ(p.Data()[0], 1);
  EXPECT_EQ(p.ReadNext(), RcLocalPlayer::kPause);
}

TEST(LocalPlayer, EndsPauseAtOnce) {
  rdtest::TempDir dir;
  rdtest::WriteFile(dir / "one.mys", BuildMys(Videos(1)));
  rdtest::WriteFile(dir / "v.mys", BuildMys(Videos(5)));
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "one.mys").string()), 0);
  EXPECT_EQ(p.ReadNext(), RcLocalPlayer::kPause) << "a file of one record";
  EXPECT_EQ(p.GetState(), 17);
  ASSERT_EQ(p.Open((dir / "v.mys").string()), 0);
  p.FasterBackward();
  EXPECT_EQ(p.ReadNext(), RcLocalPlayer::kPause) << "rewind at the start";
  EXPECT_EQ(p.Index(), 0u);
}

TEST(LocalPlayer, PauseDuringFastForwardKeepsThePosition) {
  rdtest::TempDir dir;
  std::vector<Rec> recs = Videos(20);
  recs.insert(recs.begin() + 8, Rec{false, 0xEE});
  rdtest::WriteFile(dir / "v.mys", BuildMys(recs));
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "v.mys").string()), 0);
  p.SetState(18);
  ASSERT_EQ(p.ReadNext(), 18);
  ASSERT_EQ(p.Data()[0], 2);
  ASSERT_EQ(p.ReadNext(), 18);
  ASSERT_EQ(p.Data()[0], 5);
  p.PausePlay();
  EXPECT_EQ(p.ReadNext(), RcLocalPlayer::kPause);
  p.ResumePlay();
  ASSERT_EQ(p.ReadNext(), 16);
  EXPECT_EQ(p.Data()[0], 6);
  ASSERT_EQ(p.ReadNext(), 16);
  EXPECT_EQ(p.Data()[0], 7);
  EXPECT_EQ(p.ReadNext(), RcLocalPlayer::kAudioRecord) << "normal speed plays audio";
  EXPECT_EQ(p.Data()[0], 0xEE);
}

TEST(LocalPlayer, UnfinishedHeaderStillPlaysToTheEnd) {
  rdtest::TempDir dir;
  std::vector<Rec> recs = Videos(6);
  recs.insert(recs.begin() + 2, Rec{false, 0xAB});
  Bytes file = BuildMys(recs, 0x80, /*finished=*/false);
  // The writer was killed in the middle of a record.
  Bytes partial = BuildMys(Videos(1));
  file.insert(file.end(), partial.begin() + 28, partial.begin() + 28 + 40);
  rdtest::WriteFile(dir / "killed.mys", file);
  ASSERT_EQ(MysFileHeader::Read(file.data()).length, 28u);

  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "killed.mys").string()), 0);
  EXPECT_TRUE(p.HeaderWasRepaired());
  EXPECT_EQ(p.RecordCount(), 7u);
  EXPECT_EQ(p.GetVideoStandard(), 1);
  EXPECT_EQ(ShownUntilPause(p), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(LocalPlayer, RecordedWithTheRecorderThenKilledStillPlays) {
  rdtest::TempDir dir;
  RcLocalRecorder rec;
  rec.SetDirectory(dir.path());
  ASSERT_EQ(rec.Start(0), 0);
  for (int i = 0; i < 4; ++i) {
    Bytes video(300, static_cast<uint8_t>(i));
    rec.AddVideo(video.data(), video.size(), nullptr, RecTime{});
  }
  ASSERT_EQ(rec.Stop(), 0);
  Bytes file = rdtest::ReadFile(rec.Files().at(0));
  MysFileHeader fh = HeaderOf(file);
  fh.length = 28;
  fh.count = 0;
  fh.Write(file.data());  // as it was at creation
  rdtest::WriteFile(dir / "k.mys", file);
  RcLocalPlayer p;
  ASSERT_EQ(p.Open((dir / "k.mys").string()), 0);
  EXPECT_EQ(p.RecordCount(), 4u);
  EXPECT_EQ(ShownUntilPause(p), (std::vector<int>{0, 1, 2}));
}

TEST(LocalPlayer, StopWakesAReaderInALongRecordedPause) {
  rdtest::TempDir dir;
  std::vector<Rec> recs{{true, 0, 0}, {true, 1, 600000}, {true, 2, 0}};
  rdtest::WriteFile(dir / "slow.mys", BuildMys(recs));
  RecordingSink sink;
  RcLocalPlayer p(&sink);
  ASSERT_EQ(p.Open((dir / "slow.mys").string()), 0);
  ASSERT_EQ(p.Start(), 0);
  ASSERT_TRUE(rdtest::WaitFor([&] { return sink.Count() >= 1; }));
  ASSERT_TRUE(rdtest::WaitFor([&] { return p.Index() >= 2; }));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(p.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  p.Close();
  EXPECT_EQ(p.GetState(), 0);
}

}  // namespace
}  // namespace rd
