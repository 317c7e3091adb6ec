// Times whole runs of a program under Wine from inside the Wine session, the way a user's shell starts it:
//   run_timer_win startup --rounds N BASELINE CLASS PROGRAM CLASS [PROGRAM CLASS ...]
//     process start to the first visible window of CLASS, the programs taking turns;
//     prints "startup<TAB>BASELINE-MS<TAB>PROGRAM-MS..." (medians), the same line of the fastest runs, and
//     "startup-ratio" with the median of each round's ratio to the baseline.
//   run_timer_win road --rounds N PROGRAM CLASS LAUNCH-LOG URL [URL ...]
//     whole runs of the program to its exit, each after the same requests as the program makes them
//     (a fresh process, URLDownloadToFileW one after the other); waits for the launched installer's line
//     in LAUNCH-LOG; prints "road<TAB>REQUESTS-MS<TAB>VISIBLE-MS<TAB>EXIT-MS<TAB>REPLY-MS<TAB>INSTALLER-MS
//     <TAB>LAUNCH-MS" (medians; the last three: when the run last wrote the reply file and the installer
//     file, and when the launched installer wrote its line).
//   run_timer_win offline --rounds N BASELINE PROGRAM LAUNCH-LOG REPLY-FILE
//     process start to exit of each, taking turns, on a machine without a connection; each run must launch
//     the installer once (its line in LAUNCH-LOG) and write no REPLY-FILE; prints "offline<TAB>BASELINE-MS
//     <TAB>PROGRAM-MS<TAB>RATIO" (medians; the ratio is the median of the rounds' own ratios).
//   run_timer_win fetch FILE URL [URL ...]   the requests in this fresh process; prints their milliseconds.
#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_timing_win.h"

namespace {

using isetup::bench::Median;
using isetup::bench::Now;

ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct Child {
  PROCESS_INFORMATION info{};
  double started = 0;
  ULONGLONG startedClock = 0;  // system time, to compare with file times
};

bool Start(const std::wstring& commandLine, Child& child, HANDLE output = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (output != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  std::wstring command = commandLine;
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  child.startedClock = Ticks(now);
  child.started = Now();
  return CreateProcessW(nullptr, command.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &startup,
                        &child.info) != FALSE;
}

void Close(Child& child) {
  CloseHandle(child.info.hProcess);
  CloseHandle(child.info.hThread);
}

// Whether a visible top-level window of `className` belongs to the process. Only the windows of that
// class are looked at: a poll every millisecond that examined every window of the session would load
// Wine's server, which every process of the session waits on, the timed one included.
bool HasVisibleWindow(const wchar_t* className, DWORD processId) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == processId && IsWindowVisible(window)) return true;
  }
  return false;
}

// Milliseconds from the child's start until a visible top-level window of `className` belongs to it;
// -1 when the child ends or 20 s pass first. Polls every millisecond.
double WaitVisible(Child& child, const wchar_t* className) {
  while (Now() - child.started < 20000) {
    if (HasVisibleWindow(className, child.info.dwProcessId)) return Now() - child.started;
    if (WaitForSingleObject(child.info.hProcess, 1) == WAIT_OBJECT_0) return -1;
  }
  return -1;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Each program in turn, in a rotating order per round; the first is the baseline.
int Startup(int rounds, const std::vector<std::wstring>& programs, const std::vector<std::wstring>& classes) {
  std::vector<std::vector<double>> ms(programs.size());
  for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches and is not counted
    for (std::size_t turn = 0; turn < programs.size(); ++turn) {
      const std::size_t which = (turn + static_cast<std::size_t>(round + 1)) % programs.size();
      Child child;
      if (!Start(Quoted(programs[which]), child)) return 1;
      const double visible = WaitVisible(child, classes[which].c_str());
      TerminateProcess(child.info.hProcess, 0);
      WaitForSingleObject(child.info.hProcess, INFINITE);
      Close(child);
      if (visible < 0) {
        std::fprintf(stderr, "no visible window from %ls\n", programs[which].c_str());
        return 1;
      }
      if (round >= 0) ms[which].push_back(visible);
    }
  }
  std::printf("startup");
  for (const auto& values : ms) std::printf("\t%.2f", Median(values));
  std::printf("\nstartup-fastest");  // the least disturbed run of each: what load on the machine cannot add
  for (const auto& values : ms) std::printf("\t%.2f", *std::min_element(values.begin(), values.end()));
  std::printf("\nstartup-ratio");  // the median of each round's own ratio to the baseline
  for (const auto& values : ms) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < values.size(); ++i) ratios.push_back(values[i] / ms[0][i]);
    std::printf("\t%.4f", Median(ratios));
  }
  std::printf("\n");
  return 0;
}

