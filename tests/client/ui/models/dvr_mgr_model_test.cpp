// The DVR management dialog's model: what it shows with and without a
// connection, its lists by video standard and audio, the channel and hour
// button rules, and the ordered requests of "Update Setting".

#include <gtest/gtest.h>

#include "client/ui/models/DvrMgrModel.h"
#include "model_printers.h"

namespace rd::ui {
namespace {

namespace id = dvrmgr_id;
using K = DvrRequestKind;

// A connected NTSC DVR in EACH mode without audio: all inputs on, CH1 and CH2
// recorded, quality High, 15 frames/s, alarm 10 s / 20 s, one master disk.
DvrMgrSource Connected() {
  DvrMgrSource s;
  s.connected = true;
  s.input_mask = 0x0F;
  s.record_mask = 0x0C;
  s.video_quality = 1;
  s.record_frame_rate = 1;
  s.alarm_on_duration = 10;
  s.alarm_record_duration = 20;
  s.disks[0] = {1, 307200, 1000, 0};
  s.time = {56, 34, 12, 28, 2, 24};  // 2024/02/28 12:34:56
  s.schedule[0] = 1;
  s.schedule[1] = 2;
  return s;
}

DvrMgrModel OpenWith(const DvrMgrSource& s) {
  DvrMgrModel m;
  m.Open(s);
  return m;
}

ChannelDisplayState Channels(uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4) {
  ChannelDisplayState c;
  c.channel[0] = c1;
  c.channel[1] = c2;
  c.channel[2] = c3;
  c.channel[3] = c4;
  return c;
}

TEST(DvrMgrModel, WithoutConnectionEverythingIsDisabled) {
  DvrMgrModel m = OpenWith(DvrMgrSource{});
  const ControlStates& c = m.Controls();
  EXPECT_EQ(c.at(id::kRecordModeText).text, "N/A");
  EXPECT_EQ(c.at(id::kDiskText).text, "N/A");
  EXPECT_FALSE(c.at(id::kHddInfo).enabled);
  EXPECT_FALSE(c.at(id::kUpdate).enabled);
  EXPECT_TRUE(c.at(id::kClose).enabled);
  for (int list : {id::kQuality, id::kFrameRate, id::kAlarmOn, id::kAlarmRecord,
                   id::kRecordModeList, id::kAudioRecording, id::kSpeaker}) {
    EXPECT_EQ(c.at(list).items, std::vector<std::string>{"N/A"}) << list;
    EXPECT_EQ(c.at(list).selected, 0) << list;
    EXPECT_FALSE(c.at(list).enabled) << list;
  }
  for (int list : {id::kYear, id::kMonth, id::kDay, id::kHour, id::kMinute, id::kSecond}) {
    EXPECT_EQ(c.at(list).items, std::vector<std::string>{"00"}) << list;
    EXPECT_FALSE(c.at(list).enabled) << list;
  }
  std::vector<int> buttons(std::begin(id::kInput), std::end(id::kInput));
  buttons.insert(buttons.end(), std::begin(id::kRecord), std::end(id::kRecord));
  for (int h = 0; h < 24; ++h) buttons.push_back(id::HourButton(h));
  for (int b : buttons) {
    EXPECT_EQ(c.at(b).text, "OFF") << b;
    EXPECT_FALSE(c.at(b).checked()) << b;
    EXPECT_FALSE(c.at(b).enabled) << b;
  }
  EXPECT_FALSE(c.at(id::kRecordModeList).visible);
  // Clicks reach nothing, and Update sends nothing.
  m.ClickHour(3);
  m.Choose(id::kQuality, 0);
  EXPECT_FALSE(m.AnyChanged());
  EXPECT_TRUE(m.Update(true).steps.empty());
}

TEST(DvrMgrModel, OpeningFillsFromTheRecordsAndSetsNoChangedFlag) {
  DvrMgrModel m = OpenWith(Connected());
  const ControlStates& c = m.Controls();
  EXPECT_FALSE(m.AnyChanged()) << "filling the lists is no change";
  EXPECT_EQ(c.at(id::kRecordModeText).text, "EACH");
  EXPECT_EQ(c.at(id::kQuality).items, (std::vector<std::string>{"Low", "High", "Normal"}));
  EXPECT_EQ(c.at(id::kQuality).SelectedText(), "High");
  EXPECT_EQ(c.at(id::kFrameRate).SelectedText(), "15 frames/sec");
  EXPECT_EQ(c.at(id::kAlarmOn).SelectedText(), "10 sec");
  EXPECT_EQ(c.at(id::kAlarmRecord).SelectedText(), "20 sec");
  EXPECT_EQ(c.at(id::kYear).SelectedText(), "2024");
  EXPECT_EQ(c.at(id::kYear).items.size(), 100u);
  EXPECT_EQ(c.at(id::kMonth).SelectedText(), "02");
  EXPECT_EQ(c.at(id::kDay).SelectedText(), "28");
  EXPECT_EQ(c.at(id::kHour).SelectedText(), "12 PM");
  EXPECT_EQ(c.at(id::kMinute).SelectedText(), "34");
  EXPECT_EQ(c.at(id::kSecond).SelectedText(), "56");
  EXPECT_EQ(c.at(id::kRecordModeList).SelectedText(), "EACH MODE");
  EXPECT_FALSE(c.at(id::kRecordModeList).enabled);
  EXPECT_TRUE(c.at(id::kUpdate).enabled);
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(c.at(id::kInput[ch]).text, "ON");
    EXPECT_TRUE(c.at(id::kInput[ch]).enabled);
    EXPECT_EQ(c.at(id::kRecord[ch]).checked(), ch < 2) << ch;
    EXPECT_TRUE(c.at(id::kRecord[ch]).enabled);
  }
  EXPECT_EQ(c.at(id::HourButton(0)).text, "ON");
  EXPECT_EQ(c.at(id::HourButton(1)).text, "SENSOR");
  EXPECT_EQ(c.at(id::HourButton(1)).check, CheckState::kIndeterminate);
  EXPECT_EQ(c.at(id::HourButton(2)).text, "OFF");
  EXPECT_EQ(id::HourButton(1), 1339);
  EXPECT_EQ(id::HourButton(23), 1361);

