// The PE resource lookup on images made byte by byte: well-formed ones, and damaged and truncated ones
// that must give a problem (or nothing) and never a read outside the bytes.
#include "payload/pe_resources.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "payload/pe_test_image.h"

namespace isetup {
namespace {

using testing::BuildTestPe;
using testing::Put16;
using testing::Put32;
using testing::TestBytes;
using testing::TestPeImage;
using testing::TestPeOptions;

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TestPeOptions OneRcdata(bool pe32Plus) {
  TestPeOptions options;
  options.pe32Plus = pe32Plus;
  options.code = TestBytes("code");
  options.resources = {{10, 2, 1049, TestBytes("the embedded installer")}};
  return options;
}

// File offsets inside the resource directory of an image made from OneRcdata.
struct Layout {
  std::size_t root, idTable, languageTable, dataEntry;
  explicit Layout(const TestPeImage& image) {
    root = image.resourceSectionOffset;
    idTable = root + (Get32(image.bytes, root + 20) & 0x7FFFFFFF);
    languageTable = root + (Get32(image.bytes, idTable + 20) & 0x7FFFFFFF);
    dataEntry = root + Get32(image.bytes, languageTable + 20);
  }
};

std::string_view DataOf(const std::vector<std::uint8_t>& bytes, const PeResource& resource) {
  return {reinterpret_cast<const char*>(bytes.data()) + resource.offset, resource.size};
}

TEST(FindPeResource, FindsTheDataInPe32AndPe32Plus) {
  for (bool pe32Plus : {false, true}) {
    const TestPeImage image = BuildTestPe(OneRcdata(pe32Plus));
    const PeResourceLookup lookup = FindPeResource(image.bytes, kResourceTypeRcdata, 2);
    EXPECT_TRUE(lookup.isExecutable);
    EXPECT_EQ(lookup.problem, "");
    ASSERT_EQ(lookup.found.size(), 1u) << pe32Plus;
    EXPECT_EQ(lookup.found[0].language, 1049);
    EXPECT_EQ(lookup.found[0].offset, image.dataOffsets[0]);
    EXPECT_EQ(DataOf(image.bytes, lookup.found[0]), "the embedded installer");
  }
}

TEST(FindPeResource, TellsTypesIdsAndLanguagesApart) {
  TestPeOptions options;
  options.resources = {{10, 2, 1033, TestBytes("english")}, {10, 2, 1049, TestBytes("russian")},
                       {10, 3, 1049, TestBytes("three")},   {16, 2, 1049, TestBytes("a version with id 2")},
                       {10, 1, 0, TestBytes("one")}};
  const TestPeImage image = BuildTestPe(options);
  const PeResourceLookup two = FindPeResource(image.bytes, 10, 2);
  ASSERT_EQ(two.found.size(), 2u);
  EXPECT_EQ(two.found[0].language, 1033);
  EXPECT_EQ(DataOf(image.bytes, two.found[0]), "english");
  EXPECT_EQ(DataOf(image.bytes, two.found[1]), "russian");
  EXPECT_EQ(DataOf(image.bytes, FindPeResource(image.bytes, 10, 3).found.at(0)), "three");
  EXPECT_EQ(DataOf(image.bytes, FindPeResource(image.bytes, 16, 2).found.at(0)), "a version with id 2");

  for (auto [type, id] : {std::pair{10, 4}, std::pair{16, 1}, std::pair{3, 2}}) {
    const PeResourceLookup none = FindPeResource(image.bytes, static_cast<std::uint16_t>(type), static_cast<std::uint16_t>(id));
    EXPECT_TRUE(none.isExecutable);
    EXPECT_EQ(none.problem, "");
    EXPECT_TRUE(none.found.empty()) << type << "/" << id;
  }
}

TEST(FindPeResource, BytesWithoutMzAreNotAnExecutable) {
  for (const char* text : {"", "M", "ZM plain data", "affid=00000000"}) {
    const PeResourceLookup lookup = FindPeResource(TestBytes(text), 10, 2);
    EXPECT_FALSE(lookup.isExecutable) << text;
    EXPECT_EQ(lookup.problem, "");
    EXPECT_TRUE(lookup.found.empty());
  }
}

TEST(FindPeResource, ImagesWithoutResourcesHaveNone) {
  TestPeOptions options;
  options.code = TestBytes("code");
  const TestPeImage empty = BuildTestPe(options);
  TestPeImage noSlot = BuildTestPe(OneRcdata(false));
  Put32(noSlot.bytes, noSlot.optionalHeaderOffset + 92, 2);  // NumberOfRvaAndSizes: no resource slot
  TestPeImage zeroDirectory = BuildTestPe(OneRcdata(true));
  Put32(zeroDirectory.bytes, zeroDirectory.optionalHeaderOffset + 112 + 16, 0);
  Put32(zeroDirectory.bytes, zeroDirectory.optionalHeaderOffset + 112 + 20, 0);
  for (const TestPeImage* image : {&empty, static_cast<const TestPeImage*>(&noSlot), static_cast<const TestPeImage*>(&zeroDirectory)}) {
    const PeResourceLookup lookup = FindPeResource(image->bytes, 10, 2);
    EXPECT_TRUE(lookup.isExecutable);
    EXPECT_EQ(lookup.problem, "");
    EXPECT_TRUE(lookup.found.empty());
  }
}

TEST(FindPeResource, ClampsTheDirectoryCountToTheOptionalHeader) {
  TestPeImage image = BuildTestPe(OneRcdata(false));
  Put32(image.bytes, image.optionalHeaderOffset + 92, 0xFFFFFFFF);
  EXPECT_EQ(FindPeResource(image.bytes, 10, 2).found.size(), 1u);
  // A smaller optional header than the directories need: the resource slot is not there.
  Put16(image.bytes, image.ntHeaderOffset + 20, 96 + 8 * 2);
  const PeResourceLookup lookup = FindPeResource(image.bytes, 10, 2);
  EXPECT_TRUE(lookup.found.empty());
}

struct Damage {
  const char* name;
  std::function<void(TestPeImage&, const Layout&)> apply;
};

TEST(FindPeResource, DamagedImagesGiveAProblem) {
  const std::size_t pe32Directories = 96;
  const Damage damages[] = {
      {"e_lfanew past the end", [](TestPeImage& i, const Layout&) { Put32(i.bytes, 0x3C, 0xFFFFFFF0); }},
      {"e_lfanew at the last bytes",
       [](TestPeImage& i, const Layout&) { Put32(i.bytes, 0x3C, static_cast<std::uint32_t>(i.bytes.size() - 10)); }},
      {"no PE signature", [](TestPeImage& i, const Layout&) { i.bytes[i.ntHeaderOffset + 1] = 'X'; }},
      {"unknown magic", [](TestPeImage& i, const Layout&) { Put16(i.bytes, i.optionalHeaderOffset, 0x107); }},
      {"optional header past the end", [](TestPeImage& i, const Layout&) { Put16(i.bytes, i.ntHeaderOffset + 20, 0xFFFF); }},
      {"optional header of 1 byte", [](TestPeImage& i, const Layout&) { Put16(i.bytes, i.ntHeaderOffset + 20, 1); }},
      {"65535 sections", [](TestPeImage& i, const Layout&) { Put16(i.bytes, i.ntHeaderOffset + 6, 0xFFFF); }},
      {"directory RVA in no section",
       [&](TestPeImage& i, const Layout&) { Put32(i.bytes, i.optionalHeaderOffset + pe32Directories + 16, 0x00900000); }},
      {"directory larger than its section",
       [&](TestPeImage& i, const Layout&) { Put32(i.bytes, i.optionalHeaderOffset + pe32Directories + 20, 0x10000); }},
      {"directory of 4 bytes",
       [&](TestPeImage& i, const Layout&) { Put32(i.bytes, i.optionalHeaderOffset + pe32Directories + 20, 4); }},
      {"resource section's raw data past the end",
       [](TestPeImage& i, const Layout&) { Put32(i.bytes, i.sectionTableOffset + 40 + 20, 0x7FFFFF00); }},
      {"root table with 65535 entries", [](TestPeImage& i, const Layout& l) { Put16(i.bytes, l.root + 14, 0xFFFF); }},
      {"type entry that is not a directory", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.root + 20, 24); }},
      {"type entry far outside", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.root + 20, 0xFFFFFFFF); }},
      {"id table with 65535 named entries",
       [](TestPeImage& i, const Layout& l) { Put16(i.bytes, l.idTable + 12, 0xFFFF); }},
      {"id entry that is not a directory", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.idTable + 20, 0); }},
      {"language table that loops to the root",
       [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.idTable + 20, 0x80000000u); }},
      {"language table without entries", [](TestPeImage& i, const Layout& l) { Put16(i.bytes, l.languageTable + 14, 0); }},
      {"named language entry",
       [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.languageTable + 16, 0x80000000u | 1049); }},
      {"language id above 16 bits", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.languageTable + 16, 0x10419); }},
      {"data entry outside the directory",
       [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.languageTable + 20, 0x7FFFFFF0); }},
      {"data entry at the directory's last bytes",
       [&](TestPeImage& i, const Layout& l) {
         const std::uint32_t size = Get32(i.bytes, i.optionalHeaderOffset + pe32Directories + 20);
         Put32(i.bytes, l.languageTable + 20, size - 8);
       }},
      {"data RVA in no section", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.dataEntry, 0x20); }},
      {"data of 4 GiB", [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.dataEntry + 4, 0xFFFFFFFF); }},
      {"data running past its section",
       [](TestPeImage& i, const Layout& l) { Put32(i.bytes, l.dataEntry + 4, 0x1000); }},
  };
  for (const Damage& damage : damages) {
    TestPeImage image = BuildTestPe(OneRcdata(false));
    const Layout layout(image);
    damage.apply(image, layout);
    const PeResourceLookup lookup = FindPeResource(image.bytes, 10, 2);
    EXPECT_TRUE(lookup.isExecutable) << damage.name;
    EXPECT_NE(lookup.problem, "") << damage.name;
    EXPECT_TRUE(lookup.found.empty()) << damage.name;
  }
}

