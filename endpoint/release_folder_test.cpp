// The release folder: its manifest, loading a release only when it is whole, and the watcher that
// publishes a new one and keeps the old one otherwise. Time is passed in, never waited for.
#include "endpoint/release_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "endpoint/test_installer.h"
#include "tests/support/scratch_folder.h"

namespace isetup::endpoint {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using SystemClock = std::chrono::system_clock;

constexpr milliseconds kSettle{2000};

TEST(Manifest, TakesTheDocumentedForm) {
  struct Case {
    std::string text;
    Manifest expected;
  };
  const Case cases[] = {
      {"version=2.53.0.0\nfile=TalvimorasterSetup-2.53.0.0.exe\nsize=1\nsha256=" + std::string(62, '0') + "aF\n",
       {"2.53.0.0", "TalvimorasterSetup-2.53.0.0.exe", 1, Sha256Digest{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAF}}},
      {"# current release\r\n\r\nfile=a.exe\r\nversion=1.0.0.0\r\nsize=14178100", {"1.0.0.0", "a.exe", 14178100, {}}},
      {"version=255.255.255.255\nfile=A_b-1.exe\nsize=2147483647\n\n", {"255.255.255.255", "A_b-1.exe", 2147483647, {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedManifest parsed = ParseManifest(c.text);
    ASSERT_TRUE(parsed.manifest) << parsed.error;
    EXPECT_EQ(parsed.manifest->versionText, c.expected.versionText);
    EXPECT_EQ(parsed.manifest->fileName, c.expected.fileName);
    EXPECT_EQ(parsed.manifest->size, c.expected.size);
    EXPECT_EQ(parsed.manifest->sha256, c.expected.sha256);
  }
}

TEST(Manifest, RefusesAnythingElseAndSaysWhere) {
  struct Case {
    std::string text;
    const char* says;
  };
  const Case cases[] = {
      {"", "no \"version=\""},
      {"file=a.exe\n", "no \"version=\""},
      {"version=2.53.0.0\n", "no \"file=\""},
      {"version=2.53.0.0\nfile=a.exe\nfile=b.exe\n", "line 3"},
      {"version=2.53.0.0\nversion=2.54.0.0\nfile=a.exe\n", "twice"},
      {"version=2.53.0.0\nfile=a.exe\nsize=1\nsize=1\n", "twice"},
      {"version=2.53.0.0\nfile=a.exe\n", "no \"size=\""},  // a stalled copy would pass for whole
      {"version=2.53.0.0\nfile=a.exe\nsize=1\nsha256=" + std::string(63, 'a') + "\n", "64 hexadecimal"},
      {"version=2.53.0.0\nfile=a.exe\nsize=1\nsha256=" + std::string(63, 'a') + "g\n", "64 hexadecimal"},
      {"Version=2.53.0.0\nfile=a.exe\n", "unknown key \"Version\""},
      {"version=2.53.0.0\nfile=a.exe\nchecksum=1\n", "unknown key"},
      {"version = 2.53.0.0\nfile=a.exe\n", "line 1"},
      {"version=2.53.0.0 \nfile=a.exe\n", "blanks"},
      {" version=2.53.0.0\nfile=a.exe\n", "blanks"},
      {"version=2.53.0\nfile=a.exe\n", "2.53.0"},
      {"version=2.300.0.0\nfile=a.exe\n", "0..255"},
      {"version=0.0.0.0\nfile=a.exe\n", "nonzero"},
      {"version=2.53.0.0\nfile=../a.exe\n", "../a.exe"},
      {"version=2.53.0.0\nfile=sub/a.exe\n", "sub/a.exe"},
      {"version=2.53.0.0\nfile=.hidden\n", "dot"},
      {"version=2.53.0.0\nfile=\n", "file name"},
      {"version=2.53.0.0\nfile=a.exe\nsize=0\n", "size"},
      {"version=2.53.0.0\nfile=a.exe\nsize=-5\n", "size"},
      {"version=2.53.0.0\nfile=a.exe\nsize=12kB\n", "size"},
      {"version=2.53.0.0\nfile=a.exe\nsize=2147483648\n", "size"},
      {"\xEF\xBB\xBFversion=2.53.0.0\nfile=a.exe\n", "ASCII"},  // a byte-order mark
      {"version=2.53.0.0\nfile=a.exe\njust text\n", "line 3: not key=value"},
      {"version=2.53.0.0\nfile=a.exe\n=x\n", "line 3: unknown key \"\""},
      {"version=2.53.0.0\tx\nfile=a.exe\n", "ASCII"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedManifest parsed = ParseManifest(c.text);
    EXPECT_FALSE(parsed.manifest);
    EXPECT_NE(parsed.error.find(c.says), std::string::npos) << parsed.error;
  }
}

// A release folder of its own under the temp folder, removed afterwards.
class ReleaseFolderTest : public ::testing::Test {
 public:
  void TearDown() override { fs::remove(Outside()); }

  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes, bool append = false) {
    std::ofstream out(folder_ / name, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  fs::path Outside() const { return folder_.string() + "-outside.exe"; }
  void WriteManifest(const std::string& text) { Write(std::string(kManifestName), {text.begin(), text.end()}); }
  static std::string ManifestFor(const std::string& file, const std::vector<std::uint8_t>& bytes,
                                 const std::string& version = "2.53.0.0") {
    return "version=" + version + "\nfile=" + file + "\nsize=" + std::to_string(bytes.size()) + "\n";
  }
  // The moment at which everything in the folder has rested for the settle time.
  SystemClock::time_point Settled() const {
    SystemClock::time_point latest{};
    for (const auto& entry : fs::directory_iterator(folder_)) {
      struct stat info {};
      stat(entry.path().c_str(), &info);
      const auto mtime = std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec);
      latest = std::max(latest, SystemClock::time_point(std::chrono::duration_cast<SystemClock::duration>(mtime)));
    }
    return latest + kSettle;
  }

  isetup::testing::ScratchFolder folder_{isetup::testing::ScratchFolder::ForTest("release_folder")};
};

TEST_F(ReleaseFolderTest, LoadsTheNamedInstallerWhole) {
  const auto installer = testing::MakeInstaller();
  Write("Setup-2.53.0.0.exe", installer);
  WriteManifest("version=2.53.0.0\nfile=Setup-2.53.0.0.exe\nsize=" + std::to_string(installer.size()) + "\n");
  const LoadedRelease loaded = LoadReleaseFolder(folder_, Settled(), kSettle);
  ASSERT_TRUE(loaded.release) << loaded.error;
  EXPECT_EQ(loaded.release->versionText, "2.53.0.0");
  EXPECT_EQ(loaded.release->fileName, "Setup-2.53.0.0.exe");
  EXPECT_EQ(loaded.release->installer, installer);
  EXPECT_EQ(loaded.stamp, StampReleaseFolder(folder_));
  EXPECT_EQ(loaded.stamp.installer.size, static_cast<std::int64_t>(installer.size()));
}

TEST_F(ReleaseFolderTest, RefusesFoldersThatHoldNoWholeRelease) {
  const auto installer = testing::MakeInstaller(100, 100);
  struct Case {
    const char* name;
    std::function<void(ReleaseFolderTest&)> arrange;
    const char* says;
  };
  const Case cases[] = {
      {"no manifest", [](ReleaseFolderTest&) {}, "release.txt"},
      {"bad manifest", [](ReleaseFolderTest& t) { t.WriteManifest("version=2.53\nfile=a.exe\n"); }, "line 1"},
      {"no installer", [](ReleaseFolderTest& t) { t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=1\n"); }, "a.exe"},
      {"installer is a folder",
       [](ReleaseFolderTest& t) {
         fs::create_directory(t.folder_ / "a.exe");
         t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=1\n");
       },
       "not a regular file"},
      {"empty installer",
       [](ReleaseFolderTest& t) {
         t.Write("a.exe", {});
         t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=1\n");
       },
       "has 0 bytes"},
      {"short installer",
       [&](ReleaseFolderTest& t) {
         t.Write("a.exe", std::vector<std::uint8_t>(installer.begin(), installer.begin() + 50));
         t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=" + std::to_string(installer.size()) + "\n");
       },
       "has 50 bytes, the manifest says size="},
      {"link out of the folder",
       [&](ReleaseFolderTest& t) {
         const fs::path outside = t.Outside();
         std::ofstream(outside, std::ios::binary).write(reinterpret_cast<const char*>(installer.data()),
                                                         static_cast<std::streamsize>(installer.size()));
         fs::create_symlink(outside, t.folder_ / "a.exe");
         t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=" + std::to_string(installer.size()) + "\n");
       },
       "symbolic link"},
      {"other SHA-256",
       [&](ReleaseFolderTest& t) {
         t.Write("a.exe", installer);
         t.WriteManifest("version=2.53.0.0\nfile=a.exe\nsize=" + std::to_string(installer.size()) + "\nsha256=" +
                         std::string(64, '0') + "\n");
       },
       "the manifest says sha256=0000"},
      {"oversized manifest",
       [](ReleaseFolderTest& t) { t.WriteManifest("version=2.53.0.0\nfile=a.exe\n#" + std::string(5000, 'x') + "\n"); },
       "larger than 4096"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder_.MakeEmpty();
    c.arrange(*this);
    const LoadedRelease loaded = LoadReleaseFolder(folder_, Settled(), kSettle);
    EXPECT_FALSE(loaded.release);
    EXPECT_FALSE(loaded.settlesAt);
    EXPECT_NE(loaded.error.find(c.says), std::string::npos) << loaded.error;
  }
}

TEST_F(ReleaseFolderTest, AFreshlyWrittenFileWaitsUntilItHasRested) {
  const auto installer = testing::MakeInstaller(100, 100);
  Write("a.exe", installer);
  WriteManifest(ManifestFor("a.exe", installer));
  const auto settled = Settled();
  const LoadedRelease early = LoadReleaseFolder(folder_, settled - milliseconds(1), kSettle);
  EXPECT_FALSE(early.release);
  EXPECT_EQ(early.settlesAt, settled);
  EXPECT_NE(early.error.find("waiting"), std::string::npos) << early.error;
  EXPECT_TRUE(LoadReleaseFolder(folder_, settled, kSettle).release);
  // Without a settle time a fresh file loads at once (the first load at start).
  EXPECT_TRUE(LoadReleaseFolder(folder_, settled - kSettle, milliseconds(0)).release);
}

// The watcher with everything it publishes and reports collected.
class WatcherTest : public ReleaseFolderTest {
 protected:
  void SetUp() override {
    ReleaseFolderTest::SetUp();
    Write("Setup-1.exe", first_);
    WriteManifest(ManifestFor("Setup-1.exe", first_));
    const LoadedRelease initial = LoadReleaseFolder(folder_, SystemClock::now(), milliseconds(0));
    ASSERT_TRUE(initial.release) << initial.error;
    watcher_ = std::make_unique<ReleaseWatcher>(
        folder_, kSettle, "2.53.0.0", initial.stamp,
        [this](Release release) {
          std::lock_guard lock(mutex_);
          published_.push_back(std::move(release));
          changed_.notify_all();
        },
        [this](const std::string& line) {
          std::lock_guard lock(mutex_);
          reports_.push_back(line);
        },
        "Setup-1.exe", initial.sha256);
  }
  std::vector<Release> Published() {
    std::lock_guard lock(mutex_);
    return published_;
  }
  std::vector<std::string> Reports() {
    std::lock_guard lock(mutex_);
    return reports_;
  }

  const std::vector<std::uint8_t> first_ = testing::MakeInstaller(200, 300);
  const std::vector<std::uint8_t> second_ = testing::MakeInstaller(5000, 7000);
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Release> published_;
  std::vector<std::string> reports_;
  std::unique_ptr<ReleaseWatcher> watcher_;
};

TEST_F(WatcherTest, PublishesAnEditedManifestOnceAndIgnoresAnUnchangedFolder) {
  EXPECT_FALSE(watcher_->Check(Settled(), false));  // what is served already
  Write("Setup-2.exe", second_);
  WriteManifest(ManifestFor("Setup-2.exe", second_, "2.54.0.0"));
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  EXPECT_FALSE(watcher_->Check(Settled() + std::chrono::hours(1), false));
  const auto published = Published();
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].versionText, "2.54.0.0");
  EXPECT_EQ(published[0].fileName, "Setup-2.exe");
  EXPECT_EQ(published[0].installer, second_);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_NE(Reports()[0].find("now serving release 2.54.0.0 (Setup-2.exe, "), std::string::npos) << Reports()[0];
}

TEST_F(WatcherTest, AHalfCopiedInstallerIsKeptOutUntilItIsWholeAndRested) {
  // The copy has begun and the manifest already names the new file.
  Write("Setup-2.exe", std::vector<std::uint8_t>(second_.begin(), second_.begin() + 4000));
  WriteManifest(ManifestFor("Setup-2.exe", second_, "2.54.0.0"));
  EXPECT_FALSE(watcher_->Check(SystemClock::now(), false));
  EXPECT_FALSE(watcher_->Check(SystemClock::now(), false));
  // It goes on: the file has changed since the last look, so it has not rested.
  Write("Setup-2.exe", std::vector<std::uint8_t>(second_.begin() + 4000, second_.end()), /*append=*/true);
  EXPECT_FALSE(watcher_->Check(Settled() - milliseconds(1), false));
  EXPECT_TRUE(Published().empty());
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);  // once when the copy was seen, once when it had grown; not per look
  for (const auto& line : reports) EXPECT_NE(line.find("waiting until both have rested"), std::string::npos) << line;
  EXPECT_NE(reports[0].find("still serving 2.53.0.0"), std::string::npos) << reports[0];

  EXPECT_TRUE(watcher_->Check(Settled(), false));
  const auto published = Published();
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0].installer, second_);
}

TEST_F(WatcherTest, ADeclaredSizeKeepsOutACopyThatStalledLongerThanTheSettleTime) {
  Write("Setup-2.exe", std::vector<std::uint8_t>(second_.begin(), second_.begin() + 100));
  WriteManifest("version=2.54.0.0\nfile=Setup-2.exe\nsize=" + std::to_string(second_.size()) + "\n");
  EXPECT_FALSE(watcher_->Check(Settled() + std::chrono::hours(1), false));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_NE(Reports()[0].find("has 100 bytes, the manifest says size="), std::string::npos) << Reports()[0];
  Write("Setup-2.exe", second_);
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  EXPECT_EQ(Published().at(0).installer, second_);
}

TEST_F(WatcherTest, ABrokenManifestIsReportedOnceAndTheRepairIsPublished) {
  WriteManifest(ManifestFor("Setup-2.exe", second_, "2.54.0.0"));  // names a file that is not there yet
  for (int look = 0; look < 3; ++look) EXPECT_FALSE(watcher_->Check(Settled(), false));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_NE(Reports()[0].find("cannot open the installer"), std::string::npos) << Reports()[0];
  // A forced look reports again: the operator asked.
  EXPECT_FALSE(watcher_->Check(Settled(), true));
  EXPECT_EQ(Reports().size(), 2u);
  Write("Setup-2.exe", second_);
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  EXPECT_EQ(Published().at(0).versionText, "2.54.0.0");
}

TEST_F(WatcherTest, AnInstallerOverwrittenInPlaceIsNotServedUnderItsName) {
  Write("Setup-1.exe", second_);
  WriteManifest(ManifestFor("Setup-1.exe", second_, "2.54.0.0"));
  EXPECT_FALSE(watcher_->Check(Settled(), false));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_NE(Reports()[0].find("changed in place"), std::string::npos) << Reports()[0];
  // The same bytes under a new name are published, and the old name is then free to be reused only
  // once it is no longer offered (two releases later).
  Write("Setup-2.exe", second_);
  WriteManifest(ManifestFor("Setup-2.exe", second_, "2.54.0.0"));
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  Write("Setup-3.exe", first_);
  WriteManifest(ManifestFor("Setup-3.exe", first_, "2.55.0.0"));
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  WriteManifest(ManifestFor("Setup-1.exe", second_, "2.56.0.0"));
  EXPECT_TRUE(watcher_->Check(Settled(), false));
  EXPECT_EQ(Published().size(), 3u);
}

TEST_F(WatcherTest, AForcedLookReadsAnUnchangedFolderAgain) {
  EXPECT_FALSE(watcher_->Check(Settled(), false));
  EXPECT_TRUE(watcher_->Check(Settled(), true));
  EXPECT_EQ(Published().at(0).installer, first_);
}

TEST_F(WatcherTest, TheThreadLooksWhenAskedWithoutPolling) {
  Write("Setup-2.exe", second_);
  WriteManifest(ManifestFor("Setup-2.exe", second_, "2.54.0.0"));
  // Written just now, it settles within the settle time; the thread retries then by itself.
  watcher_->Start(milliseconds(0));
  watcher_->RequestReload();
  std::unique_lock lock(mutex_);
  ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(20), [this] { return !published_.empty(); }));
  EXPECT_EQ(published_.at(0).installer, second_);
  lock.unlock();
  watcher_->Stop();
}

}  // namespace
}  // namespace isetup::endpoint
