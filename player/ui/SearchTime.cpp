#include "player/ui/SearchTime.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "platform/MessageBox.h"
#include "player/ui/rdplayerIds.h"
#include "ui/UiFonts.h"

namespace rd::player {
namespace {

using namespace ids;
using ui::ControlKind;

constexpr int kFieldChars = 4;

const ui::ControlEntry kControls[] = {
    {kSearchField[0], ControlKind::kEdit, "", 7, 7, 22, 14, 0, {}, kFieldChars},
    {kSearchField[1], ControlKind::kEdit, "", 32, 7, 22, 14, 0, {}, kFieldChars},
    {kSearchField[2], ControlKind::kEdit, "", 57, 7, 22, 14, 0, {}, kFieldChars},
    {kSearchField[3], ControlKind::kEdit, "", 82, 7, 22, 14, 0, {}, kFieldChars},
    {kSearchField[4], ControlKind::kEdit, "", 107, 7, 22, 14, 0, {}, kFieldChars},
    {kSearchField[5], ControlKind::kEdit, "", 132, 7, 22, 14, 0, {}, kFieldChars},
    {ui::kNoId,
     ControlKind::kText,
     "YY   /   MM   /   DD        HH   :   MM  :    SS",
     13,
     26,
     180,
     8,
     0,
     {}},
    {kSearchStart, ControlKind::kText, "", 8, 37, 66, 8, 0, {}},
    {ui::kNoId, ControlKind::kText, "----", 76, 37, 14, 8, 0, {}},
    {kSearchEnd, ControlKind::kText, "", 91, 37, 66, 8, 0, {}},
    {kSearchEvents, ControlKind::kListBox, "Events", 7, 51, 193, 140, 0, {}},
    {kFindEvents, ControlKind::kButton, "Find Events", 7, 199, 50, 14, 0, {}},
    {kOk, ControlKind::kDefaultButton, "OK", 97, 199, 50, 14, 0, {}},
    {kCancel, ControlKind::kButton, "Cancel", 150, 199, 50, 14, 0, {}},
};

const char* const kFieldNames[kSearchFields] = {"Year", "Month", "Day", "Hour", "Minute", "Second"};

}  // namespace

SearchTimeDialog::SearchTimeDialog(QWidget* parent, const std::optional<RecordingSpan>& span,
                                   EventSource events)
    : QDialog(parent), model_(span), events_(std::move(events)) {
  setObjectName(QStringLiteral("searchtime"));
  setWindowTitle(QStringLiteral("Search Time"));
  setFont(ui::DialogFont());
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  controls_.Build(this, kControls, du);
  setFixedSize(du.Size(kSearchWidth, kSearchHeight));
  ui::SetLayoutInfo(this, this, du);
  for (int i = 0; i < kSearchFields; ++i) {
    Field(i)->setAccessibleName(QString::fromUtf8(kFieldNames[i]));
    Field(i)->setAlignment(Qt::AlignCenter);
  }
  controls_.SetText(kSearchStart, QString::fromStdString(model_.start_text()));
  controls_.SetText(kSearchEnd, QString::fromStdString(model_.end_text()));
  controls_.Widget(kSearchStart)->setAccessibleName(QStringLiteral("Start of the recording"));
  controls_.Widget(kSearchEnd)->setAccessibleName(QStringLiteral("End of the recording"));
  List()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ShowFields();
  connect(static_cast<QPushButton*>(controls_.Widget(kFindEvents)), &QPushButton::clicked, this,
          &SearchTimeDialog::FindEvents);
  connect(static_cast<QPushButton*>(controls_.Widget(kOk)), &QPushButton::clicked, this,
          &SearchTimeDialog::accept);
  connect(static_cast<QPushButton*>(controls_.Widget(kCancel)), &QPushButton::clicked, this,
          &SearchTimeDialog::reject);
  connect(List(), &QListWidget::currentRowChanged, this, &SearchTimeDialog::OnLineChosen);
  Field(0)->setFocus();
  Field(0)->selectAll();
}

QLineEdit* SearchTimeDialog::Field(int i) const {
  return controls_.Edit(kSearchField[i]);
}

QListWidget* SearchTimeDialog::List() const {
  return controls_.Get<QListWidget>(kSearchEvents);
}

void SearchTimeDialog::ShowFields() {
  for (int i = 0; i < kSearchFields; ++i)
    Field(i)->setText(QString::fromStdString(model_.fields()[static_cast<std::size_t>(i)]));
}

void SearchTimeDialog::FindEvents() {
  if (!model_.find_events_enabled()) return;
  controls_.SetEnabled(kFindEvents, false);
  model_.FindEvents(events_ ? events_() : std::vector<DiskEvent>{});
  filling_ = true;
  QListWidget* list = List();
  list->clear();
  for (const DiskEvent& e : model_.events()) list->addItem(QString::fromStdString(e.line));
  filling_ = false;
}

void SearchTimeDialog::OnLineChosen(int row) {
  if (filling_ || row < 0) return;
  model_.SelectEvent(row);
  ShowFields();
}

void SearchTimeDialog::accept() {
  for (int i = 0; i < kSearchFields; ++i) model_.SetField(i, Field(i)->text().toStdString());
  const SearchCheck check = model_.Check();
  if (!check.time) {
    ShowMessage("", check.prompt, MessageIcon::kExclamation);
    QLineEdit* field = Field(check.field);
    field->setFocus();
    field->selectAll();
    return;  // the dialog stays open
  }
  time_ = check.time;
  QDialog::accept();
}

}  // namespace rd::player
