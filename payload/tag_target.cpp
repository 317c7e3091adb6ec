// Locating the affiliate tags of a file through its resources.
#include "payload/tag_target.h"

#include "payload/pe_resources.h"

namespace isetup {

TagTarget LocateTagTarget(std::span<const std::uint8_t> file) {
  TagTarget target;
  const PeResourceLookup lookup = FindPeResource(file, kResourceTypeRcdata, kEmbeddedInstallerId);
  if (!lookup.problem.empty()) {
    target.problem = "malformed PE image: " + lookup.problem;
    return target;
  }
  if (lookup.found.empty()) {
    target.size = file.size();
    return target;
  }
  // The program names no language when it looks the resource up, so with two of them it is not ours
  // to say which one it would read.
  if (lookup.found.size() > 1) {
    target.problem = "it holds RT_RCDATA 2 in " + std::to_string(lookup.found.size()) +
                     " languages, and which one the program reads is not certain";
    return target;
  }
  target.embedded = true;
  target.language = lookup.found[0].language;
  target.offset = lookup.found[0].offset;
  target.size = lookup.found[0].size;
  return target;
}

}  // namespace isetup
