// The PE resource lookup: DOS and NT headers, the section table, the three-level resource directory.
// The bytes come from files anyone can hand us, so every read goes through one bounds-checked helper.
#include "payload/pe_resources.h"

#include <optional>

#include "base/little_endian.h"
#include "base/lower_hex.h"

namespace isetup {
namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNtHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kCertificateDirectoryIndex = 4;
constexpr std::size_t kResourceDirectorySize = 16;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::size_t kResourceDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;

// Little-endian reads that fail instead of reading past the end.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t size() const { return bytes_.size(); }
  bool Has(std::uint64_t offset, std::uint64_t count) const { return HasBytes(bytes_.size(), offset, count); }
  std::optional<std::uint16_t> U16(std::uint64_t offset) const { return ReadU16(bytes_, offset); }
  std::optional<std::uint32_t> U32(std::uint64_t offset) const { return ReadU32(bytes_, offset); }

 private:
  std::span<const std::uint8_t> bytes_;
};

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

struct DataDirectory {
  std::uint32_t address = 0;  // an RVA, except for the certificate table, where it is a file offset
  std::uint32_t size = 0;
};

struct PeHeaders {
  std::vector<Section> sections;
  std::optional<DataDirectory> resources;     // absent when the optional header has no such slot
  std::optional<DataDirectory> certificates;
};

struct ParsedHeaders {
  bool isExecutable = false;
  std::string problem;
  PeHeaders headers;
};

std::string Hex(std::uint64_t value) {
  return "0x" + HexDigits(value, 1, HexCase::kUpper);
}

ParsedHeaders ParseHeaders(std::span<const std::uint8_t> image) {
  ParsedHeaders result;
  const Reader in(image);
  if (image.size() < 2 || image[0] != 'M' || image[1] != 'Z') return result;
  result.isExecutable = true;
  auto fail = [&result](std::string problem) {
    result.problem = std::move(problem);
    return result;
  };
  if (image.size() < kDosHeaderSize) return fail("the MZ header is cut off");
  const std::uint32_t ntOffset = *in.U32(kNtHeaderOffsetField);
  if (!in.Has(ntOffset, 4 + kCoffHeaderSize)) return fail("the PE header offset " + Hex(ntOffset) + " lies past the end");
  if (!(image[ntOffset] == 'P' && image[ntOffset + 1] == 'E' && image[ntOffset + 2] == 0 && image[ntOffset + 3] == 0)) {
    return fail("there is no PE signature at " + Hex(ntOffset));
  }
  const std::uint64_t coff = ntOffset + 4ull;
  const std::uint16_t sectionCount = *in.U16(coff + 2);
  const std::uint16_t optionalSize = *in.U16(coff + 16);
  const std::uint64_t optional = coff + kCoffHeaderSize;
  if (!in.Has(optional, optionalSize)) return fail("the optional header is cut off");
  if (optionalSize < 2) return fail("the optional header is too short");

  const std::uint16_t magic = *in.U16(optional);
  std::uint64_t countField = 0;
  if (magic == kPe32Magic) {
    countField = 92;
  } else if (magic == kPe32PlusMagic) {
    countField = 108;
  } else {
    return fail("the optional header's magic " + Hex(magic) + " is neither PE32 nor PE32+");
  }
  // The data directories are those that both NumberOfRvaAndSizes and SizeOfOptionalHeader allow.
  std::uint64_t directoryCount = 0;
  if (countField + 4 <= optionalSize) {
    const std::uint64_t declared = *in.U32(optional + countField);
    const std::uint64_t room = (optionalSize - (countField + 4)) / 8;
    directoryCount = declared < room ? declared : room;
  }
  auto directory = [&](std::uint32_t index) -> std::optional<DataDirectory> {
    if (index >= directoryCount) return std::nullopt;
    const std::uint64_t at = optional + countField + 4 + 8ull * index;
    return DataDirectory{*in.U32(at), *in.U32(at + 4)};
  };
  result.headers.resources = directory(kResourceDirectoryIndex);
  result.headers.certificates = directory(kCertificateDirectoryIndex);

  const std::uint64_t table = optional + optionalSize;
  if (!in.Has(table, std::uint64_t{sectionCount} * kSectionHeaderSize)) return fail("the section table is cut off");
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const std::uint64_t at = table + std::uint64_t{i} * kSectionHeaderSize;
    result.headers.sections.push_back(Section{*in.U32(at + 12), *in.U32(at + 8), *in.U32(at + 16), *in.U32(at + 20)});
  }
  return result;
}

// The file offset of the `size` bytes at `rva`, when one section holds all of them in the file. A
// section maps at most its virtual size (when given) of its raw data; the rest is not in the file.
std::optional<std::size_t> MapRva(const std::vector<Section>& sections, std::size_t fileSize, std::uint32_t rva,
                                  std::uint32_t size) {
  for (const Section& section : sections) {
    std::uint64_t mapped = section.rawSize;
    if (section.virtualSize != 0 && section.virtualSize < mapped) mapped = section.virtualSize;
    if (rva < section.virtualAddress) continue;
    const std::uint64_t into = std::uint64_t{rva} - section.virtualAddress;
    if (into > mapped || size > mapped - into) continue;
    const std::uint64_t offset = std::uint64_t{section.rawOffset} + into;
    if (offset > fileSize || size > fileSize - offset) return std::nullopt;
    return static_cast<std::size_t>(offset);
  }
  return std::nullopt;
}

