// rdplayer end to end: the real program on a virtual X display (Xvfb) with a
// make-disk image, opened with --time. The engine's trace shows three
// seconds of frames in order from the searched time; after a pause (Space)
// a screenshot of the four-channel view matches, quadrant by quadrant,
// `dvrdisk export`'s pictures of the frames the trace says are shown; the
// window closes with exit status 56 within two seconds, paused, stepping and
// recording an AVI (whose file and report are complete).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PlayerFixture.h"
#include "player/disk/RecordingIndex.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"

extern char** environ;

namespace rd::player {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> Program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(ss, dir, ':');)
    if (::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return std::nullopt;
}

// A process of the test: reaped (killed first if it still runs) at the end.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          bool quiet = false) {
    std::vector<std::string> all = env;
    for (char** p = environ; *p != nullptr; ++p) all.emplace_back(*p);
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : all) e.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (quiet) posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Process() {
    if (pid_ > 0 && !done_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status, or -1 when it has not ended by the deadline.
  int Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        done_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < end);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
};

// Xvfb on a display number it picks itself.
class Display {
 public:
  explicit Display(const std::string& xvfb) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    process_ = std::make_unique<Process>(
        std::vector<std::string>{xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 "1280x1024x24", "-nolisten", "tcp"},
        std::vector<std::string>{}, true);
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~Display() {
    if (process_ && process_->pid() > 0) {
      ::kill(process_->pid(), SIGTERM);
      process_->Wait(5s);
    }
  }
  const std::string& name() const { return name_; }
  // Runs a command with DISPLAY set; true when it succeeded.
  bool Run(const std::string& command) const {
    return std::system(("DISPLAY=" + name_ + " " + command + " >/dev/null 2>&1").c_str()) == 0;
  }

 private:
  std::unique_ptr<Process> process_;
  std::string name_;
};

struct TraceLine {
  int64_t ms = 0;
  uint64_t chunk = 0;
  int index = 0;
  int channel = 0;
  RecTime time;
  std::string shown;
};

std::vector<TraceLine> ReadTrace(const std::filesystem::path& file) {
  std::vector<TraceLine> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    TraceLine t;
    char full[16], shown[16];
    int y, mo, d, h, mi, s;
    unsigned long long chunk;
    if (std::sscanf(line.c_str(), "%lld\t%llu\t%d\t%d\t%15s\t%d/%d/%d %d:%d:%d\t%15s",
                    reinterpret_cast<long long*>(&t.ms), &chunk, &t.index, &t.channel, full, &y,
                    &mo, &d, &h, &mi, &s, shown) != 12)
      continue;
    t.chunk = chunk;
    t.time =
        RecTime{static_cast<uint8_t>(y - 2000), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
                static_cast<uint8_t>(h),        static_cast<uint8_t>(mi), static_cast<uint8_t>(s)};
    t.shown = shown;
    lines.push_back(t);
  }
  return lines;
}

struct WindowPlace {
  int x = 0, y = 0, bx = 0, by = 0;
};

std::optional<WindowPlace> Opened(const std::filesystem::path& log, const std::string& caption) {
  std::ifstream in(log);
  const std::string prefix = "window\topen\t" + caption + "\t";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    WindowPlace w;
    if (std::sscanf(line.c_str() + prefix.size(), "%d,%d\t%d,%d", &w.x, &w.y, &w.bx, &w.by) == 4)
      return w;
  }
  return std::nullopt;
}

// Mean absolute difference of two pictures of the same size over the pixels
// outside `skip` (0..255 per colour).
double MeanDifference(const QImage& a, const QImage& b, const QRect& skip) {
  double sum = 0;
  int64_t n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      if (skip.contains(x, y)) continue;
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
      n += 3;
    }
  return n > 0 ? sum / n : 255;
}

class PlayerEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb = Program("Xvfb");
    xdotool = Program("xdotool");
    import = Program("import");
    if (!xvfb || !xdotool || !import)
      GTEST_SKIP() << "Xvfb, xdotool and ImageMagick's import are needed (setup.sh)";
    display = std::make_unique<Display>(*xvfb);
    ASSERT_FALSE(display->name().empty()) << "Xvfb did not start";
  }
  // Starts the player on the image at `time`; waits for its window.
  void Start(const std::string& time) {
    player = std::make_unique<Process>(
        std::vector<std::string>{std::string(RD_BINARY_DIR) + "/bin/rdplayer",
                                 rdtest::Images().image, "--time", time},
        std::vector<std::string>{"DISPLAY=" + display->name(), "QT_QPA_PLATFORM=xcb",
                                 "RD_AUDIO_DEVICE=null", "RD_UI_LOG=" + (dir / "ui.log").string(),
                                 "RD_PLAYER_TRACE=" + (dir / "trace.txt").string(),
                                 "LSAN_OPTIONS=suppressions=" + std::string(RD_SOURCE_DIR) +
                                     "/tests/support/lsan.supp"});
    ASSERT_GT(player->pid(), 0);
    ASSERT_TRUE(rdtest::WaitFor(
        [&] { return (place = Opened(dir / "ui.log", "Movira 4.8 English Version")).has_value(); },
        30s));
    du = std::make_unique<ui::DialogUnits>(place->bx, place->by);
  }
  QPoint At(int x, int y) const { return du->Point(x, y) + QPoint(place->x, place->y); }
  void Click(int x, int y) const {
    const QPoint p = At(x, y);
    display->Run(*xdotool + " mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()) +
                 " click 1");
  }
  // Keys to the window (or the dialog) named `name`.
  void Keys(const std::string& name, const std::string& keys, bool type = false) const {
    display->Run(*xdotool + " search --onlyvisible --name '^" + name + "$' windowfocus --sync");
    display->Run(*xdotool + (type ? " type --delay 5 '" : " key ") + keys + (type ? "'" : ""));
  }
  bool WaitForWindow(const std::string& name) const {
    return rdtest::WaitFor(
        [&] { return display->Run(*xdotool + " search --onlyvisible --name '^" + name + "$'"); },
        20s);
  }
  std::vector<TraceLine> Trace() const { return ReadTrace(dir / "trace.txt"); }
  // The trace stands still: nothing more is walked.
  bool TraceSettles() const {
    return rdtest::WaitFor(
        [&] {
          const std::size_t before = Trace().size();
          std::this_thread::sleep_for(300ms);
          return Trace().size() == before;
        },
        20s);
  }
  void CloseWithin2s() {
    ASSERT_EQ(::kill(player->pid(), SIGTERM), 0);
    EXPECT_EQ(player->Wait(2s), 56);
  }

  std::optional<std::string> xvfb, xdotool, import;
  std::unique_ptr<Display> display;
  rdtest::TempDir dir;
  std::unique_ptr<Process> player;
  std::optional<WindowPlace> place;
  std::unique_ptr<ui::DialogUnits> du;
};

