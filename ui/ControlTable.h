#pragma once
// A dialog's controls made from a table: id, kind, text, rectangle in dialog
// units, initial state. The builder places every control through the one
// dialog-unit conversion, keeps an id -> widget map, gives each widget its id
// as objectName and its text as accessible name (a picture: the text it
// shows), and sets the tab order to the order of the table (tables list their
// controls in reading order).
//
// Texts follow the resource convention: "&&" shows one ampersand, a single
// "&" marks the mnemonic of a button, check box or group box.

#include <QAbstractButton>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "ui/DialogUnits.h"
#include "ui/Pictures.h"

namespace rd::ui {

inline constexpr int kNoId = -1;  // a static control without an id

enum class ControlKind {
  kGroupBox,
  kText,        // static text, left-aligned
  kTextRight,   // static text, right-aligned
  kTextCentre,  // static text, centred
  kSunkenText,  // static text in a sunken frame
  kButton,
  kDefaultButton,
  kPushCheck,      // push-like check box, two states
  kPushCheck3,     // push-like check box, three states
  kCheckBox,       // check box the user toggles (auto)
  kRadio,          // radio button; kGroupStart begins a new group
  kPushRadio,      // push-like radio button
  kPicture,        // static picture (PictureStyle), sized to its image
  kPictureButton,  // push button showing a picture; its text is the accessible name
  kDropList,       // drop-down list (not editable); the height is that of the open list
  kListBox,        // list of lines
  kSliderV,        // vertical trackbar
  kSliderH,        // horizontal trackbar
  kEdit,           // one-line edit field
  kPassword,       // one-line edit field showing bullets
  kIpAddress,      // IPv4 address field (four bytes)
  kBlackRect,      // black frame (a video area is made by the custom factory instead)
  kCustom,         // made by the caller's factory
};

// Initial state flags.
inline constexpr uint32_t kHidden = 1u << 0;
inline constexpr uint32_t kDisabled = 1u << 1;
inline constexpr uint32_t kChecked = 1u << 2;
inline constexpr uint32_t kGroupStart = 1u << 3;  // first radio button of a group
inline constexpr uint32_t kDigitsOnly = 1u << 4;  // edit field: decimal digits only
inline constexpr uint32_t kNoFocus = 1u << 5;     // not reached by Tab

struct ControlEntry {
  int id = kNoId;
  ControlKind kind = ControlKind::kText;
  const char* text = "";
  int x = 0, y = 0, w = 0, h = 0;  // dialog units
  uint32_t flags = 0;
  PictureStyle picture{};
  int max_length = 0;  // edit fields: at most this many characters (0: no limit)
};

// A push-like check box with two or three states. Each click moves to the
// next state (unchecked -> checked [-> indeterminate] -> unchecked); the
// indeterminate state is drawn pressed with a dimmed text.
class PushCheckBox : public QPushButton {
 public:
  explicit PushCheckBox(QWidget* parent = nullptr);
  void setTristate(bool on) { tristate_ = on; }
  bool isTristate() const { return tristate_; }
  Qt::CheckState checkState() const { return state_; }
  // Sets the state without a clicked signal (as a program change).
  void setCheckState(Qt::CheckState state);

 protected:
  void nextCheckState() override;
  void checkStateSet() override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool tristate_ = false;
  Qt::CheckState state_ = Qt::Unchecked;
};

// The IPv4 address field: four byte fields separated by dots. Typing a dot
// or three digits moves to the next field; a pasted dotted address fills all
// four. A number above 255 is taken as 255.
class IpAddressEdit : public QWidget {
 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);
  void SetAddress(const std::array<uint8_t, 4>& bytes);
  std::array<uint8_t, 4> Address() const;
  // Fills the four fields from "a.b.c.d" (missing parts become empty); false
  // when the text holds no dotted number at all.
  bool SetText(const QString& dotted);
  QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnEdited(int index);
  std::array<QLineEdit*, 4> fields_{};
};

class ControlSet {
 public:
  using CustomFactory = std::function<QWidget*(const ControlEntry& entry, QWidget* parent)>;

  // Builds the table's controls on `parent` (the client area of a window).
  // `custom` makes the kCustom controls. Built controls are kept in table
  // order; the last widget made for an id wins the map entry.
  void Build(QWidget* parent, std::span<const ControlEntry> table, const DialogUnits& units,
             const CustomFactory& custom = {});

  QWidget* Widget(int id) const;
  template <typename T>
  T* Get(int id) const {
    return dynamic_cast<T*>(Widget(id));
  }
  QAbstractButton* Button(int id) const { return Get<QAbstractButton>(id); }
  PushCheckBox* PushCheck(int id) const { return Get<PushCheckBox>(id); }
  QLabel* Label(int id) const { return Get<QLabel>(id); }
  QComboBox* Combo(int id) const { return Get<QComboBox>(id); }
  QSlider* Slider(int id) const { return Get<QSlider>(id); }
  QLineEdit* Edit(int id) const { return Get<QLineEdit>(id); }
  IpAddressEdit* Ip(int id) const { return Get<IpAddressEdit>(id); }

  // Controls of the table in table order (ids may repeat for static ones).
  const std::vector<QWidget*>& InOrder() const { return in_order_; }
  // The rectangle of a control in dialog units, as the table has it.
  QRect UnitRect(int id) const;

  // Shows or hides / enables or disables a control by id (no-ops for unknown ids).
  void SetVisible(int id, bool visible) const;
  void SetEnabled(int id, bool enabled) const;
  // Sets the text of a text, button or group box (resource convention) and
  // its accessible name.
  void SetText(int id, const QString& text) const;

 private:
  std::map<int, QWidget*> by_id_;
  std::map<int, QRect> unit_rects_;
  std::vector<QWidget*> in_order_;
};

// Resource text → what a label shows ("&&" → "&", a lone "&" dropped).
QString StaticText(const char* resource_text);
QString StaticText(const QString& resource_text);

// The base units a window was laid out with and the widget that holds its
// controls (its client area), for the RD_UI_LOG window lines. A window that
// does not set them is taken as its own client area with the dialog font's
// units.
void SetLayoutInfo(QWidget* window, QWidget* client_area, const DialogUnits& units);
QWidget* ClientArea(QWidget* window);
QSize BaseUnits(QWidget* window);

// Moves a dialog over the centre of its parent's window, kept on the screen,
// as the toolkit would only when it is shown: its place is known before it is
// shown (the RD_UI_LOG window line then gives the real one).
void CentreOverParent(QWidget* dialog);

}  // namespace rd::ui
