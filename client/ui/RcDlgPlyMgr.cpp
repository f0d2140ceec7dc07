#include "client/ui/RcDlgPlyMgr.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "client/ui/DialogBinding.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;
using ui::kDisabled;
using ui::kNoId;
namespace id = ui::plymgr_id;

constexpr int kWidth = 277, kHeight = 330;  // dialog units

// The six fields of a time (year, month, day, hour, minute, second): where
// the texts and the "Start from:" lists stand, and the separators between.
constexpr int kFieldX[6] = {50, 100, 135, 165, 200, 235};
constexpr int kFieldW[6] = {40, 25, 25, 25, 25, 25};
constexpr int kListX[6] = {51, 101, 135, 165, 201, 235};
constexpr const char* kFieldTexts[6] = {"2000", "01", "01", "00", "00", "00"};
struct Separator {
  int x;
  const char* text;
};
constexpr Separator kSeparators[4] = {{92, "/"}, {127, "/"}, {192, ":"}, {227, ":"}};
constexpr const char* kListNames[2][6] = {
    {"Master start year", "Master start month", "Master start day", "Master start hour",
     "Master start minute", "Master start second"},
    {"Slave start year", "Slave start month", "Slave start day", "Slave start hour",
     "Slave start minute", "Slave start second"}};

// One disk's group: its frame at `frame_y`, the check box and note row, the
// range start, range end and "Start from:" rows.
void AddDisk(std::vector<ControlEntry>& t, int disk, const char* name, int check_w, int frame_y,
             int top_y, int start_y, int end_y, int list_y) {
  const id::DiskIds& ids = disk == 0 ? id::kMaster : id::kSlave;
  t.push_back({kNoId, ControlKind::kGroupBox, "", 10, frame_y, 255, 65});
  t.push_back({ids.check, ControlKind::kCheckBox, name, 15, top_y, check_w, 10, kDisabled});
  t.push_back({ids.note, ControlKind::kText, "No Recorded Data", 80, top_y, 180, 10});
  const struct {
    const char* label;
    const int* ids;
    int y;
  } rows[2] = {{"Start Time:", ids.start, start_y}, {"End Time:", ids.end, end_y}};
  for (const auto& row : rows) {
    t.push_back({kNoId, ControlKind::kText, row.label, 12, row.y, 36, 8});
    for (int i = 0; i < 6; ++i)
      t.push_back(
          {row.ids[i], ControlKind::kTextCentre, kFieldTexts[i], kFieldX[i], row.y, kFieldW[i], 8});
    for (const Separator& s : kSeparators)
      t.push_back({kNoId, ControlKind::kTextCentre, s.text, s.x, row.y, 6, 8});
  }
  t.push_back({kNoId, ControlKind::kText, "Start from:", 12, list_y + 2, 36, 8});
  for (int i = 0; i < 6; ++i)
    t.push_back({ids.lists[i], ControlKind::kDropList, kListNames[disk][i], kListX[i], list_y,
                 kFieldW[i], 100, kDisabled});
  for (const Separator& s : kSeparators)
    t.push_back({kNoId, ControlKind::kTextCentre, s.text, s.x, list_y + 2, 6, 8});
}

const std::vector<ControlEntry>& PlayControls() {
  static const std::vector<ControlEntry> table = [] {
    std::vector<ControlEntry> t;
    t.push_back({kNoId, ControlKind::kGroupBox, "Timed Play", 5, 0, 265, 160});
    AddDisk(t, 0, "Master", 37, 6, 15, 32, 43, 54);
    AddDisk(t, 1, "Slave", 34, 71, 80, 96, 108, 119);
    t.push_back({id::kStartTimedPlay, ControlKind::kButton, "Start Timed Play", 10, 140, 255, 14,
                 kDisabled});
    t.push_back({kNoId, ControlKind::kGroupBox, "Event Play", 5, 160, 265, 145});
    t.push_back({id::kEventNote, ControlKind::kText, "Choose event to play", 10, 170, 255, 8});
    t.push_back({id::kEventList, ControlKind::kListBox, "Events", 10, 180, 255, 100});
    t.push_back({id::kStartEventPlay, ControlKind::kButton, "Start Event Play", 10, 285, 255, 14,
                 kDisabled});
    t.push_back({id::kCancel, ControlKind::kDefaultButton, "Cancel", 210, 310, 59, 14});
    return t;
  }();
  return table;
}

}  // namespace

RcDlgPlyMgr::RcDlgPlyMgr(QWidget* parent) : QDialog(parent) {
  BuildDialog(*this, 145, "DVR Play", {kWidth, kHeight}, PlayControls(), controls_);

  // The narrow lists hold two digits beside a narrow arrow (the year list
  // looks the same).
  for (const id::DiskIds* disk : {&id::kMaster, &id::kSlave})
    for (int list : disk->lists)
      controls_.Combo(list)->setStyleSheet(
          QStringLiteral("QComboBox { padding-left: 3px; } QComboBox::drop-down { width: 13px; }"));
  connect(controls_.Button(id::kMaster.check), &QAbstractButton::clicked, this, [this] {
    model_.ClickMaster();
    Show();
  });
  connect(controls_.Button(id::kSlave.check), &QAbstractButton::clicked, this, [this] {
    model_.ClickSlave();
    Show();
  });
  for (const id::DiskIds* disk : {&id::kMaster, &id::kSlave})
    for (int list : disk->lists)
      connect(controls_.Combo(list), &QComboBox::activated, this, [this, list](int index) {
        model_.Choose(list, index);
        Show();
      });
  auto* events = controls_.Get<QListWidget>(id::kEventList);
  connect(events, &QListWidget::itemClicked, this, [this, events] {
    model_.SelectEvent(events->currentRow());
    Show();
  });
  connect(events, &QListWidget::itemDoubleClicked, this,
          [this, events] { Outcome(model_.DoubleClickEvent(events->currentRow())); });
  connect(controls_.Button(id::kStartTimedPlay), &QAbstractButton::clicked, this,
          [this] { Outcome(model_.StartTimedPlay()); });
  connect(controls_.Button(id::kStartEventPlay), &QAbstractButton::clicked, this, [this, events] {
    // The keyboard moves the selection without a click: the list's own
    // selection is the one to play.
    model_.SelectEvent(events->currentRow());
    Outcome(model_.StartEventPlay());
  });
  connect(controls_.Button(id::kCancel), &QAbstractButton::clicked, this, &QDialog::reject);
  SetEvents({});
  controls_.Widget(id::kCancel)->setFocus();
}

void RcDlgPlyMgr::SetEvents(const std::vector<EventRecord>& events) {
  model_.SetEvents(events);
  Show();
}

void RcDlgPlyMgr::Show() {
  ApplyStates(model_.Controls(), controls_);
}

void RcDlgPlyMgr::Outcome(const ui::PlayDialogModel::Outcome& outcome) {
  Show();
  if (outcome.box) ShowBox(*outcome.box);
  if (outcome.accept) accept();
}

}  // namespace rd::client
