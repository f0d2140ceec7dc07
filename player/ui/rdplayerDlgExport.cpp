// The main window's exports: the captured bitmap, the screen AVI, the clip
// export from the recorded data, and the report beside each of them.

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <filesystem>
#include <thread>

#include "platform/MessageBox.h"
#include "player/playback/ClipExport.h"
#include "player/playback/ExportReport.h"
#include "player/ui/rdplayerDlg.h"
#include "player/ui/rdplayerIds.h"
#include "rd/Version.h"

namespace rd::player {

using namespace ids;

namespace {

std::string ProgramName() {
  return std::string("rdplayer ") + kVersion;
}

std::string ChannelsOf(int selected) {
  return selected == 5 ? "all" : "CH" + std::to_string(selected);
}

}  // namespace

void RdplayerDlg::WriteReport(const std::string& kind, const std::vector<std::string>& files,
                              const std::optional<Mark>& first, const std::optional<Mark>& last,
                              uint64_t frames, uint64_t audio_packets, const std::string& note,
                              const std::string& report_path) {
  ExportReport r;
  r.kind = kind;
  r.program = ProgramName();
  const std::optional<OpenDisk>& disk = kind == "screen AVI" ? avi_span_.disk : disk_open_;
  if (disk) {
    r.source = disk->path;
    r.network_layout = disk->network;
    r.marker_sector = disk->marker;
    r.area_sectors = disk->area_sectors;
  } else {
    r.source = "none (no disk open)";
  }
  if (engine_) r.channels = ChannelsOf(engine_->selected_channel());
  if (first) {
    r.first_packet = first->packet_position;
    r.first_time = first->time;
  }
  if (last) {
    r.last_packet = last->packet_position;
    r.last_time = last->time;
  }
  r.frames = frames;
  r.audio_packets = audio_packets;
  r.note = note;
  r.files = files;
  std::string error;
  if (WriteExportReport(r, report_path, &error)) {
    last_report_ = report_path;
  } else {
    ShowMessage("", error, MessageIcon::kExclamation);
  }
}

// ---------------------------------------------------------------- capture

void RdplayerDlg::Capture() {
  engine_->SetHold(true);
  const QString path = options_.files->SaveFileName(this, QStringLiteral("bmp Files (*.bmp)"),
                                                    QStringLiteral("bmp"), QString());
  if (!path.isEmpty() && !closing_) {
    const std::string file = path.toStdString();
    const auto drawn = engine_->last_drawn();
    if (engine_->SaveBitmap(file) == kBmpOk) {
      std::optional<Mark> frame;
      if (drawn) frame = Mark{drawn->time, drawn->packet_position};
      WriteReport("bitmap capture", {file}, frame, frame, 1, 0,
                  "the picture on the screen with its time stamp", ReportPathFor(file));
    } else {
      ShowMessage("", "Cannot write " + file, MessageIcon::kStop);
    }
  }
  engine_->SetHold(false);
}

// ---------------------------------------------------------------- screen AVI

void RdplayerDlg::ToggleAvi() {
  engine_->SetHold(true);
  if (!avi_recording_) {
    const QString path = options_.files->SaveFileName(this, QStringLiteral("Avi Files (*.avi)"),
                                                      QStringLiteral("avi"), last_avi_path_);
    if (path.isEmpty() || closing_) {
      engine_->SetHold(false);
      return;
    }
    last_avi_path_ = path;
    avi_.SetCompressorChooser(options_.compressors);
    const int code =
        avi_.Create(path.toStdString(), 24, PlaybackEngine::kWidth, PlaybackEngine::kHeight,
                    BitmapInfoHeader::Make24(PlaybackEngine::kWidth, PlaybackEngine::kHeight));
    if (code != kAviOk || closing_) {
      if (code == kAviOk) avi_.Close();
      if (AviFailureToTell(code) && !closing_)
        ShowMessage(
            "Save As AVI",
            "Cannot create the AVI file " + path.toStdString() + ":\n" + avi_.FailureReason(code),
            MessageIcon::kStop);
      engine_->SetHold(false);
      return;
    }
    avi_recording_ = true;
    avi_span_ = AviSpan{};
    avi_span_.disk = disk_open_;
    if (const auto drawn = engine_->last_drawn()) avi_span_.seen_count = drawn->count;
    engine_->SetAviSink(&avi_sink_);
    SetAviButton();
  } else {
    FinishAvi();
  }
  engine_->SetHold(false);
}

// The frames drawn while the screen is recorded, for the report.
void RdplayerDlg::NoteAviFrames() {
  const auto drawn = engine_->last_drawn();
  if (!drawn || drawn->count == avi_span_.seen_count) return;
  const Mark m{drawn->time, drawn->packet_position};
  if (!avi_span_.first) avi_span_.first = m;
  avi_span_.last = m;
  avi_span_.drawn += drawn->count - avi_span_.seen_count;
  avi_span_.seen_count = drawn->count;
}

void RdplayerDlg::FinishAvi() {
  if (engine_) {
    engine_->SetAviSink(nullptr);
    NoteAviFrames();
  }
  avi_recording_ = false;
  const std::string path = avi_.Path();
  const int64_t frames = avi_.FramesWritten();
  const int64_t audio = avi_.NextAudioSample() / kAviAudioBlockSamples;
  avi_.Release();
  avi_.Close();  // the file complete on disk (or removed when it got no frame)
  SetAviButton();
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return;
  WriteReport("screen AVI", {path}, avi_span_.first, avi_span_.last, static_cast<uint64_t>(frames),
              static_cast<uint64_t>(audio),
              "the screen at its 33 ms refresh; " + std::to_string(avi_span_.drawn) +
                  " recorded frames were drawn while it ran",
              ReportPathFor(path));
}

// ---------------------------------------------------------------- clip export

void RdplayerDlg::SetMark(bool in) {
  const auto drawn = engine_->last_drawn();
  if (!drawn) return;
  (in ? mark_in_ : mark_out_) = Mark{drawn->time, drawn->packet_position};
  ShowMarks();
  enabled_.SetMarks(mark_in_ && mark_out_);
}

void RdplayerDlg::ExportClip() {
  if (!disk_open_ || !mark_in_ || !mark_out_) return;
  // From the earlier mark to the end of the later one's second.
  Mark from = *mark_in_, to = *mark_out_;
  if (TimeToSeconds(to.time) < TimeToSeconds(from.time)) std::swap(from, to);
  const QString preset = last_clip_path_.isEmpty() ? QStringLiteral("clip.avi") : last_clip_path_;
  const QString path = options_.files->SaveFileName(this, QStringLiteral("Avi Files (*.avi)"),
                                                    QStringLiteral("avi"), preset);
  if (path.isEmpty() || closing_) return;
  last_clip_path_ = path;
  ClipJob job;
  if (!options_.compressors->Choose(ListAviVideoCompressors(), PlaybackEngine::kWidth,
                                    PlaybackEngine::kHeight, &job.compressor) ||
      closing_)
    return;
  const OpenDisk& disk = *disk_open_;
  job.device_path = disk.path;
  job.ring =
      RecordingRing(disk.area_sectors * kSectorSize,
                    uint64_t{disk.span.status.next_packet} * kPacketSize, disk.span.status.wrapped);
  job.start_position = from.packet_position;
  job.lead_in_bytes = kChunkBytes;  // so the clip begins at the marked frame
  job.to = to.time;
  job.channel = engine_->selected_channel();
  job.avi_file = path.toStdString();
  job.opener = options_.opener;

  // The export runs on a worker; the window shows its progress meanwhile.
  engine_->SetHold(true);
  const int seconds =
      std::max<int>(1, static_cast<int>(TimeToSeconds(to.time) - TimeToSeconds(from.time) + 1));
  QProgressDialog progress(QStringLiteral("Exporting the clip..."), QStringLiteral("Cancel"), 0,
                           seconds, this);
  progress.setWindowTitle(QStringLiteral("Export Clip"));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  export_cancel_ = false;
  std::atomic<uint64_t> frames{0};
  std::atomic<uint32_t> at_seconds{TimeToSeconds(from.time)};
  connect(&progress, &QProgressDialog::canceled, this, [this] { export_cancel_ = true; });
  QEventLoop loop;
  ClipResult result;
  ++busy_;
  std::thread worker([&] {
    result = rd::ExportClip(job, [&](const ClipProgress& p) {
      frames = p.frames;
      at_seconds = TimeToSeconds(p.time);
      return !export_cancel_.load();
    });
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer tick;
  connect(&tick, &QTimer::timeout, this, [&] {
    progress.setValue(std::clamp<int>(
        static_cast<int>(at_seconds.load() - TimeToSeconds(from.time)), 0, seconds));
    progress.setLabelText(QStringLiteral("Exporting the clip: %1 frames").arg(frames.load()));
  });
  tick.start(100);
  progress.show();
  loop.exec();
  worker.join();
  --busy_;
  tick.stop();
  progress.hide();
  if (engine_) engine_->SetHold(false);

  using Outcome = ClipResult::Outcome;
  switch (result.outcome) {
    case Outcome::kDone:
    case Outcome::kReadFailed:
      break;
    case Outcome::kCancelled:
      return;
    default:
      if (!closing_)
        ShowMessage("", "The clip cannot be written: " + result.error, MessageIcon::kStop);
      return;
  }
  std::optional<Mark> first, last;
  if (result.first_packet && result.first_time)
    first = Mark{*result.first_time, *result.first_packet};
  if (result.last_packet && result.last_time) last = Mark{*result.last_time, *result.last_packet};
  if (!result.files.empty()) {
    WriteReport("clip AVI", result.files, first, last, result.frames, result.audio_packets,
                result.outcome == Outcome::kReadFailed
                    ? "incomplete: " + result.error
                    : "the recorded frames from mark in to mark out, at the recording's rate",
                ReportPathFor(job.avi_file.value()));
  }
  if (result.outcome == Outcome::kReadFailed && !closing_)
    ShowMessage("", "READ HDD Error", MessageIcon::kExclamation);
}

}  // namespace rd::player
