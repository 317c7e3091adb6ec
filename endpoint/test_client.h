// Test helper: a raw TCP client for 127.0.0.1 that sends exact bytes and reads whatever comes back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() { close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(const std::string& request) {
    return connected_ && send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
  }
  // Reads until `enough` bytes are in, the stream ends, or nothing comes for `idleMs`.
  void Read(RawResult& result, std::size_t enough, int idleMs = 10000) {
    char buffer[4096];
    while (result.received.size() < enough) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, idleMs) <= 0) {
        result.timedOut = true;
        return;
      }
      const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) {
        result.endError = count < 0 ? errno : 0;
        return;
      }
      result.received.append(buffer, static_cast<std::size_t>(count));
    }
  }
  void ReadToEnd(RawResult& result) { Read(result, std::string::npos); }

 private:
  int fd_;
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

}  // namespace isetup::endpoint::testing
