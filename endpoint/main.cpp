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

namespace {

// The release to serve first, and, from a release folder, what the watcher must know of it.
struct FirstRelease {
  Release release;
  std::optional<FolderStamp> stamp;
  isetup::Sha256Digest sha256{};
};

std::optional<FirstRelease> LoadFromFolder(const std::string& folder) {
  // The first load takes the folder as it is: nothing is served yet that could be kept instead.
  LoadedRelease loaded = LoadReleaseFolder(folder, std::chrono::system_clock::now(), std::chrono::milliseconds(0));
  if (!loaded.release) {
    Say("cannot load the release folder " + folder + ": " + loaded.error);
    return std::nullopt;
  }
  return FirstRelease{std::move(*loaded.release), loaded.stamp, loaded.sha256};
}

std::optional<FirstRelease> LoadFirstRelease(const EndpointOptions& options) {
  if (!options.releaseDir.empty()) return LoadFromFolder(options.releaseDir);
  auto installer = ReadWholeFile(options.installerPath);
  if (!installer) {
    Say("cannot read the installer \"" + options.installerPath + "\"");
    return std::nullopt;
  }
  Release release{options.versionText, std::move(*installer), options.fileName};
  if (auto problem = CheckRelease(release)) UsageError(*problem);
  return FirstRelease{std::move(release), std::nullopt, {}};
}

// The signer of the replies: null without a key; std::nullopt when the key cannot be loaded.
std::optional<std::shared_ptr<const ReplySigner>> LoadSigner(const std::string& keyPath) {
  if (keyPath.empty()) return std::shared_ptr<const ReplySigner>();
  ReplySigner::Loaded loaded = ReplySigner::Load(keyPath);
  if (!loaded.signer) {
    Say(loaded.error);
    return std::nullopt;
  }
  return std::move(loaded.signer);
}

void PrepareProcess() {
  // A reader of standard output that goes away must not end the server: writes then fail instead.
  signal(SIGPIPE, SIG_IGN);
  // One descriptor per open connection: take what the hard limit allows (1024 is the usual soft one).
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

void Configure(Server& server, const EndpointOptions& options, std::shared_ptr<const ReplySigner> signer) {
  server.SetTrustForwardedFor(options.trustForwardedFor);
  server.SetReplySigner(std::move(signer));
  for (const auto& [stage, fault] : options.faults) server.SetFault(stage, fault);
}

// The line that tells a starting script where the endpoint listens, on standard output.
void AnnounceListening(const std::string& address, int port) {
  const bool ipv6 = address.find(':') != std::string::npos;
  std::printf("listening on %s%s%s:%d\n", ipv6 ? "[" : "", address.c_str(), ipv6 ? "]" : "", port);
  std::fflush(stdout);
}

std::string Summary(const Release& release) {
  return release.versionText + " (" + ReleaseFileName(release) + ", " + std::to_string(release.installer.size()) +
         " bytes)";
}

std::unique_ptr<ReleaseWatcher> WatchFolder(const EndpointOptions& options, Server& server, const FirstRelease& first,
                                            const std::string& servedFile) {
  if (options.releaseDir.empty()) return nullptr;
  auto watcher = std::make_unique<ReleaseWatcher>(
      options.releaseDir, options.settle, server.CurrentVersionText(), first.stamp,
      [&server](Release next) {
        WarnAboutTags(next.installer);
        server.SetRelease(std::move(next));
      },
      Say, servedFile, first.sha256);
  watcher->Start(options.poll);
  return watcher;
}

// Runs the signal loop until SIGINT or SIGTERM; each SIGHUP reloads the release folder.
void AwaitStop(boost::asio::io_context& signalLoop, boost::asio::signal_set& signals, ReleaseWatcher* watcher) {
  std::function<void(const boost::system::error_code&, int)> onSignal = [&](const boost::system::error_code& error,
                                                                             int number) {
    if (error) return;
    if (number != SIGHUP) return;  // SIGINT, SIGTERM: the loop ends and the server drains
    if (watcher) {
      watcher->RequestReload();
    } else {
      Say("SIGHUP: serving one installer file, there is no release folder to reload");
    }
    signals.async_wait(onSignal);
  };
  signals.async_wait(onSignal);
  signalLoop.run();
}

// Serves `first` until a stop signal, then drains.
int Serve(const EndpointOptions& options, FirstRelease first, std::shared_ptr<const ReplySigner> signer) {
  WarnAboutTags(first.release.installer);
  const std::string servedFile = ReleaseFileName(first.release);
  const std::string summary = Summary(first.release);
  PrepareProcess();
  // The signals arrive through the loop of this thread, serving runs on the server's own threads;
  // taken from here on, before anyone can know the port and send one.
  boost::asio::io_context signalLoop;
  boost::asio::signal_set signals(signalLoop, SIGINT, SIGTERM, SIGHUP);
  Server server(std::move(first.release), options.publicHost, options.limits);
  const bool signing = signer != nullptr;
  Configure(server, options, std::move(signer));
  const int port = server.Start(options.address, options.port);
  if (port < 0) {
    Say("cannot listen on " + options.address + ":" + std::to_string(options.port));
    return 1;
  }
  AnnounceListening(options.address, port);
  Say("serving release " + summary + (signing ? ", replies signed with " + options.signingKey : ""));
  const std::unique_ptr<ReleaseWatcher> watcher = WatchFolder(options, server, first, servedFile);
  AwaitStop(signalLoop, signals, watcher.get());
  if (watcher) watcher->Stop();
  if (!server.Drain(options.drain)) Say("stopping: answers still under way after --drain-ms were cut");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseEndpointOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.help) {
    std::cout << kEndpointUsage;
    return 0;
  }
  if (!parsed.options) UsageError(parsed.error);
  std::optional<FirstRelease> first = LoadFirstRelease(*parsed.options);
  if (!first) return 1;
  std::optional<std::shared_ptr<const ReplySigner>> signer = LoadSigner(parsed.options->signingKey);
  if (!signer) return 1;
  return Serve(*parsed.options, std::move(*first), std::move(*signer));
}
