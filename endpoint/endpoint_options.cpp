// Parses and checks the endpoint's flags; nothing is opened or read here except fault override files.
#include "endpoint/endpoint_options.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iterator>

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

std::optional<std::int64_t> ParseCount(const std::string& text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

ParsedOptions ParseEndpointOptions(const std::vector<std::string>& arguments) {
  ParsedOptions result;
  EndpointOptions options;
  bool haveInstaller = false;
  bool haveVersion = false;
  const auto fail = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string flag = arguments[i];
    std::optional<std::string> inlineValue;
    if (const std::size_t equals = flag.find('='); flag.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = flag.substr(equals + 1);
      flag.resize(equals);
    }
    if (flag == "--help" || flag == "-h") {
      result.help = true;
      return result;
    }
    // A flag without a value of its own is a switch.
    if (flag == "--trust-forwarded-for") {
      if (inlineValue) return fail("--trust-forwarded-for takes no value");
      options.trustForwardedFor = true;
      continue;
    }
    static const char* const kValued[] = {"--listen",  "--port",         "--public-host",     "--release-dir",
                                          "--installer", "--version",    "--file-name",       "--poll-ms",
                                          "--signing-key",
                                          "--settle-ms", "--max-connections", "--request-timeout-ms",
                                          "--idle-timeout-ms", "--drain-ms", "--fault"};
    if (std::find(std::begin(kValued), std::end(kValued), flag) == std::end(kValued)) {
      return fail("unknown argument \"" + arguments[i] + "\"");
    }
    if (!inlineValue && i + 1 >= arguments.size()) return fail(flag + " needs a value");
    const std::string value = inlineValue ? *inlineValue : arguments[++i];
    const auto milliseconds = [&](std::int64_t low) -> std::optional<std::chrono::milliseconds> {
      const auto count = ParseCount(value, low, 3'600'000);
      if (!count) return std::nullopt;
      return std::chrono::milliseconds(*count);
    };
    if (flag == "--listen") {
      if (value.empty()) return fail("--listen needs an address");
      options.address = value;
    } else if (flag == "--port") {
      const auto port = ParseCount(value, 0, 65535);
      if (!port) return fail("--port must be a number 0..65535, got \"" + value + "\"");
      options.port = static_cast<int>(*port);
    } else if (flag == "--public-host") {
      if (auto problem = CheckPublicHost(value)) return fail(*problem);
      options.publicHost = value;
    } else if (flag == "--release-dir") {
      if (value.empty()) return fail("--release-dir needs a folder");
      options.releaseDir = value;
    } else if (flag == "--installer") {
      if (value.empty()) return fail("--installer needs a file");
      options.installerPath = value;
      haveInstaller = true;
    } else if (flag == "--version") {
      if (auto problem = CheckVersionText(value)) return fail(*problem);
      options.versionText = value;
      haveVersion = true;
    } else if (flag == "--file-name") {
      if (auto problem = CheckFileName(value)) return fail(*problem);
      options.fileName = value;
    } else if (flag == "--signing-key") {
      if (value.empty()) return fail("--signing-key needs a file");
      options.signingKey = value;
    } else if (flag == "--poll-ms" || flag == "--settle-ms" || flag == "--drain-ms") {
      const auto duration = milliseconds(0);
      if (!duration) return fail(flag + " must be 0..3600000 milliseconds, got \"" + value + "\"");
      (flag == "--poll-ms" ? options.poll : flag == "--settle-ms" ? options.settle : options.drain) = *duration;
    } else if (flag == "--request-timeout-ms" || flag == "--idle-timeout-ms") {
      const auto duration = milliseconds(1);
      if (!duration) return fail(flag + " must be 1..3600000 milliseconds, got \"" + value + "\"");
      (flag == "--request-timeout-ms" ? options.limits.requestTimeout : options.limits.idleTimeout) = *duration;
    } else if (flag == "--max-connections") {
      const auto count = ParseCount(value, 1, 100'000);
      if (!count) return fail("--max-connections must be 1..100000, got \"" + value + "\"");
      options.limits.maxConnections = static_cast<std::size_t>(*count);
    } else if (flag == "--fault") {
      if (auto problem = ApplyFaultFlag(value, options.faults)) return fail(*problem);
    }
  }
  if (!options.releaseDir.empty()) {
    if (haveInstaller || haveVersion || !options.fileName.empty()) {
      return fail("--release-dir takes the installer, version and file name from its release.txt; "
                  "drop --installer, --version and --file-name");
    }
  } else {
    if (!haveInstaller) return fail("--release-dir DIR, or --installer FILE with --version TEXT, is required");
    if (!haveVersion) return fail("--version TEXT is required with --installer");
  }
  result.options = std::move(options);
  return result;
}

}  // namespace isetup::endpoint
