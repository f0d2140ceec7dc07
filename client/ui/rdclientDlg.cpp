#include "client/ui/rdclientDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>

#include "client/ui/ConfigFile.h"
#include "client/ui/RcDlgConMgr.h"
#include "client/ui/rdclientDlgLayout.h"
#include "platform/MessageBox.h"
#include "ui/CompressorDialog.h"
#include "ui/Pictures.h"
#include "ui/UiFonts.h"

namespace rd::client {

using namespace ids;

// The video area as the image handler's display target.
class RdclientDlg::VideoTarget : public DisplayTarget {
 public:
  explicit VideoTarget(ui::VideoWidget* widget) : widget_(widget) {}
  void Present(const QImage& picture) override { widget_->Present(picture); }

 private:
  ui::VideoWidget* widget_;
};

namespace {

const char kCaption[] = "Tessaro 6.4";
const char kSaveAvi[] = "Save as AVI";
const char kStopAvi[] = " Stop AVI  ";

struct MenuCommand {
  int id;
  const char* text;
};
constexpr MenuCommand kMenu[] = {{kMenuDvrManagement, "DVR Management"},
                                 {kMenuStatistics, "Statistics"},
                                 {kMenuColourSetup, "Color Setup"},
                                 {kMenuSaveAvi, kSaveAvi},
                                 {kMenuCapture, "Capture"}};

}  // namespace

RdclientDlg::RdclientDlg(Options options, QWidget* parent)
    : QDialog(parent),
      options_(std::move(options)),
      port_([this](uint32_t m, uintptr_t w, intptr_t l) { OnMessage(m, w, l); }),
      timers_(this, [this](int id) { OnTimer(id); }) {
  if (options_.files == nullptr) {
    own_files_ = std::make_unique<ui::QtFileChooser>();
    options_.files = own_files_.get();
  }
  if (options_.compressors == nullptr) {
    own_compressors_ = std::make_unique<ui::DialogCompressorChooser>(this);
    options_.compressors = own_compressors_.get();
  }
  main_.SetPorts(options_.control_port, options_.stream_port);
  BuildWindow();
  Initialise();
}

RdclientDlg::~RdclientDlg() {
  if (!closed_) CloseWindow();
  // Dialogs still alive (a statistics dialog that is forgotten but waits for
  // its deferred delete) go before the control main they use.
  delete dvr_mgr_.data();
  delete stat_.data();
  for (QDialog* d : findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) delete d;
  if (video_->IsFullScreen()) video_->ToggleFullScreen();
  timers_.StopAll();
  main_.UnregisterWindow(&port_);
}

void RdclientDlg::BuildWindow() {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(ui::AppIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(ui::DialogFont());

  menu_ = new QMenuBar(this);
  menu_->setNativeMenuBar(false);
  for (const MenuCommand& m : kMenu) {
    QAction* a = menu_->addAction(QString::fromUtf8(m.text));
    a->setObjectName(QString::number(m.id));
    const int id = m.id;
    connect(a, &QAction::triggered, this, [this, id] { OnMenu(id); });
  }

  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  controls_.Build(client_, MainWindowControls(), du,
                  [this](const ui::ControlEntry&, QWidget* parent) -> QWidget* {
                    video_ = new ui::VideoWidget(parent);
                    return video_;
                  });
  video_target_ = std::make_unique<VideoTarget>(video_);
  ui::SetLayoutInfo(this, client_, du);

  const QSize client_size = du.Size(kWindowWidth, kWindowHeight);
  const int menu_height = menu_->sizeHint().height();
  setMinimumSize(client_size.width(), client_size.height() + menu_height);
  resize(minimumSize());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect avail = screen->availableGeometry();
    move(avail.center() - QPoint(width() / 2, height() / 2));
  }

  connect(static_cast<QPushButton*>(controls_.Widget(kConnect)), &QPushButton::clicked, this,
          &RdclientDlg::OnConnectButton);
  connect(static_cast<QPushButton*>(controls_.Widget(kCloseWindow)), &QPushButton::clicked, this,
          &RdclientDlg::CloseWindow);
  auto* full_screen = new QShortcut(QKeySequence(Qt::Key_F11), this);
  connect(full_screen, &QShortcut::activated, this, [this] { video_->ToggleFullScreen(); });
  SetUpPanels();
  LayOutForSize();
}

void RdclientDlg::Initialise() {
  // 2., 3.
  stream_connected_ = false;
  dvr_control_.Reset();
  stat_ = nullptr;
  stat_shown_ = false;
  dvr_mgr_ = nullptr;
  dvr_mgr_shown_ = false;
  local_mode_ = 0;
  timers_.Start(kTimerLocalStatus, rctick::kSecondMs);
  slow_connect_ = false;
  // 4.
  display_.Reset();
  ApplyDisplay();
  // 5., 6.
  registry_number_ = main_.RegisterWindow(&port_);
  if (!main_.SetDisplayTarget(video_target_.get()))
    ShowMessage("Init Fail", "Client Main Control Init Failed", MessageIcon::kStop);
  // 7., 8.
  channels_present_ = ChannelDisplayState{};
  channels_wanted_ = ChannelDisplayState{};
  SelectChannelLayout(false, true);
  // 9.
  timers_.Start(kTimerRefresh, rctick::kRefreshMs);
  for (int id : kLocalBanners) controls_.SetVisible(id, id == kLocalNotActivated);
  // 10., 11.
  QSlider* slider = controls_.Slider(kVolumeSlider);
  slider->setRange(0, 100);
  slider->setTickInterval(10);
  slider->setPageStep(10);
  volume_position_ = static_cast<uint16_t>(main_.AudioVolume());
  controls_.SetText(kVolumeText, QString::asprintf("%2u %%", unsigned{volume_position_}));
  controls_.Get<QCheckBox>(kMute)->setChecked(!main_.AudioOutputEnabled());
  slider->setValue(100 - volume_position_);
  // 12.
  timers_.Start(kTimerVolume, kVolumePollMs);
  // 13.
  auto* autoadjust = controls_.Get<QCheckBox>(kAutoAdjust);
  autoadjust->setChecked(true);
  autoadjust->setEnabled(false);
  // 14.
  QComboBox* rates = controls_.Combo(kFrameRateList);
  rates->clear();
  rates->addItem(QStringLiteral("Not Connected Yet"));
  rates->setCurrentIndex(0);
  rates->setEnabled(false);
}

QAction* RdclientDlg::MenuAction(int id) const {
  for (QAction* a : menu_->actions())
    if (a->objectName() == QString::number(id)) return a;
  return nullptr;
}

void RdclientDlg::ApplyDisplay() {
  const ConnectionView& v = display_.View();
  controls_.SetText(kStatus, QString::fromStdString(v.status));
  SetConnectButton(QString::fromStdString(v.button));
  controls_.SetEnabled(kCloseWindow, v.close_enabled);
  controls_.SetVisible(kBannerConnected, v.connected_banner);
  controls_.SetVisible(kBannerNotConnected, !v.connected_banner);
}

void RdclientDlg::SetConnectButton(const QString& text) {
  controls_.SetText(kConnect, text);
}

void RdclientDlg::DisableChannelButtons() {
  for (int i = 0; i < 4; ++i) {
    controls_.SetEnabled(kWideChannel[i], false);
    controls_.SetEnabled(kNarrowChannel[i], false);
  }
  controls_.SetEnabled(kWideQuad, false);
  controls_.SetEnabled(kNarrowQuad, false);
}

void RdclientDlg::CloseModelessDialogs() {
  if (stat_) stat_->reject();
  if (dvr_mgr_) dvr_mgr_->reject();
}

// ------------------------------------------------------------------ connect

void RdclientDlg::OnConnectButton() {
  auto* button = static_cast<QPushButton*>(controls_.Widget(kConnect));
  const QString text = button->text();
  CloseModelessDialogs();
  if (text == QStringLiteral("Connect")) {
    const ConfigFile file(options_.config_dir.empty() ? std::filesystem::current_path()
                                                      : std::filesystem::path(options_.config_dir));
    RcDlgConMgr dialog(this, file);
    if (dialog.exec() != QDialog::Accepted) return;
    if (dialog.PasswordText().size() > kPasswordLength) {
      ShowMessage("Password Input Error", "The password should be 6 digits.", MessageIcon::kStop);
      return;
    }
    ConnectTo(dialog.AddressText(), dialog.Digits().data());
    return;
  }
  // Disconnect.
  timers_.Stop(kTimerConnect);
  Teardown(rcevent::kShutdown, 0);
  DisableChannelButtons();
  SetConnectButton(QStringLiteral("Connect"));
  main_.FlushAudio();
  controls_.SetEnabled(kMute, false);
}

void RdclientDlg::ConnectTo(const std::string& address, const uint8_t digits[6]) {
  display_.ConnectCommand();
  ApplyDisplay();
  main_.Connect(address, digits);
}

void RdclientDlg::OnCtrlConnectResult(int error) {
  timers_.Stop(kTimerConnect);
  if (error == 0) {
    timers_.Start(kTimerSecond, rctick::kSecondMs);
    timers_.Start(kTimerDvrStatus, rctick::kSecondMs);
  } else {
    DisableChannelButtons();
    stream_connected_ = false;
    timers_.Stop(kTimerDvrStatus);
    timers_.Stop(kTimerSecond);
    main_.StopLocalRecording();
    controls_.SetEnabled(kLocalRec, false);
  }
  display_.CtrlConnectResult(error);
  ApplyDisplay();
}

void RdclientDlg::OnStreamConnectResult(int error) {
  display_.StreamConnectResult(error);
  ApplyDisplay();
  if (error == 0) {
    stream_connected_ = true;
    controls_.SetEnabled(kLocalRec, true);
    controls_.SetEnabled(kAutoAdjust, true);
    controls_.SetEnabled(kFrameRateList, true);
  } else {
    DisableChannelButtons();
    controls_.SetEnabled(kMute, false);
  }
}

// The same teardown answers every connection event, the Disconnect command
// and closing (code 7, which shows no box).
void RdclientDlg::Teardown(int code, intptr_t param) {
  stream_start_muted_ = false;
  main_.DisconnectStream();
  stream_connected_ = false;
  timers_.Stop(kTimerConnect);
  display_.Teardown();
  ApplyDisplay();
  controls_.SetEnabled(kAutoAdjust, false);
  main_.DisconnectControl();
  ResetDvrDisplay();
  DisableChannelButtons();
  main_.StopLocalRecording();
  controls_.SetEnabled(kLocalRec, false);
  timers_.Stop(kTimerSecond);
  timers_.Stop(kTimerConnect);
  // A PLAY search or a REC command of the dropped connection gets no answer:
  // the REC/PLAY watchdog must not stay paused.
  dvr_control_.Reset();
  const rcevent::Text box = rcevent::Describe(code, param, slow_connect_);
  if (code != rcevent::kShutdown && box.caption != nullptr)
    ShowMessage(box.caption, box.text, MessageIcon::kStop);
}

// ------------------------------------------------------------------ messages

void RdclientDlg::OnMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case rcmsg::kConnectionEvent:
      Teardown(static_cast<int>(wparam), lparam);
      return;
    case rcmsg::kCtrlConnecting:
      display_.CtrlConnecting(lparam != 0 ? reinterpret_cast<const char*>(lparam) : "");
      ApplyDisplay();
      timers_.Start(kTimerConnect, rctick::kConnectTimeoutMs);
      timers_.Start(kTimerSlowConnect, rctick::kSlowConnectMs);
      return;
    case rcmsg::kCtrlConnectResult:
      OnCtrlConnectResult(static_cast<int>(wparam));
      return;
    case rcmsg::kStreamConnecting: {
      const std::string address = rcmsg::AddressText(lparam);
      display_.StreamConnecting(address);
      ApplyDisplay();
      controls_.SetText(kDvrIp, QString::fromStdString(address));
      // Every new stream connection starts muted.
      controls_.Get<QCheckBox>(kMute)->setChecked(true);
      stream_start_muted_ = true;
      ApplyMute();
      return;
    }
    case rcmsg::kStreamConnectResult:
      OnStreamConnectResult(static_cast<int>(wparam));
      return;
    case rcmsg::kEventBroadcast:
    case rcmsg::kStreamClosed:
      return;
    case rcmsg::kSettingsRefreshed:
      // A second dialog built over an open one would be deleted by the first
      // one's 0x461: while one exists the refresh opens nothing.
      if (dvr_mgr_ == nullptr && options_.dialogs != nullptr) {
        dvr_mgr_ = options_.dialogs->CreateDvrManagement(*this, main_);
        if (dvr_mgr_) {
          dvr_mgr_->show();
          dvr_mgr_shown_ = true;
        }
      }
      return;
    case rcmsg::kDvrMgrDestroyed:
      delete dvr_mgr_.data();
      dvr_mgr_ = nullptr;
      dvr_mgr_shown_ = false;
      return;
    case rcmsg::kStatDestroyed:
      // The statistics dialog deletes itself; the window only forgets it.
      stat_ = nullptr;
      stat_shown_ = false;
      return;
    default:
      HandlePanelMessage(message, wparam, lparam);
      return;
  }
}

