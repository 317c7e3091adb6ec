// Formats access log lines in the common log format, writes them out on a thread of their own, and
// routes the server's lines to a test's sink or to standard output.
#include "endpoint/access_log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <thread>

#include "base/lower_hex.h"
#include "endpoint/utc_text.h"

namespace isetup::endpoint {
namespace {

// How long the writer lets lines gather once the first of a batch is in.
constexpr auto kGatherTime = std::chrono::milliseconds(5);

bool NeedsEscape(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\';
}

void AppendEscaped(std::string& out, std::string_view text) {
  while (!text.empty()) {
    // The plain run up to the next byte to escape goes in at once.
    const std::size_t plain = static_cast<std::size_t>(std::find_if(text.begin(), text.end(), NeedsEscape) - text.begin());
    out.append(text.substr(0, plain));
    if (plain == text.size()) return;
    out += "\\x" + HexDigits(static_cast<unsigned char>(text[plain]), 2, HexCase::kUpper);
    text.remove_prefix(plain + 1);
  }
}

// The entry of one exchange, as of now, without its outcome.
AccessLogEntry EntryOf(const std::string& peer, const HttpRequest* request, bool trust) {
  AccessLogEntry entry;
  entry.remoteAddress = peer;
  if (request) {
    if (trust) entry.remoteAddress = ForwardedClient(*request).value_or(peer);
    entry.method = request->method;
    entry.target = request->target;
    entry.version = request->version;
  }
  entry.time = std::chrono::system_clock::now();
  return entry;
}

// "[08/Dec/2026:21:00:00 +0000]".
std::string TimeStamp(std::chrono::system_clock::time_point time) {
  return FormatUtcOncePerSecond(time, [](const std::tm& utc) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:%02d:%02d +0000]", utc.tm_mday,
                  kUtcMonthNames[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return std::string(stamp);
  });
}

void AppendRequestLine(std::string& line, const AccessLogEntry& entry) {
  if (entry.method.empty() && entry.target.empty() && entry.version.empty()) {
    line += '-';  // no request line could be read (a time-out, a refused connection)
    return;
  }
  AppendEscaped(line, entry.method);
  line += ' ';
  AppendEscaped(line, entry.target);
  line += ' ';
  AppendEscaped(line, entry.version);
}

}  // namespace

std::string FormatAccessLogLine(const AccessLogEntry& entry) {
  std::string line;
  AppendEscaped(line, entry.remoteAddress.empty() ? std::string_view("-") : std::string_view(entry.remoteAddress));
  line += " - - " + TimeStamp(entry.time) + " \"";
  AppendRequestLine(line, entry);
  line += "\" ";
  line += entry.status == 0 ? std::string("-") : std::to_string(entry.status);
  line += ' ';
  line += entry.bodyBytes == 0 ? std::string("-") : std::to_string(entry.bodyBytes);
  return line;
}

struct AccessLogWriter::State {
  int fd;
  std::size_t maxQueuedBytes;
  std::function<void(const std::string&)> notice;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string queued;  // whole lines, each ended by "\n"
  std::uint64_t dropped = 0;
  std::uint64_t droppedReported = 0;
  bool failed = false;  // the descriptor refused a write: the reader is gone
  bool stopping = false;
  bool exited = false;
  bool idle = false;  // the writer waits for a first line: only then does a line wake it

