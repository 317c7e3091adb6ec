// The Windows build of installer-tags carries no key generator: the keys come from OpenSSL.
#include "tools/installer_tags/key_files.h"

namespace isetup::tools {

std::optional<std::string> WriteKeyPair(const std::string&, const std::string&) {
  return "keygen is done by the Linux build of installer-tags (it needs OpenSSL); the key files it "
         "writes work on every platform";
}

}  // namespace isetup::tools
