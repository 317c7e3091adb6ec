// Request heads as clients, proxies and attackers send them: what is taken, what waits, what is refused.
#include "endpoint/http_request.h"

#include <gtest/gtest.h>

namespace isetup::endpoint {
namespace {

TEST(RequestHead, TakesWellFormedHeads) {
  const std::string head =
      "GET /version.php?ISetupVer=02340000&affid=AbCd1234&&rnd=7 HTTP/1.1\r\nHost: example.com\r\n"
      "User-Agent: x\r\n\r\n";
  const HeadResult result = ParseRequestHead(head + "GET /next HTTP/1.1\r\n");
  ASSERT_EQ(result.state, HeadState::Complete);
  EXPECT_EQ(result.consumed, head.size());  // a pipelined request after it is left alone
  const HttpRequest& request = result.request;
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, "/version.php");
  EXPECT_EQ(request.query, "ISetupVer=02340000&affid=AbCd1234&&rnd=7");
  EXPECT_EQ(request.params, (NameValues{{"ISetupVer", "02340000"}, {"affid", "AbCd1234"}, {"rnd", "7"}}));
  EXPECT_EQ(request.Header("user-agent"), "x");
  EXPECT_EQ(request.Header("Accept"), std::nullopt);
  EXPECT_TRUE(request.keepAlive);
  EXPECT_EQ(request.contentLength, 0u);
}

TEST(RequestHead, FramingAndConnectionHeaders) {
  struct Case {
    const char* head;
    std::string path;
    bool keepAlive;
    std::uint64_t contentLength;
  };
  const Case cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", "/", true, 0},
      {"GET / HTTP/1.1\nHost: a\n\n", "/", true, 0},                   // bare line feeds
      {"\r\nGET / HTTP/1.1\r\nHost: a\r\n\r\n", "/", true, 0},         // a stray line end before it
      {"GET / HTTP/1.1\r\nHost: a\r\nConnection: Keep-Alive, CLOSE\r\n\r\n", "/", false, 0},
      {"GET / HTTP/1.0\r\n\r\n", "/", false, 0},                       // HTTP/1.0 needs no Host
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "/", true, 0},
      {"GET /a%20b/c+d HTTP/1.1\r\nHost: a\r\nContent-Length: 12\r\n\r\n", "/a b/c+d", true, 12},
      {"GET /x HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\ncontent-length: 3\r\n\r\n", "/x", true, 3},
      {"GET http://proxy.example/version.php?a=1 HTTP/1.1\r\nHost: a\r\n\r\n", "/version.php", true, 0},
      {"GET http://proxy.example HTTP/1.1\r\nHost: a\r\n\r\n", "/", true, 0},
      {"OPTIONS * HTTP/1.1\r\nHost: a\r\n\r\n", "*", true, 0},
      {"GET / HTTP/1.1\r\nHost:a\r\nX-Empty:\r\n\r\n", "/", true, 0},  // no blank after the colon
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    const HeadResult result = ParseRequestHead(c.head);
    ASSERT_EQ(result.state, HeadState::Complete) << result.reason;
    EXPECT_EQ(result.consumed, std::string_view(c.head).size());
    EXPECT_EQ(result.request.path, c.path);
    EXPECT_EQ(result.request.keepAlive, c.keepAlive);
    EXPECT_EQ(result.request.contentLength, c.contentLength);
  }
}

TEST(RequestHead, WaitsForTheRestWithinTheLimits) {
  const RequestLimits limits{64, 128, 4};
  for (const std::string head : {"", "\r\n", "GET /version.php?ISetupVer", "GET / HTTP/1.1\r\n",
                                 "GET / HTTP/1.1\r\nHost: a\r\n", "GET / HTTP/1.1\r\nHost: a\r\nX: partial"}) {
    SCOPED_TRACE(head);
    EXPECT_EQ(ParseRequestHead(head, limits).state, HeadState::Incomplete);
  }
}

