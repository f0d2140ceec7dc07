#include "client/ui/ConMgrModel.h"

#include <cstdio>

namespace rd::client {

std::optional<uint8_t> ConMgrModel::DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

std::array<uint8_t, 4> ConMgrModel::OpeningAddress() {
  if (!file_.Read(&config_)) config_ = ClientConfig{};
  return config_.address;
}

ConMgrResult ConMgrModel::Ok(const std::array<uint8_t, 4>& a, const std::string& password,
                             bool save) {
  ConMgrResult r;
  // 1. Exactly six characters.
  if (password.size() != kPasswordLength) {
    r.box = Message{"", "Invalid Password", MessageIcon::kNone};
    r.clear_password = true;
    return r;
  }
  // 2. The first address byte may not be 0.
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
  if (a[0] == 0) {
    r.box = Message{"Input Error", std::string("Invalid IP Address\n") + text, MessageIcon::kStop};
    return r;
  }
  // 3., 4. The address text; saved before the password is converted.
  address_text_ = text;
  if (save) {
    ClientConfig c = config_;
    c.address = a;
    file_.Write(c);
    r.config_written = true;
  }
  // 5. Each character a hexadecimal digit in upper case.
  for (std::size_t i = 0; i < kPasswordLength; ++i) {
    const auto v = DigitValue(password[i]);
    if (!v) {
      r.box = Message{"", "Invalid Password", MessageIcon::kNone};
      return r;
    }
    digits_[i] = *v;
  }
  r.accepted = true;
  return r;
}

}  // namespace rd::client
