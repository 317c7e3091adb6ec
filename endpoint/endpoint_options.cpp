// Parses and checks the endpoint's flags; nothing is opened or read here except fault override files.
#include "endpoint/endpoint_options.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "endpoint/fault_flags.h"

namespace isetup::endpoint {

const char* const kEndpointUsage =
    "Usage: internetsetup-endpoint --release-dir DIR [options]\n"
    "       internetsetup-endpoint --installer FILE --version TEXT [options]\n"
    "\n"
    "Serves GET/HEAD /version.php (the four-line version reply) and /download/FILE-NAME (the installer\n"
    "with the request's affid and affsid stamped in), and /healthz. Logs each request to standard output\n"
    "in the common log format; reloads and warnings go to standard error.\n"
    "\n"
    "Release:\n"
    "  --release-dir DIR       folder with the installers and release.txt naming the current one;\n"
    "                          reloaded when release.txt changes and on SIGHUP\n"
    "  --installer FILE        instead: serve this one installer (untagged) ...\n"
    "  --version TEXT          ... as version a.b.c.d, announced in the \"ver=\" line\n"
    "  --file-name NAME        ... under this download name (default TalvimorasterSetup-VERSION.exe)\n"
    "  --poll-ms N             how often release.txt is looked at (default 1000; 0: only on SIGHUP)\n"
    "  --settle-ms N           files changed less than N ms ago are not loaded yet (default 2000)\n"
    "Signing:\n"
    "  --signing-key FILE      ECDSA P-256 private key (PEM, from installer-tags keygen): every reply\n"
    "                          gets the lines sha256= and sig= after the four, signed for its rnd\n"
    "Network:\n"
    "  --listen ADDR           address to listen on (default 127.0.0.1; 0.0.0.0 or :: for all)\n"
    "  --port N                port (default 18352; 0 picks a free one)\n"
    "  --public-host HOST      HOST or HOST:PORT used in the \"url=\" line (default ADDR:PORT)\n"
    "  --trust-forwarded-for   log the client from the last X-Forwarded-For entry (behind a proxy only)\n"
    "  --max-connections N     connections held open at once (default 10000; a few KB each, no\n"
    "                          thread); more get 503\n"
    "  --request-timeout-ms N  a request must arrive within N ms (default 10000), else 408\n"
    "  --idle-timeout-ms N     a kept-alive connection idle for N ms is closed (default 5000)\n"
    "  --drain-ms N            on SIGINT/SIGTERM, answers under way get N ms to finish (default 30000)\n"
    "Tests:\n"
    "  --fault STAGE:KEY[=V]   misbehave on purpose; STAGE is version or installer; repeatable. Keys:\n"
    "                           status=N             answer HTTP status N with a short body\n"
    "                           body=TEXT            version: send TEXT instead (escapes \\r \\n \\t \\\\ \\xHH)\n"
    "                           version=TEXT         version: announce TEXT\n"
    "                           size-delta=N         version: announce size + N\n"
    "                           checksum-delta=N     version: announce checksum + N\n"
    "                           override=FILE        installer: serve FILE's bytes as they are\n"
    "                           truncate-after=N     close after N body bytes\n"
    "                           reset-after=N        reset the connection after N body bytes\n"
    "                           throttle=CHUNK/MS    send CHUNK bytes every MS milliseconds\n"
    "                           hang                 read the request, never answer\n"
    "                           hang-after=N         send headers and N body bytes, then hang\n"
    "  --help                  this text\n"
    "\n"
    "The first line on standard output is \"listening on ADDR:PORT\". SIGINT or SIGTERM stops the server\n"
    "once the answers under way are sent (within --drain-ms); SIGHUP reloads the release folder.\n";

namespace {

using Problem = std::optional<std::string>;

std::optional<std::int64_t> ParseCount(const std::string& text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::chrono::milliseconds> ParseMilliseconds(const std::string& text, std::int64_t low) {
  const auto count = ParseCount(text, low, 3'600'000);
  if (!count) return std::nullopt;
  return std::chrono::milliseconds(*count);
}

// The options so far, and which of the one-installer flags were given.
struct ParseState {
  EndpointOptions options;
  bool haveInstaller = false;
  bool haveVersion = false;
};

// Sets what `flag` says from `value` (empty for a switch); the problem, std::nullopt when it is set.
using FlagSetter = Problem (*)(const std::string& flag, const std::string& value, ParseState& state);

// A flag whose value is a name that only has to be there.
Problem SetNamed(std::string& field, const std::string& flag, const std::string& value, const char* what) {
  if (value.empty()) return flag + " needs " + what;
  field = value;
  return std::nullopt;
}

Problem SetTrustForwardedFor(const std::string&, const std::string&, ParseState& state) {
  state.options.trustForwardedFor = true;
  return std::nullopt;
}

Problem SetListen(const std::string& flag, const std::string& value, ParseState& state) {
  return SetNamed(state.options.address, flag, value, "an address");
}

Problem SetPort(const std::string&, const std::string& value, ParseState& state) {
  const auto port = ParseCount(value, 0, 65535);
  if (!port) return "--port must be a number 0..65535, got \"" + value + "\"";
  state.options.port = static_cast<int>(*port);
  return std::nullopt;
}

Problem SetPublicHost(const std::string&, const std::string& value, ParseState& state) {
  if (auto problem = CheckPublicHost(value)) return problem;
  state.options.publicHost = value;
  return std::nullopt;
}

Problem SetReleaseDir(const std::string& flag, const std::string& value, ParseState& state) {
  return SetNamed(state.options.releaseDir, flag, value, "a folder");
}

Problem SetInstaller(const std::string& flag, const std::string& value, ParseState& state) {
  if (auto problem = SetNamed(state.options.installerPath, flag, value, "a file")) return problem;
  state.haveInstaller = true;
  return std::nullopt;
}

Problem SetVersion(const std::string&, const std::string& value, ParseState& state) {
  if (auto problem = CheckVersionText(value)) return problem;
  state.options.versionText = value;
  state.haveVersion = true;
  return std::nullopt;
}

Problem SetFileName(const std::string&, const std::string& value, ParseState& state) {
  if (auto problem = CheckFileName(value)) return problem;
  state.options.fileName = value;
  return std::nullopt;
}

Problem SetSigningKey(const std::string& flag, const std::string& value, ParseState& state) {
  return SetNamed(state.options.signingKey, flag, value, "a file");
}

// --poll-ms, --settle-ms and --drain-ms, where 0 is allowed.
Problem SetPause(const std::string& flag, const std::string& value, ParseState& state) {
  const auto duration = ParseMilliseconds(value, 0);
  if (!duration) return flag + " must be 0..3600000 milliseconds, got \"" + value + "\"";
  EndpointOptions& options = state.options;
  (flag == "--poll-ms" ? options.poll : flag == "--settle-ms" ? options.settle : options.drain) = *duration;
  return std::nullopt;
}

// --request-timeout-ms and --idle-timeout-ms, at least 1.
Problem SetTimeout(const std::string& flag, const std::string& value, ParseState& state) {
  const auto duration = ParseMilliseconds(value, 1);
  if (!duration) return flag + " must be 1..3600000 milliseconds, got \"" + value + "\"";
  ServerLimits& limits = state.options.limits;
  (flag == "--request-timeout-ms" ? limits.requestTimeout : limits.idleTimeout) = *duration;
  return std::nullopt;
}

Problem SetMaxConnections(const std::string&, const std::string& value, ParseState& state) {
  const auto count = ParseCount(value, 1, 100'000);
  if (!count) return "--max-connections must be 1..100000, got \"" + value + "\"";
  state.options.limits.maxConnections = static_cast<std::size_t>(*count);
  return std::nullopt;
}

Problem SetFault(const std::string&, const std::string& value, ParseState& state) {
  return ApplyFaultFlag(value, state.options.faults);
}

struct FlagRule {
  std::string_view name;
  bool takesValue;  // false: a switch
  FlagSetter set;
};

const FlagRule kFlagRules[] = {
    {"--trust-forwarded-for", false, SetTrustForwardedFor},
    {"--listen", true, SetListen},
    {"--port", true, SetPort},
    {"--public-host", true, SetPublicHost},
    {"--release-dir", true, SetReleaseDir},
    {"--installer", true, SetInstaller},
    {"--version", true, SetVersion},
    {"--file-name", true, SetFileName},
    {"--poll-ms", true, SetPause},
    {"--signing-key", true, SetSigningKey},
    {"--settle-ms", true, SetPause},
    {"--max-connections", true, SetMaxConnections},
    {"--request-timeout-ms", true, SetTimeout},
    {"--idle-timeout-ms", true, SetTimeout},
    {"--drain-ms", true, SetPause},
    {"--fault", true, SetFault},
};

// One argument as "--flag=VALUE" or a bare flag.
struct SplitArgument {
  std::string flag;
  std::optional<std::string> inlineValue;
};

SplitArgument Split(const std::string& argument) {
  SplitArgument split{argument, std::nullopt};
  if (const std::size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
    split.inlineValue = argument.substr(equals + 1);
    split.flag.resize(equals);
  }
  return split;
}

// Applies the flag at arguments[i], stepping `i` over a value that follows it; the problem, std::nullopt
// when it applies.
Problem ApplyFlag(const std::vector<std::string>& arguments, std::size_t& i, const SplitArgument& split,
                  ParseState& state) {
  const auto rule = std::find_if(std::begin(kFlagRules), std::end(kFlagRules),
                                 [&](const FlagRule& known) { return known.name == split.flag; });
  if (rule == std::end(kFlagRules)) return "unknown argument \"" + arguments[i] + "\"";
  if (!rule->takesValue) {
    if (split.inlineValue) return split.flag + " takes no value";
    return rule->set(split.flag, {}, state);
  }
  if (!split.inlineValue && i + 1 >= arguments.size()) return split.flag + " needs a value";
  const std::string value = split.inlineValue ? *split.inlineValue : arguments[++i];
  return rule->set(split.flag, value, state);
}

// The release comes from a folder or from one installer with its version, never from both.
Problem CheckReleaseSource(const ParseState& state) {
  if (!state.options.releaseDir.empty()) {
    if (!state.haveInstaller && !state.haveVersion && state.options.fileName.empty()) return std::nullopt;
    return "--release-dir takes the installer, version and file name from its release.txt; "
           "drop --installer, --version and --file-name";
  }
  if (!state.haveInstaller) return "--release-dir DIR, or --installer FILE with --version TEXT, is required";
  if (!state.haveVersion) return "--version TEXT is required with --installer";
  return std::nullopt;
}

}  // namespace

ParsedOptions ParseEndpointOptions(const std::vector<std::string>& arguments) {
  ParsedOptions result;
  ParseState state;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const SplitArgument split = Split(arguments[i]);
    result.help = split.flag == "--help" || split.flag == "-h";
    if (result.help) return result;
    if (auto problem = ApplyFlag(arguments, i, split, state)) return ParsedOptions{{}, false, *problem};
  }
  if (auto problem = CheckReleaseSource(state)) return ParsedOptions{{}, false, *problem};
  result.options = std::move(state.options);
  return result;
}

}  // namespace isetup::endpoint
