// The main window on the offscreen platform, against the emulated DVR in the
// same process: its layout and initial state, connecting and the connection
// display, every connection event's box, Disconnect and Close Window (no box,
// no hang, CloseSession sent), repeated cycles, the modeless dialogs' life
// and the menu commands.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>

#include "WindowFixture.h"
#include "client/ui/RcDlgConMgr.h"
#include "ui/DialogUnits.h"

namespace rd::client {
namespace {

using namespace std::chrono_literals;
using namespace ids;
using namespace wintest;

TEST_F(RdclientWindow, LayoutAndInitialState) {
  Make();
  const ui::DialogUnits du(6, 13);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tessaro 6.4"));
  EXPECT_EQ(window->ClientArea()->size(), du.Size(592, 342));
  const std::vector<std::pair<int, QString>> menu = {{kMenuDvrManagement, "DVR Management"},
                                                     {kMenuStatistics, "Statistics"},
                                                     {kMenuColourSetup, "Color Setup"},
                                                     {kMenuSaveAvi, "Save as AVI"},
                                                     {kMenuCapture, "Capture"}};
  for (const auto& [id, text] : menu) {
    ASSERT_NE(window->MenuAction(id), nullptr) << id;
    EXPECT_EQ(window->MenuAction(id)->text(), text);
    EXPECT_EQ(window->MenuAction(id)->menu(), nullptr) << "a direct command";
  }
  struct Place {
    int id;
    QRect units;
  } places[] = {{kVideo, {7, 7, 431, 272}},         {kConnect, {445, 55, 67, 12}},
                {kCloseWindow, {513, 55, 67, 12}},  {kStatus, {445, 26, 130, 8}},
                {kDvrPlay, {532, 201, 40, 10}},     {kLocalFf, {532, 317, 40, 10}},
                {kVolumeSlider, {549, 116, 26, 57}}};
  for (const Place& p : places)
    EXPECT_EQ(window->Controls().Widget(p.id)->geometry(),
              du.Rect(p.units.x(), p.units.y(), p.units.width(), p.units.height()))
        << p.id;
  EXPECT_EQ(window->Controls().Widget(kBannerNotConnected)->size(), QSize(195, 20));
  EXPECT_EQ(Status(), "Not Connected");
  EXPECT_EQ(ConnectText(), "Connect");
  EXPECT_TRUE(window->Controls().Button(kCloseWindow)->isEnabled());
  EXPECT_TRUE(Visible(kBannerNotConnected));
  EXPECT_FALSE(Visible(kBannerConnected));
  EXPECT_TRUE(Visible(kBannerNoInfo));
  EXPECT_TRUE(Visible(kLocalNotActivated));
  EXPECT_FALSE(Visible(kLocalPlay));
  EXPECT_TRUE(Visible(kWideQuad));
  EXPECT_FALSE(Visible(kNarrowQuad)) << "the wide layout at start";
  auto* autoadjust = window->Controls().Get<QCheckBox>(kAutoAdjust);
  EXPECT_TRUE(autoadjust->isChecked());
  EXPECT_FALSE(autoadjust->isEnabled());
  QComboBox* rates = window->Controls().Combo(kFrameRateList);
  EXPECT_EQ(rates->count(), 1);
  EXPECT_EQ(rates->currentText(), "Not Connected Yet");
  EXPECT_FALSE(rates->isEnabled());
  // The volume percentage of the audio output, the slider upside down (top = loud).
  const int volume = window->Main().AudioVolume();
  EXPECT_EQ(window->Controls().Label(kVolumeText)->text(), QString::asprintf("%2u %%", volume));
  EXPECT_EQ(window->Controls().Slider(kVolumeSlider)->value(), 100 - volume);
  EXPECT_TRUE(window->Controls().Button(kLocalPlayButton)->isEnabled());
  EXPECT_FALSE(window->Controls().Button(kLocalRec)->isEnabled());
  // Every control can be found by its name; tab order follows reading order.
  for (QWidget* w : window->Controls().InOrder())
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  EXPECT_EQ(window->Controls().Widget(kConnect)->nextInFocusChain(),
            window->Controls().Widget(kCloseWindow));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientWindow, ConnectsShowsTheStreamAndDisconnectsWithoutABox) {
  Make();
  window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
  EXPECT_EQ(ConnectText(), "Disconnect");
  EXPECT_FALSE(window->Controls().Button(kCloseWindow)->isEnabled()) << "while connecting";
  ASSERT_TRUE(ConnectAndWaitForFrames()) << Status().toStdString();
  EXPECT_TRUE(window->StreamConnected());
  EXPECT_TRUE(Visible(kBannerConnected));
  EXPECT_FALSE(Visible(kBannerNotConnected));
  EXPECT_EQ(window->Controls().Label(kDvrIp)->text(), "127.0.0.1");
  EXPECT_TRUE(window->Controls().Button(kCloseWindow)->isEnabled());
  EXPECT_TRUE(window->Controls().Button(kLocalRec)->isEnabled());
  EXPECT_TRUE(window->Controls().Get<QCheckBox>(kAutoAdjust)->isEnabled());
  EXPECT_TRUE(window->Controls().Get<QCheckBox>(kMute)->isChecked()) << "a new stream starts muted";
  EXPECT_FALSE(window->Main().AudioOutputEnabled());
  // The picture: four channels, not black.
  const QImage picture = window->Video()->Picture();
  EXPECT_EQ(picture.size(), QSize(640, 436));

  const auto t0 = std::chrono::steady_clock::now();
  QTest::mouseClick(window->Controls().Button(kConnect), Qt::LeftButton);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << "Disconnect never hangs";
  EXPECT_EQ(Status(), "Disconnected");
  EXPECT_EQ(ConnectText(), "Connect");
  EXPECT_TRUE(Visible(kBannerNotConnected));
  EXPECT_FALSE(window->Main().HasSession());
  EXPECT_FALSE(window->Controls().Get<QCheckBox>(kMute)->isEnabled());
  EXPECT_TRUE(rdtest::WaitFor([&] { return dvr->Received(17) == 1; }))
      << "CloseSession before the control connection closes";
  rdtest::PumpUntil([] { return false; }, 200ms);  // anything still queued
  EXPECT_TRUE(Boxes().empty());
}

struct EventBox {
  int code;
  intptr_t param;
  bool slow;
  const char* caption;  // nullptr: no box
  const char* text;
};

TEST_F(RdclientWindow, EveryConnectionEventShowsItsBox) {
  Make();
  const char* kNotFound = "Could find the DVR\nCheck the IP address and try again";
  const EventBox cases[] = {
      {0, 0, false, "RDCP Connection Failed", kNotFound},
      {1, 111, false, "RDCP Connection Failed",
       "Cannot connect to the DVR.\nThe DVR is down, or\nThe DVR may be connected to other "
       "client."},
      {2, 0, false, "RDCP Connection Closed", "RDCP On Close."},
      {3, 104, false, "RDCP Connection Closed", "RDCP Receive Error."},
      {4, 0, false, "RDCP Connection Closed", "Polling Timeout.\nThe DVR may be turned off."},
      {5, 0, false, "RDCP Connection Closed",
       "Connection closed by the DVR.\nThe DVR keypad may be pressed."},
      {6, 1, false, "RDCP Session Open Failed", "Connection Denied by DVR.\nInvalid Password."},
      {6, 10, false, "RDCP Session Open Failed",
       "Connection Denied by DVR.\nNetwork access disabled."},
      {6, 2, false, nullptr, nullptr},
      {7, 0, false, nullptr, nullptr},
      {8, 111, false, "Stream Connection Fail", "Stream connection failed."},
      {9, 0, false, "Connection Failed", "Stream connection closed"},
      {10, 104, false, "Connection Failed", "Stream Socket Error"},
      {11, 0, false, nullptr, nullptr},
      // Once an attempt has lasted 10 s, a refused connect reads as not found.
      {1, 111, true, "RDCP Connection Failed", kNotFound},
  };
  for (const EventBox& c : cases) {
    if (c.slow) window->OnTimer(kTimerSlowConnect);
    ScopedMessageCapture capture;
    window->Port().Post(rcmsg::kConnectionEvent, static_cast<uintptr_t>(c.code), c.param);
    rdtest::PumpPosted();
    const auto shown = capture.Messages();
    SCOPED_TRACE("code " + std::to_string(c.code) + " param " + std::to_string(c.param));
    if (c.caption == nullptr) {
      EXPECT_TRUE(shown.empty());
    } else {
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].caption, c.caption);
      EXPECT_EQ(shown[0].text, c.text);
      EXPECT_EQ(shown[0].icon, MessageIcon::kStop);
    }
    if (c.code <= 10) {
      EXPECT_EQ(Status(), "Disconnected");
      EXPECT_EQ(ConnectText(), "Connect");
    }
  }
  EXPECT_TRUE(window->SlowConnect()) << "cleared only when the window opens";
}

