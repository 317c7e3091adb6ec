// For tests: small PE images (PE32 or PE32+) made byte by byte, with a code section holding whatever
// the test puts there and a resource section built from a list of resources.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace isetup::testing {

struct TestResource {
  std::uint16_t type = 10;
  std::uint16_t id = 2;
  std::uint16_t language = 1049;
  std::vector<std::uint8_t> data;
};

struct TestPeOptions {
  bool pe32Plus = false;
  std::vector<std::uint8_t> code;  // contents of the first section (".text")
  std::vector<TestResource> resources;
  std::vector<std::uint8_t> overlay;  // bytes after the last section, as installers carry their data
  bool certificate = false;           // a certificate table after the overlay
};

// The image and where its parts landed, for tests that damage them.
struct TestPeImage {
  std::vector<std::uint8_t> bytes;
  std::size_t ntHeaderOffset = 0;
  std::size_t optionalHeaderOffset = 0;
  std::size_t sectionTableOffset = 0;
  std::size_t codeOffset = 0;            // file offset of the code section's raw data
  std::size_t resourceSectionOffset = 0; // file offset of the resource section's raw data
  std::uint32_t resourceSectionRva = 0;
  std::vector<std::size_t> dataOffsets;  // file offset of each resource's data, in the order given
};

inline std::vector<std::uint8_t> TestBytes(std::string_view text) { return {text.begin(), text.end()}; }

inline void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The resource section's contents for `resources`, placed at `rva`: the type, id and language tables,
// then the data entries, then the data. `dataOffsets` gets each resource's offset in the section.
inline std::vector<std::uint8_t> BuildResourceSection(const std::vector<TestResource>& resources, std::uint32_t rva,
                                                      std::vector<std::size_t>& dataOffsets) {
  // type -> id -> language -> index into resources
  std::map<std::uint16_t, std::map<std::uint16_t, std::map<std::uint16_t, std::size_t>>> tree;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    tree[resources[i].type][resources[i].id][resources[i].language] = i;
  }
  auto tableSize = [](std::size_t entries) { return 16 + 8 * entries; };
  std::size_t size = tableSize(tree.size());
  for (const auto& [type, ids] : tree) {
    size += tableSize(ids.size());
    for (const auto& [id, languages] : ids) size += tableSize(languages.size());
  }
  const std::size_t dataEntries = size;
  size += 16 * resources.size();
  std::vector<std::size_t> dataAt(resources.size());
  for (std::size_t i = 0; i < resources.size(); ++i) {
    size = AlignUp(size, 8);
    dataAt[i] = size;
    size += resources[i].data.size();
  }
  std::vector<std::uint8_t> section(size, 0);

  auto writeTable = [&](std::size_t at, std::size_t count) { Put16(section, at + 14, static_cast<std::uint32_t>(count)); };
  std::size_t next = tableSize(tree.size());
  writeTable(0, tree.size());
  std::size_t typeSlot = 16;
  for (const auto& [type, ids] : tree) {
    const std::size_t idTable = next;
    next += tableSize(ids.size());
    Put32(section, typeSlot, type);
    Put32(section, typeSlot + 4, 0x80000000u | static_cast<std::uint32_t>(idTable));
    typeSlot += 8;
    writeTable(idTable, ids.size());
    std::size_t idSlot = idTable + 16;
    for (const auto& [id, languages] : ids) {
      const std::size_t languageTable = next;
      next += tableSize(languages.size());
      Put32(section, idSlot, id);
      Put32(section, idSlot + 4, 0x80000000u | static_cast<std::uint32_t>(languageTable));
      idSlot += 8;
      writeTable(languageTable, languages.size());
      std::size_t languageSlot = languageTable + 16;
      for (const auto& [language, index] : languages) {
        const std::size_t entry = dataEntries + 16 * index;
        Put32(section, languageSlot, language);
        Put32(section, languageSlot + 4, static_cast<std::uint32_t>(entry));
        languageSlot += 8;
        Put32(section, entry, rva + static_cast<std::uint32_t>(dataAt[index]));
        Put32(section, entry + 4, static_cast<std::uint32_t>(resources[index].data.size()));
        Put32(section, entry + 8, 1252);
      }
    }
  }
  for (std::size_t i = 0; i < resources.size(); ++i) {
    std::copy(resources[i].data.begin(), resources[i].data.end(), section.begin() + static_cast<std::ptrdiff_t>(dataAt[i]));
  }
  dataOffsets = dataAt;
  return section;
}

