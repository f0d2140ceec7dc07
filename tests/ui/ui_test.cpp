// The desktop foundation on the offscreen platform: the dialog-unit
// conversion and the fonts behind it, the control-table builder, the
// generated pictures, the window port, the message-box sink with its log
// lines, and the video widget.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <thread>

#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "ui/CompressorDialog.h"
#include "ui/ControlTable.h"
#include "ui/DialogUnits.h"
#include "ui/MessageBoxSink.h"
#include "ui/Pictures.h"
#include "ui/UiFonts.h"
#include "ui/UiLog.h"
#include "ui/VideoWidget.h"
#include "ui/WindowPort.h"

namespace rd::ui {
namespace {

TEST(DialogUnits, ConvertsWithRounding) {
  const DialogUnits du(6, 13);
  struct Case {
    int units, x, y;
  } cases[] = {{0, 0, 0},   {1, 2, 2},       {3, 5, 5},       {4, 6, 7},
               {7, 11, 11}, {431, 647, 700}, {592, 888, 962}, {342, 513, 556}};
  for (const Case& c : cases) {
    EXPECT_EQ(du.X(c.units), c.x) << c.units;
    EXPECT_EQ(du.Y(c.units), c.y) << c.units;
  }
  EXPECT_EQ(du.Rect(440, 0, 145, 70), QRect(660, 0, 218, 114));
}

TEST(DialogUnits, DialogFontResolvesToTheMetricFacesAndItsUnits) {
  EXPECT_EQ(ResolvedDialogFamily(), QStringLiteral("Liberation Sans"));
  EXPECT_EQ(QFontInfo(QFont(QStringLiteral("Courier New"))).family(),
            QStringLiteral("Liberation Mono"));
  const DialogUnits du = DialogUnits::Dialog();
  EXPECT_EQ(du.base_x(), 6);
  EXPECT_EQ(du.base_y(), 13);
  // The main window's 592 x 342 units.
  EXPECT_EQ(du.Size(592, 342), QSize(888, 556));
}

// The next `n` widgets that Tab reaches from `from` (itself first).
std::vector<QWidget*> TabOrder(QWidget* from, std::size_t n) {
  std::vector<QWidget*> order{from};
  for (QWidget* w = from->nextInFocusChain(); w != from && order.size() < n;
       w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
  return order;
}

const ControlEntry kTable[] = {
    {kNoId, ControlKind::kGroupBox, "Capture && Play", 0, 0, 100, 60},
    {10, ControlKind::kButton, "&Connect", 5, 10, 40, 12},
    {11, ControlKind::kPushCheck3, "Quad", 50, 10, 40, 12, kDisabled},
    {12, ControlKind::kPicture, "Not Connected", 5, 25, 133, 17, 0, Banner(colour::kGrey)},
    {13, ControlKind::kText, "A && B", 5, 45, 40, 8, kHidden},
    {14, ControlKind::kCheckBox, "Mute", 50, 45, 30, 10, kChecked},
    {15, ControlKind::kPassword, "", 5, 55, 40, 12, 0, {}, 6},
};

TEST(ControlTable, BuildsPlacesAndNamesEveryControl) {
  QWidget parent;
  ControlSet set;
  const DialogUnits du(6, 13);
  set.Build(&parent, kTable, du);
  ASSERT_EQ(set.InOrder().size(), std::size(kTable));
  EXPECT_EQ(set.Widget(10)->objectName(), QStringLiteral("10"));
  EXPECT_EQ(set.Widget(10)->geometry(), du.Rect(5, 10, 40, 12));
  EXPECT_EQ(set.Button(10)->text(), QStringLiteral("&Connect"));
  EXPECT_EQ(set.Widget(10)->accessibleName(), QStringLiteral("Connect"));
  auto* group = dynamic_cast<QGroupBox*>(set.InOrder()[0]);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->accessibleName(), QStringLiteral("Capture & Play"));
  EXPECT_EQ(set.Label(13)->text(), QStringLiteral("A & B"));
  EXPECT_TRUE(set.Widget(13)->isHidden());
  EXPECT_FALSE(set.Widget(11)->isEnabled());
  EXPECT_TRUE(set.Button(14)->isChecked());
  EXPECT_EQ(set.Edit(15)->maxLength(), 6);
  EXPECT_EQ(set.Edit(15)->echoMode(), QLineEdit::Password);
  // A picture shows its generated image at its natural size and is named by its text.
  const QLabel* pic = set.Label(12);
  EXPECT_EQ(pic->size(), QSize(kBannerWidth, kBannerHeight));
  EXPECT_EQ(pic->accessibleName(), QStringLiteral("Not Connected"));
  EXPECT_EQ(pic->geometry().topLeft(), du.Point(5, 25));
  EXPECT_EQ(set.UnitRect(12), QRect(5, 25, 133, 17));
  // Tab order: the table's order among the focusable controls.
  EXPECT_EQ(TabOrder(set.Widget(10), 4), (std::vector<QWidget*>{set.Widget(10), set.Widget(11),
                                                                set.Widget(14), set.Widget(15)}));
  EXPECT_EQ(set.Widget(99), nullptr);
}

TEST(ControlTable, PushCheckBoxesOfTwoAndThreeStates) {
  QWidget parent;
  ControlSet set;
  const ControlEntry table[] = {{1, ControlKind::kPushCheck, "CH1", 0, 0, 40, 12},
                                {2, ControlKind::kPushCheck3, "Quad", 0, 20, 40, 12}};
  set.Build(&parent, table, DialogUnits(6, 13));
  PushCheckBox* two = set.PushCheck(1);
  PushCheckBox* three = set.PushCheck(2);
  QSignalSpy clicks(three, &QAbstractButton::clicked);
  const Qt::CheckState two_states[] = {Qt::Checked, Qt::Unchecked, Qt::Checked};
  for (Qt::CheckState s : two_states) {
    QTest::mouseClick(two, Qt::LeftButton);
    EXPECT_EQ(two->checkState(), s);
  }
  const Qt::CheckState three_states[] = {Qt::Checked, Qt::PartiallyChecked, Qt::Unchecked};
  for (Qt::CheckState s : three_states) {
    QTest::mouseClick(three, Qt::LeftButton);
    EXPECT_EQ(three->checkState(), s);
  }
  EXPECT_EQ(clicks.count(), 3);
  // A change by the program sends no click.
  three->setCheckState(Qt::PartiallyChecked);
  EXPECT_EQ(three->checkState(), Qt::PartiallyChecked);
  EXPECT_TRUE(three->isChecked());
  two->setCheckState(Qt::PartiallyChecked);  // two states only
  EXPECT_EQ(two->checkState(), Qt::Checked);
  EXPECT_EQ(clicks.count(), 3);
}

// A vertical slider has its smallest value at the top: a click on the upper
// part of the groove and the Up key lower the value, the lower part raises it.
TEST(ControlTable, VerticalSliderHasItsSmallestValueAtTheTop) {
  QWidget parent;
  ControlSet set;
  const ControlEntry table[] = {{1, ControlKind::kSliderV, "Volume", 0, 0, 26, 57}};
  set.Build(&parent, table, DialogUnits(6, 13));
  parent.show();
  QSlider* s = set.Slider(1);
  s->setRange(0, 100);
  s->setPageStep(10);
  s->setValue(50);
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(s->width() / 2, 3));
  EXPECT_LT(s->value(), 50) << "a click near the top";
  s->setValue(50);
  QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(s->width() / 2, s->height() - 3));
  EXPECT_GT(s->value(), 50) << "a click near the bottom";
  s->setValue(50);
  s->setFocus();
  QTest::keyClick(s, Qt::Key_Up);
  EXPECT_LT(s->value(), 50) << "Up";
}

