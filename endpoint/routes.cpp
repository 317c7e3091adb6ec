// The routes of the endpoint: the version reply, the stamped download, the health check and the
// error pages, with the stage's fault put in place of or around the answer.
#include "endpoint/routes.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include <boost/beast/http/status.hpp>

#include "payload/tag_fields.h"
#include "update/version_reply_format.h"

namespace isetup::endpoint {
namespace {

bool AllOf(std::string_view text, bool (*accept)(char)) { return std::all_of(text.begin(), text.end(), accept); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Why a value of a key that the setup sends with a fixed form is malformed; std::nullopt when it is not.
std::optional<std::string> CheckParam(const std::string& key, const std::string& value) {
  if (key == "ISetupVer" && !(value.size() == 8 && AllOf(value, IsHexDigit))) {
    return "ISetupVer must be eight hexadecimal digits";
  }
  if (key == "rnd" && !(!value.empty() && value.size() <= 10 && AllOf(value, IsDigit))) {
    return "rnd must be a decimal number";
  }
  return std::nullopt;
}

// The keys that the setup sends with a fixed form; a value of another form is a malformed query.
// The version request must carry both, as every setup sends them. The affiliate tags are not judged
// here: a bad tag only leaves the download untagged.
std::optional<std::string> CheckQuery(const HttpRequest& request, Stage stage) {
  for (const auto& [key, value] : request.params) {
    if (auto problem = CheckParam(key, value)) return problem;
  }
  if (stage == Stage::Version) {
    if (!request.Param("ISetupVer")) return "the query lacks ISetupVer";
    if (!request.Param("rnd")) return "the query lacks rnd";
  }
  return std::nullopt;
}

Response TextResponse(const std::string& text) {
  Response response;
  response.contentType = "text/plain";
  response.body = ResponseBody{std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end()), {}};
  return response;
}

Response NoStore(Response response) {
  response.extra.emplace_back("Cache-Control", "no-store");
  return response;
}

Response HangResponse() {
  Response response;
  response.hang = true;
  return response;
}

// The four lines for `release`, with the fault's changes to what they announce.
std::string UnsignedReply(const ServedRelease& release, const StageFault& fault, const std::string& publicHost) {
  const std::int64_t size = static_cast<std::int64_t>(release.installer->size()) + fault.sizeDelta;
  const auto checksum = static_cast<std::int32_t>(static_cast<std::uint32_t>(release.checksum) +
                                                  static_cast<std::uint32_t>(fault.checksumDelta));
  // The size of a release fits (CheckRelease); a fault's delta is a few bytes.
  return FormatVersionReply(fault.versionText.value_or(release.versionText), static_cast<std::int32_t>(size),
                            checksum, publicHost + release.downloadPath);
}

// The request's tags, each on its own: an installer whose other tag is missing or damaged still
// gets this one.
std::vector<BodyPatch> TagPatches(const HttpRequest& request, const ServedRelease& release) {
  std::vector<BodyPatch> patches;
  for (const auto& [key, offset] : {std::pair{"affid", release.affidValue}, std::pair{"affsid", release.affsidValue}}) {
    const auto value = request.Param(key);
    if (offset && value && IsValidTagValue(*value)) patches.push_back(BodyPatch{*offset, *value});
  }
  return patches;
}

Response DownloadResponse(const HttpRequest& request, const ServedRelease& release, const StageFault& fault) {
  Response response;
  response.contentType = "application/octet-stream";
  if (fault.installerOverride) {
    response.body.bytes = std::make_shared<const std::vector<std::uint8_t>>(*fault.installerOverride);
  } else {
    response.body = ResponseBody{release.installer, TagPatches(request, release)};
  }
  return response;
}

}  // namespace

struct Routes::Target {
  Stage stage;
  const ServedRelease* release;

