// Plumbing of the screenshot tests: processes, the private Xvfb display, screenshots through xwd and
// convert, the Wine prefix, and the probe's reports.
#include "tests/screenshot/screen_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "build_config.h"
#include "tests/support/wine_prefix_copy.h"

namespace isetup::screenshot {
namespace fs = std::filesystem;
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return parts;
    start = tab + 1;
  }
}

ScreenRect ParseRect(const std::string& text) {
  ScreenRect rect;
  std::istringstream in(text);
  in >> rect.left >> rect.top >> rect.right >> rect.bottom;
  return rect;
}

std::optional<FormState> ParseState(const std::string& line) {
  const std::vector<std::string> parts = SplitTabs(line);
  if (parts.size() != 10 || parts[0] != "state") return std::nullopt;
  FormState state;
  state.visible = parts[1] == "1";
  state.active = parts[2] == "1";
  state.blurred = parts[3] == "1";
  state.window = ParseRect(parts[4]);
  state.client = ParseRect(parts[5]);
  state.button = ParseRect(parts[6]);
  state.gauge = ParseRect(parts[7]);
  state.gaugeText = parts[8];
  state.label = parts[9];
  return state;
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command with the given environment entries in front; true on exit code 0.
bool Shell(const std::vector<std::string>& env, const std::string& command) {
  std::string line;
  for (const std::string& entry : env) line += Quoted(entry) + " ";
  return std::system(("env " + line + command).c_str()) == 0;
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // -displayfd: the server takes the first free display number and writes it to fd 3.
  server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-br",
                                           "-nolisten", "tcp"},
                  std::vector<std::string>{}, false, fds[1]);
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
  close(fds[0]);
  if (!number.empty()) number_ = std::atoi(number.c_str());
}

VirtualDisplay::~VirtualDisplay() = default;

bool VirtualDisplay::Xdotool(const std::string& arguments) const {
  return Shell({"DISPLAY=" + Name()}, "xdotool " + arguments + " >/dev/null 2>&1");
}

