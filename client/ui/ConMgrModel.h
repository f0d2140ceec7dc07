#pragma once
// The rules of the connection manager dialog without its widgets: the
// address it opens with, and the checks of OK in their order with what each
// shows and does. The dialog (RcDlgConMgr) only moves values between the
// widgets and this model.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "client/ui/ConfigFile.h"
#include "platform/MessageBox.h"

namespace rd::client {

inline constexpr std::size_t kPasswordLength = 6;

struct ConMgrResult {
  bool accepted = false;        // the dialog closes with OK
  std::optional<Message> box;   // shown before the dialog goes on
  bool clear_password = false;  // the password field is emptied
  bool config_written = false;  // WriteConfig was called (its result is ignored)
};

class ConMgrModel {
 public:
  explicit ConMgrModel(const ConfigFile& file) : file_(file) {}

  // Reads the file: the saved address, or 0.0.0.0 when there is none.
  std::array<uint8_t, 4> OpeningAddress();

  // OK pressed with the field values.
  ConMgrResult Ok(const std::array<uint8_t, 4>& address, const std::string& password, bool save);

  // After an accepted OK: "%d.%d.%d.%d" and the six digit values 0..15.
  const std::string& AddressText() const { return address_text_; }
  const std::array<uint8_t, 6>& Digits() const { return digits_; }
  const ClientConfig& Config() const { return config_; }

  // '0'-'9' -> 0..9, 'A'-'F' -> 10..15; nullopt for any other character.
  static std::optional<uint8_t> DigitValue(char c);

 private:
  const ConfigFile& file_;
  ClientConfig config_;  // versions read at opening, carried into the file
  std::string address_text_;
  std::array<uint8_t, 6> digits_{};
};

}  // namespace rd::client