// A lookup on `bytes` held in a vector of exactly that size, so that AddressSanitizer sees any read past
// the end; whatever it finds must lie inside the bytes.
void ExpectInBounds(const std::vector<std::uint8_t>& bytes, const std::string& context) {
  const PeResourceLookup lookup = FindPeResource(bytes, 10, 2);
  for (const PeResource& resource : lookup.found) {
    ASSERT_LE(resource.offset, bytes.size()) << context;
    ASSERT_LE(resource.size, bytes.size() - resource.offset) << context;
  }
}

TEST(FindPeResource, TruncatedImagesNeverReadPastTheEnd) {
  for (bool pe32Plus : {false, true}) {
    const TestPeImage image = BuildTestPe(OneRcdata(pe32Plus));
    const std::size_t dataEnd = image.dataOffsets[0] + 22;
    for (std::size_t length = 0; length <= image.bytes.size(); ++length) {
      const std::vector<std::uint8_t> cut(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(length));
      ExpectInBounds(cut, std::to_string(length));
      const PeResourceLookup lookup = FindPeResource(cut, 10, 2);
      // Found exactly when the data is still there; a cut in the section's padding does not matter.
      EXPECT_EQ(lookup.found.size(), length >= dataEnd ? 1u : 0u) << length;
      if (length >= 2 && length < dataEnd) {
        EXPECT_NE(lookup.problem, "") << length;
      }
    }
  }
}