TEST(RequestHead, RefusesWhatCouldBeReadTwoWays) {
  const RequestLimits limits{64, 128, 4};
  const std::string longTarget(80, 'a');
  const std::string bigHeader = "X: " + std::string(140, 'v') + "\r\n";
  struct Case {
    std::string head;
    int status;
  };
  const Case cases[] = {
      {"GET /\r\n\r\n", 400},                                        // no version
      {"GET  / HTTP/1.1\r\nHost: a\r\n\r\n", 400},                   // two blanks
      {"GET / HTTP/1.1 \r\nHost: a\r\n\r\n", 400},                   // a trailing blank
      {"G(T / HTTP/1.1\r\nHost: a\r\n\r\n", 400},                    // the method is no token
      {"GET / HTTP/2.0\r\nHost: a\r\n\r\n", 505},
      {"GET / HTTP/1\r\nHost: a\r\n\r\n", 400},
      {"GET / http/1.1\r\nHost: a\r\n\r\n", 400},
      {"GET relative HTTP/1.1\r\nHost: a\r\n\r\n", 400},
      {"GET ftp://x/ HTTP/1.1\r\nHost: a\r\n\r\n", 400},
      {"GET http://x?q HTTP/1.1\r\nHost: a\r\n\r\n", 400},
      {"GET /\x01 HTTP/1.1\r\nHost: a\r\n\r\n", 400},
      {"GET /\xC3\xA4 HTTP/1.1\r\nHost: a\r\n\r\n", 400},            // raw 8-bit bytes must be escaped
      {"GET / HTTP/1.1\r\n\r\n", 400},                               // HTTP/1.1 without Host
      {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nNo colon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nName : v\r\n\r\n", 400},        // a blank before the colon
      {"GET / HTTP/1.1\r\nHost: a\r\n: v\r\n\r\n", 400},
      {std::string("GET / HTTP/1.1\r\nHost: a\r\nX: a\0b\r\n\r\n", 35), 400},  // a zero byte
      {"GET / HTTP/1.1\r\nHost: a\r\nX: a\rb\r\n\r\n", 400},          // a bare carriage return
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: abc\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 5, 5\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 99999999999999999999\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"GET /" + longTarget + " HTTP/1.1\r\nHost: a\r\n\r\n", 414},
      {"GET /" + longTarget, 414},                                   // too long before its end arrives
      {"GET / HTTP/1.1\r\nHost: a\r\n" + bigHeader + "\r\n", 431},
      {"GET / HTTP/1.1\r\nHost: a\r\n" + bigHeader, 431},            // too large before its end arrives
      {"GET / HTTP/1.1\r\nHost: a\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", 431},  // five header lines
      {std::string(70, '\n'), 400},                                  // only empty lines
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    const HeadResult result = ParseRequestHead(c.head, limits);
    ASSERT_EQ(result.state, HeadState::Refused);
    EXPECT_EQ(result.status, c.status) << result.reason;
    EXPECT_FALSE(result.reason.empty());
  }
}

// Found by request_head_fuzz: a request line of exactly the limit was refused 414 when its carriage
// return had arrived and its line feed had not, and taken when both came together.
TEST(RequestHead, ALineAtTheLimitWaitsForTheLineFeedAfterItsCarriageReturn) {
  const RequestLimits limits{16, 128, 4};
  const std::string line = "GET /abc HTTP/1.1";  // 17 bytes: one over
  const std::string atLimit = "GET /ab HTTP/1.1";  // 16 bytes
  ASSERT_EQ(atLimit.size(), limits.maxRequestLine);
  EXPECT_EQ(ParseRequestHead(atLimit, limits).state, HeadState::Incomplete);
  EXPECT_EQ(ParseRequestHead(atLimit + "\r", limits).state, HeadState::Incomplete);
  const HeadResult whole = ParseRequestHead(atLimit + "\r\nHost: a\r\n\r\n", limits);
  EXPECT_EQ(whole.state, HeadState::Complete) << whole.reason;
  // One byte over stays refused, with or without the carriage return, before the line feed arrives.
  for (const std::string& head : {line, line + "\r", atLimit + "\r\r"}) {
    SCOPED_TRACE(head);
    const HeadResult over = ParseRequestHead(head, limits);
    EXPECT_EQ(over.state, HeadState::Refused);
    EXPECT_EQ(over.status, 414);
  }
}

TEST(RequestHead, ARefusalKeepsTheRequestLineForTheLog) {
  const HeadResult result = ParseRequestHead("BREW /pot HTTP/1.1\r\n\r\n");
  ASSERT_EQ(result.state, HeadState::Refused);
  EXPECT_EQ(result.request.method, "BREW");
  EXPECT_EQ(result.request.target, "/pot");
  EXPECT_EQ(result.request.version, "HTTP/1.1");
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
