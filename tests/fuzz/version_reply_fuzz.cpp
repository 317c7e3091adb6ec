// Fuzzes the judging of the version reply file from raw bytes against a model of its four-line rules, and
// checks that reading the same bytes from a file judges them alike.
#include <unistd.h>

#include <array>
#include <fstream>

#include "tests/fuzz/fuzz_models.h"
#include "update/version_reply.h"

using namespace isetup;
using namespace isetup::fuzz;

namespace {

// Lines end at a line feed; every carriage return is dropped (the one before a line feed and a lone one
// alike); lines past the end of the bytes are empty.
std::array<std::wstring, 4> ModelLines(std::string_view bytes) {
  std::vector<std::string> lines{std::string()};
  for (const char c : bytes) {
    if (c == '\n') {
      lines.emplace_back();
    } else if (c != '\r') {
      lines.back() += c;
    }
  }
  std::array<std::wstring, 4> first;
  for (std::size_t i = 0; i < 4 && i < lines.size(); ++i) first[i] = ModelLatin1(lines[i]);
  return first;
}

VersionReply ModelReply(std::string_view bytes) {
  const auto lines = ModelLines(bytes);
  VersionReply reply;
  // A key counts only at the very start of its own line, in lower case.
  const auto value = [&](std::size_t line, std::wstring_view key) -> std::optional<std::wstring> {
    if (lines[line].size() < key.size() || lines[line].substr(0, key.size()) != key) return std::nullopt;
    return lines[line].substr(key.size());
  };
  if (const auto ver = value(0, L"ver=")) {
    reply.VersionText = *ver;
    reply.Version = ModelPackedVersion(*ver);
  }
  if (const auto size = value(1, L"size=")) reply.Size = ModelStrToInt(*size).value_or(0);
  if (const auto consum = value(2, L"consum=")) reply.Checksum = ModelStrToInt(*consum).value_or(0);
  if (const auto url = value(3, L"url=")) reply.Url = *url;
  reply.Usable = value(0, L"ver=") && reply.Version != 0 && value(1, L"size=") && reply.Size != 0 &&
                 value(2, L"consum=") && value(3, L"url=") && !reply.Url.empty();
  return reply;
}

void ExpectSame(const VersionReply& got, const VersionReply& want, const char* what) {
  FUZZ_CHECK(got.VersionText == want.VersionText, "%s: VersionText \"%s\", model \"%s\"", what,
             Shown(got.VersionText).c_str(), Shown(want.VersionText).c_str());
  FUZZ_CHECK(got.Version == want.Version, "%s: Version %08X, model %08X", what, got.Version, want.Version);
  FUZZ_CHECK(got.Size == want.Size, "%s: Size %d, model %d", what, got.Size, want.Size);
  FUZZ_CHECK(got.Checksum == want.Checksum, "%s: Checksum %d, model %d", what, got.Checksum, want.Checksum);
  FUZZ_CHECK(got.Url == want.Url, "%s: Url \"%s\", model \"%s\"", what, Shown(got.Url).c_str(),
             Shown(want.Url).c_str());
  FUZZ_CHECK(got.Usable == want.Usable, "%s: Usable %d, model %d", what, got.Usable, want.Usable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const VersionReply parsed = ParseVersionReply(bytes);
  ExpectSame(parsed, ModelReply(bytes), "ParseVersionReply");

  // Every fourth input also goes through the file reader, which must judge the file's bytes the same way.
  if (size % 4 == 0) {
    static const std::string path = "/tmp/internetsetup-reply-fuzz-" + std::to_string(getpid()) + ".txt";
    {
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      FUZZ_CHECK(file.good(), "cannot write %s", path.c_str());
    }
    ExpectSame(ReadVersionReply(std::wstring(path.begin(), path.end())), parsed, "ReadVersionReply");
  }
  return 0;
}