void RdclientDlg::OnTimer(int id) {
  switch (id) {
    case kTimerConnect:
      timers_.Stop(kTimerConnect);
      main_.Tick(rctick::kConnectTimeout);
      return;
    case kTimerSlowConnect:
      timers_.Stop(kTimerSlowConnect);
      slow_connect_ = true;
      return;
    case kTimerSecond:
      main_.Tick(rctick::kSecond);
      dvr_blink_ = !dvr_blink_;
      SecondTickPanels();
      return;
    case kTimerRefresh:
      main_.Tick(rctick::kRefresh);
      return;
    case kTimerDvrStatus:
      RefreshDvrStatusDisplay();
      return;
    case kTimerLocalStatus:
      local_blink_ = !local_blink_;
      RefreshLocalBanners();
      return;
    case kTimerVolume:
      PollVolume();
      return;
    default:
      return;
  }
}

// ------------------------------------------------------------------ menu

void RdclientDlg::OnMenu(int id) {
  switch (id) {
    case kMenuDvrManagement:
      OpenDvrManagement();
      return;
    case kMenuStatistics:
      OpenStatistics();
      return;
    case kMenuColourSetup:
      ColourSetup();
      return;
    case kMenuSaveAvi:
      SaveAsAvi();
      return;
    case kMenuCapture:
      Capture();
      return;
    default:
      return;
  }
}