// Milliseconds from the child's start to the last write of the file; -1 when it has none.
double WrittenAfter(const Child& child, const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<double>(Ticks(data.ftLastWriteTime)) - static_cast<double>(child.startedClock)) / 10000.0;
}

std::size_t CountLines(const std::wstring& path) {
  std::ifstream file(path.c_str());
  return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>(), '\n'));
}

int Road(int rounds, const std::wstring& program, const std::wstring& programClass, const std::wstring& launchLog,
         const std::vector<std::wstring>& urls) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring fetched = std::wstring(temp) + L"run_timer_fetch.txt";
  const std::wstring timing = std::wstring(temp) + L"run_timer_fetch_ms.txt";
  std::vector<double> requestMs, visibleMs, exitMs, replyMs, setupMs, launchMs;
  for (int round = -1; round < rounds; ++round) {
    // The requests as the program makes them: from the first URLDownloadToFileW of a fresh process on.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(timing.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    Child fetch;
    std::wstring command = Quoted(self) + L" fetch " + Quoted(fetched);
    for (const auto& url : urls) command += L" " + Quoted(url);
    if (!Start(command, fetch, out)) return 1;
    WaitForSingleObject(fetch.info.hProcess, INFINITE);
    Close(fetch);
    CloseHandle(out);
    double request = -1;
    if (FILE* f = _wfopen(timing.c_str(), L"r")) {
      if (std::fscanf(f, "%lf", &request) != 1) request = -1;
      std::fclose(f);
    }

    const std::size_t launchesBefore = CountLines(launchLog);
    Child child;
    if (!Start(Quoted(program), child)) return 1;
    const double visible = WaitVisible(child, programClass.c_str());
    WaitForSingleObject(child.info.hProcess, 60000);
    const double exited = Now() - child.started;
    Close(child);
    // The launched installer writes its line and ends; wait for it so that runs do not overlap.
    const double waitFrom = Now();
    while (CountLines(launchLog) == launchesBefore && Now() - waitFrom < 10000) Sleep(10);
    if (request < 0 || visible < 0 || CountLines(launchLog) != launchesBefore + 1) {
      std::fprintf(stderr, "round %d: request %.1f ms, visible %.1f ms, launches %zu -> %zu\n", round, request, visible,
                   launchesBefore, CountLines(launchLog));
      return 1;
    }
    // Where the time went, from the files the run left: the reply file, the installer file, the launch line.
    const double reply = WrittenAfter(child, std::wstring(temp) + L"TalvimorasterLastVer.txt");
    const double setup = WrittenAfter(child, std::wstring(temp) + L"TalvimorasterSetup.exe");
    const double launch = WrittenAfter(child, launchLog);
    Sleep(200);
    if (round < 0) continue;
    requestMs.push_back(request);
    visibleMs.push_back(visible);
    exitMs.push_back(exited);
    replyMs.push_back(reply);
    setupMs.push_back(setup);
    launchMs.push_back(launch);
    std::fprintf(stderr, "round %d: request %.1f ms, visible %.1f, reply written %.1f, installer written %.1f, "
                 "launch logged %.1f, exit %.1f ms\n", round, request, visible, reply, setup, launch, exited);
  }
  std::printf("road\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\n", Median(requestMs), Median(visibleMs), Median(exitMs),
              Median(replyMs), Median(setupMs), Median(launchMs));
  return 0;
}

