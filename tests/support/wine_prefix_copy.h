// For the harnesses that give each scenario a Wine prefix of its own, copied from one template.
#pragma once

#include <string>

namespace isetup::testing {

// The shell command that makes `to` a copy of the prefix `from`. The system folder's DLLs, nine tenths
// of a prefix (about 630 MB) and never written by a run, are hard links to the template's; everything
// else (the registry, the users' folders) is copied, so a run changes only its own prefix.
inline std::string CopyWinePrefixCommand(const std::string& from, const std::string& to) {
  const std::string source = "'" + from + "'", target = "'" + to + "'";
  return "mkdir -p " + target + " && tar -C " + source + " --exclude=./drive_c/windows/system32 -cf - . | tar -C " +
         target + " -xf - && cp -al " + source + "/drive_c/windows/system32 " + target + "/drive_c/windows/";
}

}  // namespace isetup::testing
