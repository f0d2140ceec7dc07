// The client's five dialogs on their widgets (offscreen): their layouts in
// dialog units, the widgets following their models after every click and
// list choice, and their lives. End to end with the main window against the
// emulated DVR in the same process: DVR Management refreshes the settings
// before it opens, "Update Setting" sends exactly what was changed, the HDD
// and colour dialogs, a timed play chosen in the DVR play dialog reaches the
// DVR with its time and the picture shows "PLAY", and the statistics dialog
// closes and opens again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/ui/ClientDialogsImpl.h"
#include "client/ui/RcDlgColMgr.h"
#include "client/ui/RcDlgDvrMgr.h"
#include "client/ui/RcDlgHddInf.h"
#include "client/ui/RcDlgPlyMgr.h"
#include "client/ui/RcDlgStat.h"
#include "client/ui/models/ctrl/CtrlMainDialogs.h"
#include "client/ui/rdclientDlg.h"
#include "platform/MessageBox.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"
#include "ui/UiFonts.h"
#include "ui/WindowPort.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
namespace mgr = ui::dvrmgr_id;
namespace ply = ui::plymgr_id;
namespace hdd = ui::hddinf_id;

// ------------------------------------------------------------------ helpers

// Acts on the modal dialog of type T as soon as one is up (for ten seconds).
template <typename T>
void WhenModal(std::function<void(T&)> act) {
  auto* timer = new QTimer;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  QObject::connect(timer, &QTimer::timeout, [timer, act, deadline] {
    auto* d = dynamic_cast<T*>(QApplication::activeModalWidget());
    if (d == nullptr && std::chrono::steady_clock::now() < deadline) return;
    timer->stop();
    timer->deleteLater();
    if (d != nullptr) act(*d);
  });
  timer->start(5);
}

// Chooses entry `index` of a drop-down list with the keyboard, as a user
// does (each step is an activation).
void ChooseEntry(QComboBox* box, int index) {
  while (box->currentIndex() < index) QTest::keyClick(box, Qt::Key_Down);
  while (box->currentIndex() > index) QTest::keyClick(box, Qt::Key_Up);
}

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton);
}

QString Text(const ui::ControlSet& c, int id) {
  if (auto* l = c.Label(id)) return l->text();
  if (auto* b = c.Button(id)) return b->text();
  return {};
}

DvrTime Time(int year, int month, int day, int hour, int minute, int second) {
  DvrTime t;
  t.year = static_cast<uint8_t>(year);
  t.month = static_cast<uint8_t>(month);
  t.day = static_cast<uint8_t>(day);
  t.hour = static_cast<uint8_t>(hour);
  t.minute = static_cast<uint8_t>(minute);
  t.second = static_cast<uint8_t>(second);
  return t;
}

// `t` plus `seconds`, by the calendar.
DvrTime Plus(const DvrTime& t, int seconds) {
  std::tm tm{};
  tm.tm_year = 100 + t.year;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second + seconds;
  const std::time_t s = timegm(&tm);
  std::tm out{};
  gmtime_r(&s, &out);
  return Time(out.tm_year - 100, out.tm_mon + 1, out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec);
}

// The widget of every control of a table has its id as its name.
void ExpectNamedControls(const ui::ControlSet& c, std::initializer_list<int> ids) {
  for (int id : ids) {
    ASSERT_NE(c.Widget(id), nullptr) << id;
    EXPECT_EQ(c.Widget(id)->objectName(), QString::number(id));
    EXPECT_FALSE(c.Widget(id)->accessibleName().isEmpty()) << id;
  }
}

// A main window's port that counts what the dialogs post to it.
struct OwnerPort {
  ui::WindowPort port{[this](uint32_t m, uintptr_t, intptr_t) { received.push_back(m); }};
  std::vector<uint32_t> received;
  int Count(uint32_t m) const {
    return static_cast<int>(std::count(received.begin(), received.end(), m));
  }
};

// ------------------------------------------------------------------ layouts

