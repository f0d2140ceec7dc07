#pragma once
// RdclientApp: starts the socket layer, runs the main window modally and ends
// the program when it closes. SIGINT and SIGTERM run the window's Close
// sequence (an AVI export or a local recording in progress is finished).

#include <string>
#include <vector>

namespace rd::client {

class ClientDialogs;

class RdclientApp {
 public:
  // The whole program: arguments without the program name. `dialogs` are the
  // menu's dialogs (null: none yet).
  static int Run(int argc, char** argv, ClientDialogs* dialogs = nullptr);
};

}  // namespace rd::client