Rgb FromHex(std::uint32_t rrggbb) {
  return {static_cast<int>((rrggbb >> 16) & 0xFF), static_cast<int>((rrggbb >> 8) & 0xFF),
          static_cast<int>(rrggbb & 0xFF)};
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::string ToString(Rgb colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", colour.r, colour.g, colour.b);
  return text;
}

Rgb Screenshot::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

Screenshot Screenshot::Take(const VirtualDisplay& display, const fs::path& png) {
  fs::create_directories(png.parent_path());
  const std::string command = "xwd -root -silent -display " + display.Name() + " | convert xwd:- png:" +
                              Quoted(png.string()) + " && convert " + Quoted(png.string()) + " -depth 8 ppm:-";
  Screenshot shot;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return shot;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  pclose(pipe);
  // P6, width, height, maximum 255, each followed by blank space (and "#" comments, which convert writes);
  // then the pixels.
  std::size_t at = 0;
  const auto field = [&]() {
    for (;;) {
      while (at < bytes.size() && std::isspace(bytes[at])) ++at;
      if (at >= bytes.size() || bytes[at] != '#') break;
      while (at < bytes.size() && bytes[at] != '\n') ++at;
    }
    std::string text;
    while (at < bytes.size() && !std::isspace(bytes[at])) text.push_back(static_cast<char>(bytes[at++]));
    return text;
  };
  if (field() != "P6") return shot;
  const int width = std::atoi(field().c_str());
  const int height = std::atoi(field().c_str());
  if (field() != "255") return shot;
  ++at;
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  if (width <= 0 || height <= 0 || bytes.size() < at + size) return shot;
  shot.width = width;
  shot.height = height;
  shot.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  return shot;
}

int FormState::GaugePercent() const {
  const std::size_t digits = gaugeText.find_first_of("0123456789");
  if (digits == std::string::npos || gaugeText.find('%', digits) == std::string::npos) return -1;
  return std::atoi(gaugeText.c_str() + digits);
}

WineSession::WineSession(const std::string& name, const VirtualDisplay& display)
    : display_(display), root_(Artifacts::Output() / "runs" / name) {
  fs::remove_all(root_);
  fs::create_directories(root_);
  prefix_ = root_ / "prefix";
  if (!Shell({}, isetup::testing::CopyWinePrefixCommand(Artifacts::WineTemplate().string(), prefix_.string()))) {
    throw std::runtime_error("cannot copy the Wine template prefix");
  }
}

WineSession::~WineSession() {
  other_.reset();
  program_.reset();
  probe_.reset();
  Shell(Environment(), "wineserver -k >/dev/null 2>&1");
  if (reader_.joinable()) reader_.join();
  std::error_code ignored;
  if (!std::getenv("INTERNETSETUP_SCREENSHOT_KEEP")) fs::remove_all(root_, ignored);
}

std::vector<std::string> WineSession::Environment() const {
  return {"WINEPREFIX=" + prefix_.string(), "WINEDEBUG=-all", "DISPLAY=" + display_.Name()};
}

bool WineSession::SetLogPixels(int dpi) {
  const bool set = Shell(Environment(), "wine reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d " +
                                            std::to_string(dpi) + " /f >/dev/null 2>&1");
  // Let the registry reach the disk and the session end, so the program starts a fresh one with the value.
  return Shell(Environment(), "wineserver -w") && set;
}

std::vector<std::string> WineSession::Command(const fs::path& exe, const std::vector<std::string>& args) const {
  std::vector<std::string> command{"wine", exe.string()};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

void WineSession::StartWatching() {
  probe_.emplace(Command(Artifacts::ProbeExe(), {"watch", "--timeout-ms", "150000"}), Environment(), true);
  std::string line;
  if (!probe_->ReadLine(line) || line != "ready") throw std::runtime_error("the probe did not start: " + line);
  reader_ = std::thread([this] {
    std::string report;
    while (probe_->ReadLine(report)) {
      const std::optional<FormState> state = ParseState(report);
      if (!state) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        states_.push_back(*state);
      }
      changed_.notify_all();
    }
  });
}

void WineSession::StartProgram() { program_.emplace(Command(Artifacts::ProgramExe(), {}), Environment(), false); }

bool WineSession::ShowOtherWindow(int x, int y) {
  other_.emplace(Command(Artifacts::ProbeExe(), {"window", std::to_string(x), std::to_string(y)}), Environment(), true);
  std::string line;
  return other_->ReadLine(line) && line.rfind("shown", 0) == 0;
}

std::optional<FormState> WineSession::WaitFor(const std::function<bool(const FormState&)>& condition,
                                              std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool met = changed_.wait_for(lock, timeout, [&] { return !states_.empty() && condition(states_.back()); });
  if (!met) return std::nullopt;
  return states_.back();
}

std::optional<FormState> WineSession::Latest() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (states_.empty()) return std::nullopt;
  return states_.back();
}

std::vector<FormState> WineSession::History() {
  std::lock_guard<std::mutex> lock(mutex_);
  return states_;
}

fs::path Artifacts::ProgramExe() { return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "InternetSetup.exe"; }
fs::path Artifacts::ProbeExe() { return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "shot_probe.exe"; }
fs::path Artifacts::NextInstaller() {
  return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "sample_installers" / "TalvimorasterSampleSetup-2.53.0.0.exe";
}
fs::path Artifacts::WineTemplate() { return SCREENSHOT_WINE_TEMPLATE; }
fs::path Artifacts::StoredSkin() { return SCREENSHOT_STORED_SKIN; }
fs::path Artifacts::Output() { return SCREENSHOT_OUTPUT_DIR; }
int Artifacts::EndpointPort() {
  const std::string host = INTERNETSETUP_ENDPOINT_HOST;
  const auto colon = host.rfind(':');
  return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

}  // namespace isetup::screenshot
