// The player's main window on the offscreen platform with make-disk images:
// its layout and initial state, the HDD flow (scan once, the disk lines, the
// boxes), opening an image at a time, the buttons on the playing engine,
// capture and AVI with their reports, the clip export, and closing in every
// state.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "PlayerFixture.h"
#include "platform/MessageBox.h"
#include "player/playback/ExportReport.h"
#include "player/ui/rdplayerDlg.h"
#include "player/ui/rdplayerIds.h"
#include "shared/still/BmpFile.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/DialogUnits.h"

namespace rd::player {
namespace {

using namespace std::chrono_literals;
using namespace ids;
using Mode = PlaybackEngine::PlayMode;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PlayerWindow : public ::testing::Test {
 protected:
  void Make(DriveMap drives = {}) {
    RdplayerDlg::Options o;
    o.drives = std::move(drives);
    o.dialogs = &dialogs;
    o.files = &files;
    o.compressors = &compressor;
    window = std::make_unique<RdplayerDlg>(o);
    window->show();
  }
  void TearDown() override { window.reset(); }
  bool On(int id) const { return window->Controls().Widget(id)->isEnabled(); }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const Message& m : boxes.Messages()) out.push_back(m.text);
    return out;
  }
  PlaybackEngine& Engine() { return *window->Engine(); }
  // Opens the image at a time and waits until frames are drawn.
  void OpenAndPlay(const RecTime& time = {24, 5, 1, 12, 0, 5}) {
    window->OpenPath(rdtest::Images().image, time);
    ASSERT_TRUE(rdtest::PumpUntil([&] {
      const auto d = Engine().last_drawn();
      return d && d->count > 8;
    }));
  }

  ScopedMessageCapture boxes;
  rdtest::ScriptedDialogs dialogs;
  rdtest::ScriptedFiles files;
  FixedCompressorChooser compressor{CompressorOptions{}};
  rdtest::TempDir dir;
  std::unique_ptr<RdplayerDlg> window;
};

