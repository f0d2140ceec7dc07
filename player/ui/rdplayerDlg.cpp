#include "player/ui/rdplayerDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "platform/MessageBox.h"
#include "player/ui/PlayerPictures.h"
#include "player/ui/SelectHdd.h"
#include "player/ui/Wait.h"
#include "player/ui/rdplayerDlgLayout.h"
#include "player/ui/rdplayerIds.h"
#include "ui/CompressorDialog.h"
#include "ui/Pictures.h"
#include "ui/UiFonts.h"

namespace rd::player {

using namespace ids;

namespace {

const char kCaption[] = "Movira 4.8 English Version";
const char kSaveAvi[] = "Save as AVI";
const char kStopAvi[] = "Stop Saving";
constexpr int kPositionSteps = 1'000'000;  // the position control's resolution at most

void Box(const std::string& text) {
  ShowMessage("", text, MessageIcon::kExclamation);
}

// The position over the recorded span: a click jumps to where it was made,
// a drag when it is let go, the keys and the wheel at once. Only the user's
// actions move playback (a position shown by the window does not).
class SeekSlider : public QSlider {
 public:
  explicit SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
    connect(this, &QSlider::sliderReleased, this, [this] { Seek(sliderPosition()); });
    connect(this, &QSlider::actionTriggered, this, [this](int action) {
      if (action != SliderNoAction && action != SliderMove)
        QTimer::singleShot(0, this, [this] { Seek(value()); });
    });
  }
  std::function<void(int)> on_seek;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && !HandleRect().contains(event->pos())) {
      const int v = QStyle::sliderValueFromPosition(
          minimum(), maximum(), static_cast<int>(event->position().x()), width());
      setValue(v);
      Seek(v);
      event->accept();
      return;
    }
    QSlider::mousePressEvent(event);
  }

 private:
  QRect HandleRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  }
  void Seek(int v) {
    if (on_seek) on_seek(v);
  }
};

}  // namespace

// ---------------------------------------------------------------- dialogs

void PlayerDialogs::Wait(QWidget* parent, const std::function<void()>& work) {
  WaitDialog::RunWhile(parent, work);
}

std::optional<int> PlayerDialogs::SelectHdd(QWidget* parent, const DiskTable& table) {
  SelectHddDialog dialog(parent, table);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.drive();
}

std::optional<RecTime> PlayerDialogs::SearchTime(QWidget* parent,
                                                 const std::optional<RecordingSpan>& span,
                                                 const SearchTimeDialog::EventSource& events) {
  SearchTimeDialog dialog(parent, span, events);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.time();
}

// ---------------------------------------------------------------- engine view

// The engine's reports, from its threads, queued to the window; Present
// comes from the repaint tick on the user-interface thread.
class RdplayerDlg::EngineView : public QObject, public PlaybackView {
 public:
  explicit EngineView(RdplayerDlg& window) : window_(window) {}

  void ShowTime(const std::string& text) override {
    Queue([this, t = QString::fromStdString(text)] { window_.controls_.SetText(kTime, t); });
  }
  void EnableChannelButtons(bool enabled) override {
    Queue([this, enabled] {
      window_.enabled_.SetChannelButtons(enabled);
      if (window_.engine_ && window_.engine_->selected_channel() == 5)
        if (auto* all = window_.controls_.Button(kAll)) all->setChecked(true);
      window_.Apply();
    });
  }
  void DisableTransport(unsigned buttons) override {
    Queue([this, buttons] {
      window_.enabled_.EngineDisabled(buttons);
      window_.Apply();
    });
  }
  void ShowMessage(const std::string& text) override {
    Queue([this, text] {
      if (!window_.closing_) Box(text);
    });
  }
  void Present(const QImage& picture) override { window_.video_->Present(picture); }

 private:
  void Queue(std::function<void()> f) {
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
  }
  RdplayerDlg& window_;
};

// ---------------------------------------------------------------- set-up

