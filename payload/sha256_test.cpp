// The hasher of this build (CNG under Wine, OpenSSL natively) against the FIPS 180-2 examples, fed whole
// and in uneven pieces.
#include "payload/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/lower_hex.h"

namespace isetup {
namespace {

std::string Digest(std::string_view text, std::size_t pieceSize) {
  Sha256Hasher hasher;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  for (std::size_t at = 0; at < text.size(); at += pieceSize) {
    hasher.Update(std::span(bytes + at, std::min(pieceSize, text.size() - at)));
  }
  const auto digest = hasher.Finish();
  return digest ? LowerHex(*digest) : "(failed)";
}

TEST(Sha256Hasher, MatchesTheStandardExamplesInAnyPieces) {
  const std::string million(1000000, 'a');
  const struct {
    std::string_view text;
    std::string_view digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    for (const std::size_t pieceSize : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      EXPECT_EQ(Digest(c.text, pieceSize), c.digest) << c.text.substr(0, 20) << " in pieces of " << pieceSize;
    }
  }
}

}  // namespace
}  // namespace isetup
