// The endpoint's server: owns the routes, the access log and the settings every connection reads,
// and runs the listener on an event loop with threads of its own until Stop or Drain.
#include "endpoint/endpoint_server.h"

#include <algorithm>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "endpoint/listener.h"

namespace isetup::endpoint {
namespace {

// "127.0.0.1:8080", "[::1]:8080".
std::string HostText(const std::string& address, int port) {
  const bool ipv6 = address.find(':') != std::string::npos;
  return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

RequestRecord RecordOf(const HttpRequest& request) {
  RequestRecord record;
  record.method = request.method;
  record.path = request.path;
  record.query = request.query;
  for (const auto& [key, value] : request.params) record.params.emplace(key, value);  // keeps the first
  return record;
}

}  // namespace

// The event loops, one per thread, and the listener that hands each connection to one of them. A
// loop of its own per thread means that no thread ever has to wake another for a connection's work.
struct Server::Network {
  Network(const Server& server, unsigned threadCount) {
    const unsigned count = threadCount != 0 ? threadCount : std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < count; ++i) {
      loops.push_back(std::make_unique<boost::asio::io_context>(1));  // run by one thread
      keepRunning.emplace_back(loops.back()->get_executor());
    }
    std::vector<boost::asio::io_context*> loopPointers;
    for (const auto& loop : loops) loopPointers.push_back(loop.get());
    listener = std::make_unique<Listener>(std::move(loopPointers), server);
  }

  void Run() {
    listener->Start();
    for (const auto& loop : loops) threads.emplace_back([&loop = *loop] { loop.run(); });
  }
  // After the listener's Stop: each loop ends once the closes posted to it have run.
  void Join() {
    keepRunning.clear();
    for (std::thread& thread : threads) {
      if (thread.joinable()) thread.join();
    }
    threads.clear();
  }

  std::vector<std::unique_ptr<boost::asio::io_context>> loops;
  // A loop with no connection yet must not end its thread.
  std::vector<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> keepRunning;
  std::unique_ptr<Listener> listener;
  std::vector<std::thread> threads;
};

Server::Server(Release release, std::string publicHost, ServerLimits limits)
    : limits_(limits), routes_(std::move(release), std::move(publicHost)) {}

Server::~Server() { Stop(); }

void Server::SetRelease(Release release) { routes_.SetRelease(std::move(release)); }
std::string Server::CurrentVersionText() const { return routes_.CurrentVersionText(); }
void Server::SetPublicHost(std::string publicHost) { routes_.SetPublicHost(std::move(publicHost)); }
std::string Server::PublicHost() const { return routes_.PublicHost(); }
void Server::SetTrustForwardedFor(bool trust) { log_.SetTrustForwardedFor(trust); }
void Server::SetReplySigner(std::shared_ptr<const ReplySigner> signer) { routes_.SetReplySigner(std::move(signer)); }
void Server::SetFault(Stage stage, StageFault fault) { routes_.SetFault(stage, std::move(fault)); }
void Server::ClearFaults() { routes_.ClearFaults(); }
void Server::SetLogSink(std::function<void(const std::string&)> sink) { log_.SetSink(std::move(sink)); }

void Server::SetHangLimit(std::chrono::milliseconds limit) {
  std::lock_guard lock(mutex_);
  hangLimit_ = std::clamp(limit, std::chrono::milliseconds(0), kMaxHang);
}

void Server::SetRequestObserver(std::function<void(const RequestRecord&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

int Server::Start(const std::string& address, int port) {
  {
    std::lock_guard lock(mutex_);
    if (started_ || stopping_) return -1;
    started_ = true;
  }
  auto network = std::make_unique<Network>(*this, limits_.threads);
  const int bound = network->listener->Bind(address, port);
  if (bound < 0) {
    std::lock_guard lock(mutex_);
    started_ = false;
    return -1;
  }
  routes_.SetBoundHost(HostText(address, bound));
  log_.UseStandardOutputUnlessSunk();
  network_ = std::move(network);
  network_->Run();
  return bound;
}

bool Server::Drain(std::chrono::milliseconds grace) {
  draining_ = true;
  const bool drained = !network_ || stopping_ || network_->listener->Drain(grace);
  Stop();
  return drained;
}

void Server::Stop() {
  stopping_ = true;
  if (!network_) return;
  network_->listener->Stop();
  network_->Join();
}

Response Server::Route(const HttpRequest& request, bool last) const { return routes_.Answer(request, last); }

void Server::Log(const std::string& peer, const HttpRequest* request, int status, std::size_t bodyBytes) const {
  log_.Write(peer, request, status, bodyBytes);
}

void Server::Observe(const HttpRequest& request) const {
  std::function<void(const RequestRecord&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(RecordOf(request));
}

std::chrono::steady_clock::time_point Server::HangDeadline() const {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::now() + hangLimit_;
}

}  // namespace isetup::endpoint
