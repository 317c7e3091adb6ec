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

#include "base/test_files.h"
#include "build_config.h"

namespace isetup::screenshot {
namespace fs = std::filesystem;
namespace {

using isetup::testing::WineCommand;

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

bool SameIn(const Screenshot& a, const Screenshot& b, const ScreenRect& area) {
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (a.at(x, y) != b.at(x, y)) return false;
    }
  }
  return true;
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
  fs::path ppm = png;
  ppm.replace_extension(".ppm");
  const std::string command = "xwd -root -silent -display " + display.Name() + " | convert xwd:- png:" +
                              Quoted(png.string()) + " && convert " + Quoted(png.string()) + " -depth 8 ppm:" +
                              Quoted(ppm.string());
  Screenshot shot;
  const std::vector<std::uint8_t> bytes = Shell({}, command) ? isetup::testing::ReadBytes(ppm) : std::vector<std::uint8_t>{};
  std::error_code ignored;
  fs::remove(ppm, ignored);
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

ScreenSession::ScreenSession(const std::string& name, const VirtualDisplay& display)
    : display_(display),
      wine_(Artifacts::Output() / "runs" / name, Artifacts::WineTemplate(), "INTERNETSETUP_SCREENSHOT_KEEP") {}

ScreenSession::~ScreenSession() {
  other_.reset();
  program_.reset();
  probe_.reset();
  wine_.EndAll();  // before the join: a Wine process of the session may still hold the probe's output open
  if (reader_.joinable()) reader_.join();
}

std::vector<std::string> ScreenSession::Environment() const { return wine_.Environment({"DISPLAY=" + display_.Name()}); }

bool ScreenSession::SetLogPixels(int dpi) {
  const bool set = Shell(Environment(), "wine reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d " +
                                            std::to_string(dpi) + " /f >/dev/null 2>&1");
  // Let the registry reach the disk and the session end, so the program starts a fresh one with the value.
  return wine_.WaitForAllEnded(Clock::now() + std::chrono::seconds(60)) && set;
}

void ScreenSession::StartWatching() {
  probe_.emplace(WineCommand(Artifacts::ProbeExe(), {"watch", "--timeout-ms", "150000"}), Environment(), true);
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

void ScreenSession::StartProgram() { program_.emplace(WineCommand(Artifacts::ProgramExe(), {}), Environment(), false); }

bool ScreenSession::ShowOtherWindow(int x, int y) {
  other_.emplace(WineCommand(Artifacts::ProbeExe(), {"window", std::to_string(x), std::to_string(y)}), Environment(),
                 true);
  std::string line;
  return other_->ReadLine(line) && line.rfind("shown", 0) == 0;
}

std::optional<FormState> ScreenSession::WaitFor(const std::function<bool(const FormState&)>& condition,
                                              std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool met = changed_.wait_for(lock, timeout, [&] { return !states_.empty() && condition(states_.back()); });
  if (!met) return std::nullopt;
  return states_.back();
}

std::optional<FormState> ScreenSession::WaitForQuiet(const std::function<bool(const FormState&)>& condition,
                                                   std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  while (Clock::now() < deadline) {
    const std::size_t seen = states_.size();
    const bool reported = changed_.wait_for(lock, quiet, [&] { return states_.size() != seen; });
    if (!reported && !states_.empty() && condition(states_.back())) return states_.back();
  }
  return std::nullopt;
}

std::optional<FormState> ScreenSession::Latest() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (states_.empty()) return std::nullopt;
  return states_.back();
}

std::vector<FormState> ScreenSession::History() {
  std::lock_guard<std::mutex> lock(mutex_);
  return states_;
}

std::size_t ScreenSession::ReportCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return states_.size();
}

Screenshot ScreenSession::StillShot(const fs::path& png, const ScreenRect& area, std::chrono::milliseconds timeout,
                                    const std::function<bool(const Screenshot&)>& wanted) {
  const auto deadline = Clock::now() + timeout;
  std::size_t reports = ReportCount();
  Screenshot last = Screenshot::Take(display_, png);
  while (Clock::now() < deadline) {
    Screenshot next = Screenshot::Take(display_, png);
    const std::size_t now = ReportCount();
    const bool still = !next.empty() && !last.empty() && now == reports && SameIn(last, next, area);
    if (still && (!wanted || wanted(next))) return next;
    reports = now;
    last = std::move(next);
  }
  return {};
}

fs::path Artifacts::ProgramExe() { return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "InternetSetup.exe"; }
fs::path Artifacts::ProbeExe() { return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "shot_probe.exe"; }
fs::path Artifacts::NextInstaller() {
  return fs::path(SCREENSHOT_WINDOWS_BUILD_DIR) / "sample_installers" / "TalvimorasterSampleSetup-2.53.0.0.exe";
}
fs::path Artifacts::WineTemplate() { return SCREENSHOT_WINE_TEMPLATE; }
fs::path Artifacts::Output() { return SCREENSHOT_OUTPUT_DIR; }
int Artifacts::EndpointPort() {
  const std::string host = INTERNETSETUP_ENDPOINT_HOST;
  const auto colon = host.rfind(':');
  return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

}  // namespace isetup::screenshot
