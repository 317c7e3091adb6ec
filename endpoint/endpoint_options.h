// The command line of internetsetup-endpoint.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "endpoint/endpoint_server.h"

namespace isetup::endpoint {

extern const char* const kEndpointUsage;

struct EndpointOptions {
  std::string address = "127.0.0.1";
  int port = kDefaultPort;
  std::string publicHost;  // empty: the bound address and port
  // The release comes either from a folder (watched and reloaded) or from one installer file.
  std::string releaseDir;
  std::string installerPath;
  std::string versionText;
  std::string fileName;
  std::string signingKey;  // PEM private key that signs every reply; empty: the four lines alone
  std::chrono::milliseconds poll{1000};
  std::chrono::milliseconds settle{2000};
  // On SIGINT or SIGTERM the answers under way may take this long to finish.
  std::chrono::milliseconds drain{30000};
  ServerLimits limits;
  bool trustForwardedFor = false;
  std::map<Stage, StageFault> faults;
};

struct ParsedOptions {
  std::optional<EndpointOptions> options;
  bool help = false;  // --help: print kEndpointUsage and exit 0
  std::string error;  // neither: why the command line is refused
};

// The arguments after the program name. Both "--flag VALUE" and "--flag=VALUE".
ParsedOptions ParseEndpointOptions(const std::vector<std::string>& arguments);

}  // namespace isetup::endpoint