  const std::vector<std::string> hours = c.at(id::kHour).items;
  ASSERT_EQ(hours.size(), 24u);
  EXPECT_EQ(hours[0], "00 AM");
  EXPECT_EQ(hours[11], "11 AM");
  EXPECT_EQ(hours[13], "01 PM");
  EXPECT_EQ(hours[23], "11 PM");
}

struct RateCase {
  uint8_t standard;
  uint8_t audio_available;
  std::vector<std::string> rates;
};

TEST(DvrMgrModel, FrameRateAndAudioListsByStandardAndAudio) {
  const RateCase cases[] = {
      {0,
       0,
       {"30 frames/sec", "15 frames/sec", "10 frames/sec", " 7 frames/sec", " 5 frames/sec",
        " 4 frames/sec", " 3 frames/sec", " 2 frames/sec", " 1 frames/sec"}},
      {0,
       1,
       {"30 frames/sec", "15 frames/sec", "10 frames/sec", " 7 frames/sec", " 5 frames/sec",
        " 4 frames/sec"}},
      {1,
       0,
       {"25 frames/sec", "12 frames/sec", " 8 frames/sec", " 6 frames/sec", " 4 frames/sec",
        " 3 frames/sec", " 2 frames/sec", " 1 frames/sec"}},
      {2, 1, {"25 frames/sec", "12 frames/sec", " 8 frames/sec", " 6 frames/sec", " 4 frames/sec"}},
  };
  for (const RateCase& rc : cases) {
    SCOPED_TRACE(testing::Message()
                 << "standard " << int{rc.standard} << " audio " << int{rc.audio_available});
    DvrMgrSource s = Connected();
    s.video_standard = rc.standard;
    s.audio_available = rc.audio_available;
    s.audio_recording = true;
    s.speaker_muted = true;
    DvrMgrModel m = OpenWith(s);
    EXPECT_EQ(m.Controls().at(id::kFrameRate).items, rc.rates);
    const ControlState& audio = m.Controls().at(id::kAudioRecording);
    const ControlState& speaker = m.Controls().at(id::kSpeaker);
    if (rc.audio_available) {
      EXPECT_EQ(audio.items, (std::vector<std::string>{"Disable", "Enable"}));
      EXPECT_EQ(audio.SelectedText(), "Enable");
      EXPECT_EQ(speaker.items, (std::vector<std::string>{"Enable", "Mute"}));
      EXPECT_EQ(speaker.SelectedText(), "Mute");
      EXPECT_TRUE(audio.enabled && speaker.enabled);
    } else {
      for (const ControlState* l : {&audio, &speaker}) {
        EXPECT_EQ(l->items, std::vector<std::string>{"No Audio Available"});
        EXPECT_EQ(l->selected, 0);
        EXPECT_FALSE(l->enabled);
      }
    }
  }
}

struct SelectionCase {
  int list;
  uint8_t DvrMgrSource::*field;
  uint8_t value;
  const char* shown;  // nullptr: nothing selected
};

TEST(DvrMgrModel, DvrBytesSelectTheirEntryOrNone) {
  const SelectionCase cases[] = {
      {id::kAlarmOn, &DvrMgrSource::alarm_on_duration, 0, "Off"},
      {id::kAlarmOn, &DvrMgrSource::alarm_on_duration, 30, "30 sec"},
      {id::kAlarmOn, &DvrMgrSource::alarm_on_duration, 35, "Infinite"},
      {id::kAlarmOn, &DvrMgrSource::alarm_on_duration, 40, nullptr},
      {id::kAlarmRecord, &DvrMgrSource::alarm_record_duration, 5, "5 sec"},
      {id::kAlarmRecord, &DvrMgrSource::alarm_record_duration, 30, "30 sec"},
      {id::kAlarmRecord, &DvrMgrSource::alarm_record_duration, 0, nullptr},
      {id::kAlarmRecord, &DvrMgrSource::alarm_record_duration, 35, nullptr},
      {id::kQuality, &DvrMgrSource::video_quality, 2, "Normal"},
      {id::kQuality, &DvrMgrSource::video_quality, 3, nullptr},
      {id::kFrameRate, &DvrMgrSource::record_frame_rate, 8, " 1 frames/sec"},
      {id::kFrameRate, &DvrMgrSource::record_frame_rate, 9, nullptr},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.list << " value " << int{c.value});
    DvrMgrSource s = Connected();
    s.*c.field = c.value;
    DvrMgrModel m = OpenWith(s);
    const ControlState& l = m.Controls().at(c.list);
    if (c.shown) {
      EXPECT_EQ(l.SelectedText(), c.shown);
    } else {
      EXPECT_EQ(l.selected, -1);
    }
  }
}

