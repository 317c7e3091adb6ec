// Test helper: the blanked content made the direct way (copy, blank, search the changed copy), and
// contents on which a cleverer way can go wrong.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace isetup::testing {

inline std::vector<std::uint8_t> ModelBlanked(std::vector<std::uint8_t> content) {
  for (const std::string_view marker : {"affid=", "affsid="}) {
    const auto at = std::search(content.begin(), content.end(), marker.begin(), marker.end());
    if (at == content.end()) continue;
    const std::size_t p = static_cast<std::size_t>(at - content.begin());
    for (std::size_t i = p + 6; i < p + 15 && i < content.size(); ++i) content[i] = '0';
  }
  return content;
}

// Contents whose markers and fields overlap, repeat, come in either order and end early.
inline std::vector<std::string> TrickyTagContents() {
  using namespace std::literals;
  return {
      "",
      "no markers at all",
      "only affid=ABCDEFGH and more",
      "only affsid=ABCDEFGH and more",
      "xaffid=12345678\0affsid=87654321\0"s,
      "affid=AAAAAAAA affid=BBBBBBBB affsid=CCCCCCCC affsid=DDDDDDDD",
      "affid=affsid=XXXXXXXX tail affsid=YYYYYYYY tail",  // second marker inside the first field
      "affid=affsid=XXXXXXXX tail",                       // ... and no further one
      "affid=12345678affsid=XXXXXXXX",                    // affsid 14 bytes after affid: still inside the field
      "affid=123456789affsid=XXXXXXXX",                   // 15 bytes after: just outside
      "affsid=affid=ZZZZZZZZZZZZ",                        // the fields overlap
      "affsid=affid=",
      "xaffsid=aaffid=12345678901234",                    // the second field lies before the first one
      "affsid=ABCDEFGH affid=12345678",
      "affaffid=affsaffsid=11111111",
      "xyzaffid=12",                                      // fields reaching past the end
      "xyzaffsid=123",
      "affid=",
      "affsid=",
      "affsid",
      "aaffid=1234567890affsid=1234567890",
  };
}

// `rounds` contents of up to `most` marker pieces and filler each, from a fixed seed.
inline std::vector<std::string> GeneratedTagContents(unsigned seed, int rounds, unsigned most) {
  std::mt19937 generator(seed);
  const std::string pieces[] = {"affid=", "affsid=", "aff", "sid=", "id=", "0", "Q", std::string(1, '\xFF')};
  std::vector<std::string> contents;
  for (int round = 0; round < rounds; ++round) {
    std::string text;
    for (unsigned i = generator() % (most + 1); i > 0; --i) text += pieces[generator() % std::size(pieces)];
    contents.push_back(text);
  }
  return contents;
}

}  // namespace isetup::testing
