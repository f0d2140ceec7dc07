#pragma once
// The end-to-end tests' tools: programs found on PATH, a child process, a
// virtual X display (Xvfb), the RD_UI_LOG window lines, and driving the
// display with xdotool and ImageMagick's import.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QPoint>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace rd::client::e2e {

using namespace std::chrono_literals;

inline std::optional<std::string> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream ss(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(ss, dir, ':');) {
    const std::string p = dir + "/" + name;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return std::nullopt;
}

// A child process; killed and reaped by the destructor if still running.
// `work_dir`: its current directory (empty: this process's).
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& work_dir = {}) {
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    std::vector<std::string> all_env = env;
    for (char** p = environ; *p != nullptr; ++p) {
      const std::string kv = *p;
      bool overridden = false;
      for (const auto& o : env)
        overridden |= kv.substr(0, kv.find('=')) == o.substr(0, o.find('='));
      if (!overridden) all_env.push_back(kv);
    }
    for (const auto& s : all_env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (!work_dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, work_dir.c_str());
    if (::posix_spawn(&pid_, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // Waits for the exit; the exit status, or -1 when it did not end in time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

// Xvfb on a free display number (it reports the number on a pipe).
class VirtualDisplay {
 public:
  explicit VirtualDisplay(const std::string& xvfb) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    std::vector<std::string> argv = {xvfb,        "-displayfd", std::to_string(fds[1]),
                                     "-screen",   "0",          "1280x1024x24",
                                     "-nolisten", "tcp"};
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, a[0], &fa, nullptr, a.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    std::string number;
    char c;
    while (pid_ > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct WindowLine {
  int x = 0, y = 0, bx = 0, by = 0;
};

// The first "window open" line of a window with this caption.
inline std::optional<WindowLine> WindowOpened(const std::filesystem::path& log,
                                              const std::string& caption = "Tessaro 6.4") {
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    const std::string prefix = "window\topen\t" + caption + "\t";
    if (line.rfind(prefix, 0) != 0) continue;
    WindowLine w;
    const std::string rest = line.substr(prefix.size());
    if (std::sscanf(rest.c_str(), "%d,%d\t%d,%d", &w.x, &w.y, &w.bx, &w.by) == 4) return w;
  }
  return std::nullopt;
}

inline bool LogHas(const std::filesystem::path& log, const std::string& prefix) {
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

inline bool NotBlack(const QColor& c) {
  return c.red() + c.green() + c.blue() > 60;
}

// ImageMagick and xdotool on a display.
class DisplayDriver {
 public:
  DisplayDriver(std::string display, std::string import, std::string xdotool)
      : display_(std::move(display)), import_(std::move(import)), xdotool_(std::move(xdotool)) {}
  // The whole screen, also saved as `png`; a null image when it failed.
  QImage Shot(const std::string& png) const {
    QImage img;
    if (Run(import_ + " -window root " + png + " 2>/dev/null"))
      img.load(QString::fromStdString(png));
    return img;
  }
  bool Click(QPoint p) const {
    return Run(xdotool_ + " mousemove " + std::to_string(p.x()) + " " + std::to_string(p.y()) +
               " click 1");
  }
  bool Type(const std::string& text) const {
    return Run(xdotool_ + " type --delay 20 '" + text + "'");
  }
  bool Key(const std::string& key) const { return Run(xdotool_ + " key " + key); }

 private:
  bool Run(const std::string& command) const {
    return std::system(("DISPLAY=" + display_ + " " + command).c_str()) == 0;
  }
  std::string display_, import_, xdotool_;
};

}  // namespace rd::client::e2e