TEST(DvrMgrModel, ATimeOutsideTheListsLeavesThemUnselected) {
  DvrMgrSource s = Connected();
  s.time = DvrTime{};  // no DVR time known: day 0 and month 0
  DvrMgrModel m = OpenWith(s);
  EXPECT_EQ(m.Controls().at(id::kDay).selected, -1);
  EXPECT_EQ(m.Controls().at(id::kMonth).selected, -1);
  EXPECT_EQ(m.Controls().at(id::kYear).SelectedText(), "2000");
  s.time = {60, 60, 24, 32, 13, 100};
  m = OpenWith(s);
  for (int list : {id::kYear, id::kMonth, id::kDay, id::kHour, id::kMinute, id::kSecond})
    EXPECT_EQ(m.Controls().at(list).selected, -1) << list;
}

struct DiskCase {
  DiskInfo master, slave;
  const char* text;
  bool hdd_button;
};

TEST(DvrMgrModel, DiskSummary) {
  const DiskCase cases[] = {
      {{1, 307200, 0, 0}, {}, "1 HDD, 300 GBytes", true},
      {{1, 307200, 0, 0}, {1, 307200, 0, 0}, "2 HDDs, 600 GBytes", true},
      {{}, {0xFF, 2047, 0, 0}, "1 HDD, 1 GBytes", true},
      {{}, {}, "NO HDD", false},
  };
  for (const DiskCase& c : cases) {
    DvrMgrSource s = Connected();
    s.disks = {c.master, c.slave};
    DvrMgrModel m = OpenWith(s);
    EXPECT_EQ(m.Controls().at(id::kDiskText).text, c.text);
    EXPECT_EQ(m.Controls().at(id::kHddInfo).enabled, c.hdd_button) << c.text;
    EXPECT_EQ(m.Disks()[0], c.master);
  }
}

