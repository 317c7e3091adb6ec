// skin-generator OUTPUT: draws the stored skin from code and writes it as a zlib stream (resources/tlvm.skn).
#include <cstdio>
#include <exception>
#include <fstream>

#include "tools/skin_generator/skin_file_format.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: skin-generator OUTPUT\n");
    return 2;
  }
  try {
    const auto skin = isetup::skingen::BuildStoredSkin();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(skin.data()), static_cast<std::streamsize>(skin.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "skin-generator: cannot write %s\n", argv[1]);
      return 1;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "skin-generator: %s\n", error.what());
    return 1;
  }
  return 0;
}
