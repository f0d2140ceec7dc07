#include "client/ui/DialogBinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

namespace rd::client {
namespace {

Qt::CheckState QtCheck(ui::CheckState c) {
  switch (c) {
    case ui::CheckState::kChecked:
      return Qt::Checked;
    case ui::CheckState::kIndeterminate:
      return Qt::PartiallyChecked;
    case ui::CheckState::kUnchecked:
      break;
  }
  return Qt::Unchecked;
}

QStringList Entries(const std::vector<std::string>& items) {
  QStringList out;
  out.reserve(static_cast<qsizetype>(items.size()));
  for (const std::string& s : items) out.push_back(QString::fromStdString(s));
  return out;
}

void ApplyCombo(QComboBox* box, const ui::ControlState& s) {
  const QSignalBlocker block(box);
  const QStringList entries = Entries(s.items);
  bool same = box->count() == entries.size();
  for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == entries[i];
  if (!same) {
    box->clear();
    box->addItems(entries);
  }
  if (box->currentIndex() != s.selected) box->setCurrentIndex(s.selected);
}

void ApplyList(QListWidget* list, const ui::ControlState& s) {
  const QSignalBlocker block(list);
  const QStringList entries = Entries(s.items);
  bool same = list->count() == entries.size();
  for (int i = 0; same && i < list->count(); ++i) same = list->item(i)->text() == entries[i];
  if (!same) {
    list->clear();
    list->addItems(entries);
  }
  if (list->currentRow() != s.selected) list->setCurrentRow(s.selected);
}

}  // namespace

ui::DialogUnits BuildDialog(QDialog& dialog, int resource, const char* caption, QSize units,
                            std::span<const ui::ControlEntry> table, ui::ControlSet& controls,
                            const QFont& font) {
  dialog.setObjectName(QString::number(resource));
  dialog.setWindowTitle(QString::fromUtf8(caption));
  dialog.setFont(font);
  const ui::DialogUnits du(font);
  dialog.setFixedSize(du.Size(units.width(), units.height()));
  controls.Build(&dialog, table, du);
  ui::SetLayoutInfo(&dialog, &dialog, du);
  ui::CentreOverParent(&dialog);
  return du;
}

void ApplyStates(const ui::ControlStates& states, const ui::ControlSet& controls) {
  for (const auto& [id, s] : states.all()) {
    QWidget* w = controls.Widget(id);
    if (w == nullptr) continue;
    const QString text = QString::fromStdString(s.text);
    if (auto* box = qobject_cast<QComboBox*>(w)) {
      ApplyCombo(box, s);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
      ApplyList(list, s);
    } else if (auto* push = dynamic_cast<ui::PushCheckBox*>(w)) {
      if (!text.isEmpty() && push->text() != text) controls.SetText(id, text);
      if (push->checkState() != QtCheck(s.check)) push->setCheckState(QtCheck(s.check));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
      if (!text.isEmpty() && check->text() != text) controls.SetText(id, text);
      const QSignalBlocker block(check);
      check->setChecked(s.checked());
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (!text.isEmpty() && button->text() != text) controls.SetText(id, text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text() != ui::StaticText(text)) controls.SetText(id, text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      if (!text.isEmpty() && group->title() != text) controls.SetText(id, text);
    }
    if (w->isEnabled() != s.enabled) w->setEnabled(s.enabled);
    if (w->isVisibleTo(w->parentWidget()) != s.visible) w->setVisible(s.visible);
  }
}

MessageIcon IconOf(ui::BoxIcon icon) {
  switch (icon) {
    case ui::BoxIcon::kStop:
      return MessageIcon::kStop;
    case ui::BoxIcon::kExclamation:
      return MessageIcon::kExclamation;
    case ui::BoxIcon::kInformation:
      return MessageIcon::kInformation;
    case ui::BoxIcon::kQuestion:
      return MessageIcon::kQuestion;
  }
  return MessageIcon::kNone;
}

void ShowBox(const ui::BoxMessage& box) {
  ShowMessage(box.caption, box.text, IconOf(box.icon));
}

void RunSteps(const std::vector<ui::DialogStep>& steps, ui::DvrRequestSink& sink) {
  for (const ui::DialogStep& step : steps) {
    if (const auto* box = std::get_if<ui::BoxMessage>(&step))
      ShowBox(*box);
    else
      ui::Apply(std::get<ui::DvrRequest>(step), sink);
  }
}

}  // namespace rd::client
