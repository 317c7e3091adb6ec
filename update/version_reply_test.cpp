// Judging version reply files, from their raw bytes.
#include "update/version_reply.h"

#include <gtest/gtest.h>

namespace isetup {
namespace {

using namespace std::literals;

TEST(ParseVersionReply, UsableReplyWithAnyLineEnd) {
  for (const auto bytes : {"ver=2.53.0.0\r\nsize=14178100\r\nconsum=123456789\r\nurl=dl.example.com/s.exe\r\n"sv,
                           "ver=2.53.0.0\nsize=14178100\nconsum=123456789\nurl=dl.example.com/s.exe\n"sv,
                           "ver=2.53.0.0\nsize=14178100\r\nconsum=123456789\nurl=dl.example.com/s.exe"sv,
                           "ver=2.53.0.0\nsize=14178100\nconsum=123456789\nurl=dl.example.com/s.exe\nfifth line"sv,
                           "ver=2.53.0.0\nsize=14\r178100\nconsum=123456789\r\r\nurl=dl.example.com/s.exe\r"sv}) {
    const VersionReply reply = ParseVersionReply(bytes);
    EXPECT_TRUE(reply.Usable) << bytes;
    EXPECT_EQ(reply.VersionText, L"2.53.0.0");
    EXPECT_EQ(reply.Version, 0x02350000u);
    EXPECT_EQ(reply.Size, 14178100);
    EXPECT_EQ(reply.Checksum, 123456789);
    EXPECT_EQ(reply.Url, L"dl.example.com/s.exe");
  }
}

TEST(ParseVersionReply, UnusableReplies) {
  const std::string good[] = {"ver=2.53.0.0", "size=100", "consum=1", "url=h/p"};
  struct Case {
    int line;
    const char* text;
  } cases[] = {
      {0, "VER=2.53.0.0"}, {0, " ver=2.53.0.0"}, {0, "ver=2.53.0"}, {0, "ver=0.0.0.0"}, {0, "\xEF\xBB\xBFver=2.53.0.0"},
      {1, "size=0"},       {1, "size="},         {1, "size=abc"},   {1, "size=100 "},   {1, "consum=1"},
      {2, "Consum=1"},     {3, "url="},          {3, "URL=h/p"},    {3, ""},
  };
  for (const auto& c : cases) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += (i == c.line ? std::string(c.text) : good[i]) + "\r\n";
    EXPECT_FALSE(ParseVersionReply(bytes).Usable) << c.text;
  }
  EXPECT_FALSE(ParseVersionReply("").Usable);
  EXPECT_FALSE(ParseVersionReply("ver=2.53.0.0\nsize=100\nconsum=1\n").Usable);  // three lines
}

TEST(ParseVersionReply, FieldValues) {
  auto parse = [](std::string_view size, std::string_view consum) {
    return ParseVersionReply("ver=2.53.0.0\nsize=" + std::string(size) + "\nconsum=" + std::string(consum) +
                             "\nurl=http://h/p\n");
  };
  EXPECT_EQ(parse("-5", "abc").Size, -5);
  EXPECT_TRUE(parse("-5", "abc").Usable);
  EXPECT_EQ(parse("1", "abc").Checksum, 0);
  EXPECT_EQ(parse("1", "-1").Checksum, -1);
  EXPECT_EQ(parse("1", "$FFFFFFFF").Checksum, -1);
  EXPECT_EQ(parse("1", "4294967295").Checksum, 0);
  EXPECT_EQ(parse("1", "1").Url, L"http://h/p");  // used unchanged

  // A line whose key is missing keeps the value from before parsing; the others are still read.
  const VersionReply reply = ParseVersionReply("version=2.53.0.0\nsize=7\nconsum=9\nurl=a b\x1A c\n");
  EXPECT_FALSE(reply.Usable);
  EXPECT_EQ(reply.VersionText, L"");
  EXPECT_EQ(reply.Version, 0u);
  EXPECT_EQ(reply.Size, 7);
  EXPECT_EQ(reply.Checksum, 9);
  EXPECT_EQ(reply.Url, L"a b\x1A c");  // Ctrl-Z is an ordinary byte, blanks are kept
  EXPECT_EQ(ParseVersionReply("ver=2.53.0\n").VersionText, L"2.53.0");
}

}  // namespace
}  // namespace isetup
