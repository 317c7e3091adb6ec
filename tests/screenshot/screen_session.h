// What the screenshot tests need around the real program: a private X display, a Wine prefix, the probe
// that reports where the window is and what it shows, screenshots of the display, and the real pointer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wine_session.h"

namespace isetup::screenshot {

using Clock = std::chrono::steady_clock;

using Process = isetup::testing::ChildProcess;

// An Xvfb display of its own (1024 × 768, 24 bits, black root), picked free by the server itself.
class VirtualDisplay {
 public:
  VirtualDisplay();
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool ok() const { return number_ >= 0; }
  std::string Name() const { return ":" + std::to_string(number_); }
  // Runs xdotool with the given arguments on this display; true when it exited with 0.
  bool Xdotool(const std::string& arguments) const;

 private:
  std::optional<Process> server_;
  int number_ = -1;
};

struct Rgb {
  int r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
Rgb FromHex(std::uint32_t rrggbb);
// Each channel within tolerance.
bool Near(Rgb a, Rgb b, int tolerance);
std::string ToString(Rgb colour);
inline std::ostream& operator<<(std::ostream& out, Rgb colour) { return out << ToString(colour); }

// The whole display, read through xwd and ImageMagick's convert, and saved as a PNG beside the test's files.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  Rgb at(int x, int y) const;
  bool empty() const { return rgb.empty(); }
  static Screenshot Take(const VirtualDisplay& display, const std::filesystem::path& png);
};

struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// One report of the probe.
struct FormState {
  bool visible = false;
  bool active = false;
  bool blurred = false;
  ScreenRect window, client, button, gauge;
  std::string gaugeText, label;  // UTF-8
  // The percentage in the gauge text, -1 when there is none.
  int GaugePercent() const;
};

// A Wine session of its own for one test, and the Wine programs run in it on a display.
class ScreenSession {
 public:
  ScreenSession(const std::string& name, const VirtualDisplay& display);
  ~ScreenSession();
  ScreenSession(const ScreenSession&) = delete;
  ScreenSession& operator=(const ScreenSession&) = delete;

  const std::filesystem::path& Folder() const { return wine_.Folder(); }
  std::vector<std::string> Environment() const;
  // HKCU\Control Panel\Desktop\LogPixels, the DPI Wine gives its programs.
  bool SetLogPixels(int dpi);
  // Starts the probe watching for the setup window; its reports are collected on a thread of their own.
  void StartWatching();
  // Starts InternetSetup.exe.
  void StartProgram();
  // Starts a second program that shows a small window at (x, y) and makes it active.
  bool ShowOtherWindow(int x, int y);

  // The newest report, waiting up to timeout for one that satisfies the condition.
  std::optional<FormState> WaitFor(const std::function<bool(const FormState&)>& condition,
                                   std::chrono::milliseconds timeout);
  std::optional<FormState> Latest();
  // The newest report once it satisfies the condition and no other has come for `quiet`; waits up to
  // timeout for that.
  std::optional<FormState> WaitForQuiet(const std::function<bool(const FormState&)>& condition,
                                        std::chrono::milliseconds quiet, std::chrono::milliseconds timeout);
  // Every report so far.
  std::vector<FormState> History();
  // The display once it has stopped changing and shows what `wanted` looks for (anything, when null):
  // screenshots taken one after another until two in a row are the same in `area`, no report of the probe
  // came between them and the second is wanted. Empty when that does not happen within `timeout`. The
  // last one taken is saved as `png`.
  Screenshot StillShot(const std::filesystem::path& png, const ScreenRect& area, std::chrono::milliseconds timeout,
                       const std::function<bool(const Screenshot&)>& wanted = nullptr);

 private:
  std::size_t ReportCount();

  const VirtualDisplay& display_;
  isetup::testing::WineSession wine_;
  std::optional<Process> probe_, program_, other_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FormState> states_;
};

// Where the Windows build put InternetSetup.exe and the probe, and the shared Wine template.
struct Artifacts {
  static std::filesystem::path ProgramExe();
  static std::filesystem::path ProbeExe();
  static std::filesystem::path NextInstaller();
  static std::filesystem::path WineTemplate();
  static std::filesystem::path Output();  // screenshots and run folders
  static int EndpointPort();
};

}  // namespace isetup::screenshot
