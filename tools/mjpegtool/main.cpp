#include <iostream>
#include <string>
#include <vector>

#include "tools/mjpegtool/MjpegTool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return rd::RunMjpegTool(args, std::cout, std::cerr);
}
