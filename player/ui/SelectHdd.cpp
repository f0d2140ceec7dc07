#include "player/ui/SelectHdd.h"

#include <QListWidget>
#include <QPushButton>

#include "player/ui/rdplayerIds.h"
#include "ui/UiFonts.h"

namespace rd::player {
namespace {

using namespace ids;
using ui::ControlKind;

const ui::ControlEntry kControls[] = {
    {ui::kNoId, ControlKind::kGroupBox, "Select DVR HDD", 7, 7, 72, 79, 0, {}},
    {kSelectList, ControlKind::kListBox, "DVR disks", 14, 18, 58, 60, 0, {}},
    {kOk, ControlKind::kDefaultButton, "OK", 24, 93, 37, 12, 0, {}},
};

}  // namespace

SelectHddDialog::SelectHddDialog(QWidget* parent, const DiskTable& table)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), lines_(HddLines(table)) {
  setObjectName(QStringLiteral("selecthdd"));
  setWindowTitle(QStringLiteral("Select DVR HDD"));
  setFont(ui::DialogFont());
  const ui::DialogUnits du = ui::DialogUnits::Dialog();
  controls_.Build(this, kControls, du);
  setFixedSize(du.Size(kSelectWidth, kSelectHeight));
  ui::SetLayoutInfo(this, this, du);
  QListWidget* list = List();
  for (const HddLine& line : lines_) list->addItem(QString::fromStdString(line.text));
  connect(static_cast<QPushButton*>(controls_.Widget(kOk)), &QPushButton::clicked, this,
          &SelectHddDialog::accept);
  connect(list, &QListWidget::itemActivated, this, &SelectHddDialog::accept);
  list->setFocus();
}

QListWidget* SelectHddDialog::List() const {
  return controls_.Get<QListWidget>(kSelectList);
}

QAbstractButton* SelectHddDialog::OkButton() const {
  return controls_.Button(kOk);
}

void SelectHddDialog::accept() {
  QListWidget* list = List();
  const int row = list->selectedItems().isEmpty() ? -1 : list->currentRow();
  drive_ = ChosenDrive(lines_, row);
  QDialog::accept();
}

}  // namespace rd::player
