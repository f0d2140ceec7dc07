// The three dialogs of the disk flows as widgets: the Search Time dialog's
// refusals (the prompt, the focus back on the field, the dialog open), its
// events once and a line filling the fields; Select HDD's OK and Esc; the
// Wait dialog animating while the scan runs on a worker.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <thread>

#include "platform/MessageBox.h"
#include "player/ui/SearchTime.h"
#include "player/ui/SelectHdd.h"
#include "player/ui/Wait.h"
#include "player/ui/rdplayerIds.h"
#include "support/QtTestSupport.h"
#include "ui/DialogUnits.h"

namespace rd::player {
namespace {

using namespace std::chrono_literals;
using namespace ids;

RecordingSpan Span() {
  RecordingSpan s;
  s.start = {24, 5, 1, 12, 0, 0};
  s.end = {24, 5, 1, 12, 4, 59};
  s.default_search = {24, 5, 1, 12, 0, 1};
  return s;
}

TEST(SearchTimeDialogTest, RefusedFieldKeepsTheDialogOpenWithTheFocusOnIt) {
  ScopedMessageCapture boxes;
  SearchTimeDialog dialog(nullptr, Span(), {});
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Search Time");
  EXPECT_EQ(dialog.size(), ui::DialogUnits(6, 13).Size(207, 220));
  EXPECT_EQ(dialog.Field(0)->text(), "24");
  EXPECT_EQ(dialog.Field(5)->text(), "01");
  EXPECT_EQ(dialog.Controls().Label(kSearchStart)->text(), "24/05/01  12:00:00");
  EXPECT_EQ(dialog.Controls().Label(kSearchEnd)->text(), "24/05/01  12:04:59");
  struct Case {
    int field;
    const char* text;
    const char* prompt;
  };
  for (const Case c : {Case{1, "13", "Please enter an integer between 1 and 12."},
                       Case{3, "24", "Please enter an integer between 0 and 23."},
                       Case{2, "x", "Please enter an integer."}}) {
    dialog.Field(c.field)->setText(QString::fromUtf8(c.text));
    dialog.Controls().Button(kOk)->click();
    ASSERT_FALSE(boxes.Messages().empty()) << c.text;
    EXPECT_EQ(boxes.Messages().back().text, c.prompt);
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
    dialog.activateWindow();
    EXPECT_EQ(dialog.focusWidget(), dialog.Field(c.field)) << c.text;
    EXPECT_FALSE(dialog.time());
    dialog.Field(c.field)->setText(QStringLiteral("05"));
  }
  dialog.Controls().Button(kOk)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.time(), (RecTime{24, 5, 5, 5, 0, 1}));
}

TEST(SearchTimeDialogTest, FindEventsOnceSortedAndALineFillsTheFields) {
  int asked = 0;
  SearchTimeDialog dialog(nullptr, Span(), [&] {
    ++asked;
    return std::vector<DiskEvent>{
        {"24/05/01  12:03:00 - 24/05/01  12:03:30  ALARM", {24, 5, 1, 12, 3, 0}, {}, false},
        {"03/05/12  14:30:00 - 03/05/12  15:00:00  TIME", {3, 5, 12, 14, 30, 0}, {}, true}};
  });
  dialog.show();
  QAbstractButton* find = dialog.Controls().Button(kFindEvents);
  find->click();
  EXPECT_FALSE(find->isEnabled());
  find->click();
  EXPECT_EQ(asked, 1);
  QListWidget* list = dialog.List();
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), "03/05/12  14:30:00 - 03/05/12  15:00:00  TIME");
  EXPECT_EQ(dialog.Field(0)->text(), "24") << "filling the list changes no field";
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  const char* expected[] = {"03", "05", "12", "14", "30", "00"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dialog.Field(i)->text(), expected[i]) << i;
  // Esc cancels.
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_FALSE(dialog.time());
}

TEST(SelectHddDialogTest, OkTakesTheSelectedOrFirstLineEscCancels) {
  DiskTable table{};
  table[1] = 100;
  table[3] = 300;
  {
    SelectHddDialog dialog(nullptr, table);
    dialog.show();
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint) << "no title bar";
    EXPECT_EQ(dialog.size(), ui::DialogUnits(6, 13).Size(86, 112));
    ASSERT_EQ(dialog.List()->count(), 2);
    EXPECT_EQ(dialog.List()->item(1)->text(), "Hard Disk 2");
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.drive(), 1) << "no line selected: the first";
  }
  {
    SelectHddDialog dialog(nullptr, table);
    dialog.show();
    dialog.List()->setCurrentRow(1);
    dialog.OkButton()->click();
    EXPECT_EQ(dialog.drive(), 3);
  }
  {
    SelectHddDialog dialog(nullptr, table);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.drive());
  }
}

// The scan blocks until the dialog has shown two more animation steps: the
// animation runs on the user-interface thread while the work runs on
// another, and the work has ended (joined) when RunWhile returns.
TEST(WaitDialogTest, AnimatesWhileTheWorkRunsOnAWorkerThatIsJoined) {
  WaitDialog* shown = nullptr;
  std::atomic<int> steps_seen{-1};
  std::atomic<bool> finished{false};
  std::thread::id worker_id;
  const auto ui_id = std::this_thread::get_id();
  WaitDialog::RunWhile(
      nullptr,
      [&] {
        worker_id = std::this_thread::get_id();
        const auto end = std::chrono::steady_clock::now() + 20s;
        // Reads the dialog's counter only: the widget is the UI thread's.
        while (std::chrono::steady_clock::now() < end) {
          WaitDialog* d = shown;
          if (d != nullptr && d->steps_shown() >= 2) break;
          std::this_thread::yield();
        }
        steps_seen = shown != nullptr ? shown->steps_shown() : -1;
        finished = true;
      },
      &shown);
  EXPECT_TRUE(finished);
  EXPECT_GE(steps_seen.load(), 2);
  EXPECT_NE(worker_id, ui_id);
  EXPECT_EQ(shown, nullptr);
}

TEST(WaitDialogTest, LayoutAndPictures) {
  WaitDialog dialog;
  EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(dialog.size(), ui::DialogUnits(6, 13).Size(187, 33));
  const QPixmap first = dialog.PictureLabel()->pixmap();
  EXPECT_EQ(first.size(), QSize(15, 15));
}

}  // namespace
}  // namespace rd::player
