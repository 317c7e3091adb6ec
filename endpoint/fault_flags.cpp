// Parses the fault flags of the endpoint program.
#include "endpoint/fault_flags.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "base/file_contents.h"

namespace isetup::endpoint {
namespace {

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
  Number value{};
  if (text.empty() || text.front() == '+') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '\\': out += '\\'; break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high << 4 | low);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}


}  // namespace

std::optional<std::string> ApplyFaultFlag(std::string_view flag, std::map<Stage, StageFault>& faults) {
  const std::string quoted = "\"" + std::string(flag) + "\"";
  const std::size_t colon = flag.find(':');
  if (colon == std::string_view::npos) return "fault " + quoted + " lacks \"STAGE:\" (version or installer)";
  const std::string_view stageName = flag.substr(0, colon);
  Stage stage;
  if (stageName == "version") {
    stage = Stage::Version;
  } else if (stageName == "installer") {
    stage = Stage::Installer;
  } else {
    return "fault " + quoted + ": unknown stage \"" + std::string(stageName) + "\" (version or installer)";
  }
  const std::string_view item = flag.substr(colon + 1);
  const std::size_t equals = item.find('=');
  const std::string_view key = item.substr(0, equals);
  const std::optional<std::string_view> value =
      equals == std::string_view::npos ? std::nullopt : std::optional(item.substr(equals + 1));

  // A copy, so that a refused flag changes nothing.
  const auto existing = faults.find(stage);
  StageFault fault = existing == faults.end() ? StageFault{} : existing->second;
  const auto bad = [&](std::string_view what) { return "fault " + quoted + ": " + std::string(what); };
  const auto needValue = [&]() { return !value.has_value(); };
  const auto versionOnly = [&]() { return stage != Stage::Version; };

  if (key == "hang") {
    if (value) return bad("\"hang\" takes no value");
    fault.hang = true;
  } else if (key == "status") {
    const auto status = needValue() ? std::nullopt : ParseNumber<int>(*value);
    if (!status || *status < 100 || *status > 599) return bad("status must be a number 100..599");
    fault.status = *status;
  } else if (key == "body") {
    if (versionOnly()) return bad("\"body\" applies to the version stage only");
    const auto text = needValue() ? std::nullopt : Unescape(*value);
    if (!text) return bad("body needs a value; escapes are \\r \\n \\t \\\\ \\xHH");
    fault.body = *text;
  } else if (key == "version") {
    if (versionOnly()) return bad("\"version\" applies to the version stage only");
    if (needValue()) return bad("version needs a value");
    fault.versionText = std::string(*value);
  } else if (key == "size-delta") {
    if (versionOnly()) return bad("\"size-delta\" applies to the version stage only");
    const auto delta = needValue() ? std::nullopt : ParseNumber<std::int64_t>(*value);
    if (!delta) return bad("size-delta must be a whole number");
    fault.sizeDelta = *delta;
  } else if (key == "checksum-delta") {
    if (versionOnly()) return bad("\"checksum-delta\" applies to the version stage only");
    const auto delta = needValue() ? std::nullopt : ParseNumber<std::int32_t>(*value);
    if (!delta) return bad("checksum-delta must be a 32-bit whole number");
    fault.checksumDelta = *delta;
  } else if (key == "truncate-after" || key == "reset-after" || key == "hang-after") {
    const auto count = needValue() ? std::nullopt : ParseNumber<std::size_t>(*value);
    if (!count) return bad(std::string(key) + " must be a byte count");
    (key == "truncate-after" ? fault.truncateAfter : key == "reset-after" ? fault.resetAfter : fault.hangAfter) =
        *count;
  } else if (key == "throttle") {
    const std::size_t slash = needValue() ? std::string_view::npos : value->find('/');
    const auto chunk = slash == std::string_view::npos ? std::nullopt : ParseNumber<std::size_t>(value->substr(0, slash));
    const auto delay = slash == std::string_view::npos ? std::nullopt : ParseNumber<int>(value->substr(slash + 1));
    if (!chunk || *chunk == 0 || !delay || *delay < 0) return bad("throttle must be CHUNK/MS, CHUNK at least 1");
    fault.throttleChunk = *chunk;
    fault.throttleDelayMs = *delay;
  } else if (key == "override") {
    if (stage != Stage::Installer) return bad("\"override\" applies to the installer stage only");
    if (needValue() || value->empty()) return bad("override needs a file");
    auto bytes = ReadWholeFile(std::string(*value));
    if (!bytes) return bad("cannot read \"" + std::string(*value) + "\"");
    fault.installerOverride = std::move(*bytes);
  } else {
    return bad("unknown key \"" + std::string(key) + "\"");
  }
  faults[stage] = std::move(fault);
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  FileContents contents = ReadFileContents(path, std::numeric_limits<std::uint64_t>::max());
  if (!contents.problem.empty()) return std::nullopt;
  return std::move(contents.bytes);
}

}  // namespace isetup::endpoint
