// The payload routines as the program runs them under Wine, each against the plain Win32 baseline it is
// judged by, interleaved round by round; and, in a fresh process each, the checksum's peak extra memory.
// Google Benchmark is only a native library on Debian, so this harness times with the performance
// counter and prints one tab-separated row per figure:
//   time    FIGURE  BASELINE-MS  ROUTINE-MS  RATIO  (medians over the rounds; the ratio is the median of
//                                                    the rounds' own ratios)
//   memory  FIGURE  BASELINE-KIB ROUTINE-KIB
//
//   payload_bench_win --folder DIR [--rounds N]            timing rows
//   payload_bench_win --memory WHAT FILE                   one memory reading (run by the timing mode)
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_timing_win.h"
#include "bench/payload_fixture.h"
#include "payload/checksum.h"
#include "payload/download_verification.h"
#include "base/held_file_win.h"
#include "payload/embedded_installer.h"

namespace isetup::bench {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

[[gnu::noinline]] std::uint32_t PlainSum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

// Baseline of the checksum: open, read in the same chunks, add up every byte, close. No blanking.
std::uint32_t ReadAndSum(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  std::vector<std::uint8_t> chunk(kChunk);
  std::uint32_t sum = 0;
  DWORD read = 0;
  while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr) && read > 0) {
    sum += PlainSum(chunk.data(), read);
  }
  CloseHandle(file);
  return sum;
}

// The checksum as it was: the whole file in memory with one read, then the old sum and searches.
std::int32_t PreviousComputeDownloadChecksum(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return PreviousByteSumChecksum(bytes);
}

// Baseline of the write: the same bytes in one WriteFile.
void PlainWrite(const std::wstring& path, std::span<const std::uint8_t> bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The classic memmem: memchr to each first byte, memcmp for the rest.
const std::uint8_t* PlainMemmem(std::span<const std::uint8_t> haystack, std::string_view needle) {
  const std::uint8_t* at = haystack.data();
  const std::uint8_t* end = haystack.data() + haystack.size();
  while (static_cast<std::size_t>(end - at) >= needle.size()) {
    at = static_cast<const std::uint8_t*>(std::memchr(at, needle[0], static_cast<std::size_t>(end - at) - needle.size() + 1));
    if (at == nullptr) return nullptr;
    if (std::memcmp(at, needle.data(), needle.size()) == 0) return at;
    ++at;
  }
  return nullptr;
}

bool WriteWhole(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  PlainWrite(path, bytes);
  return QueryFileSize(path) == static_cast<std::int32_t>(bytes.size());
}

struct Figure {
  std::string name;
  std::function<void()> baseline, routine;
  std::vector<double> baselineMs, routineMs;
  std::function<void()> prepare = [] {};  // run untimed before each timed call
};

void Time(std::vector<Figure>& figures, int rounds) {
  for (auto& figure : figures) {  // warm up caches and the file system once
    figure.baseline();
    figure.routine();
  }
  for (int round = 0; round < rounds; ++round) {
    for (auto& figure : figures) {
      // Alternate which goes first, so neither always finds the caches the other left.
      for (int turn = 0; turn < 2; ++turn) {
        const bool baselineTurn = (turn == 0) == (round % 2 == 0);
        figure.prepare();
        const double start = Now();
        (baselineTurn ? figure.baseline : figure.routine)();
        (baselineTurn ? figure.baselineMs : figure.routineMs).push_back(Now() - start);
      }
    }
  }
  for (const auto& figure : figures) {
    // The ratio is the median of each round's own ratio: both calls of a round meet the same load.
    std::vector<double> ratios;
    for (std::size_t i = 0; i < figure.routineMs.size(); ++i) ratios.push_back(figure.routineMs[i] / figure.baselineMs[i]);
    std::printf("time\t%s\t%.4f\t%.4f\t%.4f\n", figure.name.c_str(), Median(figure.baselineMs),
                Median(figure.routineMs), Median(ratios));
  }
}

// Resident memory now and its high-water mark (under Wine: the Linux process's VmRSS and VmHWM), and
// private bytes (which Wine 8 leaves at 0).
struct MemoryReading {
  std::size_t workingSet = 0, peakWorkingSet = 0, privateBytes = 0;
};
MemoryReading ReadMemory() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return {counters.WorkingSetSize, counters.PeakWorkingSetSize, counters.PrivateUsage};
}