TEST(ClientDialogs, LayoutsInDialogUnits) {
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  struct Place {
    int id;
    QRect units;
  };
  auto expect = [&](const QDialog& d, const ui::ControlSet& c, const char* name,
                    const char* caption, QSize size, const ui::DialogUnits& units,
                    std::vector<Place> places) {
    SCOPED_TRACE(caption);
    EXPECT_EQ(d.objectName(), name);
    EXPECT_EQ(d.windowTitle(), caption);
    EXPECT_EQ(d.size(), units.Size(size.width(), size.height()));
    for (const Place& p : places)
      EXPECT_EQ(c.Widget(p.id)->geometry(),
                units.Rect(p.units.x(), p.units.y(), p.units.width(), p.units.height()))
          << p.id;
  };

  RcDlgDvrMgr mgr;
  expect(mgr, mgr.Controls(), "137", "Remote DVR Control Panel", {262, 321}, du,
         {{mgr::kUpdate, {120, 300, 65, 13}},
          {mgr::kClose, {190, 300, 65, 13}},
          {mgr::kHddInfo, {175, 25, 75, 13}},
          {mgr::kInput[1], {130, 140, 40, 10}},
          {mgr::kRecord[3], {210, 150, 40, 10}},
          {mgr::HourButton(0), {10, 220, 40, 10}},
          {mgr::HourButton(23), {210, 280, 40, 10}}});
  EXPECT_EQ(mgr.Controls().Combo(mgr::kQuality)->pos(), du.Point(90, 40));
  EXPECT_EQ(mgr.Controls().Combo(mgr::kSecond)->pos(), du.Point(210, 180));
  EXPECT_FALSE(mgr.Controls().Widget(mgr::kRecordModeList)->isVisibleTo(&mgr));
  EXPECT_TRUE(mgr.Controls().PushCheck(mgr::HourButton(5))->isTristate());
  EXPECT_FALSE(mgr.Controls().PushCheck(mgr::kInput[0])->isTristate());
  ExpectNamedControls(mgr.Controls(), {mgr::kQuality, mgr::kFrameRate, mgr::kAlarmOn,
                                       mgr::kAlarmRecord, mgr::kAudioRecording, mgr::kSpeaker,
                                       mgr::kYear, mgr::kSecond, mgr::HourButton(12)});

  RcDlgPlyMgr play;
  expect(play, play.Controls(), "145", "DVR Play", {277, 330}, du,
         {{ply::kMaster.check, {15, 15, 37, 10}},
          {ply::kMaster.note, {80, 15, 180, 10}},
          {ply::kSlave.check, {15, 80, 34, 10}},
          {ply::kStartTimedPlay, {10, 140, 255, 14}},
          {ply::kEventNote, {10, 170, 255, 8}},
          {ply::kEventList, {10, 180, 255, 100}},
          {ply::kStartEventPlay, {10, 285, 255, 14}},
          {ply::kCancel, {210, 310, 59, 14}}});
  EXPECT_EQ(play.Controls().Combo(ply::kMaster.lists[0])->pos(), du.Point(51, 54));
  EXPECT_EQ(play.Controls().Combo(ply::kSlave.lists[5])->pos(), du.Point(235, 119));
  EXPECT_EQ(play.Controls().Label(ply::kSlave.end[4])->pos(), du.Point(200, 108));
  EXPECT_TRUE(static_cast<QPushButton*>(play.Controls().Button(ply::kCancel))->isDefault());

  RcDlgHddInf disks;
  const ui::DialogUnits mono(disks.font());
  expect(disks, disks.Controls(), "211", "DVR Hard Drive Information", {249, 158}, mono,
         {{hdd::kCount, {15, 20, 225, 8}},
          {hdd::kMasterStatus, {135, 45, 105, 8}},
          {hdd::kSlaveFree, {90, 119, 150, 8}},
          {1, {140, 140, 50, 14}},
          {2, {195, 140, 50, 14}}});
  EXPECT_TRUE(QFontInfo(disks.font()).fixedPitch()) << "the columns of digits line up";
  EXPECT_EQ(QFontInfo(disks.font()).family(), "Liberation Mono");
  EXPECT_NE(mono.base_x(), du.base_x());

  RcDlgColMgr colours;
  expect(colours, colours.Controls(), "260", "Display Color Setting", {137, 66}, du,
         {{ui::colmgr_id::k256Colour, {15, 20, 50, 14}},
          {ui::colmgr_id::kTrueColour, {70, 20, 50, 14}},
          {1, {15, 45, 50, 14}},
          {2, {70, 45, 50, 14}}});
}

// ------------------------------------------------------------------ models' widgets

