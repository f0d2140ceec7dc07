#include "client/ui/RcDlgDvrMgr.h"

#include <QComboBox>
#include <QPushButton>

#include <array>
#include <string>
#include <vector>

#include "client/ui/DialogBinding.h"
#include "client/ui/RcDlgHddInf.h"
#include "client/ui/models/ctrl/CtrlMainDialogs.h"

namespace rd::client {
namespace {

using ui::ControlEntry;
using ui::ControlKind;
using ui::kDisabled;
using ui::kHidden;
using ui::kNoId;
namespace id = ui::dvrmgr_id;

constexpr int kWidth = 262, kHeight = 321;  // dialog units
constexpr int kColumnX[4] = {90, 130, 170, 210};
constexpr const char* kChannels[4] = {"CH1", "CH2", "CH3", "CH4"};
constexpr int kListHeight = 100;  // the open list

// The settings lists: id, label, accessible name, row.
struct ListRow {
  int id;
  const char* label;
  const char* name;
  int y;
};
constexpr ListRow kSettingsRows[] = {
    {id::kQuality, "Video Quality:", "Video Quality", 40},
    {id::kFrameRate, "Record Frame Rate:", "Record Frame Rate", 55},
    {id::kAlarmOn, "Alarm On Duration:", "Alarm On Duration", 70},
    {id::kAlarmRecord, "Alarm Record Duration:", "Alarm Record Duration", 85},
    {id::kAudioRecording, "Audio Recording:", "Audio Recording", 100},
    {id::kSpeaker, "DVR Speaker:", "DVR Speaker", 115},
};

// "12 AM", "1 AM" .. "11 PM" above the hour buttons.
const char* HourLabel(int hour) {
  static const std::array<std::string, 24> labels = [] {
    std::array<std::string, 24> a;
    for (int h = 0; h < 24; ++h)
      a[static_cast<std::size_t>(h)] =
          std::to_string(h % 12 == 0 ? 12 : h % 12) + (h < 12 ? " AM" : " PM");
    return a;
  }();
  return labels[static_cast<std::size_t>(hour)].c_str();
}

const std::vector<ControlEntry>& DvrMgrControls() {
  static const std::vector<ControlEntry> table = [] {
    std::vector<ControlEntry> t;
    // Right-aligned labels ending at x 85; they start at x 6 rather than 10
    // so that "Alarm Record Duration:" fits in the dialog font.
    auto label = [&](const char* text, int y, int h = 8) {
      t.push_back({kNoId, ControlKind::kTextRight, text, 6, y, 79, h});
    };
    t.push_back({kNoId, ControlKind::kGroupBox, "DVR Basic Information", 5, 0, 250, 200});
    label("DVR Record Mode:", 10);
    t.push_back({id::kRecordModeText, ControlKind::kText, "N/A", 90, 10, 80, 12});
    label("Hard Disk Information:", 25);
    t.push_back({id::kDiskText, ControlKind::kText, "N/A", 90, 25, 80, 12});
    t.push_back(
        {id::kHddInfo, ControlKind::kButton, "Detailed HDD Info.", 175, 25, 75, 13, kDisabled});
    for (const ListRow& r : kSettingsRows) {
      label(r.label, r.y + 2);
      t.push_back({r.id, ControlKind::kDropList, r.name, 90, r.y, 160, kListHeight});
    }
    for (int c = 0; c < 4; ++c)
      t.push_back({kNoId, ControlKind::kTextCentre, kChannels[c], kColumnX[c], 130, 40, 10});
    label("Input Channels:", 141);
    for (int c = 0; c < 4; ++c)
      t.push_back({id::kInput[c], ControlKind::kPushCheck, "OFF", kColumnX[c], 140, 40, 10});
    label("Record Channels:", 151);
    for (int c = 0; c < 4; ++c)
      t.push_back({id::kRecord[c], ControlKind::kPushCheck, "OFF", kColumnX[c], 150, 40, 10});
    const struct {
      int ids[3];
      const char* names[3];
      const char* separator;
      int y;
    } time_rows[2] = {
        {{id::kYear, id::kMonth, id::kDay}, {"DVR year", "DVR month", "DVR day"}, "/", 165},
        {{id::kHour, id::kMinute, id::kSecond},
         {"DVR hour", "DVR minute", "DVR second"},
         ":",
         180}};
    for (const auto& row : time_rows) {
      if (row.y == 165) label("DVR Time:", row.y + 2);
      for (int i = 0; i < 3; ++i) {
        t.push_back({row.ids[i], ControlKind::kDropList, row.names[i], 90 + 60 * i, row.y, 40,
                     kListHeight});
        if (i < 2)
          t.push_back(
              {kNoId, ControlKind::kTextCentre, row.separator, 135 + 60 * i, row.y + 2, 10, 8});
      }
    }
    t.push_back({kNoId, ControlKind::kGroupBox, "Record Schedule", 5, 200, 250, 95});
    for (int h = 0; h < 24; ++h) {
      const int x = 10 + 40 * (h % 6), y = 210 + 20 * (h / 6);
      t.push_back({kNoId, ControlKind::kTextCentre, HourLabel(h), x, y, 40, 8});
      t.push_back({id::HourButton(h), ControlKind::kPushCheck3, "OFF", x, y + 10, 40, 10});
    }
    t.push_back({id::kRecordModeList, ControlKind::kDropList, "Record mode", 5, 295, 16,
                 kListHeight, kHidden | kDisabled});
    t.push_back({id::kUpdate, ControlKind::kButton, "Update Setting", 120, 300, 65, 13});
    t.push_back({id::kClose, ControlKind::kButton, "Close Window", 190, 300, 65, 13});
    return t;
  }();
  return table;
}

constexpr int kLists[] = {
    id::kQuality, id::kFrameRate, id::kAlarmOn, id::kAlarmRecord, id::kAudioRecording, id::kSpeaker,
    id::kYear,    id::kMonth,     id::kDay,     id::kHour,        id::kMinute,         id::kSecond};

}  // namespace

RcDlgDvrMgr::RcDlgDvrMgr(QWidget* parent) : QDialog(parent) {
  BuildDialog(*this, 137, "Remote DVR Control Panel", {kWidth, kHeight}, DvrMgrControls(),
              controls_);

  // Only what the user does reaches the model: clicks and list choices.
  for (int c = 0; c < 4; ++c) {
    connect(controls_.Button(id::kInput[c]), &QAbstractButton::clicked, this, [this, c] {
      model_.ClickInput(c);
      Show();
    });
    connect(controls_.Button(id::kRecord[c]), &QAbstractButton::clicked, this, [this, c] {
      model_.ClickRecord(c);
      Show();
    });
  }
  for (int h = 0; h < 24; ++h)
    connect(controls_.Button(id::HourButton(h)), &QAbstractButton::clicked, this, [this, h] {
      model_.ClickHour(h);
      Show();
    });
  for (int list : kLists)
    connect(controls_.Combo(list), &QComboBox::activated, this, [this, list](int index) {
      model_.Choose(list, index);
      Show();
    });
  connect(controls_.Button(id::kHddInfo), &QAbstractButton::clicked, this, &RcDlgDvrMgr::OnHddInfo);
  connect(controls_.Button(id::kUpdate), &QAbstractButton::clicked, this, &RcDlgDvrMgr::OnUpdate);
  connect(controls_.Button(id::kClose), &QAbstractButton::clicked, this, &QDialog::reject);
}

bool RcDlgDvrMgr::SetContext(RcWindow* owner, RcCtrlMain* main) {
  if (owner == nullptr || main == nullptr) return false;
  owner_ = owner;
  main_ = main;
  return true;
}

void RcDlgDvrMgr::Open() {
  model_.Open(main_ != nullptr ? ui::ReadDvrMgrSource(*main_) : ui::DvrMgrSource{});
  Show();
}

void RcDlgDvrMgr::Show() {
  ApplyStates(model_.Controls(), controls_);
}

void RcDlgDvrMgr::OnUpdate() {
  if (main_ == nullptr) return;
  ui::CtrlMainRequestSink sink(*main_);
  const ui::DvrMgrModel::UpdateResult r = model_.Update(sink.IsConnected());
  Show();
  RunSteps(r.steps, sink);
  if (r.close) accept();
}

void RcDlgDvrMgr::OnHddInfo() {
  // The disks as the cache holds them now; those of the opening once the
  // session has gone.
  const std::array<ui::DiskInfo, 2> disks =
      main_ != nullptr && main_->IsSessionConnected() ? ui::ReadDisks(*main_) : model_.Disks();
  RcDlgHddInf dialog(this);
  dialog.SetDisks(disks[0], disks[1]);
  dialog.exec();
}

// Every way of closing ends here: the window is gone, the main window hears
// of it once and deletes the object.
void RcDlgDvrMgr::done(int result) {
  if (!closed_ && owner_ != nullptr) owner_->Post(rcmsg::kDvrMgrDestroyed, 0, 0);
  closed_ = true;
  QDialog::done(result);
}

}  // namespace rd::client