void RdclientDlg::OpenDvrManagement() {
  if (main_.DvrMode() != dvr_mode::kView) {
    ShowMessage(
        "Operation Not Allowd",
        "The DVR is not in VIEW mode\nManaging the DVR is prohibited in following DVR "
        "modes.\n  -RECORD\n  -SENSOR ACTIVATED\n  -ALARM RECORDING\n  -PLAY (FF,REW,PAUSE)",
        MessageIcon::kExclamation);
    return;
  }
  if (dvr_mgr_shown_) return;
  if (main_.IsSessionConnected()) {
    main_.RefreshSettings();  // the dialog opens at 0x460 with fresh settings
    return;
  }
  if (options_.dialogs == nullptr) return;
  if (dvr_mgr_ == nullptr) dvr_mgr_ = options_.dialogs->CreateDvrManagement(*this, main_);
  if (dvr_mgr_) {
    dvr_mgr_->show();
    dvr_mgr_shown_ = true;
  }
}

void RdclientDlg::OpenStatistics() {
  if (stat_shown_ || options_.dialogs == nullptr) return;
  stat_ = options_.dialogs->CreateStatistics(*this, main_);
  if (stat_) {
    stat_shown_ = true;
    stat_->show();
  }
}

void RdclientDlg::ColourSetup() {
  if (!main_.IsImageHandlerRunning()) {
    ShowMessage("Display Color Setting", "Display module is not running yet", MessageIcon::kStop);
    return;
  }
  bool true_colour = main_.IsTrueColour();
  if (options_.dialogs != nullptr &&
      options_.dialogs->ChooseColours(*this, main_.IsTrueColour(), &true_colour))
    main_.SetTrueColour(true_colour);
}