TEST_F(RdclientWindow, EventsProvokedByTheEmulator) {
  Make({sim::Scenario{sim::ScenarioKind::kWrongPassword, 0}});
  window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return !Boxes().empty(); }, 15s));
  EXPECT_EQ(Boxes()[0].caption, "RDCP Session Open Failed");
  EXPECT_EQ(Boxes()[0].text, "Connection Denied by DVR.\nInvalid Password.");
  EXPECT_EQ(Status(), "Disconnected");

  // A refused control connect: the box of code 1, then the failure text of
  // 0x412 (posted after the event) stays.
  const uint16_t port = dvr->control_port();
  dvr->Stop();
  window->Main().SetPorts(port, 0);
  window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Boxes().size() == 2; }, 15s));
  EXPECT_EQ(Boxes()[1].caption, "RDCP Connection Failed");
  EXPECT_EQ(Boxes()[1].text.rfind("Cannot connect to the DVR.", 0), 0u);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Status() == "[Ctrl] Connection Failed"; }));
  EXPECT_EQ(ConnectText(), "Connect");
  EXPECT_TRUE(window->Controls().Button(kCloseWindow)->isEnabled());
}

TEST_F(RdclientWindow, RefusedStreamEndsDisconnectedWithItsBox) {
  Make();
  rdtest::LiveDvr other;
  ASSERT_TRUE(other.started());
  const uint16_t dead = other.stream_port();
  other.Stop();
  window->Main().SetPorts(dvr->control_port(), dead);
  window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return !Boxes().empty(); }, 15s));
  EXPECT_EQ(Boxes()[0].caption, "Stream Connection Fail");
  rdtest::PumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(Status(), "Disconnected");
  EXPECT_FALSE(window->StreamConnected());
}

