#pragma once
// The main window's test fixture: the window on the offscreen platform
// against the emulated DVR in the same process, with stand-ins for the
// dialogs the menu commands and the DVR PLAY button open and for the file
// questions.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "client/ui/rdclientDlg.h"
#include "platform/MessageBox.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/WindowPort.h"

namespace rd::client::wintest {

using namespace std::chrono_literals;
using namespace ids;

// Answers the file questions with the next path of a list ("" = cancel).
class ScriptedFiles : public ui::FileChooser {
 public:
  QString SaveFileName(QWidget*, const QString& filter, const QString&,
                       const QString& preset) override {
    filters.push_back(filter);
    presets.push_back(preset);
    return Next();
  }
  QString OpenFileName(QWidget*, const QString& filter, const QString&,
                       const QString& directory) override {
    filters.push_back(filter);
    directories.push_back(directory);
    return Next();
  }
  std::vector<QString> answers, filters, presets, directories;

 private:
  QString Next() {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
};

// A modeless dialog as the statistics and DVR management dialogs are: it
// registers with the control main, receives its posts, and on closing posts
// its message to the main window (the statistics one deletes itself).
class ModelessDialog : public QDialog {
 public:
  ModelessDialog(RdclientDlg& owner, RcCtrlMain& main, uint32_t closed_message, bool self_delete)
      : QDialog(&owner), owner_(owner), main_(main), closed_(closed_message) {
    port_.SetHandler([this](uint32_t m, uintptr_t, intptr_t) {
      if (m == rcmsg::kSecondTick) ++ticks;
    });
    main_.RegisterWindow(&port_);
    if (self_delete) setAttribute(Qt::WA_DeleteOnClose);
  }
  ~ModelessDialog() override { main_.UnregisterWindow(&port_); }
  void done(int r) override {
    QDialog::done(r);
    owner_.Port().Post(closed_, 0, 0);
    if (testAttribute(Qt::WA_DeleteOnClose)) deleteLater();
  }
  int ticks = 0;

 private:
  RdclientDlg& owner_;
  RcCtrlMain& main_;
  uint32_t closed_;
  ui::WindowPort port_;
};

class FakeDialogs : public ClientDialogs {
 public:
  QDialog* CreateDvrManagement(RdclientDlg& owner, RcCtrlMain& main) override {
    ++dvr_mgr_created;
    return new ModelessDialog(owner, main, rcmsg::kDvrMgrDestroyed, false);
  }
  QDialog* CreateStatistics(RdclientDlg& owner, RcCtrlMain& main) override {
    ++stat_created;
    return new ModelessDialog(owner, main, rcmsg::kStatDestroyed, true);
  }
  bool ChooseColours(RdclientDlg&, bool current, bool* true_colour) override {
    ++colours_asked;
    *true_colour = !current;
    return true;
  }
  // The DVR play dialog's stand-in: `play` chooses from the events it is
  // given (nullopt: cancelled); without it every play dialog is cancelled.
  bool ChoosePlay(RdclientDlg&, const std::vector<EventRecord>& events,
                  ui::PlayChoice* choice) override {
    ++plays_asked;
    play_events = events;
    if (!play) return false;
    const std::optional<ui::PlayChoice> c = play(events);
    if (c) *choice = *c;
    return c.has_value();
  }
  int dvr_mgr_created = 0, stat_created = 0, colours_asked = 0, plays_asked = 0;
  std::function<std::optional<ui::PlayChoice>(const std::vector<EventRecord>&)> play;
  std::vector<EventRecord> play_events;
};

class RdclientWindow : public ::testing::Test {
 protected:
  void Make(std::vector<sim::Scenario> scenarios = {}, bool pal = false, bool quad = false) {
    dvr = std::make_unique<rdtest::LiveDvr>(std::move(scenarios), pal, quad);
    ASSERT_TRUE(dvr->started()) << dvr->error();
    RdclientDlg::Options o;
    o.control_port = dvr->control_port();
    o.stream_port = dvr->stream_port();
    o.config_dir = dir.path().string();
    o.dialogs = &dialogs;
    o.files = &files;
    o.compressors = &compressor;
    window = std::make_unique<RdclientDlg>(o);
    window->show();
  }
  void TearDown() override {
    window.reset();
    dvr.reset();
  }
  QString Status() const { return window->Controls().Label(kStatus)->text(); }
  QString ConnectText() const { return window->Controls().Button(kConnect)->text(); }
  bool Visible(int id) const { return window->Controls().Widget(id)->isVisibleTo(window.get()); }
  bool ConnectAndWaitForFrames() {
    window->ConnectTo("127.0.0.1", rdtest::LiveDvr::kPassword);
    return rdtest::PumpUntil(
        [&] { return Status() == "Connected" && window->Video()->Presents() > 3; }, 20s);
  }
  std::vector<rd::Message> Boxes() const { return boxes.Messages(); }

  rdtest::TempDir dir;
  ScopedMessageCapture boxes;
  FakeDialogs dialogs;
  ScriptedFiles files;
  FixedCompressorChooser compressor{CompressorOptions{}};
  std::unique_ptr<rdtest::LiveDvr> dvr;
  std::unique_ptr<RdclientDlg> window;
};

}  // namespace rd::client::wintest