TEST(ClientDialogs, PlayDialogWidgetsFollowTheModel) {
  ScopedMessageCapture boxes;
  const DvrTime start = Time(26, 3, 4, 10, 0, 0), end = Time(26, 3, 4, 11, 30, 0);
  RcDlgPlyMgr d;
  // EventRecord{id, disk, kind, start, end}, newest first.
  d.SetEvents({EventRecord{9, 0, 1, Time(26, 3, 4, 11, 0, 0), Time(26, 3, 4, 11, 5, 0)},
               EventRecord{1, 0, 0, start, end},
               EventRecord{7, 1, 2, Time(26, 3, 4, 10, 10, 0), Time(26, 3, 4, 10, 12, 30)}});
  d.show();
  const ui::ControlSet& c = d.Controls();
  auto* master = c.Get<QCheckBox>(ply::kMaster.check);
  EXPECT_TRUE(master->isEnabled());
  EXPECT_TRUE(master->isChecked());
  EXPECT_FALSE(c.Widget(ply::kSlave.check)->isEnabled());
  EXPECT_EQ(Text(c, ply::kMaster.note), "Set start time you want");
  EXPECT_EQ(Text(c, ply::kSlave.note), "No Recorded Data");
  EXPECT_EQ(Text(c, ply::kMaster.end[3]), "11");
  EXPECT_EQ(Text(c, ply::kMaster.start[0]), "2026");
  QComboBox* minute = c.Combo(ply::kMaster.lists[4]);
  EXPECT_TRUE(minute->isEnabled());
  EXPECT_EQ(minute->count(), 60);
  EXPECT_EQ(c.Combo(ply::kMaster.lists[0])->currentText(), "2026");
  auto* list = c.Get<QListWidget>(ply::kEventList);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text().toStdString(),
            "02 Sensor     2026/03/04 10:10:00 - 2026/03/04 10:12:30  Slave ");
  EXPECT_EQ(list->currentRow(), 0);
  EXPECT_EQ(Text(c, ply::kEventNote), "2 events are listed, Choose event to be played");

  // Unchecking the only disk with a range leaves no timed play; checking it again restores it.
  Click(master);
  EXPECT_FALSE(master->isChecked());
  EXPECT_FALSE(minute->isEnabled());
  EXPECT_FALSE(c.Widget(ply::kStartTimedPlay)->isEnabled());
  Click(master);
  EXPECT_TRUE(c.Widget(ply::kStartTimedPlay)->isEnabled());

  // A start one second before the range is refused and the dialog stays open.
  ChooseEntry(c.Combo(ply::kMaster.lists[3]), 9);
  ChooseEntry(c.Combo(ply::kMaster.lists[4]), 59);
  ChooseEntry(c.Combo(ply::kMaster.lists[5]), 59);
  Click(c.Button(ply::kStartTimedPlay));
  ASSERT_EQ(boxes.Messages().size(), 1u);
  EXPECT_EQ(boxes.Messages()[0].caption, "Play Time Input Error");
  EXPECT_EQ(boxes.Messages()[0].text,
            "The specified time is out of scope\nYou have chosed 2026/03/04 09:59:59\nas a start "
            "time.\nPlease check again");
  EXPECT_EQ(boxes.Messages()[0].icon, MessageIcon::kStop);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.result(), 0);

  // The keyboard's selection is the event played; it carries its own disk.
  QTest::keyClick(list, Qt::Key_Down);
  Click(c.Button(ply::kStartEventPlay));
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_FALSE(d.Choice().timed);
  EXPECT_EQ(d.Choice().disk, 1);
  EXPECT_EQ(d.Choice().event_id, 7u);
}

TEST(ClientDialogs, PlayDialogDoubleClickAndTheDefaultCancel) {
  RcDlgPlyMgr d;
  d.SetEvents({EventRecord{5, 0, 1, Time(26, 1, 1, 0, 0, 0), Time(26, 1, 1, 0, 1, 0)}});
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  auto* list = d.Controls().Get<QListWidget>(ply::kEventList);
  const QPoint at = list->visualItemRect(list->item(0)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);  // the first press of the pair
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.Choice().event_id, 5u);

  // Nothing recorded: only Cancel, which Enter presses.
  RcDlgPlyMgr empty;
  empty.SetEvents({});
  empty.show();
  for (int id : {ply::kStartTimedPlay, ply::kStartEventPlay, ply::kEventList, ply::kMaster.check,
                 ply::kSlave.check})
    EXPECT_FALSE(empty.Controls().Widget(id)->isEnabled()) << id;
  EXPECT_EQ(Text(empty.Controls(), ply::kEventNote),
            "0 event is listed, Choose event to be played");
  QTest::keyClick(&empty, Qt::Key_Return);
  EXPECT_FALSE(empty.isVisible());
  EXPECT_EQ(empty.result(), QDialog::Rejected);
}

