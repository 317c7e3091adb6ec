// Reading the fixed file version from version resources made byte by byte, whole and damaged.
#include "update/version_resource.h"

#include <gtest/gtest.h>

#include "payload/pe_test_image.h"

namespace isetup {
namespace {

using testing::Put16;
using testing::Put32;
using testing::VersionInfoBlock;

TEST(ReadFixedFileVersion, ReadsAllFourSixteenBitParts) {
  struct Case {
    FileVersionParts parts;
    const char* text;
  } cases[] = {{{2, 53, 0, 0}, "2.53.0.0"}, {{300, 65535, 1, 2}, "300.65535.1.2"}, {{0, 0, 0, 0}, "0.0.0.0"}};
  for (const Case& c : cases) {
    const auto block = VersionInfoBlock(c.parts[0], c.parts[1], c.parts[2], c.parts[3]);
    const FileVersionLookup lookup = ReadFixedFileVersion(block);
    ASSERT_TRUE(lookup.version) << lookup.problem;
    EXPECT_EQ(*lookup.version, c.parts);
    EXPECT_EQ(FileVersionText(*lookup.version), c.text);
  }
}

TEST(ReadFixedFileVersion, ChildBlocksAfterTheFixedPartAreAllowed) {
  auto block = VersionInfoBlock(1, 2, 3, 4);
  block.resize(block.size() + 200, 0x41);
  Put16(block, 0, static_cast<std::uint32_t>(block.size()));
  EXPECT_EQ(ReadFixedFileVersion(block).version, (FileVersionParts{1, 2, 3, 4}));
}

TEST(ReadFixedFileVersion, DamagedBlocksGiveAProblem) {
  const auto good = VersionInfoBlock(2, 53, 0, 0);
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    bool wide;
  } cases[] = {
      {"length beyond the block", 0, static_cast<std::uint32_t>(good.size() + 1), false},
      {"length shorter than the fixed part", 0, 40, false},
      {"no fixed part", 2, 0, false},
      {"another key", 6, 'W', false},
      {"unterminated key", 6 + 30, 'X', false},
      {"wrong signature", 40, 0xFEEF04BE, true},
  };
  for (const Case& c : cases) {
    auto block = good;
    if (c.wide) {
      Put32(block, c.at, c.value);
    } else {
      Put16(block, c.at, c.value);
    }
    const FileVersionLookup lookup = ReadFixedFileVersion(block);
    EXPECT_FALSE(lookup.version) << c.name;
    EXPECT_NE(lookup.problem, "") << c.name;
  }
  for (std::size_t length = 0; length < good.size(); ++length) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(ReadFixedFileVersion(cut).version) << length;
  }
}

TEST(ReadImageFileVersion, FromTheImagesVersionResource) {
  testing::TestInstallerOptions options;
  options.version[0] = 3;
  options.version[3] = 7;
  EXPECT_EQ(ReadImageFileVersion(testing::TestInstaller(options)).version, (FileVersionParts{3, 53, 0, 7}));
  options.pe32Plus = true;
  EXPECT_EQ(ReadImageFileVersion(testing::TestInstaller(options)).version, (FileVersionParts{3, 53, 0, 7}));

  options.withVersion = false;
  const FileVersionLookup none = ReadImageFileVersion(testing::TestInstaller(options));
  EXPECT_FALSE(none.version);
  EXPECT_EQ(none.problem, "it has no version resource");
  EXPECT_FALSE(ReadImageFileVersion(testing::TestBytes("plain data")).version);

  // A version resource whose data is cut short by a damaged data entry size.
  testing::TestPeOptions pe;
  pe.resources = {{16, 1, 1033, std::vector<std::uint8_t>(20, 0)}};
  EXPECT_FALSE(ReadImageFileVersion(testing::BuildTestPe(pe).bytes).version);
}

}  // namespace
}  // namespace isetup
