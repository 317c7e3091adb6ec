// internetsetup-endpoint: serves one release of the Talvimoraster installer to the setup over plain HTTP,
// answering /version.php and the download, with optional faults for tests.
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "endpoint/endpoint_server.h"
#include "endpoint/fault_flags.h"
#include "payload/affiliate_tags.h"

namespace {

using isetup::endpoint::ReadWholeFile;
using isetup::endpoint::Stage;
using isetup::endpoint::StageFault;

constexpr const char* kUsage =
    "Usage: internetsetup-endpoint --installer FILE --version TEXT [options]\n"
    "\n"
    "Serves GET /version.php (the four-line version reply) and GET/HEAD /download/FILE-NAME (the installer\n"
    "with the request's affid and affsid stamped in). Logs each request to standard output.\n"
    "\n"
    "  --installer FILE       the current installer (untagged)\n"
    "  --version TEXT         its version a.b.c.d, announced in the \"ver=\" line\n"
    "  --listen ADDR          address to listen on (default 127.0.0.1)\n"
    "  --port N               port (default 18352; 0 picks a free one)\n"
    "  --public-host HOST     HOST or HOST:PORT used in the \"url=\" line (default ADDR:PORT)\n"
    "  --file-name NAME       download file name (default TalvimorasterSetup-VERSION.exe)\n"
    "  --fault STAGE:KEY[=V]  misbehave on purpose; STAGE is version or installer; repeatable. Keys:\n"
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
    "  --help                 this text\n"
    "\n"
    "The first line on standard output is \"listening on ADDR:PORT\". SIGINT or SIGTERM stops the server.\n";

struct Options {
  std::string address = "127.0.0.1";
  int port = isetup::endpoint::kDefaultPort;
  std::string installerPath;
  std::optional<std::string> versionText;
  std::string publicHost;
  std::string fileName;
  std::map<Stage, StageFault> faults;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "internetsetup-endpoint: " << message << "\n(see --help)\n";
  std::exit(2);
}

std::optional<int> ParsePort(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0 || value > 65535) {
    return std::nullopt;
  }
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bool haveInstaller = false;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    std::optional<std::string> value;
    // Both "--flag VALUE" and "--flag=VALUE".
    if (const std::size_t equals = flag.find('='); flag.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = flag.substr(equals + 1);
      flag.resize(equals);
    }
    if (flag == "--help" || flag == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    const auto take = [&]() -> std::string {
      if (value) return *value;
      if (i + 1 >= argc) UsageError(flag + " needs a value");
      return argv[++i];
    };
    if (flag == "--listen") {
      options.address = take();
      if (options.address.empty()) UsageError("--listen needs an address");
    } else if (flag == "--port") {
      const std::string text = take();
      const auto port = ParsePort(text);
      if (!port) UsageError("--port must be a number 0..65535, got \"" + text + "\"");
      options.port = *port;
    } else if (flag == "--installer") {
      options.installerPath = take();
      haveInstaller = true;
    } else if (flag == "--version") {
      options.versionText = take();
    } else if (flag == "--public-host") {
      options.publicHost = take();
      if (auto problem = isetup::endpoint::CheckPublicHost(options.publicHost)) UsageError(*problem);
    } else if (flag == "--file-name") {
      options.fileName = take();
    } else if (flag == "--fault") {
      if (auto problem = isetup::endpoint::ApplyFaultFlag(take(), options.faults)) UsageError(*problem);
    } else {
      UsageError("unknown argument \"" + std::string(argv[i]) + "\"");
    }
  }
  if (!haveInstaller || options.installerPath.empty()) UsageError("--installer FILE is required");
  if (!options.versionText) UsageError("--version TEXT is required");
  return options;
}


// Stamping needs both tags well formed; say so once at start rather than on every download.
void WarnAboutTags(const std::vector<std::uint8_t>& installer) {
  const auto tags = isetup::FindAffiliateTags(installer);
  for (const auto& [marker, tag] : {std::pair{isetup::kAffidMarker, tags.affid}, std::pair{isetup::kAffsidMarker, tags.affsid}}) {
    std::optional<std::string> problem;
    if (!tag) {
      problem = "the installer holds no \"" + std::string(marker) + "\" tag";
    } else {
      problem = isetup::CheckTagHeader(installer, marker, tag->markerOffset);
    }
    if (problem) std::cerr << "internetsetup-endpoint: warning: " << *problem << "; downloads keep its value as it is\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);

  auto installer = ReadWholeFile(options.installerPath);
  if (!installer) {
    std::cerr << "internetsetup-endpoint: cannot read the installer \"" << options.installerPath << "\"\n";
    return 1;
  }
  isetup::endpoint::Release release{*options.versionText, std::move(*installer), options.fileName};
  if (auto problem = isetup::endpoint::CheckRelease(release)) UsageError(*problem);
  WarnAboutTags(release.installer);

  // The signals are taken by sigwait below; blocked before any thread starts, so every thread inherits it.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  isetup::endpoint::Server server(std::move(release), options.publicHost);
  for (auto& [stage, fault] : options.faults) server.SetFault(stage, std::move(fault));
  const int port = server.Start(options.address, options.port);
  if (port < 0) {
    std::cerr << "internetsetup-endpoint: cannot listen on " << options.address << ":" << options.port << "\n";
    return 1;
  }
  const bool ipv6 = options.address.find(':') != std::string::npos;
  std::printf("listening on %s%s%s:%d\n", ipv6 ? "[" : "", options.address.c_str(), ipv6 ? "]" : "", port);
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.Stop();
  return 0;
}