TEST(ControlTable, IpAddressFieldTakesAPastedDottedAddress) {
  IpAddressEdit ip;
  ip.show();
  EXPECT_TRUE(ip.SetText(QStringLiteral("192.168.1.20")));
  EXPECT_EQ(ip.Address(), (std::array<uint8_t, 4>{192, 168, 1, 20}));
  EXPECT_FALSE(ip.SetText(QStringLiteral("host.example")));
  ip.SetAddress({0, 0, 0, 0});
  QApplication::clipboard()->setText(QStringLiteral(" 10.1.2.3 "));
  ip.Field(0)->setFocus();
  QTest::keySequence(ip.Field(0), QKeySequence::Paste);
  EXPECT_EQ(ip.Address(), (std::array<uint8_t, 4>{10, 1, 2, 3}));
  // Typed: a dot moves on, a number above 255 becomes 255.
  ip.SetAddress({0, 0, 0, 0});
  for (int i = 0; i < 4; ++i) ip.Field(i)->clear();
  ip.Field(0)->setFocus();
  for (QChar c : QStringLiteral("7.300")) QTest::keyClick(ip.focusWidget(), c.toLatin1());
  EXPECT_EQ(ip.Address()[0], 7);
  EXPECT_EQ(ip.Address()[1], 255);
}

