#include "ui/ControlTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPalette>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace rd::ui {
namespace {

// Drop-down lists: the closed box is one line high whatever the table's
// height (which is that of the open list).
constexpr int kDropListUnits = 12;

}  // namespace

QString StaticText(const QString& t) {
  QString out;
  out.reserve(t.size());
  for (int i = 0; i < t.size(); ++i) {
    if (t[i] == QLatin1Char('&')) {
      if (i + 1 < t.size() && t[i + 1] == QLatin1Char('&')) {
        out += QLatin1Char('&');
        ++i;
      }
      continue;
    }
    out += t[i];
  }
  return out;
}

QString StaticText(const char* resource_text) {
  return StaticText(QString::fromUtf8(resource_text));
}

// ------------------------------------------------------------ PushCheckBox

PushCheckBox::PushCheckBox(QWidget* parent) : QPushButton(parent) {
  setCheckable(true);
}

void PushCheckBox::setCheckState(Qt::CheckState state) {
  if (state == Qt::PartiallyChecked && !tristate_) state = Qt::Checked;
  state_ = state;
  const QSignalBlocker block(this);
  setChecked(state != Qt::Unchecked);
  update();
}

void PushCheckBox::nextCheckState() {
  switch (state_) {
    case Qt::Unchecked:
      state_ = Qt::Checked;
      break;
    case Qt::Checked:
      state_ = tristate_ ? Qt::PartiallyChecked : Qt::Unchecked;
      break;
    case Qt::PartiallyChecked:
      state_ = Qt::Unchecked;
      break;
  }
  setChecked(state_ != Qt::Unchecked);
}

void PushCheckBox::checkStateSet() {
  // setChecked from outside: two-state meaning.
  if (isChecked() && state_ == Qt::Unchecked) state_ = Qt::Checked;
  if (!isChecked()) state_ = Qt::Unchecked;
}

void PushCheckBox::paintEvent(QPaintEvent* event) {
  if (state_ != Qt::PartiallyChecked) {
    QPushButton::paintEvent(event);
    return;
  }
  QStylePainter p(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.state |= QStyle::State_Sunken | QStyle::State_NoChange;
  option.palette.setColor(QPalette::ButtonText,
                          option.palette.color(QPalette::Disabled, QPalette::ButtonText));
  p.drawControl(QStyle::CE_PushButton, option);
}

// ------------------------------------------------------------ IpAddressEdit

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  for (int i = 0; i < 4; ++i) {
    auto* f = new QLineEdit(this);
    f->setObjectName(QStringLiteral("byte%1").arg(i + 1));
    f->setAccessibleName(QStringLiteral("IP address byte %1").arg(i + 1));
    f->setAlignment(Qt::AlignCenter);
    f->setFrame(false);
    f->setMaxLength(3);
    f->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), f));
    f->installEventFilter(this);
    fields_[static_cast<std::size_t>(i)] = f;
    row->addWidget(f, 1);
    if (i < 3) {
      auto* dot = new QLabel(QStringLiteral("."), this);
      dot->setAlignment(Qt::AlignCenter);
      row->addWidget(dot);
    }
    QObject::connect(f, &QLineEdit::textEdited, this, [this, i] { OnEdited(i); });
  }
  setFocusProxy(fields_[0]);
}

void IpAddressEdit::SetAddress(const std::array<uint8_t, 4>& bytes) {
  for (int i = 0; i < 4; ++i)
    fields_[static_cast<std::size_t>(i)]->setText(
        QString::number(bytes[static_cast<std::size_t>(i)]));
}

std::array<uint8_t, 4> IpAddressEdit::Address() const {
  std::array<uint8_t, 4> out{};
  for (std::size_t i = 0; i < 4; ++i)
    out[i] = static_cast<uint8_t>(std::min(255, fields_[i]->text().toInt()));
  return out;
}

bool IpAddressEdit::SetText(const QString& dotted) {
  const QStringList parts = dotted.trimmed().split(QLatin1Char('.'));
  if (parts.size() < 2 || parts.size() > 4) return false;
  for (const QString& p : parts)
    for (QChar c : p)
      if (!c.isDigit()) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    const QString p =
        i < static_cast<std::size_t>(parts.size()) ? parts[static_cast<qsizetype>(i)] : QString();
    fields_[i]->setText(p.isEmpty() ? QString()
                                    : QString::number(std::min(255, p.left(3).toInt())));
  }
  return true;
}

