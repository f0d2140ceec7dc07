#include "tools/dvrdisk/DiskPlay.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>

#include "player/playback/PlaybackSinks.h"
#include "shared/audio/AudioOutput.h"
#include "shared/avi/AviWriter.h"
#include "shared/still/BmpFile.h"
#include "tools/dvrdisk/DvrDiskTool.h"

namespace rd::dvrdisk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRepaintEvery = std::chrono::milliseconds(33);
constexpr auto kAudioEvery = std::chrono::milliseconds(500);
// A step that shows nothing for this long has nothing left to show.
constexpr auto kStepGiveUp = std::chrono::seconds(5);

// The window's part: messages to standard error; the loop is woken by them.
class ToolView : public PlaybackView {
 public:
  explicit ToolView(std::ostream& err) : err_(err) {}
  void ShowMessage(const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      err_ << "dvrdisk: " << text << "\n";
      ++messages_;
    }
    wake_.notify_all();
  }
  void DisableTransport(unsigned) override { wake_.notify_all(); }
  // Waits until `until` or a message or the end of the recording.
  void WaitUntil(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, until);
  }

 private:
  std::ostream& err_;
  std::mutex mutex_;
  std::condition_variable wake_;
  int messages_ = 0;
};

// Qt's own notes (a missing runtime folder, fonts) are not the tool's to
// report; what goes wrong in Qt for real still does.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "dvrdisk: %s\n", text.toLocal8Bit().constData());
}

// The engine draws text: a GUI application without a screen is enough.
std::unique_ptr<QGuiApplication> MakeGuiApplication() {
  if (QGuiApplication::instance() != nullptr) return nullptr;
  qInstallMessageHandler(QuietQtMessages);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "dvrdisk";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

int RunPlay(const PlayJob& job, PlayResult* result, std::ostream& err) {
  *result = PlayResult{};
  const auto app = MakeGuiApplication();

  std::unique_ptr<TraceFile> trace;
  std::string trace_error;
  trace = job.trace_file ? TraceFile::Create(*job.trace_file, &trace_error)
                         : TraceFile::FromEnvironment(&trace_error);
  if (!trace && !trace_error.empty()) {
    err << "dvrdisk: " << trace_error << "\n";
    return kExitFailed;
  }

  AudioOutput audio;
  audio.Open(8000, 16, nullptr);  // no device: the sound is left out
  AudioOutputSink audio_sink(audio);

  ToolView view(err);
  PlaybackEngine::Options options;
  options.view = &view;
  options.audio = &audio_sink;
  options.trace = trace.get();
  PlaybackEngine engine(options);
  if (engine.Start() != PlaybackEngine::SetUp::kOk) {
    err << "dvrdisk: the playback engine cannot be set up\n";
    return kExitFailed;
  }

  AviWriter avi;
  FixedCompressorChooser chooser(CompressorOptions{job.codec, 0, 0});
  AviWriterSink avi_sink(avi);
  if (job.avi_file) {
    avi.SetCompressorChooser(&chooser);
    const int code =
        avi.Create(*job.avi_file, 24, PlaybackEngine::kWidth, PlaybackEngine::kHeight,
                   BitmapInfoHeader::Make24(PlaybackEngine::kWidth, PlaybackEngine::kHeight));
    if (code != kAviOk) {
      err << "dvrdisk: cannot create the AVI file " << *job.avi_file << ": "
          << avi.FailureReason(code) << "\n";
      return kExitFailed;
    }
    engine.SetAviSink(&avi_sink);
  }

  engine.OpenDisk(job.disk);
  while (engine.speed_caption() != ">> " + std::to_string(job.speed) + "X") engine.CycleSpeed();
  engine.SelectChannel(job.channel);
  engine.PlayFrom(job.start_position);
  const auto step = [&] { job.reverse ? engine.StepBackward() : engine.StepForward(); };
  // With steps: the frame at the found position, then one more per step.
  int commands_left = job.steps ? *job.steps + 1 : 0;
  bool stepping = false;
  uint64_t shown_before_step = 0;
  const auto start = Clock::now();
  auto step_since = start;
  if (job.steps) {
    step();
    --commands_left;
    stepping = true;
  } else if (job.reverse) {
    engine.Reverse();
  }

  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(job.seconds));
  auto next_repaint = start;
  auto next_audio = start + kAudioEvery;
  for (;;) {
    const auto now = Clock::now();
    const auto stats = engine.stats();
    if (stats.ended || stats.read_errors > 0 || stats.open_errors > 0 || now >= end) break;
    if (stepping) {
      if (stats.frames_shown > shown_before_step) {
        stepping = false;
        if (shown_before_step > 0) ++result->steps_done;
      } else if (now - step_since > kStepGiveUp) {
        break;  // nothing more to show that way
      }
    }
    if (job.steps && !stepping) {
      if (commands_left == 0) break;
      shown_before_step = stats.frames_shown;
      step_since = now;
      stepping = true;
      --commands_left;
      step();
    }
    if (now >= next_repaint) {
      engine.RepaintTick();
      next_repaint += kRepaintEvery;
    }
    if (now >= next_audio) {
      engine.AudioTick();
      next_audio += kAudioEvery;
    }
    view.WaitUntil(std::min({next_repaint, next_audio, end}));
  }
  engine.Stop();
  engine.RepaintTick();

  int status = kExitOk;
  const int saved = job.snapshot ? engine.SaveBitmap(*job.snapshot) : kBmpOk;
  if (saved != kBmpOk) {
    err << "dvrdisk: cannot write " << *job.snapshot << ": " << BmpResultText(saved) << "\n";
    status = kExitFailed;
  }
  if (job.avi_file) {
    engine.SetAviSink(nullptr);
    avi.Release();
    avi.Close();
  }
  result->stats = engine.stats();
  result->time_text = engine.time_text();
  if (result->stats.open_errors > 0) status = kExitNoDevice;
  if (result->stats.read_errors > 0) status = kExitFailed;
  return status;
}

}  // namespace rd::dvrdisk
