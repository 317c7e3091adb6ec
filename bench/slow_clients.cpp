// Bench tool: holds N slow clients open against a server (each sends one byte of a request a second)
// while a legitimate client asks PATH every 20 ms; prints how many of those were answered and how fast.
//   slow_clients PORT COUNT SECONDS PATH
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// One request on a fresh connection; the time to the first byte of the answer, or a negative value
// when none came within a second.
double Probe(int port, const std::string& path) {
  const auto start = Clock::now();
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = Loopback(port);
  double result = -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd ready{fd, POLLIN, 0};
    char head[16] = {};
    if (poll(&ready, 1, 1000) == 1 && recv(fd, head, sizeof head - 1, 0) >= 12 &&
        std::string(head).rfind("HTTP/1.1 200", 0) == 0) {
      result = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
  }
  close(fd);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: slow_clients PORT COUNT SECONDS PATH\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int count = std::atoi(argv[2]);
  const int seconds = std::atoi(argv[3]);
  const std::string path = argv[4];
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  std::vector<int> slow;
  const sockaddr_in address = Loopback(port);
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    slow.push_back(fd);
  }
  const std::string request = "GET /version.php?ISetupVer=02340000&rnd=1 HTTP/1.1\r\nHost: bench\r\n\r\n";
  std::vector<double> latencies;
  int probes = 0;
  std::size_t sent = 0;
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  auto nextByte = Clock::now();
  while (Clock::now() < end) {
    if (Clock::now() >= nextByte) {
      // One more byte of the request on every slow connection; never the whole head.
      const char byte = request[std::min(sent, request.size() - 5)];
      for (const int fd : slow) send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      ++sent;
      nextByte += std::chrono::seconds(1);
    }
    ++probes;
    const double latency = Probe(port, path);
    if (latency >= 0) latencies.push_back(latency);
    poll(nullptr, 0, 20);
  }
  int open = 0;
  for (const int fd : slow) {
    char scratch;
    // Still held by the server: nothing to read yet, no end of stream.
    if (recv(fd, &scratch, 1, MSG_DONTWAIT | MSG_PEEK) < 0) ++open;
    close(fd);
  }
  std::sort(latencies.begin(), latencies.end());
  const auto within = std::count_if(latencies.begin(), latencies.end(), [](double ms) { return ms <= 100; });
  const auto at = [&](double q) { return latencies.empty() ? -1.0 : latencies[static_cast<std::size_t>(q * (latencies.size() - 1))]; };
  std::printf("slow %zu held %d probes %d answered %zu within_100ms %ld p50_ms %.2f p99_ms %.2f\n", slow.size(), open,
              probes, latencies.size(), static_cast<long>(within), at(0.5), at(0.99));
  return 0;
}