TEST(ClientDialogs, HddTextsAndTheColourPair) {
  RcDlgHddInf disks;
  disks.SetDisks({1, 307200, 153600, 0}, {});
  const ui::ControlSet& h = disks.Controls();
  EXPECT_EQ(Text(h, hdd::kCount), "1 Hard disk installed");
  EXPECT_EQ(Text(h, hdd::kTotal), "The total capacity is 300 GByte [ 307200 MByte]");
  EXPECT_EQ(Text(h, hdd::kMasterStatus), "Installed");
  EXPECT_EQ(Text(h, hdd::kMasterUsed), "150 GByte [ 153600 MByte]  50.00%");
  EXPECT_EQ(Text(h, hdd::kSlaveStatus), "Not Installed");
  EXPECT_EQ(Text(h, hdd::kSlaveUsed), "N/A");
  EXPECT_EQ(h.Widget(hdd::kMasterUsed)->accessibleName(), "150 GByte [ 153600 MByte]  50.00%");

  RcDlgColMgr colours;
  colours.SetColourMode(true);
  colours.show();
  ui::PushCheckBox* c256 = colours.Controls().PushCheck(ui::colmgr_id::k256Colour);
  ui::PushCheckBox* ctrue = colours.Controls().PushCheck(ui::colmgr_id::kTrueColour);
  EXPECT_EQ(ctrue->checkState(), Qt::Checked);
  EXPECT_EQ(c256->checkState(), Qt::Unchecked);
  Click(c256);
  EXPECT_EQ(c256->checkState(), Qt::Checked);
  EXPECT_EQ(ctrue->checkState(), Qt::Unchecked);
  Click(c256);  // a second press keeps it: the pair, not a toggle
  EXPECT_EQ(c256->checkState(), Qt::Checked);
  EXPECT_FALSE(colours.TrueColourChosen());
  Click(ctrue);
  EXPECT_TRUE(colours.TrueColourChosen());
  EXPECT_EQ(c256->checkState(), Qt::Unchecked);
}

// ------------------------------------------------------------------ lives

TEST(ClientDialogs, DvrManagementWithoutAConnection) {
  RcCtrlMain main;
  OwnerPort owner;
  RcDlgDvrMgr refused;
  EXPECT_FALSE(refused.SetContext(nullptr, &main));
  EXPECT_FALSE(refused.SetContext(&owner.port, nullptr));

  ClientDialogsImpl dialogs;
  auto* d = new RcDlgDvrMgr;
  ASSERT_TRUE(d->SetContext(&owner.port, &main));
  d->Open();
  d->show();
  const ui::ControlSet& c = d->Controls();
  EXPECT_EQ(Text(c, mgr::kRecordModeText), "N/A");
  EXPECT_EQ(c.Combo(mgr::kQuality)->currentText(), "N/A");
  EXPECT_EQ(c.Combo(mgr::kHour)->currentText(), "00");
  for (int id : {mgr::kQuality, mgr::kYear, mgr::kInput[0], mgr::kRecord[3], mgr::HourButton(7),
                 mgr::kUpdate, mgr::kHddInfo})
    EXPECT_FALSE(c.Widget(id)->isEnabled()) << id;
  EXPECT_EQ(Text(c, mgr::HourButton(7)), "OFF");
  // Closed twice (its button, then the main window's cancel): one message.
  Click(c.Button(mgr::kClose));
  d->reject();
  EXPECT_FALSE(d->isVisible());
  rdtest::PumpPosted();
  EXPECT_EQ(owner.Count(rcmsg::kDvrMgrDestroyed), 1);
  delete d;
}

