// The reply lines written by FormatVersionReply read back by the setup's own parser; the checks that keep
// every written reply usable; the two lines after the four: which bytes are signed, what the digest and
// signature lines must look like, and that what the endpoint writes is what the program reads.
#include "update/version_reply_format.h"

#include <gtest/gtest.h>

#include <string>

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

const std::string kDigestHex = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string kSigHex = std::string(64, 'a') + std::string(62, '5') + "0f";
const std::string kFour = "ver=2.53.0.0\r\nsize=709766\r\nconsum=43354625\r\nurl=127.0.0.1:1/download/x.exe\r\n";

struct Case {
  const char* name;
  std::string reply;
  std::string signedLines;  // expected
  bool digest;
  bool signature;
};

TEST(ReadReplyAuthentication, TakesTheSignedBytesAndTheTwoLines) {
  const std::string five = kFour + "sha256=" + kDigestHex + "\r\n";
  const std::string fiveLf = "ver=2.53.0.0\nsize=1\nconsum=0\nurl=h/p\nsha256=" + kDigestHex + "\n";
  const Case cases[] = {
      {"CrLf", five + "sig=" + kSigHex + "\r\n", five, true, true},
      {"Lf", fiveLf + "sig=" + kSigHex + "\n", fiveLf, true, true},
      {"NoLineEndAfterSig", five + "sig=" + kSigHex, five, true, true},
      {"LaterLinesIgnored", five + "sig=" + kSigHex + "\r\nsig=junk\r\n", five, true, true},
      // A lone CR is dropped from the text, as in the four lines, but stays among the signed bytes.
      {"LoneCrInTheDigestLine", kFour + "sha256=\r" + kDigestHex + "\r\nsig=" + kSigHex, kFour + "sha256=\r" + kDigestHex + "\r\n", true, true},
      {"NoSigLine", five, five, true, false},
      {"UpperCaseSig", five + "sig=" + std::string(128, 'A'), five, true, false},
      {"ShortSig", five + "sig=" + kSigHex.substr(2), five, true, false},
      {"UpperCaseDigest", kFour + "sha256=" + std::string(64, 'F') + "\r\nsig=" + kSigHex, kFour + "sha256=" + std::string(64, 'F') + "\r\n", false, true},
      {"SigInTheFifthLine", kFour + "sig=" + kSigHex + "\r\nsha256=" + kDigestHex + "\r\n", kFour + "sig=" + kSigHex + "\r\n", false, false},
      {"FourLinesOnly", kFour, "", false, false},
      {"FifthLineWithoutLineEnd", kFour + "sha256=" + kDigestHex, "", false, false},
  };
  for (const Case& c : cases) {
    const ReplyAuthentication read = ReadReplyAuthentication(c.reply);
    EXPECT_EQ(read.signedLines, c.signedLines) << c.name;
    EXPECT_EQ(read.sha256.has_value(), c.digest) << c.name;
    EXPECT_EQ(read.signature.has_value(), c.signature) << c.name;
    if (read.sha256) {
      EXPECT_EQ(read.sha256->at(10), 0xAA) << c.name;
    }
    if (read.signature) {
      EXPECT_EQ(read.signature->at(63), 0x0F) << c.name;
    }
  }
}

TEST(SignedReply, WhatTheEndpointWritesIsWhatTheProgramReads) {
  Sha256Digest digest;
  ReplySignature signature;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(0xF0 + i);
  for (std::size_t i = 0; i < signature.size(); ++i) signature[i] = static_cast<std::uint8_t>(3 * i);
  const std::string five = kFour + FormatSha256Line(digest);
  const VersionReply reply = ParseVersionReply(five + FormatSignatureLine(signature));
  EXPECT_TRUE(reply.Usable);  // the four lines are judged as without the two
  EXPECT_EQ(reply.Size, 709766);
  EXPECT_EQ(reply.Authentication.signedLines, five);
  EXPECT_EQ(reply.Authentication.sha256, digest);
  EXPECT_EQ(reply.Authentication.signature, signature);
}

TEST(FormatSignedVersionReply, SignsTheFiveLinesAndTheRnd) {
  Sha256Digest digest{};
  const ReplySignature signature{0x51, 0x6E};
  std::string signedMessage;
  const auto sign = [&](std::string_view message) -> std::optional<ReplySignature> {
    signedMessage = message;
    return signature;
  };
  const auto reply = FormatSignedVersionReply(kFour, digest, "4711", sign);
  const std::string five = kFour + FormatSha256Line(digest);
  EXPECT_EQ(signedMessage, five + "4711");
  EXPECT_EQ(reply, five + FormatSignatureLine(signature));
  EXPECT_EQ(FormatSignedVersionReply(kFour, digest, "4711", [](std::string_view) { return std::nullopt; }),
            std::nullopt);
}

}  // namespace
}  // namespace isetup
