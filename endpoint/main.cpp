// internetsetup-endpoint: serves the current release of the Talvimoraster installer to the setup over
// plain HTTP, answering /version.php and the download, from a watched release folder or one file.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "endpoint/endpoint_options.h"
#include "endpoint/endpoint_server.h"
#include "endpoint/fault_flags.h"
#include "endpoint/release_folder.h"
#include "endpoint/reply_signer.h"
#include "payload/tag_fields.h"

namespace {

using namespace isetup::endpoint;

// Operator messages go to standard error; standard output carries the request log alone.
void Say(const std::string& message) { std::cerr << "internetsetup-endpoint: " << message << std::endl; }

[[noreturn]] void UsageError(const std::string& message) {
  std::cerr << "internetsetup-endpoint: " << message << "\n(see --help)\n";
  std::exit(2);
}

// Stamping needs both tags well formed; say so once per release rather than on every download.
void WarnAboutTags(const std::vector<std::uint8_t>& installer) {
  const auto tags = isetup::FindAffiliateTags(installer);
  for (const auto& [marker, tag] :
       {std::pair{isetup::kAffidMarker, tags.affid}, std::pair{isetup::kAffsidMarker, tags.affsid}}) {
    std::optional<std::string> problem;
    if (!tag) {
      problem = "the installer holds no \"" + std::string(marker) + "\" tag";
    } else {
      problem = isetup::CheckTagHeader(installer, marker, tag->markerOffset);
    }
    if (problem) Say("warning: " + *problem + "; downloads keep its value as it is");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseEndpointOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.help) {
    std::cout << kEndpointUsage;
    return 0;
  }
  if (!parsed.options) UsageError(parsed.error);
  const EndpointOptions& options = *parsed.options;

  Release release;
  std::optional<FolderStamp> loadedStamp;
  isetup::Sha256Digest loadedSha256{};
  if (!options.releaseDir.empty()) {
    // The first load takes the folder as it is: nothing is served yet that could be kept instead.
    LoadedRelease loaded = LoadReleaseFolder(options.releaseDir, std::chrono::system_clock::now(),
                                             std::chrono::milliseconds(0));
    if (!loaded.release) {
      Say("cannot load the release folder " + options.releaseDir + ": " + loaded.error);
      return 1;
    }
    release = std::move(*loaded.release);
    loadedStamp = loaded.stamp;
    loadedSha256 = loaded.sha256;
  } else {
    auto installer = ReadWholeFile(options.installerPath);
    if (!installer) {
      Say("cannot read the installer \"" + options.installerPath + "\"");
      return 1;
    }
    release = Release{options.versionText, std::move(*installer), options.fileName};
    if (auto problem = CheckRelease(release)) UsageError(*problem);
  }
  std::shared_ptr<const ReplySigner> signer;
  if (!options.signingKey.empty()) {
    ReplySigner::Loaded loaded = ReplySigner::Load(options.signingKey);
    if (!loaded.signer) {
      Say(loaded.error);
      return 1;
    }
    signer = std::move(loaded.signer);
  }
  WarnAboutTags(release.installer);
  const std::string servedFile = ReleaseFileName(release);
  const std::string summary = release.versionText + " (" + ReleaseFileName(release) + ", " +
                              std::to_string(release.installer.size()) + " bytes)";

  // A reader of standard output that goes away must not end the server: writes then fail instead.
  signal(SIGPIPE, SIG_IGN);
  // One descriptor per open connection: take what the hard limit allows (1024 is the usual soft one).
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  // The signals arrive through the loop of this thread, serving runs on the server's own threads;
  // taken from here on, before anyone can know the port and send one.
  boost::asio::io_context signalLoop;
  boost::asio::signal_set signals(signalLoop, SIGINT, SIGTERM, SIGHUP);
  Server server(std::move(release), options.publicHost, options.limits);
  server.SetTrustForwardedFor(options.trustForwardedFor);
  server.SetReplySigner(signer);
  for (const auto& [stage, fault] : options.faults) server.SetFault(stage, fault);
  const int port = server.Start(options.address, options.port);
  if (port < 0) {
    Say("cannot listen on " + options.address + ":" + std::to_string(options.port));
    return 1;
  }
  const bool ipv6 = options.address.find(':') != std::string::npos;
  std::printf("listening on %s%s%s:%d\n", ipv6 ? "[" : "", options.address.c_str(), ipv6 ? "]" : "", port);
  std::fflush(stdout);
  Say("serving release " + summary + (signer ? ", replies signed with " + options.signingKey : ""));

  std::unique_ptr<ReleaseWatcher> watcher;
  if (!options.releaseDir.empty()) {
    watcher = std::make_unique<ReleaseWatcher>(
        options.releaseDir, options.settle, server.CurrentVersionText(), loadedStamp,
        [&server](Release next) {
          WarnAboutTags(next.installer);
          server.SetRelease(std::move(next));
        },
        Say, servedFile, loadedSha256);
    watcher->Start(options.poll);
  }

  std::function<void(const boost::system::error_code&, int)> onSignal = [&](const boost::system::error_code& error,
                                                                             int number) {
    if (error) return;
    if (number != SIGHUP) return;  // SIGINT, SIGTERM: the loop ends and the server drains below
    if (watcher) {
      watcher->RequestReload();
    } else {
      Say("SIGHUP: serving one installer file, there is no release folder to reload");
    }
    signals.async_wait(onSignal);
  };
  signals.async_wait(onSignal);
  signalLoop.run();
  if (watcher) watcher->Stop();
  if (!server.Drain(options.drain)) Say("stopping: answers still under way after --drain-ms were cut");
  return 0;
}
