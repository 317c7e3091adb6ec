// Which target gets which answer: /version.php the reply (signed when a key is set), /download/ the
// installer with the request's tags stamped in, /healthz a short status, anything else an error page;
// each with the stage's fault applied.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "endpoint/http_request.h"
#include "endpoint/http_response.h"
#include "endpoint/release_catalog.h"
#include "endpoint/reply_signer.h"
#include "endpoint/stage_fault.h"

namespace isetup::endpoint {

inline constexpr std::string_view kVersionPath = "/version.php";
inline constexpr std::string_view kHealthPath = "/healthz";

// What a request gets: the status, the headers of our own and the body, plus the transport faults to
// apply while sending it. Made by the routes, sent by the connection.
struct Response {
  int status = 200;
  std::string contentType;
  std::vector<std::pair<std::string, std::string>> extra;  // further headers, in order
  bool close = false;  // "Connection: close", and the connection ends after it
  ResponseBody body;
  StageFault transport;  // only the cuts, the throttle and the hangs are looked at
  bool hang = false;     // read, never answered
};

// The text of a status page: "404 Not Found: detail" and CR LF.
std::string StatusPage(int status, std::string_view detail = {});

// A text/plain answer with the status page of `status`.
Response StatusResponse(int status, std::string_view detail = {});

// Why a text cannot stand as "host[:port]" in the reply's url line, std::nullopt when it can
// (CheckReplyHost).
[[nodiscard]] std::optional<std::string> CheckPublicHost(std::string_view host);

// The routes with what they answer from: the release catalog, the public host, the signer and the
// faults. Thread affinity: any thread.
class Routes {
 public:
  // Throws std::invalid_argument when CheckRelease or CheckPublicHost refuses the arguments.
  Routes(Release release, std::string publicHost);

  void SetRelease(Release release) { catalog_.Set(std::move(release)); }
  std::string CurrentVersionText() const { return catalog_.Snapshot()->current->versionText; }
  // Empty: the bound host stands for it. Throws as the constructor does.
  void SetPublicHost(std::string publicHost);
  void SetBoundHost(std::string boundHost);
  std::string PublicHost() const;
  void SetReplySigner(std::shared_ptr<const ReplySigner> signer);
  void SetFault(Stage stage, StageFault fault);
  void ClearFaults();

  // The answer to one request that may be answered (GET or HEAD); `last`: the response closes the
  // connection.
  Response Answer(const HttpRequest& request, bool last) const;

 private:
  struct Target;

  Response Choose(const HttpRequest& request) const;
  Response StageAnswer(const HttpRequest& request, const Target& target, const StageFault& fault) const;
  Response VersionAnswer(const HttpRequest& request, const ServedRelease& release, const StageFault& fault) const;
  std::optional<std::string> Signed(std::string reply, const ServedRelease& release, const HttpRequest& request) const;
  StageFault FaultOf(Stage stage) const;
  std::shared_ptr<const ReplySigner> ReplySignerInUse() const;

  ReleaseCatalog catalog_;
  mutable std::mutex mutex_;
  std::string publicHost_;
  std::string boundHost_;
  std::map<Stage, StageFault> faults_;
  std::shared_ptr<const ReplySigner> signer_;
};

}  // namespace isetup::endpoint