TEST_F(PlayerWindow, LayoutTooltipsAndInitialState) {
  Make();
  const ui::DialogUnits du(6, 13);
  EXPECT_EQ(window->windowTitle(), "Movira 4.8 English Version");
  EXPECT_EQ(window->size(), du.Size(471, 372));
  struct Control {
    int id;
    QRect units;
    const char* tooltip;
  };
  const Control controls[] = {
      {kChannel[0], {7, 354, 29, 10}, "Channel 1"},
      {kChannel[3], {112, 354, 29, 10}, "Channel 4"},
      {kAll, {147, 354, 29, 10}, "All Channels"},
      {kPreviousFrame, {192, 344, 24, 20}, "Previous Frame"},
      {kReverse, {216, 344, 24, 20}, "Reverse"},
      {kPause, {240, 344, 24, 20}, "Pause"},
      {kPlay, {264, 344, 24, 20}, "Play"},
      {kNextFrame, {288, 344, 24, 20}, "Next Frame"},
      {kStop, {312, 344, 24, 20}, "Stop"},
      {kSpeed, {336, 328, 32, 36}, "Speed"},
      {kSearch, {368, 344, 24, 20}, "Search"},
      {kHdd, {392, 344, 24, 20}, "Open Hard Disk"},
      {kCapture, {416, 344, 24, 20}, "Capture"},
      {kAvi, {440, 344, 24, 20}, "Save as AVI"},
  };
  for (const Control& c : controls) {
    QWidget* w = window->Controls().Widget(c.id);
    EXPECT_EQ(w->geometry(), du.Rect(c.units.x(), c.units.y(), c.units.width(), c.units.height()))
        << c.tooltip;
    EXPECT_EQ(w->toolTip(), c.tooltip);
  }
  EXPECT_EQ(window->Controls().Widget(kPicture)->geometry(), du.Rect(19, 7, 430, 294));
  EXPECT_EQ(window->Controls().Widget(kNetwork)->geometry(), du.Rect(267, 329, 67, 14));
  EXPECT_EQ(window->Controls().Widget(kTime)->geometry(), du.Rect(369, 330, 79, 9));
  EXPECT_EQ(window->Controls().Label(kTime)->text(), "TIME");
  EXPECT_FALSE(window->Controls().Get<QCheckBox>(kNetwork)->isChecked());
  EXPECT_TRUE(window->Controls().Button(kAll)->isChecked());
  for (int id : PlayerControls::PlaybackControls()) EXPECT_FALSE(On(id)) << id;
  EXPECT_TRUE(On(kHdd));
  EXPECT_TRUE(On(kOpenImage));
  EXPECT_EQ(window->SpeedCaption(), ">> 1X");
  for (QWidget* w : window->Controls().InOrder()) {
    if (w->objectName() == "static") continue;
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PlayerWindow, HddScansOnceListsTheDisksAndOpensTheChosenDrive) {
  const auto& im = rdtest::Images();
  DriveMap drives;
  drives.Set(0, im.second);  // drive 0 is never looked at
  drives.Set(1, im.second);
  drives.Set(2, im.plain);
  drives.Set(3, im.image);
  Make(drives);
  dialogs.select_row = 1;
  dialogs.time = RecTime{24, 5, 1, 12, 0, 4};
  window->Press(kHdd);
  EXPECT_EQ(dialogs.waits, 1);
  ASSERT_EQ(dialogs.lines.size(), 2u);
  EXPECT_EQ(dialogs.lines[0].text, "Hard Disk 1");
  EXPECT_EQ(dialogs.lines[0].drive, 1);
  EXPECT_EQ(dialogs.lines[1].text, "Hard Disk 2");
  EXPECT_EQ(dialogs.lines[1].drive, 3);
  ASSERT_TRUE(window->Disk());
  EXPECT_EQ(window->Disk()->path, im.image) << "the second line is drive 3";
  ASSERT_TRUE(dialogs.last_span);
  EXPECT_EQ(FormatDiskTime(dialogs.last_span->start), "24/05/01  12:00:00");
  EXPECT_EQ(dialogs.events.size(), 2u);
  EXPECT_TRUE(rdtest::PumpUntil([&] { return Engine().last_drawn().has_value(); }));
  EXPECT_EQ(Engine().play_mode(), Mode::kForward);
  for (int id : {kPlay, kPause, kSearch, kCapture, kAvi, kPosition, kNextEvent})
    EXPECT_TRUE(On(id));

  // A second press does not scan again; Esc in the list opens nothing.
  dialogs.select_row.reset();
  window->Press(kHdd);
  EXPECT_EQ(dialogs.waits, 1);
  EXPECT_EQ(window->Scans(), 1);
  EXPECT_EQ(dialogs.selects, 2);
  EXPECT_EQ(Engine().play_mode(), Mode::kStopped) << "HDD stops play while it asks";
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PlayerWindow, NoDvrHddAndNoDataLeaveThePlaybackButtonsOff) {
  const auto& im = rdtest::Images();
  DriveMap plain;
  plain.Set(1, im.plain);
  Make(plain);
  window->Press(kHdd);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"No DVR HDD"});
  EXPECT_EQ(dialogs.selects, 0);
  window->Press(kHdd);
  EXPECT_EQ(window->Scans(), 1) << "no scan again, even for a second answer";

  window->OpenPath(im.no_data);
  EXPECT_EQ(Boxes().back(), "No Data");
  for (int id : PlayerControls::PlaybackControls()) EXPECT_FALSE(On(id)) << id;
  EXPECT_EQ(dialogs.searches, 0);
  EXPECT_FALSE(window->Disk());
  // The network layout leaves no area below this marker: "No Data" as well.
  window->Controls().Button(kNetwork)->click();
  window->OpenPath(im.image);
  EXPECT_EQ(Boxes().back(), "No Data");
  for (int id : PlayerControls::PlaybackControls()) EXPECT_FALSE(On(id)) << id;
}

