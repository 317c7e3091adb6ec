// The access log writer against a pipe whose reader stalls or goes away: serving never waits.
#include "endpoint/access_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "endpoint/test_client.h"

namespace isetup::endpoint {
namespace {

using Notices = testing::LineCollector;

TEST(AccessLogWriter, AStalledReaderCostsLinesNotTimeAndHearsHowMany) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  Notices notices;
  const std::string line(100, 'x');
  {
    AccessLogWriter writer(fds[1], 4096, notices.Sink());
    // Far more than the pipe (64 KiB) and the queue hold: Write returns each time all the same.
    for (int i = 0; i < 5000; ++i) writer.Write(line);
    EXPECT_GT(writer.Dropped(), 4000u);
    // The reader catches up; the next line that gets through brings the count with it.
    std::vector<char> sink(1 << 16);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string drained;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (drained.find("last\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      const ssize_t count = read(fds[0], sink.data(), sink.size());
      if (count > 0) {
        drained.append(sink.data(), static_cast<std::size_t>(count));
      } else {
        writer.Write("last");  // the pipe is empty: this one has room
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a pace for the loop, not a wait for an event
      }
    }
    EXPECT_NE(drained.find("last\n"), std::string::npos);
    EXPECT_EQ(drained.rfind(line + "\n", 0), 0u);  // whole lines only
    EXPECT_NE(notices.WaitForText("access log lines were dropped"), "");
  }
  close(fds[0]);
  close(fds[1]);
}

TEST(AccessLogWriter, AReaderThatLeftIsSaidOnceAndNeverEndsTheProcess) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);
  Notices notices;
  {
    AccessLogWriter writer(fds[1], 1 << 20, notices.Sink());
    writer.Write("first");
    EXPECT_NE(notices.WaitForText("cannot be written"), "");
    for (int i = 0; i < 100; ++i) writer.Write("more");
    EXPECT_GE(writer.Dropped(), 101u);
  }
  close(fds[1]);
}

// Lines that come at a server's pace (one every 50 us) go out in a few writes, not in one write (and
// one wake-up of the writer) each. A packet-mode pipe gives one write per read, so the reads count them.
TEST(AccessLogWriter, LinesAtAServersPaceGoOutInAFewWrites) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_DIRECT), 0);
  std::size_t writes = 0, received = 0;
  std::thread reader([&] {
    std::vector<char> packet(1 << 16);
    for (ssize_t count; (count = read(fds[0], packet.data(), packet.size())) > 0; ++writes) {
      received += static_cast<std::size_t>(count);
    }
  });
  constexpr int kLines = 400;
  std::size_t sent = 0;
  {
    AccessLogWriter writer(fds[1], 1 << 20, Notices().Sink());
    for (int i = 0; i < kLines; ++i) {
      const std::string line = "GET /version.php " + std::to_string(i);
      writer.Write(line);
      sent += line.size() + 1;
      std::this_thread::sleep_for(std::chrono::microseconds(50));  // the pace of the requests
    }
  }  // the destructor waits until the queue is out
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_EQ(received, sent);
  EXPECT_LT(writes, kLines / 4u) << "of " << kLines << " lines";
}

}  // namespace
}  // namespace isetup::endpoint
