#pragma once
// The connection manager dialog: the DVR's IPv4 address (remembered in the
// configuration file) and the six-character session password. On OK the
// caller reads the address text and the six digit values.

#include <QDialog>

#include <array>
#include <cstdint>
#include <string>

#include "client/ui/ConMgrModel.h"
#include "ui/ControlTable.h"

namespace rd::client {

namespace conmgr {
inline constexpr int kTitle = 1293;
inline constexpr int kAddress = 1004;
inline constexpr int kPassword = 1005;
inline constexpr int kSaveAddress = 1356;
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
}  // namespace conmgr

class RcDlgConMgr : public QDialog {
 public:
  RcDlgConMgr(QWidget* parent, const ConfigFile& file);

  const std::string& AddressText() const { return model_.AddressText(); }
  const std::array<uint8_t, 6>& Digits() const { return model_.Digits(); }
  std::string PasswordText() const;
  const ui::ControlSet& Controls() const { return controls_; }

  void accept() override;

 private:
  ConMgrModel model_;
  ui::ControlSet controls_;
};

}  // namespace rd::client
