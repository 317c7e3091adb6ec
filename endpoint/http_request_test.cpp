// Request targets as clients and proxies send them, and the query decoding the routes rely on.
#include "endpoint/http_request.h"

#include <gtest/gtest.h>

namespace isetup::endpoint {
namespace {

TEST(RequestTarget, OriginAbsoluteAndAsteriskFormsDecode) {
  struct Case {
    const char* target;
    bool ok;
    const char* path;
    const char* query;
  };
  const Case cases[] = {
      {"/version.php?ISetupVer=1&rnd=2", true, "/version.php", "ISetupVer=1&rnd=2"},
      {"/download/A%2Eexe", true, "/download/A.exe", ""},
      {"/a+b?x", true, "/a+b", "x"},  // "+" is a blank only in the query
      {"http://update.example.com/healthz?a=1", true, "/healthz", "a=1"},
      {"HTTPS://h", true, "/", ""},
      {"*", true, "*", ""},
      {"http://h?x", false, "", ""},  // a query without a path
      {"version.php", false, "", ""},
      {"ftp://h/x", false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    HttpRequest request;
    request.target = c.target;
    ASSERT_EQ(DecodeTarget(request), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(request.query, c.query);
  }
}

TEST(QueryDecoding, PercentEscapesAndPairs) {
  struct Case {
    const char* text;
    bool plusIsBlank;
    std::string decoded;
  };
  const Case cases[] = {
      {"%41%62", false, "Ab"},   {"%4", false, "%4"},     {"%zz%", false, "%zz%"},
      {"a+b", true, "a b"},      {"a+b", false, "a+b"},   {"%26%3D", true, "&="},
      {"%00", false, std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PercentDecode(c.text, c.plusIsBlank), c.decoded) << c.text;
  }
  EXPECT_EQ(ParseQuery("a=1&b&&c=%20&=v&d=x=y"),
            (NameValues{{"a", "1"}, {"b", ""}, {"c", " "}, {"", "v"}, {"d", "x=y"}}));
  EXPECT_EQ(ParseQuery(""), NameValues{});
}

}  // namespace
}  // namespace isetup::endpoint