TEST_F(PlayerEndToEnd, PlaysFromTheSearchedTimeAndShowsWhatTheExportHolds) {
  const RecTime searched{24, 5, 1, 12, 0, 6};
  Start("24/05/01 12:00:06");
  EXPECT_EQ(place->bx, 6);
  EXPECT_EQ(place->by, 13);
  // Three seconds of play.
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        const auto t = Trace();
        return t.size() > 2 && t.back().ms - t.front().ms >= 3000;
      },
      30s));
  const auto played = Trace();
  EXPECT_LE(std::abs(static_cast<int64_t>(TimeToSeconds(played.front().time)) -
                     static_cast<int64_t>(TimeToSeconds(searched))),
            1);
  for (std::size_t i = 1; i < played.size(); ++i) {
    ASSERT_GE(TimeToSeconds(played[i].time), TimeToSeconds(played[i - 1].time)) << i;
    ASSERT_GE(played[i].ms, played[i - 1].ms) << i;
  }
  EXPECT_GE(TimeToSeconds(played.back().time), TimeToSeconds(searched) + 2)
      << "at the recorded pace";

  // Space pauses; the picture then holds the last frame shown of each channel.
  Keys("Movira 4.8 English Version", "space");
  ASSERT_TRUE(TraceSettles());
  const std::string shot = (dir / "screen.png").string();
  ASSERT_TRUE(display->Run(*import + " -window root " + shot));
  QImage screen;
  ASSERT_TRUE(screen.load(QString::fromStdString(shot)));
  std::map<int, TraceLine> shown;
  for (const TraceLine& t : Trace())
    if (t.shown == "quadrant") shown[t.channel] = t;
  ASSERT_EQ(shown.size(), 4u);
  const QRect video = du->Rect(19, 7, 430, 294).translated(place->x, place->y);
  // The 640 x 436 picture, centred in the video area.
  const QRect picture(video.x() + (video.width() - 640) / 2, video.y() + (video.height() - 436) / 2,
                      640, 436);
  // Compared at half the quadrant's size, so that the fine stripes of a test
  // card do not weigh the two ways of making a half-size picture (the
  // decoder's and a scaled full decode).
  const auto small = [](const QImage& i) {
    return i.scaled(160, 109, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
  };
  // The export's pictures of each channel over the seconds before the
  // frame shown: its best match is the frame on the screen, and every other
  // channel's pictures lie well away from it.
  std::vector<QImage> exported[4];
  for (int c = 0; c < 4; ++c) {
    const RecTime t = shown[c].time;
    const auto back = [&](int seconds) {
      const int64_t s = TimeToSeconds(t) - seconds;
      char text[32];
      std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day,
                    static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60),
                    static_cast<int>(s % 60));
      return std::string(text);
    };
    const auto frames = dir / ("export" + std::to_string(c));
    const std::string command = std::string(RD_BINARY_DIR) + "/bin/dvrdisk export " +
                                rdtest::Images().image + " --from '" + back(3) + "' --to '" +
                                back(0) + "' --channel " + std::to_string(c + 1) + " --bmp " +
                                frames.string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const auto& entry : std::filesystem::directory_iterator(frames)) {
      QImage full;
      if (full.load(QString::fromStdString(entry.path().string())))
        exported[c].push_back(small(full));
    }
    ASSERT_FALSE(exported[c].empty());
  }
  for (int c = 0; c < 4; ++c) {
    const QImage quadrant =
        small(screen.copy(picture.x() + (c % 2) * 320, picture.y() + (c / 2) * 218, 320, 218));
    double best[4] = {255, 255, 255, 255};
    for (int k = 0; k < 4; ++k)
      for (const QImage& e : exported[k])
        best[k] = std::min(best[k], MeanDifference(quadrant, e, QRect(0, 0, 24, 12)));  // the label
    std::printf("CH%d: mean difference %.2f (other channels %.2f %.2f %.2f)\n", c + 1, best[c],
                best[(c + 1) % 4], best[(c + 2) % 4], best[(c + 3) % 4]);
    EXPECT_LT(best[c], 12.0) << "CH" << c + 1 << " at " << shown[c].time.Format() << ", see "
                             << shot;
    for (int k = 0; k < 4; ++k) {
      if (k == c) continue;
      EXPECT_GT(best[k], best[c] + 10) << "CH" << c + 1 << " against CH" << k + 1;
    }
  }
  CloseWithin2s();
}

TEST_F(PlayerEndToEnd, ClosesWithStatus56WhileStepping) {
  Start("24/05/01 12:00:04");
  ASSERT_TRUE(rdtest::WaitFor([&] { return Trace().size() > 10; }, 30s));
  Keys("Movira 4.8 English Version", "Right");
  ASSERT_TRUE(TraceSettles());
  CloseWithin2s();
}

TEST_F(PlayerEndToEnd, ClosesWithStatus56WhileRecordingAnAviAndFinishesIt) {
  Start("24/05/01 12:00:04");
  ASSERT_TRUE(rdtest::WaitFor([&] { return Trace().size() > 10; }, 30s));
  Click(440 + 12, 344 + 10);  // AVI
  ASSERT_TRUE(WaitForWindow("Save As"));
  const std::string avi = (dir / "screen.avi").string();
  Keys("Save As", avi, true);
  Keys("Save As", "Return");
  ASSERT_TRUE(WaitForWindow("Video Compression"));
  Keys("Video Compression", "Return");  // uncompressed
  ASSERT_TRUE(rdtest::WaitFor(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(avi, ec) > 8'000'000 && !ec;
      },
      30s));
  CloseWithin2s();
  const auto bytes = rdtest::ReadFile(avi);
  ASSERT_GT(bytes.size(), 8'000'000u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  // The RIFF size covers the whole file: the muxer finished it.
  const uint32_t riff = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t{bytes[7]} << 24;
  EXPECT_LE(riff + 8u, bytes.size());
  std::ifstream report(avi + ".report.txt");
  std::stringstream text;
  text << report.rdbuf();
  EXPECT_NE(text.str().find("kind: screen AVI"), std::string::npos) << text.str();
}

}  // namespace
}  // namespace rd::player
