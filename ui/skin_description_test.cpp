// Tests for the skin description: value syntax, the INI reader and the checks on sections and entries.
#include "ui/skin_description.h"

#include <gtest/gtest.h>

#include <string>

namespace isetup::ui {
namespace {

// The smallest description the window accepts, with one control to exercise the entry checks.
constexpr const char* kMinimal =
    "[VERSION]\nver=1\n[PICTURES]\npicture=form.bmp\n[FORMINFO]\nclientrect=12,80,616,393\n"
    "[SKINOBJECTS]\ncount=0\n[SKINCONTROLS]\ncount=1\n0=label:label\n[label]\nskinrect=1,2,3,4\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(SkinValues, ParseNumbersPointsRectanglesColoursAndStyles) {
  EXPECT_EQ(ParseSkinInt("0"), 0);
  EXPECT_EQ(ParseSkinInt(" -17 "), -17);
  EXPECT_EQ(ParseSkinInt("2147483647"), 2147483647);
  for (const char* bad : {"", " ", "1x", "x1", "2147483648", "1 2", "0x10", "--1"}) {
    EXPECT_FALSE(ParseSkinInt(bad)) << bad;
  }

  EXPECT_EQ(ParseSkinPoint(" 29 , 1 "), (Point{29, 1}));
  for (const char* bad : {"29", "29,1,0", "29,", ",1", "a,b", ""}) EXPECT_FALSE(ParseSkinPoint(bad)) << bad;

  EXPECT_EQ(ParseSkinRect("12,80,616,393"), (Box{12, 80, 616, 393}));
  EXPECT_EQ(ParseSkinRect("-1,0,0,-5"), (Box{-1, 0, 0, -5}));
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,2,,4", "1;2;3;4"}) EXPECT_FALSE(ParseSkinRect(bad)) << bad;

  // #50749B stored as 0x009B7450.
  const auto caption = ParseSkinColour("10187856");
  ASSERT_TRUE(caption);
  EXPECT_EQ(caption->red(), 0x50);
  EXPECT_EQ(caption->green(), 0x74);
  EXPECT_EQ(caption->blue(), 0x9B);
  EXPECT_EQ(*caption, SkinColour::FromRgb(0x50, 0x74, 0x9B));
  EXPECT_EQ(ParseSkinColour("16777215"), SkinColour::FromRgb(0xFF, 0xFF, 0xFF));
  for (const char* bad : {"16777216", "-1", "-2147483643", "white"}) EXPECT_FALSE(ParseSkinColour(bad)) << bad;

  EXPECT_EQ(ParseSkinFontStyle(""), kFontRegular);
  EXPECT_EQ(ParseSkinFontStyle("fsbold"), kFontBold);
  EXPECT_EQ(ParseSkinFontStyle("FsItalic, fsbold"), kFontBold | kFontItalic);
  EXPECT_EQ(ParseSkinFontStyle("fsunderline,fsstrikeout"), kFontUnderline | kFontStrikeOut);
  for (const char* bad : {"bold", "fsbold,heavy", "fsbold fsitalic"}) EXPECT_FALSE(ParseSkinFontStyle(bad)) << bad;
}

TEST(SkinIni, ReadsCrLfAndLfAlikeWithCommentsAndCaseFreeNames) {
  const std::string lf = "; made by hand\n[Alpha]\nKey = one two \n\nkey=second\n[beta]\nx=\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& text : {lf, crlf}) {
    const auto ini = SkinIni::Parse(text);
    ASSERT_TRUE(ini) << ini.error();
    ASSERT_EQ(ini.value().sections().size(), 2u);
    const std::string* key = ini.value().Find("ALPHA", "key");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(*key, "one two");  // trimmed, and the first of two wins
    ASSERT_NE(ini.value().Find("Beta", "X"), nullptr);
    EXPECT_EQ(*ini.value().Find("beta", "x"), "");
    EXPECT_EQ(ini.value().Find("beta", "key"), nullptr);
    EXPECT_EQ(ini.value().Find("gamma", "x"), nullptr);
  }
}