TEST(Pictures, SizesAndColoursOfTheGeneratedImages) {
  const QImage banner = MakeBanner(QStringLiteral("Connected"), colour::kOrange, false);
  EXPECT_EQ(banner.size(), QSize(195, 20));
  EXPECT_EQ(banner.depth(), 24);
  const QColor edge = banner.pixelColor(4, 10);  // band, away from the text
  EXPECT_GT(edge.red(), 200);
  EXPECT_GT(edge.red(), edge.blue() + 100);
  EXPECT_NE(MakeBanner(QStringLiteral("REC"), colour::kRedOrange, true),
            MakeBanner(QStringLiteral("REC"), colour::kRedOrange, false))
      << "the bold image of a blinking banner differs";
  const QImage on_air = MakeLamp(QStringLiteral("OnAir"), true);
  EXPECT_EQ(on_air.size(), QSize(40, 18));
  EXPECT_EQ(on_air.pixelColor(2, 2), colour::kYellow);
  const QImage off = MakeLamp(QStringLiteral("Off"), false);
  EXPECT_EQ(off.pixelColor(2, 2).red(), off.pixelColor(2, 2).blue()) << "grey";
  const QImage lit = MakeDot(colour::kGreen, true), dark = MakeDot(colour::kGreen, false);
  EXPECT_EQ(lit.size(), QSize(8, 8));
  EXPECT_GT(lit.pixelColor(4, 4).green(), dark.pixelColor(4, 4).green() + 80);
  EXPECT_EQ(MakeTitle(QStringLiteral("Tessaro")).size(), QSize(203, 33));
  EXPECT_FALSE(AppIcon().isNull());
}

TEST(WindowPort, PostQueuesSendIsDirectOnItsThreadAndQueuedFromAWorker) {
  std::vector<uint32_t> handled;
  WindowPort port([&](uint32_t m, uintptr_t, intptr_t) { handled.push_back(m); });
  port.Post(0x401, 0, 0);
  EXPECT_TRUE(handled.empty()) << "posted: handled by the event loop";
  port.Send(0x411, 0, 0);
  EXPECT_EQ(handled, (std::vector<uint32_t>{0x411})) << "sent on the UI thread: at once";
  std::thread worker([&] { port.Send(0x431, 0, 0); });  // never blocks
  worker.join();
  EXPECT_EQ(handled.size(), 1u);
  rdtest::PumpPosted();
  EXPECT_EQ(handled, (std::vector<uint32_t>{0x411, 0x401, 0x431})) << "queue order kept";
}

TEST(WindowPort, MessagesQueuedForADestroyedPortAreDropped) {
  int handled = 0;
  {
    WindowPort port([&](uint32_t, uintptr_t, intptr_t) { ++handled; });
    port.Post(0x401, 0, 0);
  }
  rdtest::PumpPosted();
  EXPECT_EQ(handled, 0);
}