  // Whether to stop waiting for room: one second after the writer was asked to stop.
  bool GiveUp(std::chrono::steady_clock::time_point& giveUpAt) {
    std::lock_guard lock(mutex);
    if (stopping && giveUpAt == std::chrono::steady_clock::time_point::max()) {
      giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
    return std::chrono::steady_clock::now() >= giveUpAt;
  }

  // Writes all of `text`, waiting for room at most until the writer is asked to stop and then one
  // more second; false when the descriptor fails or stays full.
  bool WriteOut(const std::string& text) {
    std::size_t done = 0;
    auto giveUpAt = std::chrono::steady_clock::time_point::max();
    while (done < text.size()) {
      pollfd ready{fd, POLLOUT, 0};
      const int polled = poll(&ready, 1, 100);
      if (polled < 0 && errno != EINTR) return false;
      if (polled <= 0) {
        if (GiveUp(giveUpAt)) return false;
        continue;
      }
      const ssize_t count = write(fd, text.data() + done, text.size() - done);
      if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (count <= 0) return false;
      done += static_cast<std::size_t>(count);
    }
    return true;
  }

  // Writes one batch of lines (the lock held on entry and on return, released while writing), counts
  // what is lost and says so; false when the writer must end (stopping, and the batch did not go out).
  bool WriteBatch(std::unique_lock<std::mutex>& lock) {
    std::string batch;
    batch.swap(queued);
    const bool alreadyFailed = failed;
    lock.unlock();
    const bool written = !alreadyFailed && WriteOut(batch);
    lock.lock();
    const std::string message = written ? Recovered() : Lost(batch, alreadyFailed);
    if (!message.empty() && notice) {
      lock.unlock();
      notice(message);
      lock.lock();
    }
    return !(stopping && !written);
  }

  // After a batch went out: the notice of the lines dropped since the last notice, if any.
  std::string Recovered() {
    if (dropped == droppedReported) return {};
    const std::string message = std::to_string(dropped - droppedReported) +
                                " access log lines were dropped: the reader of the log did not keep up";
    droppedReported = dropped;
    return message;
  }

  // After a batch was lost: counts its lines; the notice when the descriptor has just failed for good.
  std::string Lost(const std::string& batch, bool alreadyFailed) {
    dropped += static_cast<std::uint64_t>(std::count(batch.begin(), batch.end(), '\n'));
    if (alreadyFailed || (errno != EPIPE && errno != EBADF)) return {};
    failed = true;
    return "the access log cannot be written (" + std::string(std::strerror(errno)) + "); its lines are dropped from now on";
  }

  void Run() {
    std::unique_lock lock(mutex);
    while (true) {
      idle = true;
      changed.wait(lock, [&] { return stopping || !queued.empty(); });
      idle = false;
      // The lines of a busy moment gather into one write, so the requests wake this thread once per
      // batch rather than once per line; a stop or a half-full queue ends the gathering.
      changed.wait_for(lock, kGatherTime, [&] { return stopping || queued.size() >= maxQueuedBytes / 2; });
      if (queued.empty() || !WriteBatch(lock)) break;
    }
    exited = true;
    changed.notify_all();
  }
};

AccessLogWriter::AccessLogWriter(int fd, std::size_t maxQueuedBytes, std::function<void(const std::string&)> notice)
    : state_(std::make_shared<State>()) {
  state_->fd = fd;
  state_->maxQueuedBytes = maxQueuedBytes;
  state_->notice = std::move(notice);
  std::thread([state = state_] {
    // A write to a pipe whose reader is gone then fails with EPIPE instead of ending the process.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    state->Run();
  }).detach();
}

AccessLogWriter::~AccessLogWriter() {
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  state_->changed.notify_all();
  // Bounded: WriteOut gives up one second after the stop; the thread keeps the state alive.
  state_->changed.wait_for(lock, std::chrono::seconds(3), [&] { return state_->exited; });
}

void AccessLogWriter::Write(std::string_view line) {
  bool wake = false;
  {
    std::lock_guard lock(state_->mutex);
    const std::size_t before = state_->queued.size();
    if (state_->failed || before + line.size() + 1 > state_->maxQueuedBytes) {
      ++state_->dropped;
      return;
    }
    state_->queued.append(line);
    state_->queued += '\n';
    const std::size_t half = state_->maxQueuedBytes / 2;
    wake = state_->idle || (before < half && state_->queued.size() >= half);
    state_->idle = false;  // one wake-up is enough
  }
  if (wake) state_->changed.notify_one();
}

std::uint64_t AccessLogWriter::Dropped() const {
  std::lock_guard lock(state_->mutex);
  return state_->dropped;
}

std::optional<std::string> ForwardedClient(const HttpRequest& request) {
  std::optional<std::string> last;
  for (const auto& [name, value] : request.headers) {
    if (name.size() == 15 && strncasecmp(name.c_str(), "X-Forwarded-For", 15) == 0) last = value;
  }
  if (!last) return std::nullopt;
  std::string entry = last->substr(last->rfind(',') == std::string::npos ? 0 : last->rfind(',') + 1);
  entry.erase(0, entry.find_first_not_of(" \t"));
  entry.erase(entry.find_last_not_of(" \t") + 1);
  unsigned char scratch[sizeof(in6_addr)];
  if (inet_pton(AF_INET, entry.c_str(), scratch) == 1 || inet_pton(AF_INET6, entry.c_str(), scratch) == 1) {
    return entry;
  }
  return std::nullopt;
}

void AccessLog::SetTrustForwardedFor(bool trust) {
  std::lock_guard lock(mutex_);
  trustForwardedFor_ = trust;
}

void AccessLog::SetSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void AccessLog::UseStandardOutputUnlessSunk() {
  std::lock_guard lock(mutex_);
  if (sink_) return;
  writer_ = std::make_unique<AccessLogWriter>(STDOUT_FILENO, 4 * 1024 * 1024, [](const std::string& notice) {
    std::cerr << "internetsetup-endpoint: " + notice + "\n" << std::flush;
  });
}

void AccessLog::Write(const std::string& peer, const HttpRequest* request, int status, std::size_t bodyBytes) const {
  bool trust = false;
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(mutex_);
    trust = trustForwardedFor_;
    sink = sink_;
  }
  AccessLogEntry entry = EntryOf(peer, request, trust);
  entry.status = status;
  entry.bodyBytes = bodyBytes;
  const std::string line = FormatAccessLogLine(entry);
  if (sink) {
    sink(line);
  } else if (writer_) {
    writer_->Write(line);
  }
}

}  // namespace isetup::endpoint
