// The reference version endpoint: answers /version.php with the four-line reply and serves the current
// installer with the request's affiliate tags stamped in, optionally misbehaving on purpose for tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace isetup::endpoint {

inline constexpr std::string_view kVersionPath = "/version.php";
inline constexpr std::string_view kDownloadPrefix = "/download/";
inline constexpr int kDefaultPort = 18352;
// Upper bound of every hang; a hang ends earlier when the server stops.
inline constexpr std::chrono::milliseconds kMaxHang = std::chrono::seconds(300);

// What the endpoint offers: the current installer and its version text.
struct Release {
  std::string versionText;              // e.g. "2.53.0.0"; must pack to a nonzero version
  std::vector<std::uint8_t> installer;  // the untagged installer as the vendor delivers it
  std::string fileName;                 // last part of the download path; empty: "TalvimorasterSetup-<ver>.exe"
};

// The file name a release is served under (its own, or the default made from the version).
std::string ReleaseFileName(const Release& release);

// Why a release cannot be served (bad version text, unsafe file name, empty or oversized installer),
// std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckRelease(const Release& release);

// Why a text cannot stand as "host[:port]" in the reply's url line, std::nullopt when it can.
[[nodiscard]] std::optional<std::string> CheckPublicHost(std::string_view host);

enum class Stage { Version, Installer };

// How one stage misbehaves; the default behaves. Transport faults (truncate, reset, throttle, hang)
// apply to whatever body the stage sends, the reply, a status page or the installer.
struct StageFault {
  int status = 0;                           // answer this HTTP status instead, with a short body
  std::optional<std::string> body;          // version stage: send these raw bytes instead of the reply
  std::int64_t sizeDelta = 0;               // version stage: announce size + delta
  std::int32_t checksumDelta = 0;           // version stage: announce checksum + delta (wrapping)
  std::optional<std::string> versionText;   // version stage: announce this version instead
  std::optional<std::size_t> truncateAfter; // announce the whole length, close after N body bytes
  std::optional<std::size_t> resetAfter;    // abort the connection with a reset after N body bytes
  std::size_t throttleChunk = 0;            // with throttleDelayMs: send chunk bytes every delay ms
  int throttleDelayMs = 0;
  bool hang = false;                        // read the request, never answer (until Stop or the hang limit)
  std::optional<std::size_t> hangAfter;     // send headers and N body bytes, then hang
  std::optional<std::vector<std::uint8_t>> installerOverride;  // installer stage: serve these bytes verbatim
};

// One request as it arrived, recorded before it is answered.
struct RequestRecord {
  std::string method;
  std::string path;    // decoded path
  std::string query;   // raw text after "?", empty when none
  std::map<std::string, std::string> params;  // decoded; the first value of a repeated key
};

class Server {
 public:
  // Throws std::invalid_argument when CheckRelease or CheckPublicHost refuses the arguments.
  // An empty public host stands for the address and port that Start binds.
  Server(Release release, std::string publicHost);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Replaces the release for the requests that arrive afterwards; throws std::invalid_argument as above.
  void SetRelease(Release release);
  void SetPublicHost(std::string publicHost);
  std::string PublicHost() const;
  void SetFault(Stage stage, StageFault fault);
  void ClearFaults();
  // Shortens the bound of every hang (never beyond kMaxHang).
  void SetHangLimit(std::chrono::milliseconds limit);
  // Where the access log goes, one line per call; the default writes to standard output and flushes.
  void SetLogSink(std::function<void(const std::string& line)> sink);

  // Binds address:port (0: an ephemeral port) and serves on a thread of its own.
  // Returns the bound port, or -1 when binding fails or the server was started before.
  [[nodiscard]] int Start(const std::string& address, int port);
  // Releases every hanging or throttled handler, stops listening and joins. Idempotent; a stopped
  // server does not start again. Start and Stop belong to one thread (the owner's).
  void Stop();

  std::vector<RequestRecord> Requests() const;  // in arrival order
  // Waits until at least `count` requests have arrived; false on time-out.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct ServedRelease;

  void Handle(const httplib::Request& request, httplib::Response& response);
  void Record(const httplib::Request& request);
  void Log(const httplib::Request& request, const httplib::Response& response);
  std::shared_ptr<const ServedRelease> CurrentRelease() const;
  StageFault FaultOf(Stage stage) const;
  void AnswerVersion(const httplib::Request& request, httplib::Response& response, const ServedRelease& release,
                     const StageFault& fault);
  void AnswerInstaller(const httplib::Request& request, httplib::Response& response, const ServedRelease& release,
                       const StageFault& fault);
  void HangWithoutAnswer(const httplib::Request& request, httplib::Response& response);
  void SendBody(const httplib::Request& request, httplib::Response& response, std::shared_ptr<const std::string> body,
                const std::string& contentType, const StageFault& fault);
  // Waits until Stop or `deadline`; true when the server is stopping.
  bool WaitUntilStopping(std::chrono::steady_clock::time_point deadline) const;
  std::chrono::steady_clock::time_point HangDeadline() const;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::shared_ptr<const ServedRelease> release_;
  std::string publicHost_;
  std::string boundHost_;
  std::map<Stage, StageFault> faults_;
  std::chrono::milliseconds hangLimit_ = kMaxHang;
  std::vector<RequestRecord> requests_;
  bool stopping_ = false;
  bool started_ = false;
  bool listenEnded_ = false;

  std::mutex logMutex_;
  std::function<void(const std::string&)> logSink_;

  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
};

}  // namespace isetup::endpoint
