// Reading the affiliate query out of an installer image.
#include "payload/affiliate_tags.h"

#include <gtest/gtest.h>

#include <string>

#include "payload/pe_test_image.h"

namespace isetup {
namespace {

using testing::TestBytes;

TEST(ExtractAffiliateQuery, TheFourForms) {
  const auto tags = testing::TagBlock();
  struct Case {
    std::string image;
    std::wstring query;
  } cases[] = {
      {"MZ loader" + std::string(tags.begin(), tags.end()) + " setup data", L"affid=00000000&affsid=00000000"},
      {"..affid=Ab12-_xY..", L"affid=Ab12-_xY"},
      {"..affsid=Ab12-_xY..", L"&affsid=Ab12-_xY"},
      {"neither marker here", L""},
      {"", L""},
      {"affid=1234", L"affid=1234"},                       // value cut off by the end
      {"affsid=", L"&affsid="},
      {"affid=AAAAAAAAaffid=BBBBBBBB", L"affid=AAAAAAAA"},  // first occurrence only
      {"AFFID=AAAAAAAA", L""},                             // case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractAffiliateQuery(TestBytes(c.image)), c.query) << c.image;
}

}  // namespace
}  // namespace isetup