TEST(ClientDialogs, StatisticsDialogRefreshesAndDeletesItself) {
  rdtest::LiveDvr dvr;
  ASSERT_TRUE(dvr.started()) << dvr.error();
  RcCtrlMain main;
  OwnerPort owner;
  main.RegisterWindow(&owner.port);
  ASSERT_TRUE(rdtest::ConnectSession(main, dvr));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return main.IsStreamLive(); }));
  QPointer<RcDlgStat> d = new RcDlgStat(nullptr, main, owner.port);
  d->show();
  const ui::ControlSet& c = d->Controls();
  EXPECT_EQ(Text(c, ui::stat_id::kStatus), "Connected");
  EXPECT_EQ(Text(c, ui::stat_id::kAddress), "127.0.0.1");
  EXPECT_EQ(Text(c, ui::stat_id::kPort), QString::number(dvr.stream_port()));
  EXPECT_EQ(Text(c, ui::stat_id::kTime), "0 sec");
  ASSERT_TRUE(rdtest::PumpUntil([&] {
    uint32_t frames = 0;
    main.Stats().GetFrames(&frames);
    return frames > 0;
  }));
  main.Tick(rctick::kSecond);  // rolls the second over and ticks the windows
  EXPECT_EQ(Text(c, ui::stat_id::kTime), "1 sec");
  EXPECT_TRUE(Text(c, ui::stat_id::kFrames).endsWith(" frame(s) detected"));
  EXPECT_NE(Text(c, ui::stat_id::kFrames), "0 frame(s) detected");
  // A failed stream connect leaves the status; the client closing the stream closes the dialog.
  d->Port().Send(rcmsg::kStreamConnectResult, 111, 0);
  EXPECT_EQ(Text(c, ui::stat_id::kStatus), "Connected");
  main.DisconnectStream();
  EXPECT_FALSE(d->isVisible());
  ASSERT_TRUE(rdtest::PumpUntil([&] { return d.isNull(); })) << "it deletes itself";
  EXPECT_EQ(owner.Count(rcmsg::kStatDestroyed), 1);
  main.Tick(rctick::kSecond);  // nothing reaches the dialog any more
  main.DisconnectControl();
  main.UnregisterWindow(&owner.port);
}

// ------------------------------------------------------------------ end to end

// The real dialogs; the DVR's log at the moment the management dialog is made.
class RecordingDialogs : public ClientDialogsImpl {
 public:
  QDialog* CreateDvrManagement(RdclientDlg& owner, RcCtrlMain& main) override {
    if (dvr != nullptr) log_at_open.push_back(dvr->LogLines());
    return ClientDialogsImpl::CreateDvrManagement(owner, main);
  }
  rdtest::LiveDvr* dvr = nullptr;
  std::vector<std::vector<std::string>> log_at_open;
};

// The request types the DVR received in `lines` from line `from` on, of those in `types`.
std::vector<int> ReceivedTypes(const std::vector<std::string>& lines, std::size_t from,
                               const std::vector<int>& types) {
  std::vector<int> got;
  for (std::size_t i = from; i < lines.size(); ++i) {
    std::istringstream words(lines[i]);
    std::string time, dir;
    int type = 0;
    if (!(words >> time >> dir >> type) || dir != "RX") continue;
    if (std::find(types.begin(), types.end(), type) != types.end()) got.push_back(type);
  }
  return got;
}

// The settings changes the management dialog can send (its stream filter
// requests are left out: the frame-rate adjuster sends them too).
const std::vector<int> kSettingsChanges = {21, 23, 25, 26, 27, 28, 29, 30, 31, 45};

class DialogsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dvr = std::make_unique<rdtest::LiveDvr>();
    ASSERT_TRUE(dvr->started()) << dvr->error();
    dialogs.dvr = dvr.get();
    RdclientDlg::Options o;
    o.control_port = dvr->control_port();
    o.stream_port = dvr->stream_port();
    o.config_dir = dir.path().string();
    o.dialogs = &dialogs;
    window = std::make_unique<RdclientDlg>(o);
    window->show();
    window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
    ASSERT_TRUE(rdtest::PumpUntil(
        [&] { return window->StreamConnected() && window->Video()->Presents() > 3; }, 20s));
  }
  void TearDown() override {
    window.reset();
    dvr.reset();
  }
  RcCtrlMain& Main() { return window->Main(); }
  // DVR Management, until the dialog is up.
  RcDlgDvrMgr* OpenManagement() {
    window->OnMenu(ids::kMenuDvrManagement);
    if (!rdtest::PumpUntil([&] { return window->DvrManagementDialog() != nullptr; }, 10s))
      return nullptr;
    return dynamic_cast<RcDlgDvrMgr*>(window->DvrManagementDialog());
  }
  // Every request the client queued before this call has reached the DVR
  // once this returns true (a request of a kind nothing else sends, behind them).
  bool Drained() {
    const int before = dvr->Received(rdcp::kGetEventList);
    Main().RequestEventList();
    return rdtest::PumpUntil([&] { return dvr->Received(rdcp::kGetEventList) > before; }, 10s);
  }

  rdtest::TempDir dir;
  ScopedMessageCapture boxes;
  RecordingDialogs dialogs;
  std::unique_ptr<rdtest::LiveDvr> dvr;
  std::unique_ptr<RdclientDlg> window;
};