TEST_F(PlayerWindow, SearchCancelledNotFoundAndFound) {
  Make();
  dialogs.time.reset();
  window->OpenPath(rdtest::Images().image);
  EXPECT_EQ(dialogs.searches, 1);
  EXPECT_EQ(Engine().play_mode(), Mode::kNone) << "cancelled: nothing started";
  for (int id : {kPlay, kReverse, kSearch}) EXPECT_TRUE(On(id));
  // Play then starts from the recording's first packet.
  window->Press(kPlay);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return Engine().last_drawn().has_value(); }));
  EXPECT_EQ(FormatDiskTime(Engine().last_drawn()->time).substr(0, 17), "24/05/01  12:00:0");

  dialogs.time = RecTime{24, 5, 1, 13, 0, 0};  // outside the recording
  window->Press(kSearch);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"It's not found !"});
  EXPECT_EQ(Engine().play_mode(), Mode::kStopped);

  dialogs.time = RecTime{24, 5, 1, 12, 0, 15};
  window->Press(kSearch);
  ASSERT_TRUE(rdtest::PumpUntil([&] {
    const auto d = Engine().last_drawn();
    return d && TimeToSeconds(d->time) + 1 >= TimeToSeconds(*dialogs.time);
  }));
  EXPECT_EQ(Engine().play_mode(), Mode::kForward);
  EXPECT_TRUE(rdtest::PumpUntil(
      [&] { return window->Controls().Label(kTime)->text().startsWith("2024/05/01 12:00:1"); }));
}

TEST_F(PlayerWindow, TransportButtonsSpeedCaptionsAndChannels) {
  Make();
  OpenAndPlay();
  window->Press(kNextFrame);
  EXPECT_TRUE(Engine().step_hold());
  EXPECT_FALSE(On(kHdd)) << "stepping";
  EXPECT_FALSE(On(kOpenImage));
  window->Press(kPlay);
  EXPECT_TRUE(On(kHdd));
  EXPECT_EQ(Engine().play_mode(), Mode::kForward);
  window->Press(kPause);
  EXPECT_EQ(Engine().play_mode(), Mode::kStopped);
  window->Press(kPause);
  EXPECT_EQ(Engine().play_mode(), Mode::kForward);
  window->Press(kReverse);
  EXPECT_EQ(Engine().play_mode(), Mode::kReverse);
  window->Press(kStop);
  EXPECT_EQ(Engine().play_mode(), Mode::kStopped);

  std::vector<std::string> captions;
  for (int i = 0; i < 6; ++i) {
    window->Press(kSpeed);
    captions.push_back(window->SpeedCaption().toStdString());
    EXPECT_EQ(window->Controls().Widget(kSpeed)->accessibleName(), window->SpeedCaption());
  }
  EXPECT_EQ(captions,
            (std::vector<std::string>{">> 4X", ">> 16X", ">> 32X", ">> 64X", ">> 1X", ">> 4X"}));
  window->Press(kChannel[2]);
  EXPECT_EQ(Engine().selected_channel(), 3);
  window->Press(kAll);
  EXPECT_EQ(Engine().selected_channel(), 5);
}

// Esc does not close the player; the close command does, in any state.
TEST_F(PlayerWindow, EscKeepsTheWindowAndClosingNeverHangs) {
  Make();
  OpenAndPlay();
  QTest::keyClick(window.get(), Qt::Key_Escape);
  QTest::keyClick(window.get(), Qt::Key_Return);
  EXPECT_FALSE(window->Closed());
  EXPECT_TRUE(window->isVisible());
  window->Press(kNextFrame);  // stepping
  window->CloseWindow();
  EXPECT_TRUE(window->Closed());
  EXPECT_EQ(window->Engine(), nullptr) << "the engine's threads are joined";
}