TEST_F(RdclientWindow, CloseWindowNeverHangsShowsNoBoxAndSendsCloseSession) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  const auto t0 = std::chrono::steady_clock::now();
  QTest::mouseClick(window->Controls().Button(kCloseWindow), Qt::LeftButton);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), QDialog::Rejected);
  EXPECT_FALSE(window->Main().HasSession());
  EXPECT_TRUE(rdtest::WaitFor([&] { return dvr->Received(17) == 1; }));
  window.reset();
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientWindow, EscapeAndTheTitleBarCloseRunTheCloseSequence) {
  Make();
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
  window.reset();
  Make();
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->Controls().Button(kConnect)->text(), "Connect");
}

TEST_F(RdclientWindow, FiftyConnectDisconnectCycles) {
  Make();
  for (int i = 0; i < 50; ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
    ASSERT_TRUE(rdtest::PumpUntil([&] { return Status() == "Connected"; }, 20s))
        << Status().toStdString();
    QTest::mouseClick(window->Controls().Button(kConnect), Qt::LeftButton);
    ASSERT_EQ(Status(), "Disconnected");
  }
  rdtest::PumpUntil([] { return false; }, 100ms);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(rdtest::WaitFor([&] { return dvr->Received(17) == 50; }));
}

TEST_F(RdclientWindow, ModelessDialogsLiveAndDieWithTheirMessages) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  window->OnMenu(kMenuStatistics);
  window->OnMenu(kMenuStatistics);  // shown: nothing
  EXPECT_EQ(dialogs.stat_created, 1);
  QPointer<QDialog> stat = window->StatisticsDialog();
  ASSERT_NE(stat, nullptr);
  auto* ticked = static_cast<ModelessDialog*>(stat.data());
  ASSERT_TRUE(rdtest::PumpUntil([&] { return ticked->ticks > 0; }, 5s)) << "it gets 0x4F0";
  // The statistics dialog deletes itself; the window only forgets it.
  stat->reject();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return stat.isNull(); }));
  rdtest::PumpPosted();
  EXPECT_EQ(window->StatisticsDialog(), nullptr);
  window->OnMenu(kMenuStatistics);
  EXPECT_EQ(dialogs.stat_created, 2) << "a new one after the old one went";

  // DVR Management with a session: the dialog opens at 0x460.
  window->OnMenu(kMenuDvrManagement);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return window->DvrManagementDialog() != nullptr; }, 10s));
  EXPECT_EQ(dialogs.dvr_mgr_created, 1);
  // A second 0x460 while it exists builds nothing over it.
  window->Port().Post(rcmsg::kSettingsRefreshed, 0, 0);
  rdtest::PumpPosted();
  EXPECT_EQ(dialogs.dvr_mgr_created, 1);
  window->OnMenu(kMenuDvrManagement);  // shown: nothing
  rdtest::PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(dialogs.dvr_mgr_created, 1);

  // Closing the window with both open, the engine still posting to them
  // (the sanitizers see a use after free otherwise).
  window->CloseWindow();
  window.reset();
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(RdclientWindow, ConnectCommandClosesTheModelessDialogs) {
  Make();
  window->OnMenu(kMenuDvrManagement);  // no session: at once, without DVR data
  ASSERT_NE(window->DvrManagementDialog(), nullptr);
  window->OnMenu(kMenuStatistics);
  QPointer<QDialog> dvr_mgr = window->DvrManagementDialog();
  // Connect, then cancel the connection manager: both dialogs are closed.
  QTimer::singleShot(0, [] {
    if (auto* d = dynamic_cast<RcDlgConMgr*>(QApplication::activeModalWidget())) d->reject();
  });
  QTest::mouseClick(window->Controls().Button(kConnect), Qt::LeftButton);
  rdtest::PumpUntil([&] { return dvr_mgr.isNull() && window->StatisticsDialog() == nullptr; });
  EXPECT_TRUE(dvr_mgr.isNull()) << "deleted at 0x461";
  EXPECT_EQ(window->StatisticsDialog(), nullptr);
  EXPECT_EQ(Status(), "Not Connected") << "cancel leaves the window as it was";
  EXPECT_EQ(ConnectText(), "Connect");
}

