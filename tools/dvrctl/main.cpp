// dvrctl: the headless client for scripts and servers. See dvrctl --help.

#include <iostream>
#include <string>
#include <vector>

#include "tools/dvrctl/DvrCtl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return rd::dvrctl::Run(args, std::cout, std::cerr);
}
