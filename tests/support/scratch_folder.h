// A folder of its own for one test: made empty when the test starts, removed with all it holds at its end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>  // getpid, which mingw-w64 has too

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace isetup::testing {

// The running test's "Suite.Name" with "/" (parameterised tests) made "_": a file name of its own.
inline std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

class ScratchFolder {
 public:
  // `path` emptied and made; left behind at the end when the environment variable `keepIfSet` is set
  // (for looking at a failed run's files).
  explicit ScratchFolder(std::filesystem::path path, const char* keepIfSet = nullptr)
      : path_(std::move(path)), keep_(keepIfSet && std::getenv(keepIfSet)) {
    MakeEmpty();
  }
  ~ScratchFolder() {
    std::error_code ignored;  // a file a test still holds open must not turn the end into a crash
    if (!keep_) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // In the user's temp folder, named by `prefix`, the process (test runs of other build trees share
  // /tmp) and the running test.
  static std::filesystem::path ForTest(std::string_view prefix) {
    return std::filesystem::temp_directory_path() /
           (std::string(prefix) + "_" + std::to_string(::getpid()) + "_" + CurrentTestName());
  }

  // Removes everything inside, for a test that goes through several cases in turn.
  void MakeEmpty() const {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }

  const std::filesystem::path& path() const { return path_; }
  operator const std::filesystem::path&() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
  std::string string() const { return path_.string(); }
  std::wstring wstring() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
  bool keep_;
};

}  // namespace isetup::testing
