#include "client/ui/models/PlayDialogModel.h"

namespace rd::ui {

namespace id = plymgr_id;

namespace {

constexpr const char* kNoData = "No Recorded Data";
constexpr const char* kInitialTexts[6] = {"2000", "01", "01", "00", "00", "00"};

const id::DiskIds& Ids(int disk) {
  return disk == 0 ? id::kMaster : id::kSlave;
}

// Year, month, day, hour, minute and second of a time, in the lists' order.
std::array<int, 6> Fields(const DvrTime& t) {
  return {t.year + 2000, t.month, t.day, t.hour, t.minute, t.second};
}

std::vector<std::string> Numbers(int first, int count) {
  std::vector<std::string> v;
  for (int i = 0; i < count; ++i) v.push_back(Format("%d", first + i));
  return v;
}

std::string TimeText(const DvrTime& t) {
  return Format("20%02u/%02u/%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

}  // namespace

DvrRequest PlayChoice::Request() const {
  return timed ? DvrRequest::PlayFrom(disk, start) : DvrRequest::PlayEvent(disk, event_id);
}

void PlayDialogModel::EnableLists(const id::DiskIds& ids, bool enabled) {
  for (int list : ids.lists) controls_[list].enabled = enabled;
}

void PlayDialogModel::SetEvents(const std::vector<EventRecord>& events) {
  events_ = events;
  ranges_[0] = ranges_[1] = Range{};
  listed_.clear();
  result_ = PlayChoice{};
  controls_ = ControlStates();

  for (int disk = 0; disk < 2; ++disk) {
    const id::DiskIds& ids = Ids(disk);
    controls_.SetButton(ids.check, disk == 0 ? "Master" : "Slave", CheckState::kUnchecked, false);
    controls_[ids.note].text = kNoData;
    for (int i = 0; i < 6; ++i) {
      controls_[ids.start[i]].text = kInitialTexts[i];
      controls_[ids.end[i]].text = kInitialTexts[i];
      controls_[ids.lists[i]].enabled = false;
    }
  }
  controls_.SetButton(id::kStartTimedPlay, "Start Timed Play", CheckState::kUnchecked, false);
  controls_.SetButton(id::kStartEventPlay, "Start Event Play", CheckState::kUnchecked, false);
  controls_[id::kCancel].text = "Cancel";
  controls_[id::kEventNote].text = "Choose event to play";
  controls_[id::kEventList].enabled = false;

  // The recorded range of each disk; a later one for the same disk replaces
  // an earlier one.
  for (const EventRecord& e : events_) {
    if (e.kind != 0 || e.disk > 1) continue;
    const id::DiskIds& ids = Ids(e.disk);
    Range& r = ranges_[e.disk];
    r.present = true;
    r.start_key = TimeKey(e.start);
    r.end_key = TimeKey(e.end);
    controls_[ids.note].text = "Set start time you want";
    controls_[ids.check].enabled = true;
    const std::array<int, 6> start = Fields(e.start), end = Fields(e.end);
    for (int i = 0; i < 6; ++i) {
      controls_[ids.start[i]].text = Format("%d", start[static_cast<std::size_t>(i)]);
      controls_[ids.end[i]].text = Format("%d", end[static_cast<std::size_t>(i)]);
    }
    const TimeSelection s = SelectionOfTime(e.start);
    controls_.SetList(ids.lists[0], Numbers(2000, 100), s.year);
    controls_.SetList(ids.lists[1], Numbers(1, 12), s.month);
    controls_.SetList(ids.lists[2], Numbers(1, 31), s.day);
    controls_.SetList(ids.lists[3], Numbers(0, 24), s.hour);
    controls_.SetList(ids.lists[4], Numbers(0, 60), s.minute);
    controls_.SetList(ids.lists[5], Numbers(0, 60), s.second);
  }
  // Timed play needs a disk with a recorded range.
  if (ranges_[0].present || ranges_[1].present) controls_[id::kStartTimedPlay].enabled = true;
  if (ranges_[0].present) {
    controls_[id::kMaster.check].check = CheckState::kChecked;
    // The slave's lists wait until Slave is chosen.
    if (ranges_[1].present) EnableLists(id::kSlave, false);
  } else if (ranges_[1].present) {
    controls_[id::kSlave.check].check = CheckState::kChecked;
  }

  std::vector<std::string> lines;
  for (std::size_t i = 0; i < events_.size(); ++i) {
    const EventRecord& e = events_[i];
    if (e.kind == 0) continue;
    listed_.push_back(i);
    lines.push_back(Format(
        "%02zu %-10s 20%02u/%02u/%02u %02u:%02u:%02u - 20%02u/%02u/%02u %02u:%02u:%02u  %-6s",
        listed_.size(), e.kind == 1 ? "Time" : "Sensor", e.start.year, e.start.month, e.start.day,
        e.start.hour, e.start.minute, e.start.second, e.end.year, e.end.month, e.end.day,
        e.end.hour, e.end.minute, e.end.second, e.disk == 0 ? "Master" : "Slave "));
  }
  controls_.SetList(id::kEventList, std::move(lines), 0);
  controls_[id::kEventList].enabled = !listed_.empty();
  controls_[id::kStartEventPlay].enabled = !listed_.empty();
  controls_[id::kEventNote].text = Format("%zu event%s listed, Choose event to be played",
                                          listed_.size(), listed_.size() <= 1 ? " is" : "s are");
}

void PlayDialogModel::ClickDisk(int disk) {
  const id::DiskIds& own = Ids(disk);
  const id::DiskIds& other = Ids(1 - disk);
  if (!controls_.at(own.check).enabled) return;
  const bool now = !controls_.at(own.check).checked();
  const bool other_usable = controls_.at(other.check).enabled;
  controls_[own.check].check = now ? CheckState::kChecked : CheckState::kUnchecked;
  EnableLists(own, now);
  if (other_usable) {
    EnableLists(other, !now);
    controls_[other.check].check = now ? CheckState::kUnchecked : CheckState::kChecked;
  } else {
    controls_[id::kStartTimedPlay].enabled = now;
  }
}

void PlayDialogModel::ClickMaster() {
  ClickDisk(0);
}
void PlayDialogModel::ClickSlave() {
  ClickDisk(1);
}

void PlayDialogModel::Choose(int list, int index) {
  if (!controls_.Has(list)) return;
  ControlState& c = controls_[list];
  if (!c.enabled || index < 0 || index >= static_cast<int>(c.items.size())) return;
  c.selected = index;
}

void PlayDialogModel::SelectEvent(int position) {
  ControlState& list = controls_[id::kEventList];
  list.selected = position >= 0 && position < static_cast<int>(list.items.size()) ? position : -1;
}

PlayDialogModel::Outcome PlayDialogModel::TimedPlay(int disk) {
  const id::DiskIds& ids = Ids(disk);
  const char* caption = disk == 0 ? "Play Time Input Error" : "Time Input Error";
  auto sel = [&](int i) { return controls_.at(ids.lists[i]).selected; };
  const std::optional<DvrTime> t =
      TimeFromSelection({sel(0), sel(1), sel(2), sel(3), sel(4), sel(5)});
  Outcome out;
  if (!t) {
    out.box = BoxMessage{caption,
                         "The start time is not complete\n"
                         "Please choose the year, month, day, hour, minute and second",
                         BoxIcon::kStop};
    return out;
  }
  if (!DateExists(*t)) {
    out.box = BoxMessage{caption,
                         Format("The date 20%02u/%02u/%02u does not exist\nPlease check again",
                                t->year, t->month, t->day),
                         BoxIcon::kStop};
    return out;
  }
  const uint64_t key = TimeKey(*t);
  const Range& r = ranges_[disk];
  if (!r.present || key < r.start_key || key > r.end_key) {
    out.box = BoxMessage{caption,
                         "The specified time is out of scope\nYou have chosed " + TimeText(*t) +
                             "\nas a start time.\nPlease check again",
                         BoxIcon::kStop};
    return out;
  }
  result_.timed = true;
  result_.disk = static_cast<uint8_t>(disk);
  result_.start = *t;
  out.accept = true;
  return out;
}

PlayDialogModel::Outcome PlayDialogModel::StartTimedPlay() {
  if (!controls_.at(id::kStartTimedPlay).enabled) return {};
  if (controls_.at(id::kMaster.check).checked()) return TimedPlay(0);
  if (controls_.at(id::kSlave.check).checked()) return TimedPlay(1);
  return {};  // no disk chosen: nothing to play
}

PlayDialogModel::Outcome PlayDialogModel::StartEventPlay() {
  const int position = controls_.at(id::kEventList).selected;
  if (position < 0 || position >= static_cast<int>(listed_.size())) return {};
  const EventRecord& e = events_[listed_[static_cast<std::size_t>(position)]];
  result_.timed = false;
  result_.disk = e.disk;
  result_.event_id = e.id;
  Outcome out;
  out.accept = true;
  return out;
}

PlayDialogModel::Outcome PlayDialogModel::DoubleClickEvent(int position) {
  SelectEvent(position);
  return StartEventPlay();
}

}  // namespace rd::ui
