// The player windows' rules as tables: the Search Time fields and prompts,
// the event lines, the Select HDD lines, the enable table of the main window
// after each button, and the command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "player/playback/PlaybackEngine.h"
#include "player/ui/models/PlayerCommandLine.h"
#include "player/ui/models/PlayerControls.h"
#include "player/ui/models/SearchTimeModel.h"
#include "player/ui/models/SelectHddModel.h"
#include "player/ui/rdplayerIds.h"

namespace rd::player {
namespace {

using namespace ids;

SearchTimeModel::Fields Valid() {
  return {"24", "05", "01", "12", "30", "00"};
}

TEST(SearchTimeModelTest, RangeTable) {
  struct Case {
    int field;
    const char* text;
    const char* prompt;  // "" accepted
  };
  const Case cases[] = {
      {0, "0", ""},
      {0, "99", ""},
      {1, "1", ""},
      {1, "12", ""},
      {2, "1", ""},
      {2, "31", ""},
      {3, "0", ""},
      {3, "23", ""},
      {4, "0", ""},
      {4, "59", ""},
      {5, "0", ""},
      {5, "59", ""},
      {5, " 7 ", ""},
      {0, "100", "Please enter an integer between 0 and 99."},
      {1, "13", "Please enter an integer between 1 and 12."},
      {1, "0", "Please enter an integer between 1 and 12."},
      {2, "32", "Please enter an integer between 1 and 31."},
      {3, "24", "Please enter an integer between 0 and 23."},
      {4, "60", "Please enter an integer between 0 and 59."},
      {5, "-1", "Please enter an integer between 0 and 59."},
      {2, "x", "Please enter an integer."},
      {4, "", "Please enter an integer."},
      {3, "1.5", "Please enter an integer."},
  };
  for (const Case& c : cases) {
    SearchTimeModel::Fields f = Valid();
    f[static_cast<std::size_t>(c.field)] = c.text;
    const SearchCheck check = SearchTimeModel::Check(f);
    if (*c.prompt == '\0') {
      ASSERT_TRUE(check.time) << c.field << " '" << c.text << "': " << check.prompt;
      EXPECT_EQ(check.field, -1);
    } else {
      EXPECT_FALSE(check.time) << c.field << " '" << c.text << "'";
      EXPECT_EQ(check.field, c.field) << c.text;
      EXPECT_EQ(check.prompt, c.prompt) << c.text;
    }
  }
  // The first refused field is the one reported.
  const SearchCheck two = SearchTimeModel::Check({"24", "13", "01", "24", "30", "00"});
  EXPECT_EQ(two.field, 1);
  EXPECT_EQ(SearchTimeModel::Check(Valid()).time, (RecTime{24, 5, 1, 12, 30, 0}));
}

RecordingSpan Span() {
  RecordingSpan s;
  s.start = {24, 5, 1, 12, 0, 0};
  s.end = {24, 5, 1, 12, 4, 59};
  s.default_search = {24, 5, 1, 12, 0, 1};
  return s;
}

DiskEvent Event(const RecTime& start, const std::string& line) {
  return DiskEvent{line, start, start, false};
}

TEST(SearchTimeModelTest, SpanEventsOnceSortedAndALineFillsTheFields) {
  const SearchTimeModel empty(std::nullopt);
  EXPECT_EQ(empty.fields(), (SearchTimeModel::Fields{"0", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(empty.start_text(), "");
  EXPECT_EQ(empty.end_text(), "");

  SearchTimeModel m(Span());
  EXPECT_EQ(m.fields(), (SearchTimeModel::Fields{"24", "05", "01", "12", "00", "01"}));
  EXPECT_EQ(m.start_text(), "24/05/01  12:00:00");
  EXPECT_EQ(m.end_text(), "24/05/01  12:04:59");
  ASSERT_TRUE(m.find_events_enabled());
  m.FindEvents({Event({24, 5, 1, 12, 3, 0}, "24/05/01  12:03:00 - x  ALARM"),
                Event({3, 5, 12, 14, 30, 0}, "03/05/12  14:30:00 - x  TIME"),
                Event({24, 5, 1, 12, 1, 0}, "24/05/01  12:01:00 - x  TIME")});
  EXPECT_FALSE(m.find_events_enabled());
  ASSERT_EQ(m.events().size(), 3u);
  EXPECT_EQ(m.events()[0].line.substr(0, 8), "03/05/12");
  EXPECT_EQ(m.events()[2].line.substr(0, 18), "24/05/01  12:03:00");
  m.FindEvents({Event({24, 1, 1, 0, 0, 0}, "again")});  // once per dialog
  EXPECT_EQ(m.events().size(), 3u);

  m.SelectEvent(0);
  EXPECT_EQ(m.fields(), (SearchTimeModel::Fields{"03", "05", "12", "14", "30", "00"}));
  m.SelectEvent(7);  // no such line: nothing changes
  EXPECT_EQ(m.fields()[0], "03");
}

// A damaged year byte prints with three digits and shifts the line's columns;
// the fields come from the record's own start time all the same, and OK then
// refuses the year.
TEST(SearchTimeModelTest, DamagedEventFillsTheFieldsFromItsOwnTime) {
  SearchTimeModel m(Span());
  m.FindEvents({Event({123, 5, 12, 14, 30, 0}, "123/05/12  14:30:00 - 03/05/12  14:45:09  TIME")});
  m.SelectEvent(0);
  EXPECT_EQ(m.fields(), (SearchTimeModel::Fields{"123", "05", "12", "14", "30", "00"}));
  const SearchCheck check = m.Check();
  EXPECT_EQ(check.field, 0);
  EXPECT_EQ(check.prompt, "Please enter an integer between 0 and 99.");
}

TEST(SelectHddModelTest, LinesCountTheDisksAndRememberTheirDrives) {
  DiskTable table{};
  EXPECT_TRUE(HddLines(table).empty());
  EXPECT_FALSE(ChosenDrive({}, -1));
  table[1] = 1000;
  table[3] = 2000;
  const auto lines = HddLines(table);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Hard Disk 1");
  EXPECT_EQ(lines[0].drive, 1);
  EXPECT_EQ(lines[1].text, "Hard Disk 2");
  EXPECT_EQ(lines[1].drive, 3);
  EXPECT_EQ(ChosenDrive(lines, 1), 3);
  EXPECT_EQ(ChosenDrive(lines, -1), 1) << "OK without a selection takes the first line";
  table[0] = 5;  // drive 0 is never listed
  table[10] = 7;
  EXPECT_EQ(HddLines(table).back().drive, 10);
  EXPECT_EQ(HddLines(table).size(), 3u);
}

// The enable table: which controls each button turns on or off, from a
// state where every transport button is off (as after the engine stopped at
// both ends) and HDD on; '+' on, '-' off, absent: unchanged.
TEST(PlayerControlsTest, EnableTableAfterEachButton) {
  struct Row {
    int pressed;
    std::map<int, bool> changes;
  };
  const Row rows[] = {
      {kPreviousFrame,
       {{kHdd, false}, {kOpenImage, false}, {kPlay, true}, {kNextFrame, true}, {kPause, true}}},
      {kReverse,
       {{kHdd, true}, {kOpenImage, true}, {kPlay, true}, {kNextFrame, true}, {kPause, true}}},
      {kPause, {}},
      {kPlay,
       {{kHdd, true},
        {kOpenImage, true},
        {kPreviousFrame, true},
        {kReverse, true},
        {kPause, true}}},
      {kNextFrame,
       {{kHdd, false},
        {kOpenImage, false},
        {kPreviousFrame, true},
        {kReverse, true},
        {kPause, true}}},
      {kStop, {}},
      {kSpeed, {}},
      {kChannel[1], {}},
      {kAll, {}},
  };
  for (const Row& row : rows) {
    PlayerControls c;
    c.DiskOpened(true);
    c.EngineDisabled(kButtonPreviousFrame | kButtonReverse | kButtonPause | kButtonPlay |
                     kButtonNextFrame);
    const auto before = c.all();
    c.Pressed(row.pressed);
    for (const auto& [id, on] : c.all()) {
      const auto it = row.changes.find(id);
      const bool expected = it != row.changes.end() ? it->second : before.at(id);
      EXPECT_EQ(on, expected) << "button " << row.pressed << ", control " << id;
    }
  }
}

TEST(PlayerControlsTest, DiskStatesEngineEndsChannelsAndMarks) {
  PlayerControls c;
  for (int id : PlayerControls::PlaybackControls()) EXPECT_FALSE(c.enabled(id)) << id;
  EXPECT_TRUE(c.enabled(kHdd));
  EXPECT_TRUE(c.enabled(kOpenImage));
  EXPECT_TRUE(c.enabled(kAll));
  c.DiskOpened(false);
  for (int id : {kPlay, kReverse, kSpeed, kSearch, kCapture, kAvi, kPosition, kMarkIn, kMarkOut})
    EXPECT_TRUE(c.enabled(id)) << id;
  EXPECT_FALSE(c.enabled(kPreviousEvent)) << "no events";
  EXPECT_FALSE(c.enabled(kExportClip)) << "no marks";
  c.SetMarks(true);
  EXPECT_TRUE(c.enabled(kExportClip));
  // The forward end of an unwrapped recording, then its start in reverse.
  c.EngineDisabled(kButtonPlay | kButtonNextFrame | kButtonPause);
  EXPECT_FALSE(c.enabled(kPlay));
  EXPECT_FALSE(c.enabled(kNextFrame));
  EXPECT_FALSE(c.enabled(kPause));
  EXPECT_TRUE(c.enabled(kReverse));
  c.Found();
  for (int id : {kPlay, kNextFrame, kPreviousFrame, kReverse, kPause}) EXPECT_TRUE(c.enabled(id));
  c.SetChannelButtons(false);
  for (int id : {kChannel[0], kChannel[3], kAll}) EXPECT_FALSE(c.enabled(id));
  c.SetChannelButtons(true);
  EXPECT_TRUE(c.enabled(kChannel[2]));
  c.NoData();
  for (int id : PlayerControls::PlaybackControls()) EXPECT_FALSE(c.enabled(id)) << id;
  c.DiskOpened(true);
  EXPECT_TRUE(c.enabled(kNextEvent));
  EXPECT_FALSE(c.enabled(kExportClip)) << "a new disk forgets the marks";
}

TEST(PlayerCommandLineTest, OptionsAndErrors) {
  PlayerCommandLine cl;
  std::string error;
  ASSERT_TRUE(
      ParsePlayerCommandLine({"demo.img", "--time", "24/05/01 12:05:00", "--network"}, &cl, &error))
      << error;
  EXPECT_EQ(cl.image, "demo.img");
  EXPECT_TRUE(cl.network);
  EXPECT_EQ(cl.time, (RecTime{24, 5, 1, 12, 5, 0}));
  PlayerCommandLine drive;
  ASSERT_TRUE(ParsePlayerCommandLine({"--drive", "3", ""}, &drive, &error)) << error;
  EXPECT_EQ(drive.drive, 3);
  EXPECT_TRUE(drive.image.empty()) << "an empty %f of the launcher is no image";
  struct Bad {
    std::vector<std::string> args;
    const char* message;
  };
  const Bad bad[] = {
      {{"--drive", "11"}, "--drive"},
      {{"--drive"}, "needs a value"},
      {{"a.img", "b.img"}, "one disk image"},
      {{"a.img", "--drive", "1"}, "not both"},
      {{"--time", "24/05/01 12:05:00"}, "--time needs"},
      {{"a.img", "--time", "24/13/01 12:05:00"}, "--time"},
      {{"--frobnicate"}, "unknown option"},
  };
  for (const Bad& b : bad) {
    PlayerCommandLine out;
    error.clear();
    EXPECT_FALSE(ParsePlayerCommandLine(b.args, &out, &error)) << b.message;
    EXPECT_NE(error.find(b.message), std::string::npos) << error;
  }
  PlayerCommandLine help;
  ASSERT_TRUE(ParsePlayerCommandLine({"--help"}, &help, &error));
  EXPECT_TRUE(help.help);
  // Every option of the usage is one the parser knows.
  const std::string usage = PlayerUsage();
  for (const char* option : {"--drive", "--network", "--time", "--version", "--help"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace rd::player