TEST(SkinIni, RefusesLinesThatAreNotSectionsOrKeys) {
  for (const char* bad : {"key=value before any section\n", "[open\nx=1\n", "[s]\njust words\n"}) {
    EXPECT_FALSE(SkinIni::Parse(bad)) << bad;
  }
}

TEST(ParseSkinDescription, AcceptsTheMinimalDescription) {
  const auto description = ParseSkinDescription(kMinimal);
  ASSERT_TRUE(description) << description.error();
  EXPECT_EQ(description.value().version, 1);
  EXPECT_EQ(description.value().form.clientRect, (Box{12, 80, 616, 393}));
  EXPECT_EQ(description.value().form.bgPictureIndex, -1);  // default when absent
  EXPECT_FALSE(description.value().caption);
  EXPECT_FALSE(description.value().button);
  ASSERT_TRUE(description.value().label);
  EXPECT_EQ(description.value().label->skinRect, (Box{1, 2, 3, 4}));
}

TEST(ParseSkinDescription, RefusesADescriptionLackingARequiredSection) {
  for (const char* section : {"VERSION", "PICTURES", "FORMINFO", "SKINOBJECTS", "SKINCONTROLS"}) {
    const std::string text = Replace(kMinimal, std::string("[") + section + "]", "[renamed]");
    const auto description = ParseSkinDescription(text);
    ASSERT_FALSE(description) << section;
    EXPECT_NE(description.error().find(section), std::string::npos) << description.error();
  }
}

TEST(ParseSkinDescription, RefusesDamagedEntries) {
  struct Case {
    const char* name;
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"listed control without its section", "[label]", "[other]"},
      {"malformed rectangle", "skinrect=1,2,3,4", "skinrect=1,2,3"},
      {"required rectangle absent", "skinrect=1,2,3,4", "skinrectangle=1,2,3,4"},
      {"bad flag", "skinrect=1,2,3,4", "skinrect=1,2,3,4\nleftstretch=2"},
      {"bad colour", "skinrect=1,2,3,4", "skinrect=1,2,3,4\nfontcolor=-5"},
      {"bad font style", "skinrect=1,2,3,4", "skinrect=1,2,3,4\nfontstyle=fsheavy"},
      {"count larger than the list", "count=1\n0=label", "count=2\n0=label"},
      {"negative count", "count=1\n0=label", "count=-1\n0=label"},
      {"huge count", "count=1\n0=label", "count=1000000000\n0=label"},
      {"entry without kind", "0=label:label", "0=label"},
      {"client rect absent", "clientrect=12,80,616,393", "x=1"},
      {"bad object alignment", "[SKINOBJECTS]\ncount=0",
       "[SKINOBJECTS]\ncount=1\n0=caption:caption\n[caption]\nskinrect=0,0,1,1\ntextrect=0,0,1,1\nalignment=tamiddle"},
  };
  for (const Case& c : cases) {
    const auto description = ParseSkinDescription(Replace(kMinimal, c.from, c.to));
    EXPECT_FALSE(description) << c.name;
    EXPECT_FALSE(description.error().empty()) << c.name;
  }
}

TEST(ParseSkinDescription, SkipsEntriesTheWindowDoesNotUse) {
  // An unknown kind, and a known kind under another name, are none of the window's business.
  const std::string text = Replace(kMinimal, "count=1\n0=label:label",
                                   "count=3\n0=checkbox:checkbox\n1=label:fancylabel\n2=label:label\n"
                                   "[checkbox]\nskinrect=nonsense\n[fancylabel]\nskinrect=9,9,9\n");
  const auto description = ParseSkinDescription(text);
  ASSERT_TRUE(description) << description.error();
  ASSERT_TRUE(description.value().label);
  EXPECT_EQ(description.value().label->skinRect, (Box{1, 2, 3, 4}));
}

}  // namespace
}  // namespace isetup::ui