TEST(UiLog, LineFormats) {
  EXPECT_EQ(UiLog::BoxLine(QStringLiteral("RDCP Connection Closed"),
                           QStringLiteral("Polling Timeout.\nThe DVR may be turned off."),
                           MessageIcon::kStop),
            "box\tRDCP Connection Closed\tPolling Timeout.\\nThe DVR may be turned off.\tstop");
  EXPECT_EQ(UiLog::BoxLine(QStringLiteral("Tessaro"), QStringLiteral("Invalid Password"),
                           MessageIcon::kNone),
            "box\tTessaro\tInvalid Password\tnone");
  EXPECT_EQ(UiLog::WindowLine(true, QStringLiteral("Tessaro 6.4"), 195, 242, 6, 13),
            "window\topen\tTessaro 6.4\t195,242\t6,13");
}

// Closes the next modal box and reports what it showed.
struct BoxSeen {
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool seen = false;
};
void CloseNextBox(BoxSeen* seen) {
  QTimer::singleShot(0, [seen] {
    auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return CloseNextBox(seen);
    seen->caption = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->seen = true;
    box->accept();
  });
}

TEST(QtMessageBoxSink, ModalBoxAsGivenAndQueuedFromAWorker) {
  rdtest::TempDir dir;
  UiLog log((dir / "ui.log").string());
  QtMessageBoxSink sink(QStringLiteral("Tessaro"), log);
  BoxSeen seen;
  CloseNextBox(&seen);
  ShowMessage("RDCP Connection Failed", "Could find the DVR\nCheck the IP address and try again",
              MessageIcon::kStop);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.caption, QStringLiteral("RDCP Connection Failed"));
  EXPECT_EQ(seen.text, QStringLiteral("Could find the DVR\nCheck the IP address and try again"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);

  // From a worker: Show returns at once; the box comes on the UI thread.
  BoxSeen later;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ShowMessage("", "Invalid Password");
    returned = true;
  });
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(later.seen);
  CloseNextBox(&later);
  ASSERT_TRUE(rdtest::PumpUntil([&] { return later.seen; }));
  EXPECT_EQ(later.caption, QStringLiteral("Tessaro")) << "an empty caption is the title";
  EXPECT_EQ(later.icon, QMessageBox::NoIcon);

  std::ifstream in(dir / "ui.log");
  std::string l1, l2;
  std::getline(in, l1);
  std::getline(in, l2);
  EXPECT_EQ(l1,
            "box\tRDCP Connection Failed\tCould find the DVR\\nCheck the IP address and try "
            "again\tstop");
  EXPECT_EQ(l2, "box\tTessaro\tInvalid Password\tnone");
}

TEST(UiLog, WindowLinesOfShownAndClosedWindows) {
  rdtest::TempDir dir;
  UiLog log((dir / "ui.log").string());
  WindowLogFilter filter(log);
  qApp->installEventFilter(&filter);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Remote DVR Control Panel"));
  auto* client = new QWidget(&window);
  client->setGeometry(0, 20, 100, 100);
  SetLayoutInfo(&window, client, DialogUnits(6, 13));
  window.move(40, 50);
  window.show();
  window.close();
  qApp->removeEventFilter(&filter);
  std::ifstream in(dir / "ui.log");
  std::string open, close;
  std::getline(in, open);
  std::getline(in, close);
  const QPoint at = client->mapToGlobal(QPoint(0, 0));
  const std::string where = std::to_string(at.x()) + "," + std::to_string(at.y());
  EXPECT_EQ(open, "window\topen\tRemote DVR Control Panel\t" + where + "\t6,13");
  EXPECT_EQ(close, "window\tclose\tRemote DVR Control Panel\t" + where + "\t6,13");
}

