#pragma once
// The connection display of the main window without its widgets: status
// line, Connect button text, whether Close Window is enabled and which
// connection banner shows, as each connection message leaves them.

#include <string>

namespace rd::client {

struct ConnectionView {
  std::string status = "Not Connected";
  std::string button = "Connect";
  bool close_enabled = true;
  bool connected_banner = false;  // "Connected", else "Not Connected"

  friend bool operator==(const ConnectionView&, const ConnectionView&) = default;
};

class ConnectionDisplay {
 public:
  const ConnectionView& View() const { return view_; }

  void ConnectCommand();                              // Connect pressed and the dialog OK
  void CtrlConnecting(const std::string& address);    // 0x411
  void CtrlConnectResult(int error);                  // 0x412
  void StreamConnecting(const std::string& address);  // 0x430
  void StreamConnectResult(int error);                // 0x431
  void Teardown();                                    // 0x401, Disconnect, closing
  void Reset() { view_ = ConnectionView{}; }          // window initialisation

 private:
  ConnectionView view_;
};

}  // namespace rd::client