void RdclientDlg::SaveAsAvi() {
  if (!main_.IsImageHandlerRunning()) return;
  if (!main_.IsAviExporting()) {
    const QString path = options_.files->SaveFileName(this, QStringLiteral("Avi Files (*.avi)"),
                                                      QStringLiteral("avi"), last_avi_path_);
    if (path.isEmpty()) return;
    last_avi_path_ = path;
    const int code = main_.StartAviExport(path.toStdString(), options_.compressors);
    if (code != kAviOk) {
      if (AviFailureToTell(code))
        ShowMessage("Save As AVI",
                    "Cannot create the AVI file " + path.toStdString() + ":\n" +
                        main_.AviFailureReason(code),
                    MessageIcon::kStop);
      return;
    }
  } else {
    main_.StopAviExport();
  }
  if (QAction* a = MenuAction(kMenuSaveAvi))
    a->setText(QString::fromUtf8(main_.IsAviExporting() ? kStopAvi : kSaveAvi));
  menu_->update();
}

void RdclientDlg::Capture() {
  if (!main_.IsImageHandlerRunning()) return;
  const QString path = options_.files->SaveFileName(this, QStringLiteral("bmp Files (*.bmp)"),
                                                    QStringLiteral("bmp"), QString());
  if (!path.isEmpty()) main_.SaveBitmap(path.toStdString());
}

