// Where the tags of a file are searched: inside RT_RCDATA 2 of a program, else the whole file.
#include "payload/tag_target.h"

#include <gtest/gtest.h>

#include "payload/pe_test_image.h"
#include "payload/tag_fields.h"

namespace isetup {
namespace {

using testing::BuildTestPe;
using testing::TestBytes;
using testing::TestInstaller;
using testing::TestPeImage;
using testing::TestPeOptions;
using testing::TestSetupProgram;

TEST(LocateTagTarget, EmbeddedInstallerOfAProgram) {
  const auto installer = TestInstaller();
  for (bool pe32Plus : {false, true}) {
    const TestPeImage program = TestSetupProgram(installer, pe32Plus);
    const TagTarget target = LocateTagTarget(program.bytes);
    ASSERT_EQ(target.problem, "");
    EXPECT_TRUE(target.embedded);
    EXPECT_EQ(target.language, 1049);
    EXPECT_EQ(target.offset, program.dataOffsets[0]);
    EXPECT_EQ(target.size, installer.size());
    // The program's own decoy comes first in the file, the installer's tags are the ones inside.
    const auto whole = FindAffiliateTags(program.bytes);
    ASSERT_TRUE(whole.affid);
    EXPECT_EQ(whole.affid->value, "decoy000");
    const auto inside = FindAffiliateTags(std::span(program.bytes).subspan(target.offset, target.size));
    ASSERT_TRUE(inside.affid);
    EXPECT_EQ(inside.affid->value, "00000000");
  }
}

TEST(LocateTagTarget, PlainInstallersAndDataAreSearchedWhole) {
  const auto installer = TestInstaller();
  const auto data = TestBytes("affid=00000000 outside any executable");
  for (const auto* bytes : {&installer, &data}) {
    const TagTarget target = LocateTagTarget(*bytes);
    EXPECT_EQ(target.problem, "");
    EXPECT_FALSE(target.embedded);
    EXPECT_EQ(target.offset, 0u);
    EXPECT_EQ(target.size, bytes->size());
  }
}

TEST(LocateTagTarget, RefusesWhatCannotBeSearchedSafely) {
  TestPeOptions twoLanguages;
  twoLanguages.resources = {{10, 2, 1049, TestInstaller()}, {10, 2, 1033, TestInstaller()}};
  TestPeImage broken = TestSetupProgram(TestInstaller());
  broken.bytes[broken.ntHeaderOffset] = 'X';  // no PE signature
  TestPeImage outside = TestSetupProgram(TestInstaller());
  outside.bytes.resize(outside.dataOffsets[0] + 10);  // the installer cut off
  for (const auto& bytes : {BuildTestPe(twoLanguages).bytes, broken.bytes, outside.bytes}) {
    const TagTarget target = LocateTagTarget(bytes);
    EXPECT_NE(target.problem, "");
    EXPECT_FALSE(target.embedded);
  }
}

}  // namespace
}  // namespace isetup