TEST(VideoWidget, CopiesThePictureAndKeepsItsAspect) {
  VideoWidget video;
  video.resize(646, 442);
  QImage ntsc(640, 436, QImage::Format_RGB32);
  ntsc.fill(Qt::red);
  video.Present(ntsc);
  ntsc.fill(Qt::blue);  // the widget holds its own copy
  EXPECT_EQ(video.Picture().pixelColor(10, 10), QColor(Qt::red));
  EXPECT_EQ(video.PictureRect(), QRect(3, 3, 640, 436)) << "1:1, centred";
  QImage pal(640, 532, QImage::Format_RGB32);
  pal.fill(Qt::green);
  video.Present(pal);
  EXPECT_EQ(video.PictureRect(), QRect(57, 0, 532, 442)) << "smaller, never clipped";
  video.resize(1280, 1024);                      // maximised: larger, aspect kept
  EXPECT_EQ(video.PictureRect().width(), 1232);  // 640 * 1024 / 532
  EXPECT_EQ(video.PictureRect().height(), 1024);
  video.resize(646, 442);
  video.show();
  ASSERT_TRUE(rdtest::PumpUntil([&] { return video.Paints() > 0; }));
  const QImage shown = video.grab().toImage();
  EXPECT_EQ(shown.pixelColor(300, 200), QColor(Qt::green));
  EXPECT_EQ(shown.pixelColor(10, 200), QColor(Qt::black)) << "bars beside the picture";
}

TEST(VideoWidget, FullScreenAndBack) {
  QWidget window;
  window.resize(900, 600);
  auto* video = new VideoWidget(&window);
  video->setGeometry(10, 10, 646, 442);
  window.show();
  QTest::mouseDClick(video, Qt::LeftButton);
  EXPECT_TRUE(video->IsFullScreen());
  EXPECT_TRUE(video->isWindow());
  QTest::keyClick(video, Qt::Key_Escape);
  EXPECT_FALSE(video->IsFullScreen());
  EXPECT_EQ(video->parentWidget(), &window);
  EXPECT_EQ(video->geometry(), QRect(10, 10, 646, 442));
  QTest::keyClick(video, Qt::Key_F11);
  EXPECT_TRUE(video->IsFullScreen());
  video->SetHomeGeometry(QRect(10, 10, 700, 500));  // the window was resized meanwhile
  video->ToggleFullScreen();
  EXPECT_EQ(video->geometry(), QRect(10, 10, 700, 500));
}

TEST(CompressorDialog, ListsTheEncodersUncompressedFirstWithTheirOptions) {
  const std::vector<VideoCompressor> list = ListAviVideoCompressors();
  ASSERT_FALSE(list.empty());
  CompressorDialog d(nullptr, list, 640, 436);
  ASSERT_EQ(d.List()->count(), static_cast<int>(list.size()));
  EXPECT_EQ(d.List()->item(0)->text(), QStringLiteral("Full Frames (Uncompressed)"));
  EXPECT_EQ(d.Options().compressor, kUncompressedCompressor);
  EXPECT_FALSE(d.KeyFrames()->isEnabled()) << "nothing to set for uncompressed frames";
  // A compressing encoder: its key-frame interval and data rate are passed on.
  int lossy = -1;
  for (int i = 1; i < static_cast<int>(list.size()) && lossy < 0; ++i)
    if (!list[static_cast<std::size_t>(i)].lossless) lossy = i;
  if (lossy < 0) GTEST_SKIP() << "no lossy encoder on this machine";
  d.List()->setCurrentRow(lossy);
  ASSERT_TRUE(d.KeyFrames()->isEnabled());
  ASSERT_TRUE(d.DataRate()->isEnabled());
  d.KeyFrames()->setValue(15);
  d.DataRate()->setValue(2000);
  const CompressorOptions o = d.Options();
  EXPECT_EQ(o.compressor, list[static_cast<std::size_t>(lossy)].name);
  EXPECT_EQ(o.keyframe_interval, 15);
  EXPECT_EQ(o.bit_rate, 2000000);
}

}  // namespace
}  // namespace rd::ui
