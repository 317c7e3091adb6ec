// The endpoint's command line: what each flag sets, and the refusals with their reasons.
#include "endpoint/endpoint_options.h"

#include <gtest/gtest.h>

namespace isetup::endpoint {
namespace {

using std::chrono::milliseconds;

TEST(EndpointOptions, DefaultsAndEachFlag) {
  const ParsedOptions single = ParseEndpointOptions({"--installer", "a.exe", "--version", "2.53.0.0"});
  ASSERT_TRUE(single.options) << single.error;
  EXPECT_EQ(single.options->address, "127.0.0.1");
  EXPECT_EQ(single.options->port, kDefaultPort);
  EXPECT_EQ(single.options->installerPath, "a.exe");
  EXPECT_EQ(single.options->releaseDir, "");
  EXPECT_EQ(single.options->poll, milliseconds(1000));
  EXPECT_EQ(single.options->settle, milliseconds(2000));
  EXPECT_EQ(single.options->limits.maxConnections, ServerLimits{}.maxConnections);
  EXPECT_FALSE(single.options->trustForwardedFor);

  const ParsedOptions folder = ParseEndpointOptions(
      {"--release-dir", "/srv/releases", "--listen=0.0.0.0", "--port", "0", "--public-host", "update.example.com",
       "--poll-ms=250", "--settle-ms", "0", "--max-connections", "3", "--request-timeout-ms", "1500",
       "--idle-timeout-ms=700", "--drain-ms=900", "--trust-forwarded-for", "--fault", "version:status=500", "--signing-key", "k.pem"});
  ASSERT_TRUE(folder.options) << folder.error;
  const EndpointOptions& o = *folder.options;
  EXPECT_EQ(o.releaseDir, "/srv/releases");
  EXPECT_EQ(o.address, "0.0.0.0");
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.publicHost, "update.example.com");
  EXPECT_EQ(o.poll, milliseconds(250));
  EXPECT_EQ(o.settle, milliseconds(0));
  EXPECT_EQ(o.limits.maxConnections, 3u);
  EXPECT_EQ(o.limits.requestTimeout, milliseconds(1500));
  EXPECT_EQ(o.limits.idleTimeout, milliseconds(700));
  EXPECT_EQ(o.drain, milliseconds(900));
  EXPECT_EQ(o.settle, milliseconds(0));
  EXPECT_TRUE(o.trustForwardedFor);
  EXPECT_EQ(o.faults.at(Stage::Version).status, 500);
  EXPECT_EQ(o.signingKey, "k.pem");
  EXPECT_EQ(single.options->signingKey, "");

  EXPECT_TRUE(ParseEndpointOptions({"--release-dir", "x", "--help"}).help);
  EXPECT_TRUE(ParseEndpointOptions({"-h"}).help);
}

TEST(EndpointOptions, RefusalsSayWhy) {
  struct Case {
    std::vector<std::string> arguments;
    const char* says;
  };
  const Case cases[] = {
      {{}, "--release-dir DIR, or --installer FILE"},
      {{"--version", "2.53.0.0"}, "--installer"},
      {{"--installer", "a.exe"}, "--version TEXT is required"},
      {{"--release-dir", "d", "--installer", "a.exe", "--version", "2.53.0.0"}, "drop --installer"},
      {{"--release-dir", "d", "--file-name", "x.exe"}, "drop"},
      {{"--release-dir"}, "--release-dir needs a value"},
      {{"--release-dir="}, "needs a folder"},
      {{"--release-dir", "d", "--signing-key="}, "--signing-key needs a file"},
      {{"--release-dir", "d", "--port", "65536"}, "--port must be"},
      {{"--release-dir", "d", "--port", "-1"}, "--port must be"},
      {{"--release-dir", "d", "--port", "80x"}, "--port must be"},
      {{"--release-dir", "d", "--poll-ms", "-5"}, "--poll-ms"},
      {{"--release-dir", "d", "--settle-ms", "3600001"}, "--settle-ms"},
      {{"--release-dir", "d", "--request-timeout-ms", "0"}, "--request-timeout-ms"},
      {{"--release-dir", "d", "--idle-timeout-ms", "x"}, "--idle-timeout-ms"},
      {{"--release-dir", "d", "--max-connections", "0"}, "--max-connections"},
      {{"--release-dir", "d", "--trust-forwarded-for=yes"}, "takes no value"},
      {{"--release-dir", "d", "--public-host", "http://x"}, "http://x"},
      {{"--release-dir", "d", "--listen="}, "--listen needs an address"},
      {{"--installer", "a.exe", "--version", "2.53.0.256"}, "2.53.0.256"},
      {{"--installer", "a.exe", "--version", "2.53.0.0", "--file-name", "a/b.exe"}, "a/b.exe"},
      {{"--release-dir", "d", "--fault", "client:hang"}, "client"},
      {{"--release-dir", "d", "--verbose"}, "unknown argument \"--verbose\""},
      {{"--release-dir", "d", "release.txt"}, "unknown argument \"release.txt\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const ParsedOptions parsed = ParseEndpointOptions(c.arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_FALSE(parsed.help);
    EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
  }
}

}  // namespace
}  // namespace isetup::endpoint