TEST_F(PlayerWindow, CaptureWritesTheStampedBitmapAndItsReport) {
  Make();
  OpenAndPlay();
  window->Press(kPause);
  const std::string bmp = (dir / "shot.bmp").string();
  files.answers = {QString::fromStdString(bmp)};
  window->Press(kCapture);
  EXPECT_EQ(files.filters.back(), "bmp Files (*.bmp)");
  EXPECT_FALSE(Engine().hold());
  const auto bytes = rdtest::ReadFile(bmp);
  ASSERT_EQ(bytes.size(), 837'174u);
  // The time stamp is drawn into the file, not into the picture on the screen.
  const QImage screen = Engine().Picture();
  const QImage file = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "BMP");
  ASSERT_FALSE(file.isNull());
  int stamped = 0;
  for (int y = 436 - 16; y < 436; ++y)
    for (int x = 640 - 180; x < 640; ++x)
      stamped += file.pixelColor(x, y).rgb() != screen.pixelColor(x, y).rgb() ? 1 : 0;
  EXPECT_GT(stamped, 100);
  const std::string report = ReadText(bmp + ".report.txt");
  EXPECT_EQ(window->LastReport(), bmp + ".report.txt");
  EXPECT_NE(report.find("sha256: " + HexDigest(Sha256(bytes.data(), bytes.size())) + "  shot.bmp"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("kind: bitmap capture"), std::string::npos);
  EXPECT_NE(report.find("source: " + rdtest::Images().image), std::string::npos);
  EXPECT_NE(report.find("marker sector: " + std::to_string(rdtest::Images().marker)),
            std::string::npos);
  EXPECT_NE(report.find("first frame: 2024/05/01 12:00:"), std::string::npos);

  files.answers = {""};  // cancelled: nothing written, the hold let go
  window->Press(kCapture);
  EXPECT_FALSE(Engine().hold());
}

TEST_F(PlayerWindow, AviCompressorCancelLeavesNoFileAndRecordingIsFinishedOnClose) {
  Make();
  OpenAndPlay();
  const std::string cancelled = (dir / "cancelled.avi").string();
  files.answers = {QString::fromStdString(cancelled)};
  FixedCompressorChooser cancel(CompressorOptions{}, true);
  window.reset();
  {
    RdplayerDlg::Options o;
    o.dialogs = &dialogs;
    o.files = &files;
    o.compressors = &cancel;
    window = std::make_unique<RdplayerDlg>(o);
  }
  OpenAndPlay();
  window->Press(kAvi);
  EXPECT_FALSE(window->AviRecording());
  EXPECT_FALSE(std::filesystem::exists(cancelled));
  EXPECT_FALSE(Engine().hold()) << "the hold is let go";
  EXPECT_EQ(window->Controls().Widget(kAvi)->toolTip(), "Save as AVI");
  EXPECT_TRUE(Boxes().empty()) << "a cancelled choice is not a failure to tell";

  window.reset();
  Make();
  OpenAndPlay();
  const std::string missing = (dir / "missing" / "screen.avi").string();
  files.answers = {QString::fromStdString(missing)};
  window->Press(kAvi);
  EXPECT_FALSE(window->AviRecording());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Cannot create the AVI file " + missing +
                                              ":\nno such file or directory"});
  const std::string avi = (dir / "screen.avi").string();
  files.answers = {QString::fromStdString(avi)};
  window->Press(kAvi);
  ASSERT_TRUE(window->AviRecording());
  EXPECT_EQ(window->Controls().Widget(kAvi)->toolTip(), "Stop Saving");
  EXPECT_FALSE(Engine().hold());
  ASSERT_TRUE(rdtest::PumpUntil([&] { return std::filesystem::file_size(avi) > 4'000'000; }));
  window->CloseWindow();  // while recording: the file is finished first
  EXPECT_TRUE(window->Closed());
  const auto bytes = rdtest::ReadFile(avi);
  ASSERT_GT(bytes.size(), 4'000'000u);
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "AVI ");
  const std::string report = ReadText(avi + ".report.txt");
  EXPECT_NE(
      report.find("sha256: " + HexDigest(Sha256(bytes.data(), bytes.size())) + "  screen.avi"),
      std::string::npos)
      << report;
  EXPECT_NE(report.find("kind: screen AVI"), std::string::npos);
}

