// The blanked SHA-256 against the digest of the model's blanked copy, fed whole: the runs it hashes
// make up the blanked content. The digest's value is checked by the sha256 command of installer-tags.
#include "payload/blanked_sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/pe_test_image.h"
#include "payload/tag_fields_model.h"

namespace isetup {
namespace {

std::optional<Sha256Digest> PlainSha256(const std::vector<std::uint8_t>& bytes) {
  Sha256Hasher hasher;
  hasher.Update(bytes);
  return hasher.Finish();
}

TEST(BlankedSha256, IsTheDigestOfTheBlankedContent) {
  for (const std::string& text : testing::TrickyTagContents()) {
    const auto bytes = testing::TestBytes(text);
    const auto digest = BlankedSha256(bytes);
    ASSERT_TRUE(digest) << text;
    EXPECT_EQ(digest, PlainSha256(testing::ModelBlanked(bytes))) << text;
  }
}

}  // namespace
}  // namespace isetup
