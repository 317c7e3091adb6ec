// installer-tags on Linux and other POSIX systems: the arguments are taken as UTF-8 as they come.
#include <iostream>
#include <string>
#include <vector>

#include "tools/installer_tags/installer_tags.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return isetup::tools::RunInstallerTags(args, std::cout, std::cerr);
}