TEST_F(PlayerWindow, ClipExportFromTheRecordedFramesBetweenTheMarks) {
  Make();
  OpenAndPlay({24, 5, 1, 12, 0, 2});
  window->Press(kMarkIn);
  ASSERT_TRUE(window->MarkedIn());
  EXPECT_FALSE(On(kExportClip));
  ASSERT_TRUE(rdtest::PumpUntil([&] {
    return TimeToSeconds(Engine().last_drawn()->time) >=
           TimeToSeconds(window->MarkedIn()->time) + 2;
  }));
  window->Press(kMarkOut);
  ASSERT_TRUE(On(kExportClip));
  EXPECT_TRUE(window->Controls().Label(kMarks)->text().contains("Out: 2024/05/01 12:00:"));
  const std::string clip = (dir / "clip.avi").string();
  files.answers = {QString::fromStdString(clip)};
  window->Press(kExportClip);
  EXPECT_EQ(files.presets.back(), "clip.avi");
  EXPECT_FALSE(Engine().hold());
  const auto bytes = rdtest::ReadFile(clip);
  ASSERT_GT(bytes.size(), 1'000'000u) << "recorded frames of three seconds or more";
  const std::string report = ReadText(clip + ".report.txt");
  EXPECT_NE(report.find("sha256: " + HexDigest(Sha256(bytes.data(), bytes.size())) + "  clip.avi"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("kind: clip AVI"), std::string::npos);
  EXPECT_NE(report.find("channels: all"), std::string::npos);
  // From the marked frame on (each channel from its first full frame).
  const auto first = report.find("first frame: ");
  ASSERT_NE(first, std::string::npos);
  const auto first_time = ParseSearchTime(report.substr(first + 15, 17));
  ASSERT_TRUE(first_time) << report.substr(first, 40);
  EXPECT_GE(TimeToSeconds(*first_time), TimeToSeconds(window->MarkedIn()->time));
  EXPECT_LE(TimeToSeconds(*first_time), TimeToSeconds(window->MarkedIn()->time) + 1);
  EXPECT_NE(report.find("audio packets: "), std::string::npos);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PlayerWindow, PositionAndEventsJumpWithinTheRecording) {
  Make();
  OpenAndPlay({24, 5, 1, 12, 0, 1});
  QSlider* slider = window->Position();
  EXPECT_TRUE(slider->isEnabled());
  ASSERT_GT(slider->maximum(), 10);
  window->SeekTo(slider->maximum() * 3 / 4);  // about 12:00:15
  ASSERT_TRUE(rdtest::PumpUntil([&] {
    return TimeToSeconds(Engine().last_drawn()->time) >= TimeToSeconds({24, 5, 1, 12, 0, 12});
  }));
  EXPECT_TRUE(rdtest::PumpUntil([&] { return slider->value() > slider->maximum() / 2; }));
  // The events: the alarm at 12:00:05, the timer at 12:00:12.
  window->Press(kStop);
  window->Press(kPreviousEvent);
  ASSERT_TRUE(rdtest::PumpUntil([&] {
    const int64_t t = TimeToSeconds(Engine().last_drawn()->time);
    return t >= TimeToSeconds({24, 5, 1, 12, 0, 11}) && t <= TimeToSeconds({24, 5, 1, 12, 0, 13});
  }));
  EXPECT_TRUE(Engine().step_hold()) << "stopped before: one frame is shown";
}

}  // namespace
}  // namespace rd::player