RdplayerDlg::RdplayerDlg(Options options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      timers_(this, [this](int id) { OnTimer(id); }),
      disk_(options_.opener) {
  if (options_.dialogs == nullptr) {
    own_dialogs_ = std::make_unique<PlayerDialogs>();
    options_.dialogs = own_dialogs_.get();
  }
  if (options_.files == nullptr) {
    own_files_ = std::make_unique<ui::QtFileChooser>();
    options_.files = own_files_.get();
  }
  if (options_.compressors == nullptr) {
    own_compressors_ = std::make_unique<ui::DialogCompressorChooser>(this);
    options_.compressors = own_compressors_.get();
  }
  disk_.set_box_text_sink([](const std::string& text) { Box(text); });
  disk_.SetNetworkVersion(options_.network);
  BuildWindow();
  SetUpEngine();
}

RdplayerDlg::~RdplayerDlg() {
  if (!closed_) Teardown();
}

void RdplayerDlg::BuildWindow() {
  setObjectName(QStringLiteral("rdplayer"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(ui::AppIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(ui::DialogFont());

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  SeekSlider* slider = nullptr;
  controls_.Build(client_, MainWindowControls(), du,
                  [&](const ui::ControlEntry& c, QWidget* parent) -> QWidget* {
                    if (c.id == kPosition) {
                      slider = new SeekSlider(parent);
                      return slider;
                    }
                    video_ = new ui::VideoWidget(parent);
                    return video_;
                  });
  slider->on_seek = [this](int v) { SeekTo(v); };
  slider->setToolTip(QStringLiteral("Position"));
  ui::SetLayoutInfo(this, client_, du);
  const QSize size = du.Size(kWindowWidth, kWindowHeight);
  client_->setGeometry(QRect(QPoint(0, 0), size));
  setFixedSize(size);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect avail = screen->availableGeometry();
    move(avail.center() - QPoint(width() / 2, height() / 2));
  }

  // Pictures on the picture buttons; the text stays the tooltip and name.
  for (const ui::ControlEntry& c : MainWindowControls()) {
    if (c.kind != ui::ControlKind::kPictureButton && c.kind != ui::ControlKind::kPushRadio)
      continue;
    auto* b = controls_.Button(c.id);
    const QSize picture = b->size() - QSize(6, 6);
    const QImage img = ButtonPicture(c.id, picture);
    if (img.isNull()) continue;
    b->setText(QString());
    b->setIcon(QPixmap::fromImage(img));
    b->setIconSize(picture);
    b->setToolTip(QString::fromUtf8(c.text));
  }
  controls_.Get<QCheckBox>(kNetwork)->setChecked(options_.network);
  speed_caption_ = QStringLiteral(">> 1X");
  SetSpeedPicture();
  SetAviButton();
  ShowMarks();

  for (const ui::ControlEntry& c : MainWindowControls()) {
    if (auto* b = controls_.Button(c.id); b != nullptr && c.id != kNetwork) {
      if (auto* push = qobject_cast<QPushButton*>(b)) {
        push->setAutoDefault(false);
        push->setDefault(false);
      }
      const int id = c.id;
      connect(b, &QAbstractButton::clicked, this, [this, id] { Press(id); });
    }
  }
  connect(controls_.Get<QCheckBox>(kNetwork), &QCheckBox::clicked, this,
          [this](bool checked) { disk_.SetNetworkVersion(checked); });

  // Keys.
  struct Key {
    QKeySequence keys;
    int id;
  };
  const Key keys[] = {
      {QKeySequence(Qt::Key_Right), kNextFrame},
      {QKeySequence(Qt::Key_Left), kPreviousFrame},
      {QKeySequence(Qt::SHIFT | Qt::Key_Left), kReverse},
      {QKeySequence(Qt::Key_1), kChannel[0]},
      {QKeySequence(Qt::Key_2), kChannel[1]},
      {QKeySequence(Qt::Key_3), kChannel[2]},
      {QKeySequence(Qt::Key_4), kChannel[3]},
      {QKeySequence(Qt::Key_0), kAll},
      {QKeySequence(Qt::Key_Plus), kSpeed},
      {QKeySequence(Qt::Key_Equal), kSpeed},
      {QKeySequence(Qt::CTRL | Qt::Key_F), kSearch},
      {QKeySequence(Qt::CTRL | Qt::Key_S), kCapture},
  };
  for (const Key& k : keys) {
    auto* s = new QShortcut(k.keys, this);
    const int id = k.id;
    connect(s, &QShortcut::activated, this, [this, id] {
      const bool channel = id == kAll || std::find(std::begin(kChannel), std::end(kChannel), id) !=
                                             std::end(kChannel);
      if (channel && enabled_.enabled(id)) controls_.Button(id)->setChecked(true);
      Press(id);
    });
  }
  // Space: pause a running play, go on after a pause, else play.
  auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
  connect(space, &QShortcut::activated, this, [this] {
    if (!engine_) return;
    const auto mode = engine_->play_mode();
    const bool running = (mode == PlaybackEngine::PlayMode::kForward ||
                          mode == PlaybackEngine::PlayMode::kReverse) &&
                         !engine_->step_hold();
    Press(running || paused_ ? kPause : kPlay);
  });
  // Minus: the speed before (four steps of the cycle of five).
  auto* slower = new QShortcut(QKeySequence(Qt::Key_Minus), this);
  connect(slower, &QShortcut::activated, this, [this] {
    for (int i = 0; i < 4; ++i) Press(kSpeed);
  });
  auto* full_screen = new QShortcut(QKeySequence(Qt::Key_F11), this);
  connect(full_screen, &QShortcut::activated, this, [this] { video_->ToggleFullScreen(); });
  Apply();
}

void RdplayerDlg::SetUpEngine() {
  view_ = std::make_unique<EngineView>(*this);
  PlaybackAudioSink* audio = options_.audio;
  if (audio == nullptr) {
    audio_.Open(8000, 16, nullptr);  // no device: the sound is left out
    audio_sink_ = std::make_unique<AudioOutputSink>(audio_);
    audio = audio_sink_.get();
  }
  PlaybackTrace* trace = options_.trace;
  if (trace == nullptr) {
    std::string error;
    own_trace_ = TraceFile::FromEnvironment(&error);
    if (!error.empty()) std::fprintf(stderr, "rdplayer: %s\n", error.c_str());
    trace = own_trace_.get();
  }
  PlaybackEngine::Options o;
  o.view = view_.get();
  o.audio = audio;
  o.trace = trace;
  o.opener = options_.opener;
  engine_ = std::make_unique<PlaybackEngine>(o);
  switch (engine_->Start()) {
    case PlaybackEngine::SetUp::kOk:
      break;
    case PlaybackEngine::SetUp::kLoadThreadFailed:
      Box("Load File Thread Creation Failed");
      return;
    case PlaybackEngine::SetUp::kImageThreadFailed:
      Box("Image Process Thread Creation Failed");
      return;
    case PlaybackEngine::SetUp::kNoGuiApplication:
    case PlaybackEngine::SetUp::kDecoderFailed:
      Box("The picture decoder cannot be set up");
      return;
  }
  timers_.Start(kTimerAudio, kAudioTickMs);
  timers_.Start(kTimerRepaint, kRepaintTickMs);
}

QSlider* RdplayerDlg::Position() const {
  return controls_.Slider(kPosition);
}

void RdplayerDlg::Apply() {
  for (const auto& [id, on] : enabled_.all()) controls_.SetEnabled(id, on);
}

void RdplayerDlg::SetSpeedPicture() {
  auto* b = controls_.Button(kSpeed);
  const QSize picture = b->size() - QSize(6, 6);
  b->setText(QString());
  b->setIcon(QPixmap::fromImage(SpeedPicture(speed_caption_, picture)));
  b->setIconSize(picture);
  b->setAccessibleName(speed_caption_);
}

void RdplayerDlg::SetAviButton() {
  auto* b = controls_.Button(kAvi);
  const QSize picture = b->size() - QSize(6, 6);
  b->setText(QString());
  b->setIcon(QPixmap::fromImage(AviPicture(avi_recording_, picture)));
  b->setIconSize(picture);
  const QString tip = QString::fromUtf8(avi_recording_ ? kStopAvi : kSaveAvi);
  b->setToolTip(tip);
  b->setAccessibleName(tip);
}

void RdplayerDlg::ShowMarks() {
  auto text = [](const std::optional<Mark>& m) {
    return m ? QString::fromStdString(m->time.Format()) : QStringLiteral("--");
  };
  controls_.SetText(kMarks,
                    QStringLiteral("In: %1   Out: %2").arg(text(mark_in_), text(mark_out_)));
  controls_.Widget(kMarks)->setAccessibleName(QStringLiteral("Clip marks"));
}

void RdplayerDlg::OnTimer(int id) {
  if (!engine_) return;
  if (id == kTimerAudio) {
    engine_->AudioTick();
  } else if (id == kTimerRepaint) {
    engine_->RepaintTick();
    if (avi_recording_) NoteAviFrames();
    UpdatePosition();
  }
}

// ---------------------------------------------------------------- position

void RdplayerDlg::UpdatePosition() {
  QSlider* slider = Position();
  if (!disk_open_ || slider->isSliderDown()) return;
  const auto drawn = engine_->last_drawn();
  if (!drawn) return;
  const RecordingSpan& s = disk_open_->span;
  const uint64_t packets = s.packet_count;
  if (packets == 0) return;
  const uint64_t p = drawn->packet_position / kPacketSize;
  const uint64_t offset = (p + packets - s.first_packet % packets) % packets;
  const int value =
      static_cast<int>(std::min<uint64_t>(offset / position_scale_, slider->maximum()));
  if (slider->value() != value) {
    const QSignalBlocker block(slider);
    slider->setValue(value);
  }
}

void RdplayerDlg::SeekTo(int value) {
  if (!disk_open_ || !enabled_.enabled(kPosition)) return;
  const RecordingSpan& s = disk_open_->span;
  if (s.packet_count == 0) return;
  const uint64_t offset = static_cast<uint64_t>(std::max(0, value)) * position_scale_;
  const uint64_t packet = (s.first_packet + offset) % s.packet_count;
  StartAt(packet * kPacketSize);
}

// Playback from a found position, in the way it went before: on in the same
// direction, or one frame shown when it was paused, stopped or stepping.
void RdplayerDlg::StartAt(uint64_t position) {
  const auto mode = engine_->play_mode();
  const bool stepping = engine_->step_hold();
  engine_->PlayFrom(position);
  position_value_ = position / kChunkBytes;
  if (mode == PlaybackEngine::PlayMode::kReverse && !stepping) {
    engine_->Reverse();
  } else if (mode != PlaybackEngine::PlayMode::kForward || stepping) {
    engine_->StepForward();
  }
  enabled_.Found();
  Apply();
}

// ---------------------------------------------------------------- commands

void RdplayerDlg::Press(int id) {
  if (closing_ || !engine_ || !enabled_.enabled(id)) return;
  for (int c = 0; c < 4; ++c)
    if (id == kChannel[c]) engine_->SelectChannel(c + 1);
  switch (id) {
    case kAll:
      engine_->SelectChannel(5);
      break;
    case kPreviousFrame:
      engine_->StepBackward();
      break;
    case kReverse:
      engine_->Reverse();
      break;
    case kPause:
      engine_->Pause();
      break;
    case kPlay:
      engine_->Play();
      break;
    case kNextFrame:
      engine_->StepForward();
      break;
    case kStop:
      engine_->Stop();
      break;
    case kSpeed:
      engine_->CycleSpeed();
      speed_caption_ = QString::fromStdString(engine_->speed_caption());
      SetSpeedPicture();
      break;
    case kSearch:
      Search();
      break;
    case kHdd:
      OpenHdd();
      break;
    case kOpenImage:
      OpenImageCommand();
      break;
    case kCapture:
      Capture();
      break;
    case kAvi:
      ToggleAvi();
      break;
    case kPreviousEvent:
    case kNextEvent:
      JumpToEvent(id == kNextEvent);
      break;
    case kMarkIn:
    case kMarkOut:
      SetMark(id == kMarkIn);
      break;
    case kExportClip:
      ExportClip();
      break;
    default:
      break;
  }
  if (closing_) return;
  if (id == kPause) {
    paused_ = engine_->play_mode() == PlaybackEngine::PlayMode::kStopped;
  } else if (id != kSpeed && id != kAll &&
             std::find(std::begin(kChannel), std::end(kChannel), id) == std::end(kChannel)) {
    paused_ = false;
  }
  enabled_.Pressed(id);
  Apply();
}

// ---------------------------------------------------------------- disk flows

void RdplayerDlg::OpenHdd() {
  engine_->Stop();
  if (!scanned_) {
    std::string error;
    drives_ = options_.drives ? *options_.drives : DriveMap::FromEnvironment(&error);
    if (!error.empty()) std::fprintf(stderr, "rdplayer: %s\n", error.c_str());
    ++busy_;
    options_.dialogs->Wait(this, [this] { disk_.Scan(*drives_); });
    --busy_;
    scanned_ = true;
    ++scans_;
  }
  if (closing_) return;
  const DiskTable& table = disk_.disk_table();
  if (std::all_of(table.begin() + 1, table.end(), [](uint64_t m) { return m == 0; })) {
    Box("No DVR HDD");
    return;
  }
  const auto drive = options_.dialogs->SelectHdd(this, table);
  if (!drive || closing_ || *drive < 1 || *drive >= kDriveCount) return;
  const auto path = drives_->PathOf(*drive);
  const uint64_t marker = table[static_cast<std::size_t>(*drive)];
  if (!path || marker == 0) return;
  OpenChosen(*path, marker, std::nullopt);
}

void RdplayerDlg::OpenImageCommand() {
  const QString path = options_.files->OpenFileName(
      this, QStringLiteral("DVR disk images (*.img *.dd *.raw *.bin);;All files (*)"), QString(),
      QString());
  if (path.isEmpty() || closing_) return;
  OpenPath(path.toStdString());
}

void RdplayerDlg::OpenDrive(int drive, std::optional<RecTime> time) {
  std::string error;
  if (!drives_) drives_ = options_.drives ? *options_.drives : DriveMap::FromEnvironment(&error);
  const auto path = drives_->PathOf(drive);
  if (!path) {
    ShowMessage("",
                "Drive " + std::to_string(drive) + " does not exist" +
                    (error.empty() ? std::string() : " (" + error + ")"),
                MessageIcon::kStop);
    return;
  }
  OpenPath(*path, time);
}

void RdplayerDlg::OpenPath(const std::string& path, std::optional<RecTime> time) {
  if (closing_ || !engine_) return;
  engine_->Stop();
  std::string error;
  if (!options_.opener(path, &error)) {
    ShowMessage("", "Cannot open " + error, MessageIcon::kStop);
    return;
  }
  if (!disk_.DetectDvrDisk(path)) {
    Box("No DVR HDD");
    return;
  }
  OpenChosen(path, disk_.marker_sector(), time);
}

// A disk without a recording: nothing plays, every playback button is off.
void RdplayerDlg::NoDisk(const std::string& path, const char* message) {
  engine_->OpenDisk(PlaybackDisk{path, 0, {}});
  engine_->Stop();
  disk_open_.reset();
  enabled_.NoData();
  Apply();
  Box(message);
}

void RdplayerDlg::OpenChosen(const std::string& path, uint64_t marker,
                             std::optional<RecTime> time) {
  // The pipeline stops and the playback buttons go off until the disk is read.
  enabled_.NoData();
  Apply();
  mark_in_.reset();
  mark_out_.reset();
  ShowMarks();
  const bool network = controls_.Get<QCheckBox>(kNetwork)->isChecked();
  disk_.set_device_path(path);
  const auto area = AreaSectors(marker, network ? DiskLayout::kNetwork : DiskLayout::kStandard);
  if (!area) return NoDisk(path, "No Data");
  const auto present = disk_.DataPresent(marker);
  if (!present) return NoDisk(path, "READ HDD Error");
  if (!*present) return NoDisk(path, "No Data");
  RecordingIndex index(disk_, marker, *area);
  RecordingSpan span;
  switch (index.ReadSpan(&span)) {
    case SpanResult::kOk:
      break;
    case SpanResult::kNoData:
      return NoDisk(path, "No Data");
    case SpanResult::kReadError:
      return NoDisk(path, "READ HDD Error");
  }
  OpenDisk open{path, marker, *area, network, span, {}};
  if (auto events = index.ListEventRecords()) {
    open.events = std::move(*events);
    std::stable_sort(open.events.begin(), open.events.end(),
                     [](const DiskEvent& a, const DiskEvent& b) {
                       return TimeToSeconds(a.start) < TimeToSeconds(b.start);
                     });
  }
  engine_->OpenDisk(PlaybackDisk{path, *area * kSectorSize, span}, position_value_);
  disk_open_ = std::move(open);

  // The position control over the recorded packets.
  const uint64_t recorded = span.status.wrapped ? span.packet_count : span.status.next_packet;
  position_scale_ = std::max<uint64_t>(1, (recorded + kPositionSteps - 1) / kPositionSteps);
  QSlider* slider = Position();
  {
    const QSignalBlocker block(slider);
    slider->setRange(0, static_cast<int>(recorded > 0 ? (recorded - 1) / position_scale_ : 0));
    slider->setPageStep(std::max(1, slider->maximum() / 20));
    slider->setValue(0);
  }
  controls_.SetText(kTime, QStringLiteral("TIME"));
  enabled_.DiskOpened(!disk_open_->events.empty());
  Apply();

  const auto target = time ? time : AskTime();
  if (!target || closing_) return;
  uint64_t position = 0;
  if (!FindPosition(*target, &position)) {
    Box("It's not found !");
    return;
  }
  engine_->PlayFrom(position);
  position_value_ = position / kChunkBytes;
  enabled_.Found();
  Apply();
}

std::optional<RecTime> RdplayerDlg::AskTime() {
  if (!disk_open_) return std::nullopt;
  const std::vector<DiskEvent> events = [&] {
    RecordingIndex index(disk_, disk_open_->marker, disk_open_->area_sectors);
    auto list = index.ListEventRecords();
    return list ? *list : std::vector<DiskEvent>{};
  }();
  return options_.dialogs->SearchTime(this, disk_open_->span, [events] { return events; });
}

bool RdplayerDlg::FindPosition(const RecTime& time, uint64_t* position) {
  if (!disk_open_) return false;
  disk_.set_device_path(disk_open_->path);
  RecordingIndex index(disk_, disk_open_->marker, disk_open_->area_sectors);
  return index.FindTime(time, disk_open_->span, position);
}

void RdplayerDlg::Search() {
  engine_->Stop();
  const auto target = AskTime();
  if (!target || closing_) return;
  uint64_t position = 0;
  if (!FindPosition(*target, &position)) {
    Box("It's not found !");
    return;
  }
  engine_->PlayFrom(position);
  position_value_ = position / kChunkBytes;
  enabled_.Found();
  Apply();
}

void RdplayerDlg::JumpToEvent(bool next) {
  if (!disk_open_ || disk_open_->events.empty()) return;
  const auto drawn = engine_->last_drawn();
  const int64_t now = drawn ? TimeToSeconds(drawn->time) : TimeToSeconds(disk_open_->span.start);
  // Previous: the event begun more than two seconds ago (so that a press at
  // the start of an event goes on to the one before).
  const DiskEvent* chosen = nullptr;
  for (const DiskEvent& e : disk_open_->events) {
    const int64_t t = TimeToSeconds(e.start);
    if (next && t > now + 1) {
      chosen = &e;
      break;
    }
    if (!next && t < now - 2) chosen = &e;
  }
  if (chosen == nullptr) return;
  uint64_t position = 0;
  if (!FindPosition(chosen->start, &position)) {
    Box("It's not found !");
    return;
  }
  StartAt(position);
}

// ---------------------------------------------------------------- closing

void RdplayerDlg::reject() {
  // Esc (and a dialog's reject) does not close the player; only the close
  // command does.
  if (closing_) QDialog::reject();
}

void RdplayerDlg::closeEvent(QCloseEvent* event) {
  CloseWindow();
  if (closed_) {
    event->accept();
  } else {
    event->ignore();  // once the dialogs over it are gone
  }
}

void RdplayerDlg::CloseWindow() {
  if (closed_) return;
  closing_ = true;
  export_cancel_ = true;
  // Dialogs over the window (a question, a file dialog, a message box) end
  // first, and the work under a nested loop (the drive scan, a clip export)
  // finishes; the code that opened them sees closing_ and returns.
  QWidget* modal = QApplication::activeModalWidget();
  if (Busy() || (modal != nullptr && modal != this)) {
    if (auto* d = qobject_cast<QDialog*>(modal); d != nullptr && d != this && !Busy()) d->done(0);
    QTimer::singleShot(10, this, [this] { CloseWindow(); });
    return;
  }
  Teardown();
  closed_ = true;
  QDialog::done(QDialog::Rejected);
}

// Timers first, then a running AVI is finished, then the engine's threads
// are stopped and joined, then the sound device closes.
void RdplayerDlg::Teardown() {
  closing_ = true;
  timers_.StopAll();
  if (avi_recording_) FinishAvi();
  engine_.reset();
  audio_.Close();
  if (video_ != nullptr && video_->IsFullScreen()) video_->ToggleFullScreen();
  closed_ = true;
}

}  // namespace rd::player
