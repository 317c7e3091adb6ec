// Judging the version reply file: four lines "ver=", "size=", "consum=", "url=" in this order.
#include "update/version_reply.h"

#include <array>

#include "base/ansi_text.h"

namespace isetup {
namespace {

// The next line of `bytes` from `position`: it ends at a line feed, and every carriage return in it is
// dropped (the one before the line feed and any lone one). Past the end every line reads as empty.
std::string NextLine(std::string_view bytes, std::size_t& position) {
  std::string line;
  while (position < bytes.size()) {
    const char c = bytes[position++];
    if (c == '\n') break;
    if (c != '\r') line.push_back(c);
  }
  return line;
}

// The value after `key` when the line begins with it.
std::optional<std::wstring> ValueAfter(const std::wstring& line, std::wstring_view key) {
  if (line.compare(0, key.size(), key) != 0) return std::nullopt;
  return line.substr(key.size());
}

}  // namespace

VersionReply ParseVersionReply(std::string_view bytes) {
  std::array<std::wstring, 4> lines;
  std::size_t position = 0;
  for (auto& line : lines) line = DecodeAnsi(NextLine(bytes, position));

  VersionReply reply;
  if (auto value = ValueAfter(lines[0], L"ver=")) {
    reply.VersionText = std::move(*value);
    reply.Version = ParsePackedVersion(reply.VersionText);
    if (reply.Version == 0) reply.Usable = false;
  } else {
    reply.Usable = false;
  }
  if (auto value = ValueAfter(lines[1], L"size=")) {
    reply.Size = StrToIntDefault(*value, 0);
    if (reply.Size == 0) reply.Usable = false;
  } else {
    reply.Usable = false;
  }
  if (auto value = ValueAfter(lines[2], L"consum=")) {
    reply.Checksum = StrToIntDefault(*value, 0);
  } else {
    reply.Usable = false;
  }
  if (auto value = ValueAfter(lines[3], L"url=")) {
    reply.Url = std::move(*value);
    if (reply.Url.empty()) reply.Usable = false;
  } else {
    reply.Usable = false;
  }
  reply.Authentication = ReadReplyAuthentication(bytes);
  return reply;
}

}  // namespace isetup
