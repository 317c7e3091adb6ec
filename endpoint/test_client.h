// Test helpers: a raw TCP client for 127.0.0.1 that sends exact bytes and reads whatever comes back,
// slow clients, and a collector of log lines to wait on.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/unique_fd_posix.h"

namespace isetup::endpoint::testing {

// What a raw client saw on one connection.
struct RawResult {
  std::string received;
  int endError = 0;     // errno of the failed read that ended it; 0 for an orderly end of stream
  bool timedOut = false;
  std::size_t headerEnd() const {
    const std::size_t end = received.find("\r\n\r\n");
    return end == std::string::npos ? std::string::npos : end + 4;
  }
  std::string body() const { return headerEnd() == std::string::npos ? "" : received.substr(headerEnd()); }
};

class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(const std::string& request) {
    return connected_ && send(fd_.get(), request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  }
  // Reads until `enough` bytes are in, the stream ends, or nothing comes for `idleMs`.
  void Read(RawResult& result, std::size_t enough, int idleMs = 10000) {
    char buffer[4096];
    while (result.received.size() < enough) {
      pollfd ready{fd_.get(), POLLIN, 0};
      if (poll(&ready, 1, idleMs) <= 0) {
        result.timedOut = true;
        return;
      }
      const ssize_t count = recv(fd_.get(), buffer, sizeof buffer, 0);
      if (count <= 0) {
        result.endError = count < 0 ? errno : 0;
        return;
      }
      result.received.append(buffer, static_cast<std::size_t>(count));
    }
  }
  void ReadToEnd(RawResult& result) { Read(result, std::string::npos); }

 private:
  UniqueFd fd_;
  bool connected_ = false;
};

inline std::string GetRequest(const std::string& target, const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// One response of those a connection received, split by its Content-Length.
struct Response {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// The responses in `received`, in order; a HEAD's response has no body whatever its Content-Length.
// A response cut short ends the list.
inline std::vector<Response> ParseResponses(std::string received, bool headOnly = false) {
  std::vector<Response> responses;
  while (true) {
    const std::size_t end = received.find("\r\n\r\n");
    if (received.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return responses;
    Response response;
    response.status = std::stoi(received.substr(9, 3));
    for (std::size_t at = received.find("\r\n") + 2; at < end;) {
      const std::size_t next = received.find("\r\n", at);
      const std::string line = received.substr(at, next - at);
      const std::size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      response.headers[name] = line.substr(colon + 2);
      at = next + 2;
    }
    const std::size_t length =
        headOnly || !response.headers.count("content-length") ? 0 : std::stoul(response.headers["content-length"]);
    if (received.size() < end + 4 + length) return responses;
    response.body = received.substr(end + 4, length);
    received.erase(0, end + 4 + length);
    responses.push_back(std::move(response));
  }
}

// Holds `slowCount` clients that sent one byte of a request and nothing more, and meanwhile asks
// /healthz `probes` times, each on a fresh connection: every probe must be answered 200.
inline void ExpectAnsweredBesideSlowClients(int port, int slowCount = 300, int probes = 20) {
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < slowCount; ++i) {
    slow.push_back(std::make_unique<RawConnection>(port));
    ASSERT_TRUE(slow.back()->Send("G"));
  }
  for (int probe = 0; probe < probes; ++probe) {
    RawConnection connection(port);
    ASSERT_TRUE(connection.Send(GetRequest("/healthz")));
    RawResult result;
    connection.Read(result, 12, 5000);
    EXPECT_EQ(result.received.rfind("HTTP/1.1 200", 0), 0u) << "probe " << probe << ": " << result.received;
  }
}

// Collects lines (a log sink, a notice callback) and lets a test wait for them.
class LineCollector {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
      changed_.notify_all();
    };
  }
  // The lines once there are `count`, or all there are after 10 s.
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return lines_.size() >= count; });
    return lines_;
  }
  // The first line holding `text`; empty when none comes within 10 s.
  std::string WaitForText(const std::string& text) {
    std::unique_lock lock(mutex_);
    std::string found;
    changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      for (const auto& line : lines_) {
        if (found.empty() && line.find(text) != std::string::npos) found = line;
      }
      return !found.empty();
    });
    return found;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

}  // namespace isetup::endpoint::testing
