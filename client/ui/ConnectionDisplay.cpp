#include "client/ui/ConnectionDisplay.h"

namespace rd::client {

void ConnectionDisplay::ConnectCommand() {
  view_.button = "Disconnect";
}

void ConnectionDisplay::CtrlConnecting(const std::string& address) {
  view_.close_enabled = false;
  view_.status = "[Ctrl] Connect to " + address;
}

void ConnectionDisplay::CtrlConnectResult(int error) {
  view_.close_enabled = true;
  view_.connected_banner = false;
  if (error == 0) {
    view_.button = "Disconnect";
    view_.status = "[Ctrl] Connected";
  } else {
    view_.button = "Connect";
    view_.status = "[Ctrl] Connection Failed";
  }
}

void ConnectionDisplay::StreamConnecting(const std::string& address) {
  view_.close_enabled = false;
  view_.status = "[Strm] Connect to " + address;
}

void ConnectionDisplay::StreamConnectResult(int error) {
  view_.close_enabled = true;
  if (error == 0) {
    view_.button = "Disconnect";
    view_.status = "Connected";
    view_.connected_banner = true;
  } else {
    view_.status = "Connection Failed";
    view_.connected_banner = false;
  }
}

void ConnectionDisplay::Teardown() {
  view_.close_enabled = true;
  view_.button = "Connect";
  view_.status = "Disconnected";
  view_.connected_banner = false;
}

}  // namespace rd::client
