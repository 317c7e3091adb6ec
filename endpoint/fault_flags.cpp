// Parses the fault flags of the endpoint program.
#include "endpoint/fault_flags.h"

#include <algorithm>
#include <charconv>
#include <iterator>
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

// The byte that the escape at text[i] (just after its backslash) stands for; `i` ends on its last
// character. std::nullopt for an unknown or incomplete escape.
std::optional<char> Escaped(std::string_view text, std::size_t& i) {
  switch (text[i]) {
    case 'r': return '\r';
    case 'n': return '\n';
    case 't': return '\t';
    case '\\': return '\\';
    case 'x': {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      i += 2;
      return static_cast<char>(high << 4 | low);
    }
    default: return std::nullopt;
  }
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    const std::optional<char> byte = Escaped(text, i);
    if (!byte) return std::nullopt;
    out += *byte;
  }
  return out;
}

using Value = std::optional<std::string_view>;
// Sets what `key` says on `fault`; the problem with its value, std::nullopt when it is set.
using KeySetter = std::optional<std::string> (*)(std::string_view key, Value value, StageFault& fault);

std::optional<std::string> SetHang(std::string_view, Value value, StageFault& fault) {
  if (value) return "\"hang\" takes no value";
  fault.hang = true;
  return std::nullopt;
}

std::optional<std::string> SetStatus(std::string_view, Value value, StageFault& fault) {
  const auto status = value ? ParseNumber<int>(*value) : std::nullopt;
  if (!status || *status < 100 || *status > 599) return "status must be a number 100..599";
  fault.status = *status;
  return std::nullopt;
}

std::optional<std::string> SetBody(std::string_view, Value value, StageFault& fault) {
  const auto text = value ? Unescape(*value) : std::nullopt;
  if (!text) return "body needs a value; escapes are \\r \\n \\t \\\\ \\xHH";
  fault.body = *text;
  return std::nullopt;
}

std::optional<std::string> SetVersion(std::string_view, Value value, StageFault& fault) {
  if (!value) return "version needs a value";
  fault.versionText = std::string(*value);
  return std::nullopt;
}

std::optional<std::string> SetSizeDelta(std::string_view, Value value, StageFault& fault) {
  const auto delta = value ? ParseNumber<std::int64_t>(*value) : std::nullopt;
  if (!delta) return "size-delta must be a whole number";
  fault.sizeDelta = *delta;
  return std::nullopt;
}

std::optional<std::string> SetChecksumDelta(std::string_view, Value value, StageFault& fault) {
  const auto delta = value ? ParseNumber<std::int32_t>(*value) : std::nullopt;
  if (!delta) return "checksum-delta must be a 32-bit whole number";
  fault.checksumDelta = *delta;
  return std::nullopt;
}

// truncate-after, reset-after and hang-after.
std::optional<std::string> SetCut(std::string_view key, Value value, StageFault& fault) {
  const auto count = value ? ParseNumber<std::size_t>(*value) : std::nullopt;
  if (!count) return std::string(key) + " must be a byte count";
  (key == "truncate-after" ? fault.truncateAfter : key == "reset-after" ? fault.resetAfter : fault.hangAfter) = *count;
  return std::nullopt;
}

std::optional<std::string> SetThrottle(std::string_view, Value value, StageFault& fault) {
  const std::size_t slash = value ? value->find('/') : std::string_view::npos;
  const auto chunk = slash == std::string_view::npos ? std::nullopt : ParseNumber<std::size_t>(value->substr(0, slash));
  const auto delay = slash == std::string_view::npos ? std::nullopt : ParseNumber<int>(value->substr(slash + 1));
  if (!chunk || *chunk == 0 || !delay || *delay < 0) return "throttle must be CHUNK/MS, CHUNK at least 1";
  fault.throttleChunk = *chunk;
  fault.throttleDelayMs = *delay;
  return std::nullopt;
}