TEST_F(DialogsEndToEnd, ManagementRefreshesFirstAndSendsOnlyWhatChanged) {
  const std::size_t mark = dvr->LogLines().size();
  RcDlgDvrMgr* d = OpenManagement();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(dialogs.log_at_open.size(), 1u);
  EXPECT_EQ(ReceivedTypes(dialogs.log_at_open[0], mark, {19, 20, 22}),
            (std::vector<int>{19, 22, 20}))
      << "settings, time and schedule before the dialog opens";
  const DvrSettings s = dvr->sim().settings();
  const ui::ControlSet& c = d->Controls();
  EXPECT_EQ(c.Combo(mgr::kQuality)->currentIndex(), s.video_quality);
  EXPECT_EQ(Text(c, mgr::kRecordModeText), s.record_mode ? "QUAD" : "EACH");
  EXPECT_EQ(c.Combo(mgr::kYear)->currentText(), QString::number(2000 + dvr->sim().time().year));
  EXPECT_TRUE(c.Widget(mgr::kUpdate)->isEnabled());

  // Nothing changed: Update sends nothing and the dialog goes (deleted at 0x461).
  const std::size_t before_update = dvr->LogLines().size();
  QPointer<QDialog> first = d;
  Click(c.Button(mgr::kUpdate));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return first.isNull(); }));
  EXPECT_EQ(window->DvrManagementDialog(), nullptr);
  ASSERT_TRUE(Drained());
  EXPECT_TRUE(ReceivedTypes(dvr->LogLines(), before_update, kSettingsChanges).empty());

  // The quality alone: exactly one request 28 with the chosen index.
  d = OpenManagement();
  ASSERT_NE(d, nullptr);
  const std::size_t before_quality = dvr->LogLines().size();
  const int quality = (s.video_quality + 1) % 3;
  ChooseEntry(d->Controls().Combo(mgr::kQuality), quality);
  EXPECT_TRUE(d->Model().Changed(ui::DvrMgrModel::kQualityItem));
  Click(d->Controls().Button(mgr::kUpdate));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dvr->sim().settings().video_quality == quality; }));
  ASSERT_TRUE(Drained());
  EXPECT_EQ(ReceivedTypes(dvr->LogLines(), before_quality, kSettingsChanges), std::vector<int>{28});
  EXPECT_TRUE(boxes.Messages().empty());
}

TEST_F(DialogsEndToEnd, ManagementButtonsFollowTheirRulesAndCloseSendsNothing) {
  RcDlgDvrMgr* d = OpenManagement();
  ASSERT_NE(d, nullptr);
  const ui::ControlSet& c = d->Controls();
  ASSERT_EQ(dvr->sim().settings().input_mask, 0x0F) << "the emulator starts with four inputs";
  const std::size_t mark = dvr->LogLines().size();

  // An hour button goes OFF, ON, SENSOR (drawn half pressed) and OFF again.
  ui::PushCheckBox* hour = c.PushCheck(mgr::HourButton(13));
  const std::pair<Qt::CheckState, const char*> cycle[] = {
      {Qt::Checked, "ON"}, {Qt::PartiallyChecked, "SENSOR"}, {Qt::Unchecked, "OFF"}};
  ASSERT_EQ(hour->checkState(), Qt::Unchecked);
  for (const auto& [state, text] : cycle) {
    Click(hour);
    EXPECT_EQ(hour->checkState(), state);
    EXPECT_EQ(hour->text(), text);
    EXPECT_EQ(hour->accessibleName(), text);
  }
  EXPECT_TRUE(d->Model().Changed(ui::DvrMgrModel::kScheduleItem));

  // Input CH2 off takes record CH2 with it, and back on.
  Click(c.Button(mgr::kInput[1]));
  EXPECT_EQ(c.PushCheck(mgr::kRecord[1])->checkState(), Qt::Unchecked);
  EXPECT_EQ(Text(c, mgr::kRecord[1]), "OFF");
  Click(c.Button(mgr::kInput[1]));
  EXPECT_EQ(c.PushCheck(mgr::kRecord[1])->checkState(), Qt::Checked);
  // The last input channel stays on.
  for (int ch : {0, 1, 2}) Click(c.Button(mgr::kInput[ch]));
  Click(c.Button(mgr::kInput[3]));
  EXPECT_EQ(c.PushCheck(mgr::kInput[3])->checkState(), Qt::Checked);
  EXPECT_EQ(Text(c, mgr::kInput[3]), "ON");

  // Close Window sends none of it.
  Click(c.Button(mgr::kClose));
  ASSERT_TRUE(rdtest::PumpUntil([&] { return window->DvrManagementDialog() == nullptr; }));
  ASSERT_TRUE(Drained());
  EXPECT_TRUE(ReceivedTypes(dvr->LogLines(), mark, kSettingsChanges).empty());
}