TEST_F(RdclientWindow, ConnectionManagerConnectsAndRemembersTheAddress) {
  Make();
  QTimer::singleShot(0, [] {
    auto* d = dynamic_cast<RcDlgConMgr*>(QApplication::activeModalWidget());
    if (d == nullptr) return;
    d->Controls().Ip(conmgr::kAddress)->SetText(QStringLiteral("127.0.0.1"));
    QTest::keyClicks(d->Controls().Edit(conmgr::kPassword), QStringLiteral("1234567"));
    EXPECT_EQ(d->Controls().Edit(conmgr::kPassword)->text(), "123456") << "at most 6";
    QTest::mouseClick(d->Controls().Button(conmgr::kOk), Qt::LeftButton);
  });
  QTest::mouseClick(window->Controls().Button(kConnect), Qt::LeftButton);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Status() == "Connected"; }, 20s));
  ClientConfig saved;
  ASSERT_TRUE(ConfigFile(dir.path()).Read(&saved));
  EXPECT_EQ(saved.address, (std::array<uint8_t, 4>{127, 0, 0, 1}));
  // The next time the dialog opens with the saved address.
  RcDlgConMgr again(window.get(), ConfigFile(dir.path()));
  EXPECT_EQ(again.Controls().Ip(conmgr::kAddress)->Address(),
            (std::array<uint8_t, 4>{127, 0, 0, 1}));
}