TEST(FindPeResource, RandomlyDamagedHeadersAndDirectoriesStayInBounds) {
  std::mt19937 generator(20240611);  // fixed seed: the same damages on every run
  TestPeOptions options = OneRcdata(false);
  options.resources.push_back({16, 1, 1033, TestBytes("version")});
  const TestPeImage image = BuildTestPe(options);
  // The bytes that steer the lookup: headers, section table and the directory before the data.
  const std::vector<std::pair<std::size_t, std::size_t>> regions = {
      {0x3C, 4}, {image.ntHeaderOffset, 24 + 224 + 80}, {image.resourceSectionOffset, 160}};
  for (int round = 0; round < 4000; ++round) {
    std::vector<std::uint8_t> bytes = image.bytes;
    const int changes = 1 + static_cast<int>(generator() % 4);
    for (int i = 0; i < changes; ++i) {
      const auto& [start, length] = regions[generator() % regions.size()];
      const std::size_t at = start + generator() % length;
      const std::uint32_t kind = generator() % 3;
      if (kind == 0) bytes[at] = static_cast<std::uint8_t>(generator());
      if (kind == 1) bytes[at] = 0xFF;
      if (kind == 2 && at + 4 <= bytes.size()) Put32(bytes, at, generator());
    }
    if (generator() % 4 == 0) bytes.resize(generator() % bytes.size());
    ASSERT_NO_FATAL_FAILURE(ExpectInBounds(bytes, "round " + std::to_string(round)));
  }
}

TEST(HasCertificateTable, OnlyWithANonEmptyCertificateDirectory) {
  TestPeOptions options = OneRcdata(false);
  EXPECT_FALSE(HasCertificateTable(BuildTestPe(options).bytes));
  options.certificate = true;
  EXPECT_TRUE(HasCertificateTable(BuildTestPe(options).bytes));
  options.pe32Plus = true;
  EXPECT_TRUE(HasCertificateTable(BuildTestPe(options).bytes));
  EXPECT_FALSE(HasCertificateTable(TestBytes("not an image")));
}

}  // namespace
}  // namespace isetup
