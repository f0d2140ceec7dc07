#pragma once
// RdplayerApp: runs the player's main window modally and ends the program
// with exit status 56 when it closes, whatever closed it (the title bar,
// SIGINT, SIGTERM). A disk image or drive named on the command line opens at
// start.

namespace rd::player {

class PlayerDialogs;

class RdplayerApp {
 public:
  static constexpr int kExitClosed = 56;
  static constexpr int kExitUsage = 2;
  // The whole program. `dialogs`: the disk flows' dialogs (null: the real ones).
  static int Run(int argc, char** argv, PlayerDialogs* dialogs = nullptr);
};

}  // namespace rd::player