struct DirectoryEntry {
  std::uint32_t name = 0;    // high bit: a named entry; else the integer id
  std::uint32_t target = 0;  // high bit: a subdirectory; low 31 bits: its offset in the resource directory
};

// The entries of the directory table at `offset` of the resource directory, or a problem.
std::optional<std::vector<DirectoryEntry>> ReadTable(const Reader& directory, std::uint64_t offset) {
  if (!directory.Has(offset, kResourceDirectorySize)) return std::nullopt;
  const std::uint64_t count = std::uint64_t{*directory.U16(offset + 12)} + *directory.U16(offset + 14);
  const std::uint64_t first = offset + kResourceDirectorySize;
  if (!directory.Has(first, count * kResourceEntrySize)) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  entries.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    entries.push_back({*directory.U32(first + i * kResourceEntrySize), *directory.U32(first + i * kResourceEntrySize + 4)});
  }
  return entries;
}

const DirectoryEntry* FindId(const std::vector<DirectoryEntry>& entries, std::uint16_t id) {
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == id) return &entry;  // an integer entry carries the id with all upper bits clear
  }
  return nullptr;
}

}  // namespace

PeResourceLookup FindPeResource(std::span<const std::uint8_t> image, std::uint16_t type, std::uint16_t id) {
  PeResourceLookup lookup;
  ParsedHeaders parsed = ParseHeaders(image);
  lookup.isExecutable = parsed.isExecutable;
  if (!parsed.isExecutable) return lookup;
  if (!parsed.problem.empty()) {
    lookup.problem = std::move(parsed.problem);
    return lookup;
  }
  const auto& headers = parsed.headers;
  if (!headers.resources || (headers.resources->address == 0 && headers.resources->size == 0)) return lookup;

  const std::string name = "resource " + std::to_string(type) + "/" + std::to_string(id);
  auto fail = [&lookup](std::string problem) {
    lookup.problem = std::move(problem);
    lookup.found.clear();
    return lookup;
  };
  const auto base = MapRva(headers.sections, image.size(), headers.resources->address, headers.resources->size);
  if (!base) {
    return fail("the resource directory (RVA " + Hex(headers.resources->address) + ", " +
                std::to_string(headers.resources->size) + " bytes) lies outside the sections in the file");
  }
  const Reader directory(image.subspan(*base, headers.resources->size));

  const auto types = ReadTable(directory, 0);
  if (!types) return fail("the resource directory's root table is cut off");
  const DirectoryEntry* typeEntry = FindId(*types, type);
  if (!typeEntry) return lookup;
  if (!(typeEntry->target & kHighBit)) return fail("the type entry of " + name + " is not a directory");
  const auto ids = ReadTable(directory, typeEntry->target & ~kHighBit);
  if (!ids) return fail("the id table of resource type " + std::to_string(type) + " is cut off");
  const DirectoryEntry* idEntry = FindId(*ids, id);
  if (!idEntry) return lookup;
  if (!(idEntry->target & kHighBit)) return fail("the id entry of " + name + " is not a directory");
  const auto languages = ReadTable(directory, idEntry->target & ~kHighBit);
  if (!languages) return fail("the language table of " + name + " is cut off");
  if (languages->empty()) return fail("the directory lists " + name + " without any language");

  for (const DirectoryEntry& entry : *languages) {
    if (entry.name & kHighBit) return fail("a language entry of " + name + " is named, not numbered");
    if (entry.name > 0xFFFF) return fail("a language entry of " + name + " has an id above 0xFFFF");
    if (entry.target & kHighBit) return fail("a language entry of " + name + " is a directory, not data");
    const std::string which = name + " (language " + std::to_string(entry.name) + ")";
    if (!directory.Has(entry.target, kResourceDataEntrySize)) return fail("the data entry of " + which + " is cut off");
    const std::uint32_t rva = *directory.U32(entry.target);
    const std::uint32_t size = *directory.U32(entry.target + 4);
    const auto offset = MapRva(headers.sections, image.size(), rva, size);
    if (!offset) {
      return fail("the data of " + which + " (RVA " + Hex(rva) + ", " + std::to_string(size) +
                  " bytes) lies outside the sections in the file");
    }
    lookup.found.push_back(PeResource{static_cast<std::uint16_t>(entry.name), *offset, size});
  }
  return lookup;
}

bool HasCertificateTable(std::span<const std::uint8_t> image) {
  const ParsedHeaders parsed = ParseHeaders(image);
  return parsed.isExecutable && parsed.problem.empty() && parsed.headers.certificates &&
         parsed.headers.certificates->size != 0;
}

}  // namespace isetup