// One call in this fresh process; prints how far the resident high-water mark afterwards lies above the
// resident memory before the call: the call's peak extra memory, or more if an earlier peak was higher.
int MeasureMemory(const std::wstring& what, const std::wstring& path) {
  std::int64_t result = 0;
  const MemoryReading before = ReadMemory();
  if (what == L"read-and-sum") result = ReadAndSum(path);
  else if (what == L"checksum") result = ComputeDownloadChecksum(path);
  else if (what == L"previous-checksum") result = PreviousComputeDownloadChecksum(path);
  else if (what == L"allocate-16mib") {  // a control: the reading must see 16 MiB touched
    std::vector<std::uint8_t> block(16 << 20, 1);
    result = PlainSum(block.data(), block.size());
  } else {
    return 2;
  }
  const MemoryReading after = ReadMemory();
  auto kib = [](std::size_t a, std::size_t b) { return (static_cast<long long>(a) - static_cast<long long>(b)) / 1024; };
  std::printf("%lld\t%lld\t%lld\n", kib(after.peakWorkingSet, before.workingSet),
              kib(after.privateBytes, before.privateBytes), static_cast<long long>(result));
  return 0;
}

// Runs this program again with --memory; returns its first number (peak extra resident memory, KiB).
long long MemoryInChild(const std::wstring& what, const std::wstring& path, const std::wstring& folder) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring out = folder + L"\\memory.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --memory " + what + L" \"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = file;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(file);
    return -1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(file);
  long long peak = -1, privateBytes = 0, result = 0;
  if (FILE* f = _wfopen(out.c_str(), L"r")) {
    if (std::fscanf(f, "%lld %lld %lld", &peak, &privateBytes, &result) != 3) peak = -1;
    std::fclose(f);
  }
  std::fprintf(stderr, "memory %ls: resident peak +%lld KiB over the start, private bytes %+lld KiB\n", what.c_str(),
               peak, privateBytes);
  return peak;
}