  // The stage and release that `path` names, std::nullopt when it names none.
  static std::optional<Target> Of(const Catalog& catalog, std::string_view path) {
    if (path == kVersionPath) return Target{Stage::Version, catalog.current.get()};
    if (const ServedRelease* named = catalog.ByDownloadPath(path)) return Target{Stage::Installer, named};
    return std::nullopt;
  }
};

std::string StatusPage(int status, std::string_view detail) {
  const auto reason = boost::beast::http::obsolete_reason(boost::beast::http::int_to_status(static_cast<unsigned>(status)));
  return std::to_string(status) + " " + std::string(reason.data(), reason.size()) +
         (detail.empty() ? "" : ": " + std::string(detail)) + "\r\n";
}

Response StatusResponse(int status, std::string_view detail) {
  Response response = TextResponse(StatusPage(status, detail));
  response.status = status;
  return response;
}

std::optional<std::string> CheckPublicHost(std::string_view host) {
  if (auto problem = CheckReplyHost(host)) {
    return "the public host \"" + std::string(host) + "\" is not HOST or HOST:PORT (no scheme, no path): " + *problem;
  }
  return std::nullopt;
}

Routes::Routes(Release release, std::string publicHost) : catalog_(std::move(release)) {
  SetPublicHost(std::move(publicHost));
}

void Routes::SetPublicHost(std::string publicHost) {
  if (!publicHost.empty()) {
    if (auto problem = CheckPublicHost(publicHost)) throw std::invalid_argument(*problem);
  }
  std::lock_guard lock(mutex_);
  publicHost_ = std::move(publicHost);
}

void Routes::SetBoundHost(std::string boundHost) {
  std::lock_guard lock(mutex_);
  boundHost_ = std::move(boundHost);
}

std::string Routes::PublicHost() const {
  std::lock_guard lock(mutex_);
  return publicHost_.empty() ? boundHost_ : publicHost_;
}

void Routes::SetReplySigner(std::shared_ptr<const ReplySigner> signer) {
  std::lock_guard lock(mutex_);
  signer_ = std::move(signer);
}

void Routes::SetFault(Stage stage, StageFault fault) {
  std::lock_guard lock(mutex_);
  faults_[stage] = std::move(fault);
}

void Routes::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

Response Routes::Answer(const HttpRequest& request, bool last) const {
  Response response = Choose(request);
  response.close = last;
  return response;
}

Response Routes::Choose(const HttpRequest& request) const {
  const auto catalog = catalog_.Snapshot();
  if (request.path == kHealthPath) return NoStore(TextResponse("ok " + catalog->current->versionText + "\n"));
  const std::optional<Target> target = Target::Of(*catalog, request.path);
  if (!target) return StatusResponse(404);
  if (auto problem = CheckQuery(request, target->stage)) return StatusResponse(400, *problem);
  const StageFault fault = FaultOf(target->stage);
  if (fault.hang) return HangResponse();
  Response response = fault.status != 0 ? StatusResponse(fault.status) : StageAnswer(request, *target, fault);
  response.transport = fault;
  response.transport.installerOverride.reset();
  return response;
}

Response Routes::StageAnswer(const HttpRequest& request, const Target& target, const StageFault& fault) const {
  if (target.stage == Stage::Version) return VersionAnswer(request, *target.release, fault);
  return DownloadResponse(request, *target.release, fault);
}

Response Routes::VersionAnswer(const HttpRequest& request, const ServedRelease& release, const StageFault& fault) const {
  const std::optional<std::string> reply =
      fault.body ? fault.body : Signed(UnsignedReply(release, fault, PublicHost()), release, request);
  if (!reply) return StatusResponse(500, "the reply cannot be signed");
  return NoStore(TextResponse(*reply));
}

// The reply holds for this request's rnd alone (CheckQuery made sure there is one). Unchanged without
// a signer; std::nullopt when it cannot be signed.
std::optional<std::string> Routes::Signed(std::string reply, const ServedRelease& release,
                                          const HttpRequest& request) const {
  const auto signer = ReplySignerInUse();
  if (!signer) return reply;
  if (!release.sha256) return std::nullopt;
  return FormatSignedVersionReply(reply, *release.sha256, *request.Param("rnd"),
                                  [&signer](std::string_view message) { return signer->Sign(message); });
}

StageFault Routes::FaultOf(Stage stage) const {
  std::lock_guard lock(mutex_);
  const auto found = faults_.find(stage);
  return found == faults_.end() ? StageFault{} : found->second;
}

std::shared_ptr<const ReplySigner> Routes::ReplySignerInUse() const {
  std::lock_guard lock(mutex_);
  return signer_;
}

}  // namespace isetup::endpoint
