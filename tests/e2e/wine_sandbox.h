// Runs the real InternetSetup.exe in a Wine prefix of its own, with the probe watching its window, and
// collects what a user and the file system saw.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/test_files.h"
#include "tests/support/wine_session.h"

namespace isetup::e2e {

// One change of the window as the probe saw it.
struct WindowSnapshot {
  long elapsedMs = 0;
  bool visible = false;
  std::string caption, label, gauge, button;  // UTF-8
};

// One launch recorded by the sample installer.
struct Launch {
  std::string path;  // Windows path, UTF-8
  std::string affid, affsid;
  long long size = 0;
};

struct RunOptions {
  bool online = true;                   // false: a network namespace with loopback only
  std::vector<std::string> probeArgs;   // e.g. {"--action", "click", "--when", "gauge-mid"}
  int timeoutSeconds = 100;
  std::filesystem::path program = {};   // a copy of InternetSetup.exe to run instead of the build's
  std::vector<std::string> environment = {};  // extra NAME=VALUE for the program only
  // A program started in the prefix before this one and told to stop once it has ended: waited for
  // until "<path>.running" appears, stopped by "<path>.stop" (tests/e2e/running_installer_win.cpp).
  std::filesystem::path runningBefore = {};
};

struct RunResult {
  int exitCode = -1;
  double seconds = 0;                   // from the program's start to its end
  std::vector<WindowSnapshot> snapshots;
  std::vector<std::string> probeEvents; // "acted\tclick", "endsession-answer\t0", ...
  std::vector<Launch> launches;

  bool EverVisible() const;
  std::vector<std::string> Labels() const;  // distinct label texts in order
  std::vector<std::string> Gauges() const;  // distinct gauge texts in order
};

// Where the builds put things, from the configure step.
struct Artifacts {
  static std::filesystem::path ProgramExe();
  static std::filesystem::path ProbeExe();
  static std::filesystem::path PlantedDll();         // records its loading beside itself (*.loaded)
  static std::filesystem::path BareDll();            // the same without any of the system functions
  static std::filesystem::path RunningInstaller();   // tests/e2e/running_installer_win.cpp
  // The copy asking 127.0.0.<lane>; for lane 0 the build's program, asking 127.0.0.1.
  static std::filesystem::path LaneProgram(int lane);
  static std::filesystem::path EmbeddedPayload();    // the installer InternetSetup.exe carries
  static std::filesystem::path NextInstaller();      // a newer sample installer (2.53.0.0)
  static std::filesystem::path WineTemplate();
  static int EndpointPort();                         // the port of the build's version endpoint
};

class WineSandbox {
 public:
  explicit WineSandbox(const std::string& name);  // copies the template prefix
  ~WineSandbox();
  WineSandbox(const WineSandbox&) = delete;
  WineSandbox& operator=(const WineSandbox&) = delete;

  std::filesystem::path TempFolder() const;  // the user's temp folder on the Linux side
  std::filesystem::path DriveC() const;      // C:\ on the Linux side
  std::string TempFolderWindows() const;     // the same as the program sees it, "C:\\users\\...\\Temp\\"
  // Points the user's TEMP and TMP at `windowsFolder` ("C:\\...\\", not created here); the sample
  // installer's launch log stays in the first temp folder.
  void UseTempFolder(const std::string& windowsFolder);
  std::filesystem::path LinuxPath(const std::string& windowsPath) const;  // "C:\\a\\b" on the Linux side
  // What a Wine program of this prefix is started with (WINEPREFIX, WINEDEBUG).
  std::vector<std::string> Environment() const { return wine_.Environment(); }
  RunResult Run(const RunOptions& options);

 private:
  isetup::testing::WineSession wine_;
  std::string tempWindows_;  // ends with "\\"
};

// A whole file (empty when it cannot be read), and the running test's name (a sandbox name of its own).
using isetup::testing::CurrentTestName;
using isetup::testing::ReadBytes;

// The lane CTest gave the running test ("id:3,slots:1" in CTEST_RESOURCE_GROUP_0_LANES), so that
// scenarios run side by side, each with its program copy and endpoint on 127.0.0.<lane>; 0 without one.
int Lane();
std::string LaneAddress();  // "127.0.0.<lane>", "127.0.0.1" for lane 0

// A UTF-16 text (the program's status texts) in UTF-8, as the probe reports window texts.
std::string Utf8(std::wstring_view text);

}  // namespace isetup::e2e