inline TestPeImage BuildTestPe(const TestPeOptions& options) {
  constexpr std::size_t kFileAlignment = 0x200;
  constexpr std::uint32_t kSectionAlignment = 0x1000;
  TestPeImage image;
  image.ntHeaderOffset = 0x80;
  image.optionalHeaderOffset = image.ntHeaderOffset + 24;
  const std::size_t optionalSize = options.pe32Plus ? 240 : 224;
  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  const std::size_t headersSize = AlignUp(image.sectionTableOffset + 2 * 40, kFileAlignment);

  image.codeOffset = headersSize;
  const std::size_t codeRaw = AlignUp(std::max<std::size_t>(options.code.size(), 1), kFileAlignment);
  const std::uint32_t codeRva = kSectionAlignment;
  image.resourceSectionOffset = image.codeOffset + codeRaw;
  image.resourceSectionRva = codeRva + static_cast<std::uint32_t>(AlignUp(codeRaw, kSectionAlignment));
  std::vector<std::size_t> dataInSection;
  const std::vector<std::uint8_t> rsrc = BuildResourceSection(options.resources, image.resourceSectionRva, dataInSection);
  const std::size_t rsrcRaw = AlignUp(std::max<std::size_t>(rsrc.size(), 1), kFileAlignment);
  for (std::size_t at : dataInSection) image.dataOffsets.push_back(image.resourceSectionOffset + at);

  std::vector<std::uint8_t>& b = image.bytes;
  b.assign(image.resourceSectionOffset + rsrcRaw, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, static_cast<std::uint32_t>(image.ntHeaderOffset));
  const std::string_view dosStub = "This program cannot be run in DOS mode.";
  std::copy(dosStub.begin(), dosStub.end(), b.begin() + 0x4E);
  const std::size_t nt = image.ntHeaderOffset;
  b[nt] = 'P';
  b[nt + 1] = 'E';
  Put16(b, nt + 4, options.pe32Plus ? 0x8664 : 0x14C);
  Put16(b, nt + 6, 2);
  Put16(b, nt + 20, static_cast<std::uint32_t>(optionalSize));
  Put16(b, nt + 22, options.pe32Plus ? 0x22 : 0x102);

  const std::size_t opt = image.optionalHeaderOffset;
  Put16(b, opt, options.pe32Plus ? 0x20B : 0x10B);
  Put32(b, opt + 16, codeRva);  // AddressOfEntryPoint
  Put32(b, opt + 32, kSectionAlignment);
  Put32(b, opt + 36, kFileAlignment);
  Put16(b, opt + 40, 6);  // MajorOperatingSystemVersion
  Put16(b, opt + 48, 6);  // MajorSubsystemVersion
  Put32(b, opt + 56, image.resourceSectionRva + static_cast<std::uint32_t>(AlignUp(rsrcRaw, kSectionAlignment)));
  Put32(b, opt + 60, static_cast<std::uint32_t>(headersSize));
  Put16(b, opt + 68, 2);  // Subsystem: Windows GUI
  const std::size_t directories = opt + (options.pe32Plus ? 112 : 96);
  Put32(b, directories - 4, 16);
  Put32(b, directories + 8 * 2, image.resourceSectionRva);
  Put32(b, directories + 8 * 2 + 4, static_cast<std::uint32_t>(rsrc.size()));

  auto section = [&](std::size_t index, std::string_view name, std::uint32_t rva, std::size_t virtualSize,
                     std::size_t raw, std::size_t rawOffset, std::uint32_t characteristics) {
    const std::size_t at = image.sectionTableOffset + 40 * index;
    std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    Put32(b, at + 8, static_cast<std::uint32_t>(virtualSize));
    Put32(b, at + 12, rva);
    Put32(b, at + 16, static_cast<std::uint32_t>(raw));
    Put32(b, at + 20, static_cast<std::uint32_t>(rawOffset));
    Put32(b, at + 36, characteristics);
  };
  section(0, ".text", codeRva, std::max<std::size_t>(options.code.size(), 1), codeRaw, image.codeOffset, 0x60000020);
  section(1, ".rsrc", image.resourceSectionRva, rsrc.size(), rsrcRaw, image.resourceSectionOffset, 0x40000040);
  std::copy(options.code.begin(), options.code.end(), b.begin() + static_cast<std::ptrdiff_t>(image.codeOffset));
  std::copy(rsrc.begin(), rsrc.end(), b.begin() + static_cast<std::ptrdiff_t>(image.resourceSectionOffset));

  b.insert(b.end(), options.overlay.begin(), options.overlay.end());
  if (options.certificate) {
    const std::size_t at = AlignUp(b.size(), 8);
    b.resize(at + 16, 0);
    Put32(b, at, 16);          // dwLength
    Put16(b, at + 4, 0x200);   // WIN_CERT_REVISION_2_0
    Put16(b, at + 6, 2);       // WIN_CERT_TYPE_PKCS_SIGNED_DATA
    Put32(b, directories + 8 * 4, static_cast<std::uint32_t>(at));
    Put32(b, directories + 8 * 4 + 4, 16);
  }
  return image;
}

