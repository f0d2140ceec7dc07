// dvrdisk: scan, inspect, search and export DVR recording disks and images.

#include <iostream>
#include <string>
#include <vector>

#include "tools/dvrdisk/DvrDiskTool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return rd::dvrdisk::Run(args, std::cout, std::cerr);
}