TEST_F(DialogsEndToEnd, HddInfoFromTheManagementDialog) {
  RcDlgDvrMgr* d = OpenManagement();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->Controls().Widget(mgr::kHddInfo)->isEnabled());
  const DvrSettings s = dvr->sim().settings();
  const uint32_t mb = s.disk_capacity[0] >> 8;
  std::vector<QString> seen;
  WhenModal<RcDlgHddInf>([&](RcDlgHddInf& h) {
    for (int id : {hdd::kCount, hdd::kMasterStatus, hdd::kMasterTotal, hdd::kSlaveStatus})
      seen.push_back(Text(h.Controls(), id));
    Click(h.Controls().Button(1));
  });
  Click(d->Controls().Button(mgr::kHddInfo));
  ASSERT_EQ(seen.size(), 4u) << "the dialog ran";
  EXPECT_EQ(seen[0], "1 Hard disk installed");
  EXPECT_EQ(seen[1], "Installed");
  EXPECT_EQ(seen[2], QString::asprintf("%3u GByte [%7u MByte]", mb / 1024, mb));
  EXPECT_EQ(seen[3], "Not Installed");
  EXPECT_TRUE(d->isVisible()) << "the management dialog stays";
}

TEST_F(DialogsEndToEnd, ColourSetupAppliesOnOkOnly) {
  ASSERT_TRUE(Main().IsTrueColour());
  WhenModal<RcDlgColMgr>([](RcDlgColMgr& d) {
    EXPECT_EQ(d.Controls().PushCheck(ui::colmgr_id::kTrueColour)->checkState(), Qt::Checked);
    Click(d.Controls().Button(ui::colmgr_id::k256Colour));
    Click(d.Controls().Button(2));  // Cancel
  });
  window->OnMenu(ids::kMenuColourSetup);
  EXPECT_TRUE(Main().IsTrueColour()) << "Cancel changes nothing";
  WhenModal<RcDlgColMgr>([](RcDlgColMgr& d) {
    Click(d.Controls().Button(ui::colmgr_id::k256Colour));
    Click(d.Controls().Button(1));  // OK
  });
  window->OnMenu(ids::kMenuColourSetup);
  EXPECT_FALSE(Main().IsTrueColour());
}

TEST_F(DialogsEndToEnd, StatisticsClosesAndOpensAgain) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    window->OnMenu(ids::kMenuStatistics);
    QPointer<RcDlgStat> d = dynamic_cast<RcDlgStat*>(window->StatisticsDialog());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Text(d->Controls(), ui::stat_id::kStatus), "Connected");
    ASSERT_TRUE(rdtest::PumpUntil(
        [&] { return d && Text(d->Controls(), ui::stat_id::kTime) != "0 sec"; }, 10s))
        << "refreshed every second";
    Click(d->Controls().Button(2));
    ASSERT_TRUE(rdtest::PumpUntil([&] { return d.isNull(); }));
    rdtest::PumpPosted();
    EXPECT_EQ(window->StatisticsDialog(), nullptr) << "the window forgot it";
  }
  // Disconnect closes it as well.
  window->OnMenu(ids::kMenuStatistics);
  QPointer<QDialog> d = window->StatisticsDialog();
  ASSERT_NE(d, nullptr);
  window->OnConnectButton();
  ASSERT_TRUE(
      rdtest::PumpUntil([&] { return d.isNull() && window->StatisticsDialog() == nullptr; }));
  EXPECT_TRUE(boxes.Messages().empty());
}