// Start to exit of `program`; -1 unless it launched the installer once (waited for, so that runs do not
// overlap) and wrote no reply file.
double OfflineRun(const std::wstring& program, const std::wstring& launchLog, const std::wstring& replyFile) {
  DeleteFileW(replyFile.c_str());
  const std::size_t launchesBefore = CountLines(launchLog);
  Child child;
  if (!Start(Quoted(program), child)) return -1;
  const bool ended = WaitForSingleObject(child.info.hProcess, 60000) == WAIT_OBJECT_0;
  const double exited = Now() - child.started;
  Close(child);
  const double waitFrom = Now();
  while (CountLines(launchLog) == launchesBefore && Now() - waitFrom < 10000) Sleep(10);
  const bool launchedOnce = CountLines(launchLog) == launchesBefore + 1;
  const bool replyWritten = GetFileAttributesW(replyFile.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!ended || !launchedOnce || replyWritten) {
    std::fprintf(stderr, "%ls: ended %d, launches %zu -> %zu, reply file written %d\n", program.c_str(), ended,
                 launchesBefore, CountLines(launchLog), replyWritten);
    return -1;
  }
  return exited;
}

int Offline(int rounds, const std::wstring& baseline, const std::wstring& program, const std::wstring& launchLog,
            const std::wstring& replyFile) {
  std::vector<double> baselineMs, programMs, ratios;
  for (int round = -1; round < rounds; ++round) {  // round -1 warms the caches and is not counted
    double ms[2];
    for (int turn = 0; turn < 2; ++turn) {
      const int which = (turn + round + 1) % 2;  // who goes first alternates
      ms[which] = OfflineRun(which == 0 ? baseline : program, launchLog, replyFile);
      if (ms[which] < 0) return 1;
    }
    if (round < 0) continue;
    baselineMs.push_back(ms[0]);
    programMs.push_back(ms[1]);
    ratios.push_back(ms[1] / ms[0]);
    std::fprintf(stderr, "round %d: baseline %.1f ms, program %.1f ms\n", round, ms[0], ms[1]);
  }
  std::printf("offline\t%.2f\t%.2f\t%.4f\n", Median(baselineMs), Median(programMs), Median(ratios));
  return 0;
}

int Fetch(const std::wstring& file, const std::vector<std::wstring>& urls) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const double start = Now();
  bool ok = true;
  for (const auto& url : urls) ok = ok && SUCCEEDED(URLDownloadToFileW(nullptr, url.c_str(), file.c_str(), 0, nullptr));
  const double ms = Now() - start;
  if (SUCCEEDED(com)) CoUninitialize();
  if (!ok) return 1;
  std::printf("%.3f\n", ms);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"fetch" && argc >= 4) return Fetch(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
  if (argc >= 8 && std::wstring(argv[2]) == L"--rounds") {
    const int rounds = _wtoi(argv[3]);
    if (mode == L"startup" && argc % 2 == 0) {
      std::vector<std::wstring> programs, classes;
      for (int i = 4; i + 1 < argc; i += 2) {
        programs.push_back(argv[i]);
        classes.push_back(argv[i + 1]);
      }
      return Startup(rounds, programs, classes);
    }
    if (mode == L"offline" && argc == 8) return Offline(rounds, argv[4], argv[5], argv[6], argv[7]);
    if (mode == L"road") return Road(rounds, argv[4], argv[5], argv[6], std::vector<std::wstring>(argv + 7, argv + argc));
  }
  std::fprintf(stderr, "usage: see the comment at the top of run_timer_win.cpp\n");
  return 2;
}