// One string constant as the installer stores it: code page 1251, char size 1, reference count -1, the
// length, the characters and a terminating zero, filled with zeros to a 4-byte boundary.
inline std::vector<std::uint8_t> StoredString(std::string_view text, std::uint32_t length) {
  std::vector<std::uint8_t> out(AlignUp(12 + text.size() + 1, 4), 0);
  Put16(out, 0, 1251);
  Put16(out, 2, 1);
  Put32(out, 4, 0xFFFFFFFFu);
  Put32(out, 8, length);
  std::copy(text.begin(), text.end(), out.begin() + 12);
  return out;
}

// The two tags in the installer's own layout: 56 bytes, each tag heading a string constant.
inline std::vector<std::uint8_t> TagBlock(std::string_view affid = "00000000", std::string_view affsid = "00000000") {
  std::vector<std::uint8_t> bytes = StoredString("affid=" + std::string(affid), 14);
  const auto second = StoredString("affsid=" + std::string(affsid), 15);
  bytes.insert(bytes.end(), second.begin(), second.end());
  return bytes;
}

// A VS_VERSIONINFO block with only its fixed part, file version a.b.c.d (16 bits each).
inline std::vector<std::uint8_t> VersionInfoBlock(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  std::vector<std::uint8_t> block(6, 0);
  for (char ch : std::string_view("VS_VERSION_INFO")) {
    block.push_back(static_cast<std::uint8_t>(ch));
    block.push_back(0);
  }
  block.resize(block.size() + 2, 0);  // terminating zero
  block.resize(AlignUp(block.size(), 4), 0);
  const std::size_t fixed = block.size();
  block.resize(fixed + 52, 0);
  Put32(block, fixed, 0xFEEF04BDu);
  Put32(block, fixed + 4, 0x10000u);
  Put32(block, fixed + 8, static_cast<std::uint32_t>(a) << 16 | b);
  Put32(block, fixed + 12, static_cast<std::uint32_t>(c) << 16 | d);
  Put32(block, fixed + 16, static_cast<std::uint32_t>(a) << 16 | b);
  Put32(block, fixed + 20, static_cast<std::uint32_t>(c) << 16 | d);
  Put32(block, fixed + 24, 0x3F);
  Put32(block, fixed + 32, 0x40004);
  Put32(block, fixed + 36, 1);
  Put16(block, 0, static_cast<std::uint32_t>(block.size()));
  Put16(block, 2, 52);
  return block;
}

struct TestInstallerOptions {
  std::string affid = "00000000";
  std::string affsid = "00000000";
  std::uint16_t version[4] = {2, 53, 0, 0};
  bool withVersion = true;
  bool pe32Plus = false;  // the real installers are 32-bit
};

// A stand-in installer: a PE image whose code section holds the tags and whose version resource
// carries `version`, followed by setup data.
inline std::vector<std::uint8_t> TestInstaller(const TestInstallerOptions& options = {}) {
  TestPeOptions pe;
  pe.pe32Plus = options.pe32Plus;
  pe.code = TestBytes("installer code and constants ");
  const auto tags = TagBlock(options.affid, options.affsid);
  pe.code.insert(pe.code.end(), tags.begin(), tags.end());
  if (options.withVersion) {
    const auto& v = options.version;
    pe.resources.push_back({16, 1, 1033, VersionInfoBlock(v[0], v[1], v[2], v[3])});
  }
  pe.overlay = TestBytes("compressed setup data");
  return BuildTestPe(pe).bytes;
}

// A stand-in for InternetSetup.exe: its code holds the markers of its own, one of them even in the
// installer's string layout, and its resources hold the installer as RT_RCDATA 2 and a version.
inline TestPeImage TestSetupProgram(const std::vector<std::uint8_t>& installer, bool pe32Plus = true) {
  TestPeOptions pe;
  pe.pe32Plus = pe32Plus;
  // The decoy comes first and is well formed, so that a stamp of the whole file would land there.
  pe.code = TestBytes("program code ");
  const auto decoy = TagBlock("decoy000", "decoy000");
  pe.code.insert(pe.code.end(), decoy.begin(), decoy.end());
  const auto text = TestBytes(" affsid=affid= ");
  pe.code.insert(pe.code.end(), text.begin(), text.end());
  pe.resources.push_back({10, 2, 1049, installer});
  pe.resources.push_back({16, 1, 1049, VersionInfoBlock(2, 52, 0, 0)});
  return BuildTestPe(pe);
}

}  // namespace isetup::testing
