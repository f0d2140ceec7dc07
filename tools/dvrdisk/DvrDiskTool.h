#pragma once
// dvrdisk: the player's disk side without windows, for people who hold a DVR
// disk or its image and for scripts.
//
//   dvrdisk scan
//   dvrdisk info   [--network] TARGET
//   dvrdisk find   [--network] TARGET "YY/MM/DD hh:mm:ss"
//   dvrdisk frames [--network] TARGET --at BYTE_OFFSET [--chunks N]
//   dvrdisk export [--network] TARGET --from TIME (--to TIME | --frames N)
//                  [--channel 1-4|all] (--bmp DIR | --avi FILE)
//   dvrdisk play   [--network] TARGET --from TIME [--speed 1|4|16|32|64]
//                  [--reverse] [--step N] [--seconds S] [--channel 1-4|all]
//                  [--trace FILE] [--snapshot FILE.bmp] [--avi FILE]
//
// TARGET is an image file or --drive N (drives as RD_DRIVES or /sys/block map
// them). Results are JSON on standard output; messages go to standard error.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "shared/stream/StreamPacket.h"

namespace rd::dvrdisk {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoDevice = 2;  // the image or drive cannot be opened
inline constexpr int kExitNoMarker = 3;  // no DVR marker ("No DVR HDD")
inline constexpr int kExitNoData = 4;    // the disk holds no recording ("No Data")
inline constexpr int kExitNotFound = 5;  // the time is not in the recording
inline constexpr int kExitFailed = 6;    // a read or write failed on the way

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// "YY/MM/DD hh:mm:ss" (blanks between date and time free), with the ranges of
// the search dialog: year 0-99, month 1-12, day 1-31, hour 0-23, minute and
// second 0-59.
std::optional<RecTime> ParseTime(const std::string& text);

std::string HelpText();

}  // namespace rd::dvrdisk