TEST(DvrMgrModel, QuadModeRecordButtonsFollowTheInputsAndAreDisabled) {
  DvrMgrSource s = Connected();
  s.record_mode = 1;
  s.input_mask = 0x0A;  // CH1, CH3
  s.record_mask = 0x05;
  DvrMgrModel m = OpenWith(s);
  EXPECT_EQ(m.Controls().at(id::kRecordModeText).text, "QUAD");
  EXPECT_EQ(m.Controls().at(id::kRecordModeList).SelectedText(), "QUAD MODE");
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(m.Controls().at(id::kRecord[ch]).checked(), ch % 2 == 0) << ch;
    EXPECT_FALSE(m.Controls().at(id::kRecord[ch]).enabled);
  }
  m.ClickRecord(0);  // disabled: no effect
  EXPECT_FALSE(m.AnyChanged());
  m.ClickInput(1);  // CH2 on: its record button follows, still disabled
  EXPECT_TRUE(m.Controls().at(id::kRecord[1]).checked());
  EXPECT_FALSE(m.Controls().at(id::kRecord[1]).enabled);
  EXPECT_EQ(RequestsOf(m.Update(true).steps),
            (std::vector<DvrRequest>{DvrRequest::Value(K::kInputChannels, 0x0E),
                                     DvrRequest::Value(K::kRecordChannels, 0x0E),
                                     DvrRequest::ChannelFilter(Channels(1, 1, 1, 0))}));
}

TEST(DvrMgrModel, InputChannelRules) {
  DvrMgrModel m = OpenWith(Connected());
  // Input CH2 off turns record CH2 off; on again turns it on.
  m.ClickInput(1);
  EXPECT_EQ(m.Controls().at(id::kInput[1]).text, "OFF");
  EXPECT_FALSE(m.Controls().at(id::kRecord[1]).checked());
  EXPECT_TRUE(m.Changed(DvrMgrModel::kInputItem));
  EXPECT_TRUE(m.Changed(DvrMgrModel::kRecordItem));
  m.ClickInput(1);
  EXPECT_TRUE(m.Controls().at(id::kInput[1]).checked());
  EXPECT_TRUE(m.Controls().at(id::kRecord[1]).checked());
  EXPECT_EQ(m.Controls().at(id::kRecord[1]).text, "ON");

  // The last input channel cannot be turned off and sets no flag.
  DvrMgrSource s = Connected();
  s.input_mask = 0x04;   // only CH2
  s.record_mask = 0x04;  // recorded
  DvrMgrModel last = OpenWith(s);
  last.ClickInput(1);
  EXPECT_TRUE(last.Controls().at(id::kInput[1]).checked());
  EXPECT_EQ(last.Controls().at(id::kInput[1]).text, "ON");
  EXPECT_TRUE(last.Controls().at(id::kRecord[1]).checked());
  EXPECT_FALSE(last.AnyChanged());

  // The refused click leaves a record channel the DVR has off as it is.
  s.record_mask = 0x00;
  DvrMgrModel unrecorded = OpenWith(s);
  unrecorded.ClickInput(1);
  EXPECT_TRUE(unrecorded.Controls().at(id::kInput[1]).checked());
  EXPECT_FALSE(unrecorded.Controls().at(id::kRecord[1]).checked());
  EXPECT_FALSE(unrecorded.AnyChanged());
}

TEST(DvrMgrModel, RecordChannelRules) {
  DvrMgrSource s = Connected();
  s.input_mask = 0x0B;   // CH2 input off
  s.record_mask = 0x08;  // only CH1 recorded
  DvrMgrModel m = OpenWith(s);
  // The last record channel stays on.
  m.ClickRecord(0);
  EXPECT_TRUE(m.Controls().at(id::kRecord[0]).checked());
  EXPECT_FALSE(m.AnyChanged());
  // A record channel without input is forced off, and that still counts.
  m.ClickRecord(1);
  EXPECT_FALSE(m.Controls().at(id::kRecord[1]).checked());
  EXPECT_EQ(m.Controls().at(id::kRecord[1]).text, "OFF");
  EXPECT_TRUE(m.Changed(DvrMgrModel::kRecordItem));
  EXPECT_FALSE(m.Changed(DvrMgrModel::kInputItem));
  m.ClickRecord(2);
  EXPECT_TRUE(m.Controls().at(id::kRecord[2]).checked());
  EXPECT_EQ(RequestsOf(m.Update(true).steps),
            (std::vector<DvrRequest>{DvrRequest::Value(K::kRecordChannels, 0x0A),
                                     DvrRequest::ChannelFilter(Channels(1, 0, 1, 0))}));
}

