// The two lines after the four: which bytes are signed, what the digest and signature lines must look
// like, and that what the endpoint writes is what the program reads.
#include "update/reply_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "update/version_reply.h"

namespace isetup {
namespace {

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

}  // namespace
}  // namespace isetup