void IpAddressEdit::OnEdited(int index) {
  QLineEdit* f = fields_[static_cast<std::size_t>(index)];
  if (f->text().toInt() > 255) f->setText(QStringLiteral("255"));
  if (f->text().size() == 3 && index < 3) {
    QLineEdit* next = fields_[static_cast<std::size_t>(index + 1)];
    next->setFocus();
    next->selectAll();
  }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  int index = -1;
  for (int i = 0; i < 4; ++i)
    if (watched == fields_[static_cast<std::size_t>(i)]) index = i;
  if (index < 0 || event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  QLineEdit* f = fields_[static_cast<std::size_t>(index)];
  if (key->matches(QKeySequence::Paste)) {
    // A dotted address pasted into any field fills all four.
    const QString text = QApplication::clipboard()->text();
    if (text.contains(QLatin1Char('.')) && SetText(text)) return true;
    return false;
  }
  if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && index < 3) {
    if (!f->text().isEmpty()) {
      fields_[static_cast<std::size_t>(index + 1)]->setFocus();
      fields_[static_cast<std::size_t>(index + 1)]->selectAll();
    }
    return true;
  }
  if (key->key() == Qt::Key_Backspace && f->cursorPosition() == 0 && index > 0) {
    QLineEdit* prev = fields_[static_cast<std::size_t>(index - 1)];
    prev->setFocus();
    prev->end(false);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// ------------------------------------------------------------ ControlSet

void ControlSet::Build(QWidget* parent, std::span<const ControlEntry> table, const DialogUnits& du,
                       const CustomFactory& custom) {
  QWidget* previous_focus = nullptr;
  for (const ControlEntry& c : table) {
    const QString text = QString::fromUtf8(c.text);
    const QRect r = du.Rect(c.x, c.y, c.w, c.h);
    QWidget* w = nullptr;
    QString accessible = StaticText(text);
    switch (c.kind) {
      case ControlKind::kGroupBox: {
        auto* g = new QGroupBox(text, parent);
        g->setFocusPolicy(Qt::NoFocus);
        w = g;
        break;
      }
      case ControlKind::kText:
      case ControlKind::kTextRight:
      case ControlKind::kTextCentre:
      case ControlKind::kSunkenText: {
        auto* l = new QLabel(StaticText(text), parent);
        l->setTextFormat(Qt::PlainText);
        Qt::Alignment a = Qt::AlignLeft;
        if (c.kind == ControlKind::kTextRight) a = Qt::AlignRight;
        if (c.kind == ControlKind::kTextCentre || c.kind == ControlKind::kSunkenText)
          a = Qt::AlignHCenter;
        l->setAlignment(a | Qt::AlignTop);
        if (c.kind == ControlKind::kSunkenText) {
          l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
          l->setAlignment(Qt::AlignCenter);
        }
        w = l;
        break;
      }
      case ControlKind::kButton:
      case ControlKind::kDefaultButton: {
        auto* b = new QPushButton(text, parent);
        b->setAutoDefault(false);
        if (c.kind == ControlKind::kDefaultButton) b->setDefault(true);
        w = b;
        break;
      }
      case ControlKind::kPushCheck:
      case ControlKind::kPushCheck3: {
        auto* b = new PushCheckBox(parent);
        b->setText(text);
        b->setAutoDefault(false);
        b->setTristate(c.kind == ControlKind::kPushCheck3);
        b->setCheckState((c.flags & kChecked) ? Qt::Checked : Qt::Unchecked);
        w = b;
        break;
      }
      case ControlKind::kCheckBox: {
        auto* b = new QCheckBox(text, parent);
        b->setChecked((c.flags & kChecked) != 0);
        w = b;
        break;
      }
      case ControlKind::kRadio:
      case ControlKind::kPushRadio: {
        QAbstractButton* b = nullptr;
        if (c.kind == ControlKind::kRadio) {
          b = new QRadioButton(text, parent);
        } else {
          auto* p = new QPushButton(text, parent);
          p->setCheckable(true);
          p->setAutoExclusive(true);
          p->setAutoDefault(false);
          b = p;
        }
        b->setChecked((c.flags & kChecked) != 0);
        w = b;
        break;
      }
      case ControlKind::kPicture: {
        auto* l = new QLabel(parent);
        const QImage img = MakePicture(c.picture, text);
        if (!img.isNull()) l->setPixmap(QPixmap::fromImage(img));
        l->setToolTip(text);
        l->setFocusPolicy(Qt::NoFocus);
        w = l;
        break;
      }
      case ControlKind::kPictureButton: {
        auto* b = new QPushButton(parent);
        const QImage img = MakePicture(c.picture, text);
        if (!img.isNull()) {
          b->setIcon(QPixmap::fromImage(img));
          b->setIconSize(img.size());
        } else {
          b->setText(text);
        }
        b->setToolTip(text);
        b->setAutoDefault(false);
        w = b;
        break;
      }
      case ControlKind::kDropList: {
        auto* cb = new QComboBox(parent);
        cb->setEditable(false);
        w = cb;
        break;
      }
      case ControlKind::kListBox:
        w = new QListWidget(parent);
        break;
      case ControlKind::kSliderV:
      case ControlKind::kSliderH: {
        auto* s =
            new QSlider(c.kind == ControlKind::kSliderV ? Qt::Vertical : Qt::Horizontal, parent);
        s->setTickPosition(c.kind == ControlKind::kSliderV ? QSlider::TicksBothSides
                                                           : QSlider::TicksBelow);
        // A vertical slider's smallest value is at the top (the desktop
        // toolkit draws it at the bottom); Up moves the handle up.
        if (c.kind == ControlKind::kSliderV) {
          s->setInvertedAppearance(true);
          s->setInvertedControls(true);
        }
        w = s;
        break;
      }
      case ControlKind::kEdit:
      case ControlKind::kPassword: {
        auto* e = new QLineEdit(parent);
        if (c.kind == ControlKind::kPassword) e->setEchoMode(QLineEdit::Password);
        if (c.max_length > 0) e->setMaxLength(c.max_length);
        if (c.flags & kDigitsOnly)
          e->setValidator(
              new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
        e->setText(text);
        w = e;
        break;
      }
      case ControlKind::kIpAddress: {
        auto* ip = new IpAddressEdit(parent);
        ip->setAttribute(Qt::WA_StyledBackground);
        w = ip;
        break;
      }
      case ControlKind::kBlackRect: {
        auto* f = new QFrame(parent);
        f->setAutoFillBackground(true);
        QPalette pal = f->palette();
        pal.setColor(QPalette::Window, Qt::black);
        f->setPalette(pal);
        w = f;
        break;
      }
      case ControlKind::kCustom:
        if (custom) w = custom(c, parent);
        if (w != nullptr && w->parentWidget() != parent) w->setParent(parent);
        break;
    }
    if (w == nullptr) continue;

    if (c.kind == ControlKind::kPicture) {
      const QSize natural = w->sizeHint();  // a picture control takes its image's size
      w->setGeometry(QRect(r.topLeft(), natural.isValid() ? natural : r.size()));
    } else if (c.kind == ControlKind::kDropList) {
      w->setGeometry(QRect(r.topLeft(), QSize(r.width(), du.Y(kDropListUnits) + 2)));
    } else {
      w->setGeometry(r);
    }
    w->setObjectName(c.id == kNoId ? QStringLiteral("static") : QString::number(c.id));
    w->setAccessibleName(accessible);
    if (c.flags & kDisabled) w->setEnabled(false);
    if (c.flags & kHidden) w->setVisible(false);
    if (c.flags & kNoFocus) w->setFocusPolicy(Qt::NoFocus);
    if (w->focusPolicy() != Qt::NoFocus) {
      if (previous_focus != nullptr) QWidget::setTabOrder(previous_focus, w);
      previous_focus = w;
    }
    in_order_.push_back(w);
    if (c.id != kNoId) {
      by_id_[c.id] = w;
      unit_rects_[c.id] = QRect(c.x, c.y, c.w, c.h);
    }
  }
}

QWidget* ControlSet::Widget(int id) const {
  auto it = by_id_.find(id);
  return it == by_id_.end() ? nullptr : it->second;
}

QRect ControlSet::UnitRect(int id) const {
  auto it = unit_rects_.find(id);
  return it == unit_rects_.end() ? QRect() : it->second;
}

void ControlSet::SetVisible(int id, bool visible) const {
  if (QWidget* w = Widget(id)) w->setVisible(visible);
}

void ControlSet::SetEnabled(int id, bool enabled) const {
  if (QWidget* w = Widget(id)) w->setEnabled(enabled);
}

void ControlSet::SetText(int id, const QString& text) const {
  QWidget* w = Widget(id);
  if (w == nullptr) return;
  if (auto* l = dynamic_cast<QLabel*>(w)) {
    l->setText(StaticText(text));
  } else if (auto* b = dynamic_cast<QAbstractButton*>(w)) {
    b->setText(text);
  } else if (auto* g = dynamic_cast<QGroupBox*>(w)) {
    g->setTitle(text);
  } else if (auto* e = dynamic_cast<QLineEdit*>(w)) {
    e->setText(text);
    return;  // an edit field keeps its label's name
  } else {
    return;
  }
  w->setAccessibleName(StaticText(text));
}

// ------------------------------------------------------------ layout info

void SetLayoutInfo(QWidget* window, QWidget* client_area, const DialogUnits& units) {
  window->setProperty("rd_client_area", QVariant::fromValue<QObject*>(client_area));
  window->setProperty("rd_base_units", QSize(units.base_x(), units.base_y()));
}

QWidget* ClientArea(QWidget* window) {
  auto* client = qobject_cast<QWidget*>(window->property("rd_client_area").value<QObject*>());
  return client != nullptr ? client : window;
}

QSize BaseUnits(QWidget* window) {
  const QVariant v = window->property("rd_base_units");
  if (v.isValid()) return v.toSize();
  const DialogUnits du = DialogUnits::Dialog();
  return {du.base_x(), du.base_y()};
}

void CentreOverParent(QWidget* dialog) {
  QWidget* parent = dialog->parentWidget() != nullptr ? dialog->parentWidget()->window() : nullptr;
  QScreen* screen = parent != nullptr ? parent->screen() : dialog->screen();
  const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
  const QPoint centre = parent != nullptr ? parent->frameGeometry().center() : area.center();
  QRect r(QPoint(0, 0), dialog->size());
  r.moveCenter(centre);
  if (area.isValid()) {
    r.moveRight(std::min(r.right(), area.right()));
    r.moveBottom(std::min(r.bottom(), area.bottom()));
    r.moveLeft(std::max(r.left(), area.left()));
    r.moveTop(std::max(r.top(), area.top()));
  }
  dialog->move(r.topLeft());
}

}  // namespace rd::ui