TEST_F(RdclientWindow, ConnectionManagerRefusesBadInputAndStaysOpen) {
  Make();
  RcDlgConMgr d(window.get(), ConfigFile(dir.path()));
  EXPECT_EQ(d.Controls().Ip(conmgr::kAddress)->Address(), (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_TRUE(d.Controls().Get<QCheckBox>(conmgr::kSaveAddress)->isChecked());
  d.show();
  QTest::keyClicks(d.Controls().Edit(conmgr::kPassword), QStringLiteral("12345"));
  QTest::mouseClick(d.Controls().Button(conmgr::kOk), Qt::LeftButton);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "Invalid Password");
  EXPECT_TRUE(d.Controls().Edit(conmgr::kPassword)->text().isEmpty());
  EXPECT_TRUE(d.isVisible());
  QTest::keyClicks(d.Controls().Edit(conmgr::kPassword), QStringLiteral("123456"));
  d.Controls().Ip(conmgr::kAddress)->SetText(QStringLiteral("0.1.2.3"));
  QTest::mouseClick(d.Controls().Button(conmgr::kOk), Qt::LeftButton);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].caption, "Input Error");
  EXPECT_EQ(Boxes()[1].text, "Invalid IP Address\n0.1.2.3");
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.result(), 0);
}

TEST_F(RdclientWindow, MenuCommandsBeforeTheDisplayRuns) {
  Make();
  window->OnMenu(kMenuSaveAvi);
  window->OnMenu(kMenuCapture);
  EXPECT_TRUE(files.presets.empty()) << "no file question before the display runs";
  window->OnMenu(kMenuColourSetup);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Display Color Setting");
  EXPECT_EQ(Boxes()[0].text, "Display module is not running yet");
  EXPECT_EQ(Boxes()[0].icon, MessageIcon::kStop);
  EXPECT_EQ(dialogs.colours_asked, 0);
}