// The pixels of "PLAY" as the image handler writes it over a picture: white
// ones of the picture's text line at the left.
std::vector<QPoint> PlayTextPixels() {
  class Keep : public DisplayTarget {
   public:
    void Present(const QImage& p) override { picture = p.copy(); }
    QImage picture;
  } target;
  class NoStats : public DisplayQueueStats {
   public:
    void AddQueued() override {}
    uint32_t QueuedLastSecond() const override { return 0; }
  } stats;
  RcImageHandler handler;
  std::vector<QPoint> white;
  if (handler.Init(mjpeg::VideoStandard::kNtsc, &target, &stats) != 0) return white;
  handler.Refresh(dvr_mode::kPlay, 0);
  const QImage& p = target.picture;
  for (int y = p.height() - 24; y < p.height(); ++y)
    for (int x = 0; x < 120; ++x)
      if (p.pixel(x, y) == qRgb(255, 255, 255)) white.emplace_back(x, y);
  return white;
}

bool ShowsText(const QImage& picture, const std::vector<QPoint>& text) {
  if (picture.isNull() || text.empty()) return false;
  std::size_t white = 0;
  for (const QPoint& p : text) white += picture.pixel(p) == qRgb(255, 255, 255) ? 1 : 0;
  return white * 10 >= text.size() * 9;
}

TEST_F(DialogsEndToEnd, TimedPlaySendsTheChosenTimeAndThePictureShowsPlay) {
  // Something recorded to play.
  Main().StartRecording();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().DvrMode() == dvr_mode::kRecord; }, 10s));
  const DvrTime started = dvr->sim().time();
  ASSERT_TRUE(rdtest::PumpUntil(
      [&] { return ui::TimeKey(dvr->sim().time()) >= ui::TimeKey(Plus(started, 6)); }, 20s));
  Main().StopRecording();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().DvrMode() == dvr_mode::kView; }, 10s));
  std::vector<EventRecord> events;
  Main().RequestEventList();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Main().EventList(&events) && !events.empty(); }));
  const auto range = std::find_if(events.begin(), events.end(),
                                  [](const EventRecord& e) { return e.kind == 0 && e.disk == 0; });
  ASSERT_NE(range, events.end()) << "the master disk's recorded range";
  const DvrTime chosen = Plus(range->start, 3);
  ASSERT_LE(ui::TimeKey(chosen), ui::TimeKey(range->end));

  // The user picks a start three seconds into the range.
  WhenModal<RcDlgPlyMgr>([&](RcDlgPlyMgr& d) {
    const ui::ControlSet& c = d.Controls();
    EXPECT_TRUE(c.Get<QCheckBox>(ply::kMaster.check)->isChecked());
    const int index[6] = {chosen.year, chosen.month - 1, chosen.day - 1,
                          chosen.hour, chosen.minute,    chosen.second};
    for (int i = 0; i < 6; ++i) ChooseEntry(c.Combo(ply::kMaster.lists[i]), index[i]);
    Click(c.Button(ply::kStartTimedPlay));
  });
  ui::PlayChoice choice;
  ASSERT_TRUE(dialogs.ChoosePlay(*window, events, &choice));
  EXPECT_TRUE(choice.timed);
  EXPECT_EQ(choice.disk, 0);
  EXPECT_EQ(choice.start, chosen);

  const std::vector<QPoint> play_text = PlayTextPixels();
  ASSERT_GT(play_text.size(), 30u);
  EXPECT_FALSE(ShowsText(window->Video()->Picture(), play_text)) << "not before the play";
  const int before = dvr->Received(rdcp::kPlay);
  ui::CtrlMainRequestSink sink(Main());
  ui::Apply(choice.Request(), sink);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return dvr->Received(rdcp::kPlay) > before; }));
  uint8_t payload[7];
  rdcp::PackPlayFrom(0, chosen, payload);
  std::string sent;
  for (const std::string& line : dvr->LogLines())
    if (line.find(" RX 35 ") != std::string::npos) sent = line.substr(line.rfind(' ') + 1);
  EXPECT_EQ(sent, sim::Hex(payload, sizeof payload)) << "disk 0 and the chosen time";
  EXPECT_TRUE(rdtest::PumpUntil(
      [&] {
        return Main().DvrMode() == dvr_mode::kPlay &&
               ShowsText(window->Video()->Picture(), play_text);
      },
      15s))
      << "the picture shows PLAY";
}

}  // namespace
}  // namespace rd::client
