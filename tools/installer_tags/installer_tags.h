// installer-tags: shows and stamps the affiliate tags of a Talvimoraster installer or of InternetSetup.exe,
// and prints the checksum and the version reply for an installer.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace isetup::tools {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;  // the operation was refused or failed; the message says why
inline constexpr int kExitUsage = 2;

// Runs the tool on its arguments (UTF-8, without the program's name): results go to `out`, messages
// to `err`. Returns the exit status.
int RunInstallerTags(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace isetup::tools