std::optional<std::string> SetOverride(std::string_view, Value value, StageFault& fault) {
  if (!value || value->empty()) return "override needs a file";
  auto bytes = ReadWholeFile(std::string(*value));
  if (!bytes) return "cannot read \"" + std::string(*value) + "\"";
  fault.installerOverride = std::move(*bytes);
  return std::nullopt;
}

struct FaultKey {
  std::string_view name;
  std::optional<Stage> onlyStage;  // the one stage the key applies to; std::nullopt: both
  KeySetter set;
};

const FaultKey kFaultKeys[] = {
    {"hang", std::nullopt, SetHang},
    {"status", std::nullopt, SetStatus},
    {"body", Stage::Version, SetBody},
    {"version", Stage::Version, SetVersion},
    {"size-delta", Stage::Version, SetSizeDelta},
    {"checksum-delta", Stage::Version, SetChecksumDelta},
    {"truncate-after", std::nullopt, SetCut},
    {"reset-after", std::nullopt, SetCut},
    {"hang-after", std::nullopt, SetCut},
    {"throttle", std::nullopt, SetThrottle},
    {"override", Stage::Installer, SetOverride},
};

std::string_view StageName(Stage stage) { return stage == Stage::Version ? "version" : "installer"; }

std::optional<Stage> StageNamed(std::string_view name) {
  if (name == "version") return Stage::Version;
  if (name == "installer") return Stage::Installer;
  return std::nullopt;
}

// "STAGE:KEY[=VALUE]" taken apart.
struct FlagParts {
  Stage stage = Stage::Version;
  std::string_view key;
  Value value;
};

// Takes `flag` apart into `parts`; why it cannot be, std::nullopt when it can.
std::optional<std::string> SplitFlag(std::string_view flag, const std::string& quoted, FlagParts& parts) {
  const std::size_t colon = flag.find(':');
  if (colon == std::string_view::npos) return "fault " + quoted + " lacks \"STAGE:\" (version or installer)";
  const std::string_view stageName = flag.substr(0, colon);
  const std::optional<Stage> stage = StageNamed(stageName);
  if (!stage) return "fault " + quoted + ": unknown stage \"" + std::string(stageName) + "\" (version or installer)";
  const std::string_view item = flag.substr(colon + 1);
  const std::size_t equals = item.find('=');
  parts = FlagParts{*stage, item.substr(0, equals), equals == std::string_view::npos ? Value() : Value(item.substr(equals + 1))};
  return std::nullopt;
}

// Applies the key of `parts` to `fault`; the problem, std::nullopt when it applies.
std::optional<std::string> ApplyKey(const FlagParts& parts, StageFault& fault) {
  const auto known = std::find_if(std::begin(kFaultKeys), std::end(kFaultKeys),
                                  [&](const FaultKey& key) { return key.name == parts.key; });
  if (known == std::end(kFaultKeys)) return "unknown key \"" + std::string(parts.key) + "\"";
  if (known->onlyStage && *known->onlyStage != parts.stage) {
    return "\"" + std::string(parts.key) + "\" applies to the " + std::string(StageName(*known->onlyStage)) + " stage only";
  }
  return known->set(parts.key, parts.value, fault);
}

}  // namespace

std::optional<std::string> ApplyFaultFlag(std::string_view flag, std::map<Stage, StageFault>& faults) {
  const std::string quoted = "\"" + std::string(flag) + "\"";
  FlagParts parts;
  if (auto problem = SplitFlag(flag, quoted, parts)) return problem;
  // A copy, so that a refused flag changes nothing.
  const auto existing = faults.find(parts.stage);
  StageFault fault = existing == faults.end() ? StageFault{} : existing->second;
  if (auto problem = ApplyKey(parts, fault)) return "fault " + quoted + ": " + *problem;
  faults[parts.stage] = std::move(fault);
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  FileContents contents = ReadFileContents(path, std::numeric_limits<std::uint64_t>::max());
  if (!contents.problem.empty()) return std::nullopt;
  return std::move(contents.bytes);
}

}  // namespace isetup::endpoint
