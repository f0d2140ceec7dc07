// The DVR play dialog's model: the recorded ranges of the two disks, the
// Master/Slave pair, the event lines and note, the start-time checks with
// their boxes, and the results of timed and event play.

#include <gtest/gtest.h>

#include "client/ui/models/PlayDialogModel.h"
#include "model_printers.h"

namespace rd::ui {
namespace {

namespace id = plymgr_id;

EventRecord Entry(uint8_t disk, uint8_t kind, uint32_t event_id, DvrTime start, DvrTime end) {
  EventRecord e;
  e.disk = disk;
  e.kind = kind;
  e.id = event_id;
  e.start = start;
  e.end = end;
  return e;
}

// second, minute, hour, day, month, year - 2000
constexpr DvrTime kRangeStart{5, 4, 3, 2, 1, 24};    // 2024/01/02 03:04:05
constexpr DvrTime kRangeEnd{59, 59, 23, 31, 3, 24};  // 2024/03/31 23:59:59

EventRecord MasterRange() {
  return Entry(0, 0, 1, kRangeStart, kRangeEnd);
}
EventRecord SlaveRange() {
  return Entry(1, 0, 2, {0, 0, 0, 1, 6, 23}, {0, 30, 12, 15, 6, 23});
}

PlayDialogModel Opened(const std::vector<EventRecord>& events) {
  PlayDialogModel m;
  m.SetEvents(events);
  return m;
}

// Chooses `t` in a disk's "Start from:" lists.
void ChooseTime(PlayDialogModel& m, const id::DiskIds& ids, const DvrTime& t) {
  const int values[6] = {t.year, t.month - 1, t.day - 1, t.hour, t.minute, t.second};
  for (int i = 0; i < 6; ++i) m.Choose(ids.lists[i], values[i]);
}

std::vector<std::string> Texts(const ControlStates& c, const int (&ids)[6]) {
  std::vector<std::string> v;
  for (int i : ids) v.push_back(c.at(i).text);
  return v;
}

TEST(PlayDialogModel, MasterRangeAndTwoTimeEvents) {
  PlayDialogModel m =
      Opened({MasterRange(), Entry(0, 1, 77, {0, 0, 10, 5, 3, 24}, {30, 15, 10, 5, 3, 24}),
              Entry(0, 1, 76, {9, 8, 7, 6, 2, 24}, {0, 0, 8, 6, 2, 24})});
  const ControlStates& c = m.Controls();
  EXPECT_TRUE(c.at(id::kMaster.check).checked());
  EXPECT_TRUE(c.at(id::kMaster.check).enabled);
  EXPECT_EQ(c.at(id::kMaster.note).text, "Set start time you want");
  EXPECT_FALSE(c.at(id::kSlave.check).enabled);
  EXPECT_FALSE(c.at(id::kSlave.check).checked());
  EXPECT_EQ(c.at(id::kSlave.note).text, "No Recorded Data");
  EXPECT_EQ(Texts(c, id::kMaster.start),
            (std::vector<std::string>{"2024", "1", "2", "3", "4", "5"}));
  EXPECT_EQ(Texts(c, id::kMaster.end),
            (std::vector<std::string>{"2024", "3", "31", "23", "59", "59"}));
  EXPECT_EQ(Texts(c, id::kSlave.start),
            (std::vector<std::string>{"2000", "01", "01", "00", "00", "00"}));
  const char* firsts[6] = {"2000", "1", "1", "0", "0", "0"};
  const std::size_t sizes[6] = {100, 12, 31, 24, 60, 60};
  const char* selected[6] = {"2024", "1", "2", "3", "4", "5"};
  for (int i = 0; i < 6; ++i) {
    const ControlState& l = c.at(id::kMaster.lists[i]);
    EXPECT_TRUE(l.enabled);
    ASSERT_EQ(l.items.size(), sizes[i]);
    EXPECT_EQ(l.items[0], firsts[i]);
    EXPECT_EQ(l.SelectedText(), selected[i]);
    EXPECT_FALSE(c.at(id::kSlave.lists[i]).enabled);
  }
  EXPECT_TRUE(c.at(id::kStartTimedPlay).enabled);
  EXPECT_TRUE(c.at(id::kStartEventPlay).enabled);
  EXPECT_TRUE(c.at(id::kEventList).enabled);
  EXPECT_EQ(c.at(id::kEventList).items,
            (std::vector<std::string>{
                "01 Time       2024/03/05 10:00:00 - 2024/03/05 10:15:30  Master",
                "02 Time       2024/02/06 07:08:09 - 2024/02/06 08:00:00  Master"}));
  EXPECT_EQ(c.at(id::kEventList).selected, 0);
  EXPECT_EQ(c.at(id::kEventNote).text, "2 events are listed, Choose event to be played");
  EXPECT_EQ(m.EventCount(), 2);

  // Unchecking Master without a slave range disables timed play.
  m.ClickMaster();
  EXPECT_FALSE(c.at(id::kMaster.check).checked());
  EXPECT_FALSE(c.at(id::kStartTimedPlay).enabled);
  EXPECT_FALSE(c.at(id::kMaster.lists[0]).enabled);
  EXPECT_FALSE(m.StartTimedPlay().accept);
  m.ClickMaster();
  EXPECT_TRUE(c.at(id::kStartTimedPlay).enabled);
  EXPECT_TRUE(c.at(id::kMaster.lists[0]).enabled);
}

TEST(PlayDialogModel, BothRangesActAsAPair) {
  PlayDialogModel m = Opened({SlaveRange(), MasterRange()});
  const ControlStates& c = m.Controls();
  EXPECT_TRUE(c.at(id::kMaster.check).checked());
  EXPECT_FALSE(c.at(id::kSlave.check).checked());
  EXPECT_TRUE(c.at(id::kMaster.lists[0]).enabled);
  EXPECT_FALSE(c.at(id::kSlave.lists[0]).enabled) << "only the checked disk's lists are live";
  EXPECT_EQ(c.at(id::kSlave.lists[0]).SelectedText(), "2023");

  m.ClickMaster();
  EXPECT_FALSE(c.at(id::kMaster.check).checked());
  EXPECT_TRUE(c.at(id::kSlave.check).checked());
  EXPECT_FALSE(c.at(id::kMaster.lists[0]).enabled);
  EXPECT_TRUE(c.at(id::kSlave.lists[0]).enabled);
  EXPECT_TRUE(c.at(id::kStartTimedPlay).enabled);

  m.ClickSlave();
  EXPECT_TRUE(c.at(id::kMaster.check).checked());
  EXPECT_FALSE(c.at(id::kSlave.check).checked());
  EXPECT_TRUE(c.at(id::kMaster.lists[0]).enabled);
  EXPECT_FALSE(c.at(id::kSlave.lists[0]).enabled);

  // Slave only: checked at opening.
  PlayDialogModel slave = Opened({SlaveRange()});
  EXPECT_TRUE(slave.Controls().at(id::kSlave.check).checked());
  EXPECT_TRUE(slave.Controls().at(id::kSlave.lists[0]).enabled);
  EXPECT_FALSE(slave.Controls().at(id::kMaster.check).enabled);
}

struct StartCase {
  const char* name;
  DvrTime chosen;
  bool accepted;
};

TEST(PlayDialogModel, StartTimeBoundsOnTheMasterDisk) {
  const StartCase cases[] = {
      {"range start", kRangeStart, true},
      {"range end", kRangeEnd, true},
      {"inside", {0, 0, 12, 29, 2, 24}, true},
      {"one second before the start", {4, 4, 3, 2, 1, 24}, false},
      {"one second after the end", {0, 0, 0, 1, 4, 24}, false},
      {"a year later", {5, 4, 3, 2, 1, 25}, false},
  };
  for (const StartCase& sc : cases) {
    SCOPED_TRACE(sc.name);
    PlayDialogModel m = Opened({MasterRange()});
    ChooseTime(m, id::kMaster, sc.chosen);
    const PlayDialogModel::Outcome out = m.StartTimedPlay();
    EXPECT_EQ(out.accept, sc.accepted);
    if (sc.accepted) {
      EXPECT_FALSE(out.box.has_value());
      EXPECT_TRUE(m.Result().timed);
      EXPECT_EQ(m.Result().disk, 0);
      EXPECT_EQ(m.Result().start, sc.chosen);
      EXPECT_EQ(m.Result().Request(), DvrRequest::PlayFrom(0, sc.chosen));
    } else {
      ASSERT_TRUE(out.box.has_value());
      EXPECT_EQ(out.box->caption, "Play Time Input Error");
      EXPECT_EQ(out.box->icon, BoxIcon::kStop);
    }
  }
  PlayDialogModel m = Opened({MasterRange()});
  ChooseTime(m, id::kMaster, {4, 4, 3, 2, 1, 24});
  EXPECT_EQ(m.StartTimedPlay().box->text,
            "The specified time is out of scope\nYou have chosed 2024/01/02 03:04:04\n"
            "as a start time.\nPlease check again");
  // The refused choice stays as it was.
  EXPECT_EQ(m.Controls().at(id::kMaster.lists[5]).SelectedText(), "4");
}

TEST(PlayDialogModel, SlaveStartTimeUsesItsOwnCaption) {
  PlayDialogModel m = Opened({SlaveRange()});
  ChooseTime(m, id::kSlave, {0, 0, 0, 16, 6, 23});
  PlayDialogModel::Outcome out = m.StartTimedPlay();
  ASSERT_TRUE(out.box.has_value());
  EXPECT_EQ(out.box->caption, "Time Input Error");
  ChooseTime(m, id::kSlave, {0, 0, 6, 1, 6, 23});
  out = m.StartTimedPlay();
  EXPECT_TRUE(out.accept);
  EXPECT_EQ(m.Result().disk, 1);
  EXPECT_EQ(m.Result().start, (DvrTime{0, 0, 6, 1, 6, 23}));
}

TEST(PlayDialogModel, ADateTheCalendarLacksIsRefused) {
  // 2024/02/31 lies inside the recorded range by its key, but is no day.
  PlayDialogModel m = Opened({MasterRange()});
  ChooseTime(m, id::kMaster, {0, 0, 12, 31, 2, 24});
  const PlayDialogModel::Outcome out = m.StartTimedPlay();
  EXPECT_FALSE(out.accept);
  ASSERT_TRUE(out.box.has_value());
  EXPECT_EQ(*out.box,
            (BoxMessage{"Play Time Input Error",
                        "The date 2024/02/31 does not exist\nPlease check again", BoxIcon::kStop}));
}

TEST(PlayDialogModel, KeysDoNotWrapAroundForLargeYearBytes) {
  // A range that ends in year byte 150: in 32 bits its end key would wrap
  // below its start and refuse every time.
  PlayDialogModel m = Opened({Entry(0, 0, 1, {0, 0, 0, 1, 1, 5}, {0, 0, 0, 1, 1, 150})});
  EXPECT_EQ(m.Controls().at(id::kMaster.start[0]).text, "2005");
  EXPECT_EQ(m.Controls().at(id::kMaster.end[0]).text, "2150");
  ChooseTime(m, id::kMaster, {0, 0, 0, 1, 1, 99});
  EXPECT_TRUE(m.StartTimedPlay().accept);
  EXPECT_EQ(TimeKey({0, 0, 0, 1, 1, 150}), 150ull * 32140800 + 2678400 + 86400);
}

TEST(PlayDialogModel, StartOutsideTheListsNeedsAChoiceFirst) {
  // A range start whose hour no list entry shows leaves that list unselected.
  PlayDialogModel m = Opened({Entry(0, 0, 1, {0, 0, 30, 1, 1, 24}, {0, 0, 0, 1, 2, 24})});
  EXPECT_EQ(m.Controls().at(id::kMaster.lists[3]).selected, -1);
  const PlayDialogModel::Outcome out = m.StartTimedPlay();
  EXPECT_FALSE(out.accept);
  ASSERT_TRUE(out.box.has_value());
  EXPECT_EQ(out.box->text,
            "The start time is not complete\n"
            "Please choose the year, month, day, hour, minute and second");
  m.Choose(id::kMaster.lists[2], 4);
  m.Choose(id::kMaster.lists[3], 6);
  EXPECT_TRUE(m.StartTimedPlay().accept);
  EXPECT_EQ(m.Result().start.hour, 6);
}

TEST(PlayDialogModel, NoDiskRangeLeavesTimedPlayDisabled) {
  // A range entry of a disk that is neither master nor slave gives no range.
  PlayDialogModel m = Opened({Entry(2, 0, 1, kRangeStart, kRangeEnd)});
  EXPECT_FALSE(m.Controls().at(id::kStartTimedPlay).enabled);
  EXPECT_FALSE(m.Controls().at(id::kMaster.check).enabled);
  const PlayDialogModel::Outcome out = m.StartTimedPlay();
  EXPECT_FALSE(out.accept);
  EXPECT_FALSE(out.box.has_value());
  EXPECT_EQ(m.Result().start, DvrTime{});
}

TEST(PlayDialogModel, SensorEventOnTheSlaveDiskPlaysWithItsOwnDisk) {
  PlayDialogModel m =
      Opened({MasterRange(), Entry(1, 2, 0x01020304, {1, 2, 3, 4, 5, 23}, {6, 7, 8, 9, 10, 23})});
  ASSERT_EQ(m.Controls().at(id::kEventList).items.size(), 1u);
  EXPECT_EQ(m.Controls().at(id::kEventList).items[0],
            "01 Sensor     2023/05/04 03:02:01 - 2023/10/09 08:07:06  Slave ");
  EXPECT_EQ(m.Controls().at(id::kEventNote).text, "1 event is listed, Choose event to be played");
  // Master is checked, but the event's own disk byte goes with it.
  const PlayDialogModel::Outcome out = m.StartEventPlay();
  EXPECT_TRUE(out.accept);
  EXPECT_FALSE(m.Result().timed);
  EXPECT_EQ(m.Result().disk, 1);
  EXPECT_EQ(m.Result().event_id, 0x01020304u);
  EXPECT_EQ(m.Result().Request(), DvrRequest::PlayEvent(1, 0x01020304u));
}

TEST(PlayDialogModel, EventPlayNeedsASelection) {
  PlayDialogModel m =
      Opened({Entry(0, 1, 5, kRangeStart, kRangeEnd), Entry(0, 3, 6, kRangeStart, kRangeEnd)});
  m.SelectEvent(-1);
  EXPECT_FALSE(m.StartEventPlay().accept);
  EXPECT_EQ(m.Result().event_id, 0u);
  EXPECT_TRUE(m.Result().timed) << "the result stays as constructed";
  // A double-click plays the line clicked.
  EXPECT_TRUE(m.DoubleClickEvent(1).accept);
  EXPECT_EQ(m.Result().event_id, 6u);
  EXPECT_FALSE(m.DoubleClickEvent(2).accept) << "below the last line";
}

TEST(PlayDialogModel, EmptyList) {
  PlayDialogModel m = Opened({});
  const ControlStates& c = m.Controls();
  EXPECT_FALSE(c.at(id::kStartTimedPlay).enabled);
  EXPECT_FALSE(c.at(id::kStartEventPlay).enabled);
  EXPECT_FALSE(c.at(id::kEventList).enabled);
  EXPECT_TRUE(c.at(id::kCancel).enabled);
  EXPECT_EQ(c.at(id::kEventNote).text, "0 event is listed, Choose event to be played");
  EXPECT_FALSE(m.StartEventPlay().accept);
}

TEST(PlayDialogModel, AllOf256EntriesAreListed) {
  std::vector<EventRecord> events;
  for (int i = 0; i < 256; ++i)
    events.push_back(Entry(static_cast<uint8_t>(i % 2), 1, static_cast<uint32_t>(1000 + i),
                           {0, 0, 0, 1, 1, 24}, {0, 0, 1, 1, 1, 24}));
  PlayDialogModel m = Opened(events);
  const ControlState& list = m.Controls().at(id::kEventList);
  ASSERT_EQ(list.items.size(), 256u);
  EXPECT_EQ(list.items[99].substr(0, 3), "100");
  EXPECT_EQ(list.items[255].substr(0, 4), "256 ");
  EXPECT_EQ(m.Controls().at(id::kEventNote).text,
            "256 events are listed, Choose event to be played");
  EXPECT_TRUE(m.DoubleClickEvent(255).accept);
  EXPECT_EQ(m.Result().event_id, 1255u);
  EXPECT_EQ(m.Result().disk, 1);
}

}  // namespace
}  // namespace rd::ui