TEST_F(RdclientWindow, DvrManagementRefusedOutsideViewMode) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  window->Main().StartRecording();
  ASSERT_TRUE(
      rdtest::PumpUntil([&] { return window->Main().DvrMode() == dvr_mode::kRecord; }, 10s));
  window->OnMenu(kMenuDvrManagement);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Operation Not Allowd");
  EXPECT_EQ(Boxes()[0].text,
            "The DVR is not in VIEW mode\nManaging the DVR is prohibited in following DVR "
            "modes.\n  -RECORD\n  -SENSOR ACTIVATED\n  -ALARM RECORDING\n  -PLAY (FF,REW,PAUSE)");
  EXPECT_EQ(Boxes()[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(dialogs.dvr_mgr_created, 0);
}

TEST_F(RdclientWindow, SaveAsAviColourSetupAndCapture) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  QAction* avi = window->MenuAction(kMenuSaveAvi);
  files.answers = {QString()};  // cancelled
  window->OnMenu(kMenuSaveAvi);
  EXPECT_EQ(avi->text(), "Save as AVI");
  EXPECT_FALSE(window->Main().IsAviExporting());
  const QString path = QString::fromStdString((dir / "clip.avi").string());
  files.answers = {path};
  window->OnMenu(kMenuSaveAvi);
  EXPECT_EQ(avi->text(), " Stop AVI  ");
  EXPECT_TRUE(window->Main().IsAviExporting());
  rdtest::PumpUntil([] { return false; }, 500ms);
  window->OnMenu(kMenuSaveAvi);
  EXPECT_EQ(avi->text(), "Save as AVI");
  EXPECT_GT(std::filesystem::file_size(dir / "clip.avi"), 10000u);
  files.answers = {QString()};
  window->OnMenu(kMenuSaveAvi);
  ASSERT_EQ(files.presets.size(), 3u);
  EXPECT_TRUE(files.presets[0].isEmpty()) << "the first proposes an empty name";
  EXPECT_EQ(files.presets[2], path) << "then the previous path";
  EXPECT_EQ(files.filters[0], "Avi Files (*.avi)");
  // A file that cannot be made is told, with the system's reason.
  const std::string missing = (dir / "missing" / "clip.avi").string();
  files.answers = {QString::fromStdString(missing)};
  window->OnMenu(kMenuSaveAvi);
  EXPECT_FALSE(window->Main().IsAviExporting());
  EXPECT_EQ(avi->text(), "Save as AVI");
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Save As AVI");
  EXPECT_EQ(Boxes()[0].text,
            "Cannot create the AVI file " + missing + ":\nno such file or directory");

  files.answers = {QString::fromStdString((dir / "still.bmp").string())};
  window->OnMenu(kMenuCapture);
  EXPECT_EQ(files.filters.back(), "bmp Files (*.bmp)");
  EXPECT_EQ(std::filesystem::file_size(dir / "still.bmp"), 837174u);

  const bool before = window->Main().IsTrueColour();
  window->OnMenu(kMenuColourSetup);
  EXPECT_EQ(dialogs.colours_asked, 1);
  EXPECT_NE(window->Main().IsTrueColour(), before);
  EXPECT_EQ(Boxes().size(), 1u) << "only the AVI file that could not be made was told";
}

TEST_F(RdclientWindow, TeardownResetsTheDvrDisplayAndThePendingFlags) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  window->Port().Post(rcmsg::kConnectionEvent, rcevent::kStreamClosed, 0);
  rdtest::PumpPosted();
  EXPECT_TRUE(Visible(kBannerNoInfo));
  EXPECT_TRUE(Visible(kWideQuad));
  EXPECT_FALSE(window->Controls().Widget(kWideQuad)->isEnabled());
  for (int id : kDvrButtons) EXPECT_FALSE(window->Controls().Widget(id)->isEnabled());
  EXPECT_FALSE(window->Controls().Button(kLocalRec)->isEnabled());
  EXPECT_FALSE(window->Controls().Get<QCheckBox>(kAutoAdjust)->isEnabled());
  EXPECT_FALSE(window->Main().HasSession());
}

TEST_F(RdclientWindow, VideoKeepsItsAspectWhenTheWindowGrows) {
  Make();
  ASSERT_TRUE(ConnectAndWaitForFrames());
  const QRect before = window->Video()->geometry();
  const QPoint connect_before = window->Controls().Widget(kConnect)->pos();
  window->resize(window->width() + 400, window->height() + 300);
  rdtest::PumpPosted();
  EXPECT_EQ(window->Video()->width(), before.width() + 400);
  EXPECT_EQ(window->Video()->height(), before.height() + 300);
  EXPECT_EQ(window->Controls().Widget(kConnect)->pos(), connect_before + QPoint(400, 0))
      << "the panels stay at the right edge";
  const QRect r = window->Video()->PictureRect();
  EXPECT_NEAR(static_cast<double>(r.width()) / r.height(), 640.0 / 436.0, 0.01);
}

}  // namespace
}  // namespace rd::client
