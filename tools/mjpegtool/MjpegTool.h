#pragma once
// mjpegtool: decodes, encodes and shows single MJPEG frames; the conformance
// interface of the decoder (see Usage()).

#include <ostream>
#include <string>
#include <vector>

namespace rd {

// Runs the tool on its arguments (without the program name). Messages go to
// `out`, errors to `err`. Returns the process exit code: 0 on success, 1 when
// a file cannot be read or written, 2 for bad arguments.
int RunMjpegTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string MjpegToolUsage();

}  // namespace rd