TEST(DvrMgrModel, AllRecordChannelsOffShowsTheNoticeThenSendsTheMasks) {
  DvrMgrSource s = Connected();
  s.input_mask = 0x0F;
  s.record_mask = 0x08;  // only CH1 recorded
  DvrMgrModel m = OpenWith(s);
  m.ClickInput(0);  // CH1 input off takes its recording with it
  const DvrMgrModel::UpdateResult r = m.Update(true);
  EXPECT_TRUE(r.close);
  ASSERT_EQ(r.steps.size(), 4u);
  EXPECT_EQ(std::get<DvrRequest>(r.steps[0]), DvrRequest::Value(K::kInputChannels, 0x07));
  EXPECT_EQ(std::get<BoxMessage>(r.steps[1]),
            (BoxMessage{"Channel setting change notification",
                        "You have turned off all 4 channels\nDisplay area will not be updated",
                        BoxIcon::kStop}));
  EXPECT_EQ(std::get<DvrRequest>(r.steps[2]), DvrRequest::Value(K::kRecordChannels, 0));
  EXPECT_EQ(std::get<DvrRequest>(r.steps[3]), DvrRequest::ChannelFilter(Channels(0, 0, 0, 0)));
}

TEST(DvrMgrModel, HourButtonCyclesAndThreeClicksStillCountAsAChange) {
  DvrMgrModel m = OpenWith(Connected());
  const int b = id::HourButton(5);
  const char* texts[] = {"ON", "SENSOR", "OFF"};
  const CheckState checks[] = {CheckState::kChecked, CheckState::kIndeterminate,
                               CheckState::kUnchecked};
  for (int i = 0; i < 3; ++i) {
    m.ClickHour(5);
    EXPECT_EQ(m.Controls().at(b).text, texts[i]);
    EXPECT_EQ(m.Controls().at(b).check, checks[i]);
  }
  EXPECT_TRUE(m.Changed(DvrMgrModel::kScheduleItem));
  std::array<uint8_t, 24> hours{};
  hours[0] = 1;
  hours[1] = 2;
  EXPECT_EQ(RequestsOf(m.Update(true).steps), std::vector<DvrRequest>{DvrRequest::Schedule(hours)});
}

TEST(DvrMgrModel, ScheduleValueThreeIsKeptUnlessTheUserClicksIt) {
  DvrMgrSource s = Connected();
  s.schedule[7] = 3;
  s.schedule[8] = 3;
  DvrMgrModel m = OpenWith(s);
  EXPECT_EQ(m.Controls().at(id::HourButton(7)).text, "OFF");
  EXPECT_FALSE(m.Controls().at(id::HourButton(7)).checked());
  m.ClickHour(8);  // from the OFF it shows to ON
  EXPECT_EQ(m.Controls().at(id::HourButton(8)).text, "ON");
  std::array<uint8_t, 24> hours = s.schedule;
  hours[8] = 1;
  EXPECT_EQ(RequestsOf(m.Update(true).steps), std::vector<DvrRequest>{DvrRequest::Schedule(hours)});
}

TEST(DvrMgrModel, UpdateWithNothingChangedSendsNothingAndCloses) {
  DvrMgrModel m = OpenWith(Connected());
  m.Choose(id::kQuality, 1);  // the entry already selected: no change
  DvrMgrModel::UpdateResult r = m.Update(true);
  EXPECT_TRUE(r.steps.empty());
  EXPECT_TRUE(r.close);
  // Also when the session is gone: there was nothing to send.
  r = m.Update(false);
  EXPECT_TRUE(r.steps.empty());
  EXPECT_TRUE(r.close);
}

TEST(DvrMgrModel, UpdateSendsEveryChangedItemInOrder) {
  DvrMgrSource s = Connected();
  s.audio_available = 1;
  DvrMgrModel m = OpenWith(s);
  // Changed in an order different from the sending order.
  m.Choose(id::kSpeaker, 1);
  m.Choose(id::kAudioRecording, 1);
  m.ClickHour(23);
  m.Choose(id::kDay, 0);  // the day alone sends the whole time
  m.ClickRecord(2);
  m.ClickInput(3);
  m.Choose(id::kAlarmRecord, 0);
  m.Choose(id::kAlarmOn, 7);
  m.Choose(id::kFrameRate, 5);
  m.Choose(id::kQuality, 0);
  const DvrMgrModel::UpdateResult r = m.Update(true);
  EXPECT_TRUE(r.close);
  EXPECT_TRUE(BoxesOf(r.steps).empty());
  std::array<uint8_t, 24> hours{};
  hours[0] = 1;
  hours[1] = 2;
  hours[23] = 1;
  const DvrTime time{56, 34, 12, 1, 2, 24};
  EXPECT_EQ(RequestsOf(r.steps), (std::vector<DvrRequest>{
                                     DvrRequest::Value(K::kVideoQuality, 0),
                                     DvrRequest::Value(K::kRecordFrameRate, 5),
                                     DvrRequest::Value(K::kAlarmOnDuration, 35),  // "Infinite"
                                     DvrRequest::Value(K::kAlarmRecordDuration, 5),
                                     DvrRequest::Value(K::kInputChannels, 0x0E),
                                     DvrRequest::Value(K::kRecordChannels, 0x0E),
                                     DvrRequest::ChannelFilter(Channels(1, 1, 1, 0)),
                                     DvrRequest::Time(time),
                                     DvrRequest::Schedule(hours),
                                     DvrRequest::Value(K::kAudioRecording, 1),
                                     DvrRequest::Value(K::kSpeakerMute, 1),
                                 }));
}

