// The reply lines written by FormatVersionReply read back by the setup's own parser; the checks that keep
// every written reply usable.
#include "update/version_reply_format.h"

#include <gtest/gtest.h>

#include "update/version_reply.h"

namespace isetup {
namespace {

TEST(FormatVersionReply, TheSetupReadsBackWhatWasWritten) {
  struct Case {
    const char* version;
    std::int32_t size, checksum;
    const char* url;
    PackedVersion packed;
  } cases[] = {
      {"2.53.0.0", 14178100, 123456789, "update.example.com/download/TalvimorasterSetup-2.53.0.0.exe", 0x02350000},
      {"255.255.255.255", 1, -2147483521, "127.0.0.1:18352/x.exe", 0xFFFFFFFF},
      {"0.0.0.1", 2147483647, 0, "h/", 0x00000001},
      {"200.0.0.0", 700000, -1, "h.example:65535/a/b-c_d.exe", 0xC8000000},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(CheckReplyVersionText(c.version), std::nullopt);
    ASSERT_EQ(CheckReplyUrl(c.url), std::nullopt);
    const std::string text = FormatVersionReply(c.version, c.size, c.checksum, c.url);
    EXPECT_EQ(text, "ver=" + std::string(c.version) + "\r\nsize=" + std::to_string(c.size) + "\r\nconsum=" +
                        std::to_string(c.checksum) + "\r\nurl=" + c.url + "\r\n");
    const VersionReply reply = ParseVersionReply(text);
    EXPECT_TRUE(reply.Usable) << text;
    EXPECT_EQ(reply.Version, c.packed);
    EXPECT_EQ(reply.Size, c.size);
    EXPECT_EQ(reply.Checksum, c.checksum);
    EXPECT_EQ(reply.Url, std::wstring(c.url, c.url + std::char_traits<char>::length(c.url)));
  }
}

TEST(CheckReplyVersionText, RefusesWhatWouldPackWronglyOrToNothing) {
  for (const char* bad : {"", "2.53.0", "2.53.0.0.1", "2.53.0.0.", "0.0.0.0", "2.300.0.0", "2.-1.0.0", "+2.53.0.0",
                          " 2.53.0.0", "2.53.0.0 ", "$2.53.0.0", "0x2.53.0.0", "2..0.0", "2.53.0.0\r\nsize=1",
                          "0002.53.0.0", "2.53.0.a", "02.053.0.0", "2.53.00.0"}) {
    EXPECT_NE(CheckReplyVersionText(bad), std::nullopt) << bad;
  }
  for (const char* good : {"2.52.0.0", "0.0.0.1", "255.255.255.255", "2.0.10.100"}) {
    EXPECT_EQ(CheckReplyVersionText(good), std::nullopt) << good;
  }
}

TEST(CheckReplySize, OnlyWhatTheSetupReadsAsANonzeroSize) {
  EXPECT_NE(CheckReplySize(0), std::nullopt);
  EXPECT_EQ(CheckReplySize(1), std::nullopt);
  EXPECT_EQ(CheckReplySize(2147483647), std::nullopt);
  EXPECT_NE(CheckReplySize(2147483648), std::nullopt);
  EXPECT_NE(CheckReplySize(4294967296 + 100), std::nullopt);  // would wrap onto a plausible size
}

TEST(CheckReplyUrl, HostAndPathWithoutSchemeOrQuery) {
  for (const char* bad : {"", "/path", "http://h/p", "https://h/p", "h", "h:/p", "h:0/p", "h:65536/p", "h:123456/p",
                          "h:x/p", "h_1/p", "h/p?x=1", "h/p#top", "h/a b", "h/p\r\nx", "h/\xD0\x9F", "h/p\t"}) {
    EXPECT_NE(CheckReplyUrl(bad), std::nullopt) << bad;
  }
  for (const char* good : {"h/", "update.example.com/download/Setup.exe", "127.0.0.1:8080/d/x.exe", "h/%20"}) {
    EXPECT_EQ(CheckReplyUrl(good), std::nullopt) << good;
  }
}

}  // namespace
}  // namespace isetup
