// The main window's connection display: each connection message from each
// state, and the two-step display of a failed connection.

#include <gtest/gtest.h>

#include <functional>

#include "client/ui/ConnectionDisplay.h"

namespace rd::client {
namespace {

struct Step {
  const char* name;
  std::function<void(ConnectionDisplay&)> apply;
  ConnectionView after;
};

TEST(ConnectionDisplay, StateTable) {
  const Step connect = {"connect command",
                        [](ConnectionDisplay& d) { d.ConnectCommand(); },
                        {"Not Connected", "Disconnect", true, false}};
  const Step ctrl_connecting = {"0x411",
                                [](ConnectionDisplay& d) { d.CtrlConnecting("10.0.0.5"); },
                                {"[Ctrl] Connect to 10.0.0.5", "Disconnect", false, false}};
  const Step ctrl_ok = {"0x412 ok",
                        [](ConnectionDisplay& d) { d.CtrlConnectResult(0); },
                        {"[Ctrl] Connected", "Disconnect", true, false}};
  const Step ctrl_failed = {"0x412 failed",
                            [](ConnectionDisplay& d) { d.CtrlConnectResult(111); },
                            {"[Ctrl] Connection Failed", "Connect", true, false}};
  const Step strm_connecting = {"0x430",
                                [](ConnectionDisplay& d) { d.StreamConnecting("10.0.0.5"); },
                                {"[Strm] Connect to 10.0.0.5", "Disconnect", false, false}};
  const Step strm_ok = {"0x431 ok",
                        [](ConnectionDisplay& d) { d.StreamConnectResult(0); },
                        {"Connected", "Disconnect", true, true}};
  const Step strm_failed = {"0x431 failed",
                            [](ConnectionDisplay& d) { d.StreamConnectResult(111); },
                            {"Connection Failed", "Disconnect", true, false}};
  const Step teardown = {"teardown",
                         [](ConnectionDisplay& d) { d.Teardown(); },
                         {"Disconnected", "Connect", true, false}};
  const Step connect_again = {"connect command",
                              [](ConnectionDisplay& d) { d.ConnectCommand(); },
                              {"Disconnected", "Disconnect", true, false}};

  const std::vector<std::vector<Step>> runs = {
      // Connected, then a connection event (or the Disconnect command).
      {connect, ctrl_connecting, ctrl_ok, strm_connecting, strm_ok, teardown},
      // A refused control connect: event 1 is posted before 0x412, so the
      // failure text stays after the teardown.
      {connect, ctrl_connecting, teardown, ctrl_failed},
      // A refused stream connect: 0x431 before event 8 ends on "Disconnected".
      {connect, ctrl_connecting, ctrl_ok, strm_connecting, strm_failed, teardown},
      // Reconnecting after a teardown.
      {connect, ctrl_connecting, ctrl_ok, teardown, connect_again, ctrl_connecting, ctrl_ok},
  };
  for (const auto& run : runs) {
    ConnectionDisplay d;
    EXPECT_EQ(d.View(), (ConnectionView{"Not Connected", "Connect", true, false}));
    std::string trace;
    for (const Step& s : run) {
      s.apply(d);
      trace += std::string(s.name) + " / ";
      EXPECT_EQ(d.View().status, s.after.status) << trace;
      EXPECT_EQ(d.View().button, s.after.button) << trace;
      EXPECT_EQ(d.View().close_enabled, s.after.close_enabled) << trace;
      EXPECT_EQ(d.View().connected_banner, s.after.connected_banner) << trace;
    }
  }
}

TEST(ConnectionDisplay, StreamFailureLeavesTheButtonAsItWas) {
  ConnectionDisplay d;
  d.StreamConnectResult(5);
  EXPECT_EQ(d.View().button, "Connect");
  EXPECT_EQ(d.View().status, "Connection Failed");
}

}  // namespace
}  // namespace rd::client