TEST(DvrMgrModel, QualityAloneSendsOneRequest) {
  DvrMgrModel m = OpenWith(Connected());
  m.Choose(id::kQuality, 2);
  EXPECT_EQ(RequestsOf(m.Update(true).steps),
            std::vector<DvrRequest>{DvrRequest::Value(K::kVideoQuality, 2)});
  DvrMgrModel off = OpenWith(Connected());
  off.Choose(id::kAlarmOn, 0);  // "Off"
  EXPECT_EQ(RequestsOf(off.Update(true).steps),
            std::vector<DvrRequest>{DvrRequest::Value(K::kAlarmOnDuration, 0)});
}

TEST(DvrMgrModel, AnUnselectedListIsNeverSent) {
  DvrMgrSource s = Connected();
  s.video_quality = 7;  // no entry
  s.alarm_on_duration = 200;
  DvrMgrModel m = OpenWith(s);
  m.ClickHour(4);
  const std::vector<DvrRequest> sent = RequestsOf(m.Update(true).steps);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].kind, K::kSchedule);
}

struct TimeRefusal {
  const char* name;
  DvrTime dvr;
  int list, index;  // the user's choice
  const char* text;
};

TEST(DvrMgrModel, ATimeTheCalendarLacksOrThatIsIncompleteIsRefused) {
  const TimeRefusal cases[] = {
      {"31 February",
       {0, 0, 0, 28, 2, 24},
       id::kDay,
       30,
       "The date 2024/02/31 does not exist\nPlease check again"},
      {"29 February 2023",
       {0, 0, 0, 1, 2, 23},
       id::kDay,
       28,
       "The date 2023/02/29 does not exist\nPlease check again"},
      {"31 April",
       {0, 0, 0, 31, 1, 24},
       id::kMonth,
       3,
       "The date 2024/04/31 does not exist\nPlease check again"},
      {"no DVR time",
       {},
       id::kMinute,
       5,
       "The DVR time is not complete\n"
       "Please choose the year, month, day, hour, minute and second"},
  };
  for (const TimeRefusal& c : cases) {
    SCOPED_TRACE(c.name);
    DvrMgrSource s = Connected();
    s.time = c.dvr;
    DvrMgrModel m = OpenWith(s);
    m.Choose(id::kQuality, 0);
    m.Choose(c.list, c.index);
    const DvrMgrModel::UpdateResult r = m.Update(true);
    EXPECT_FALSE(r.close);
    EXPECT_TRUE(RequestsOf(r.steps).empty()) << "nothing is sent, not even the quality";
    EXPECT_EQ(
        BoxesOf(r.steps),
        (std::vector<BoxMessage>{BoxMessage{"DVR Time Input Error", c.text, BoxIcon::kStop}}));
  }
  // 29 February of a leap year is a day.
  DvrMgrSource s = Connected();
  DvrMgrModel m = OpenWith(s);
  m.Choose(id::kDay, 28);
  const DvrTime leap{56, 34, 12, 29, 2, 24};
  EXPECT_EQ(RequestsOf(m.Update(true).steps), std::vector<DvrRequest>{DvrRequest::Time(leap)});
}

TEST(DvrMgrModel, UpdateAfterTheSessionIsGoneSaysSo) {
  DvrMgrModel m = OpenWith(Connected());
  m.Choose(id::kQuality, 0);
  const DvrMgrModel::UpdateResult r = m.Update(false);
  EXPECT_FALSE(r.close);
  EXPECT_TRUE(RequestsOf(r.steps).empty());
  EXPECT_EQ(BoxesOf(r.steps),
            (std::vector<BoxMessage>{BoxMessage{"Remote DVR Control Panel",
                                                "The connection to the DVR is closed\n"
                                                "The settings were not sent",
                                                BoxIcon::kStop}}));
  EXPECT_FALSE(m.Controls().at(id::kUpdate).enabled);
}

}  // namespace
}  // namespace rd::ui