int Run(const std::wstring& folder, int rounds) {
  const std::span<const std::uint8_t> embedded = EmbeddedInstallerBytes();
  if (embedded.size() != kPayloadSize) {
    std::fprintf(stderr, "the embedded installer is %zu bytes, not %zu\n", embedded.size(), kPayloadSize);
    return 1;
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring sample = folder + L"\\sample.exe", delivered = folder + L"\\delivered.exe",
                     atEnd = folder + L"\\at-end.exe", written = folder + L"\\written.exe";
  if (!WriteWhole(sample, {embedded.begin(), embedded.end()}) ||
      !WriteWhole(delivered, SyntheticPayload(Payload::DeliveredLayout)) ||
      !WriteWhole(atEnd, SyntheticPayload(Payload::TagsAtTheEnd))) {
    std::fprintf(stderr, "cannot write the payload files into %ls\n", folder.c_str());
    return 1;
  }
  // The figures mean nothing unless the new routine gives what the old one gave.
  for (const auto& path : {sample, delivered, atEnd}) {
    if (ComputeDownloadChecksum(path) != PreviousComputeDownloadChecksum(path)) {
      std::fprintf(stderr, "checksums differ on %ls\n", path.c_str());
      return 1;
    }
  }

  std::vector<Figure> figures;
  figures.push_back({"affiliate query, embedded sample installer", [&] {
                       const auto* a = PlainMemmem(embedded, "affid=");
                       const auto* b = PlainMemmem(embedded, "affsid=");
                       if (a == b) std::abort();  // keeps both searches; they never agree
                     },
                     [] {
                       if (ExtractEmbeddedAffiliateQuery().empty()) std::abort();
                     }, {}, {}});
  auto checksumFigure = [&](const char* name, const std::wstring& path, bool previous) {
    figures.push_back({name, [path] { (void)ReadAndSum(path); },
                       [path, previous] {
                         (void)(previous ? PreviousComputeDownloadChecksum(path) : ComputeDownloadChecksum(path));
                       }, {}, {}});
  };
  checksumFigure("checksum, sample installer", sample, false);
  checksumFigure("checksum, synthetic, tags at the delivered offset", delivered, false);
  checksumFigure("checksum, synthetic, tags at the end", atEnd, false);
  checksumFigure("checksum before (whole file read), sample installer", sample, true);
  // Each timed write starts from the same state, made untimed: no file there, or a copy just written.
  figures.push_back({"write embedded installer, new file", [&] { PlainWrite(written, embedded); },
                     [&] { WriteEmbeddedInstaller(written); }, {}, {}, [&] { DeleteFileW(written.c_str()); }});
  figures.push_back({"write embedded installer, over the last copy", [&] { PlainWrite(written, embedded); },
                     [&] { WriteEmbeddedInstaller(written); }, {}, {}, [&] { PlainWrite(written, embedded); }});
  // What a road still waits for when the copy was written ahead (the program does that while it waits
  // for the connectivity answer): moving it in place and holding it.
  FreshFile ahead;
  for (const bool overLastCopy : {false, true}) {
    figures.push_back({overLastCopy ? "write embedded installer ahead: the move left for the road, over the last copy"
                                    : "write embedded installer ahead: the move left for the road, new file",
                       [&] { PlainWrite(written, embedded); },
                       [&] { (void)ahead.MoveOverAndHold(written); }, {}, {}, [&, overLastCopy] {
                         ahead = FreshFile();
                         if (overLastCopy)
                           PlainWrite(written, embedded);
                         else
                           DeleteFileW(written.c_str());
                         ahead = PrepareEmbeddedInstaller(written);
                       }});
  }
  Time(figures, rounds);

  // Memory: a fresh process per reading, so that nothing before the call has raised the peak.
  const long long control = MemoryInChild(L"allocate-16mib", sample, folder);
  for (const auto& [name, path] : {std::pair{"sample installer", sample}, std::pair{"synthetic, tags at the end", atEnd}}) {
    const long long baseline = MemoryInChild(L"read-and-sum", path, folder);
    const long long ours = MemoryInChild(L"checksum", path, folder);
    std::printf("memory\tchecksum peak extra memory, %s\t%lld\t%lld\n", name, baseline, ours);
  }
  const long long before = MemoryInChild(L"previous-checksum", sample, folder);
  std::printf("memory\tchecksum before (whole file read), sample installer\t%lld\t%lld\n",
              MemoryInChild(L"read-and-sum", sample, folder), before);
  std::printf("memory\tcontrol: 16 MiB allocated and touched\t0\t%lld\n", control);
  return 0;
}

}  // namespace
}  // namespace isetup::bench

int wmain(int argc, wchar_t** argv) {
  std::wstring folder;
  int rounds = 21;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring flag = argv[i];
    if (flag == L"--memory" && i + 2 < argc) return isetup::bench::MeasureMemory(argv[i + 1], argv[i + 2]);
    if (flag == L"--folder") folder = argv[i + 1];
    else if (flag == L"--rounds") rounds = _wtoi(argv[i + 1]);
  }
  if (folder.empty() || rounds < 1) {
    std::fprintf(stderr, "usage: payload_bench_win --folder DIR [--rounds N]\n");
    return 2;
  }
  return isetup::bench::Run(folder, rounds);
}
