#pragma once
// dvrctl: the headless client. Drives a DVR through RcCtrlMain without
// windows (a message queue stands in for the main window and its timers), and
// inspects or plays local .mys recordings without a DVR.

#include <iosfwd>
#include <string>
#include <vector>

namespace rd::dvrctl {

// Runs one command line (without the program name). Output goes to `out`,
// connection events and errors to `err`. Returns the exit status: 0 done,
// 1 the command failed, 2 bad usage, 3 a connection event ended the run.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace rd::dvrctl
