// The owner template releases each value once, through the traits that came with it, and never after a
// move or a release; the descriptor owner closes what it holds.
#include "base/unique_owner.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/unique_fd_posix.h"

namespace isetup {
namespace {

// Writes "tag:value" for every close, so a test sees which traits object released what.
struct RecordingTraits {
  std::vector<std::string>* closed = nullptr;
  char tag = '?';
  using Value = int;
  static int Invalid() noexcept { return 0; }
  static bool IsValid(int value) noexcept { return value > 0; }
  void Close(int value) const noexcept { closed->push_back(std::string(1, tag) + ":" + std::to_string(value)); }
};
using Recorded = UniqueOwner<RecordingTraits>;

TEST(UniqueOwner, ReleasesEachValueOnceThroughItsOwnTraits) {
  struct Case {
    const char* name;
    std::function<void(std::vector<std::string>&)> run;
    std::vector<std::string> closed;
  };
  const auto traits = [](std::vector<std::string>& log, char tag) { return RecordingTraits{&log, tag}; };
  const Case cases[] = {
      {"ends with its scope", [&](auto& log) { Recorded a(1, traits(log, 'a')); }, {"a:1"}},
      {"moved-from closes nothing",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         Recorded b(std::move(a));
         EXPECT_FALSE(a.valid());
       },
       {"a:1"}},
      {"move-assigned releases its own value first, with its own traits",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         Recorded b(2, traits(log, 'b'));
         b = std::move(a);
         EXPECT_EQ(log, std::vector<std::string>{"b:2"});
       },
       {"b:2", "a:1"}},
      {"self move keeps the value",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         Recorded& same = a;
         a = std::move(same);
         EXPECT_EQ(a.get(), 1);
       },
       {"a:1"}},
      {"reset to the value held keeps it",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         a.reset(1);
       },
       {"a:1"}},
      {"reset to another releases the old one",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         a.reset(2);
         EXPECT_EQ(log, std::vector<std::string>{"a:1"});
       },
       {"a:1", "a:2"}},
      {"released values are the caller's",
       [&](auto& log) {
         Recorded a(1, traits(log, 'a'));
         EXPECT_EQ(a.release(), 1);
       },
       {}},
      {"invalid values are never released",
       [&](auto& log) {
         Recorded a(-1, traits(log, 'a'));
         Recorded b(0, traits(log, 'b'));
         EXPECT_FALSE(a || b);
       },
       {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> log;
    c.run(log);
    EXPECT_EQ(log, c.closed) << c.name;
  }
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesItsDescriptorOnceWhoeverHoldsIt) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  {
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    UniqueFd moved(std::move(reader));
    EXPECT_TRUE(IsOpen(ends[0]));
    EXPECT_EQ(moved.get(), ends[0]);
    writer.reset();
    EXPECT_FALSE(IsOpen(ends[1]));
  }
  EXPECT_FALSE(IsOpen(ends[0]));
  EXPECT_FALSE(UniqueFd(-1).valid());
}

}  // namespace
}  // namespace isetup