// ------------------------------------------------------------------ closing

void RdclientDlg::reject() {
  CloseWindow();
}

void RdclientDlg::closeEvent(QCloseEvent* event) {
  CloseWindow();
  event->accept();
}

// Every engine thread is stopped and joined by the teardown before it
// returns, so nothing is left to wait for between the steps.
void RdclientDlg::CloseWindow() {
  if (closing_) return;
  closing_ = true;
  main_.FlushAudio();
  controls_.SetEnabled(kMute, false);
  Teardown(rcevent::kShutdown, 0);
  DisableChannelButtons();
  CloseModelessDialogs();
  SetConnectButton(QStringLiteral("Connect"));
  main_.StopLocalPlayback();
  main_.StopLocalRecording();
  main_.StopAviExport();
  if (video_->IsFullScreen()) video_->ToggleFullScreen();
  closed_ = true;
  QDialog::done(QDialog::Rejected);
}

// ------------------------------------------------------------------ layout

void RdclientDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOutForSize();
}

// The panels keep their place at the right edge; the video area takes the
// rest of the window (the picture keeps its aspect ratio inside it).
void RdclientDlg::LayOutForSize() {
  if (client_ == nullptr) return;
  const int menu_height = menu_->sizeHint().height();
  menu_->setGeometry(0, 0, width(), menu_height);
  client_->setGeometry(0, menu_height, width(), height() - menu_height);
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  const int dx = std::max(0, client_->width() - du.X(kWindowWidth));
  const int dy = std::max(0, client_->height() - du.Y(kWindowHeight));
  const QRect video = controls_.UnitRect(kVideo);
  video_->SetHomeGeometry(
      du.Rect(video.x(), video.y(), video.width(), video.height()).adjusted(0, 0, dx, dy));
  int index = 0;
  for (const ui::ControlEntry& c : MainWindowControls()) {
    QWidget* w = controls_.InOrder()[static_cast<std::size_t>(index++)];
    if (c.x >= kRightColumnX) w->move(du.X(c.x) + dx, w->y());
  }
}

}  // namespace rd::client
