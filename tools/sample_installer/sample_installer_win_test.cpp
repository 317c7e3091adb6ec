// Checks the built sample installers: the tag layout in the file, the padded size, the version resource,
// and the launch line each one appends to its log (also for a stamped copy and for concurrent launches).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/test_files.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/wine_path.h"

namespace {

constexpr std::uint64_t kDeliveredSize = 14'178'100;

using isetup::testing::WindowsPath;

const std::wstring kSample = WindowsPath(SAMPLE_INSTALLER_PATH);
const std::wstring kNext = WindowsPath(SAMPLE_INSTALLER_NEXT_PATH);

std::string ReadFileBytes(const std::wstring& path) { return isetup::testing::ReadText(path); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(file);
    return ok;
}

std::size_t CountOccurrences(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

template <typename T>
T ReadAt(const std::string& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

// Header of one stored string: code page, character size, reference count, length.
void ExpectHeader(const std::string& bytes, std::size_t header, std::int32_t length) {
    EXPECT_EQ(header % 4, 0u) << "header at " << header;
    EXPECT_EQ(ReadAt<std::uint16_t>(bytes, header), 1251);
    EXPECT_EQ(ReadAt<std::uint16_t>(bytes, header + 2), 1);
    EXPECT_EQ(ReadAt<std::int32_t>(bytes, header + 4), -1);
    EXPECT_EQ(ReadAt<std::int32_t>(bytes, header + 8), length);
}

void ExpectTagLayout(const std::wstring& path) {
    SCOPED_TRACE(testing::Message() << "file " << std::string(path.begin(), path.end()));
    const std::string bytes = ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(CountOccurrences(bytes, "affid="), 1u);
    ASSERT_EQ(CountOccurrences(bytes, "affsid="), 1u);

    const std::size_t affid = bytes.find("affid=");
    ASSERT_GE(affid, 12u);
    const std::size_t first = affid - 12;
    ASSERT_LE(first + 56, bytes.size());
    ExpectHeader(bytes, first, 14);
    EXPECT_EQ(bytes.substr(affid, 14), "affid=00000000");
    EXPECT_EQ(bytes[affid + 14], '\0') << "terminator";
    EXPECT_EQ(bytes[affid + 15], '\0') << "fill";

    const std::size_t second = first + 28;
    EXPECT_EQ(bytes.find("affsid="), second + 12);
    ExpectHeader(bytes, second, 15);
    EXPECT_EQ(bytes.substr(second + 12, 15), "affsid=00000000");
    EXPECT_EQ(bytes[second + 27], '\0') << "terminator";
}

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

TEST(SampleInstallerFile, HoldsEachTagOnceInTheInstallerStringLayout) {
    ExpectTagLayout(kSample);
    ExpectTagLayout(kNext);
}

TEST(SampleInstallerFile, DefaultIsPaddedToTheDeliveredSizeAndTheNextOneIsNot) {
    EXPECT_EQ(FileSize(kSample), kDeliveredSize);
    const std::uint64_t next = FileSize(kNext);
    EXPECT_GT(next, 0u);
    EXPECT_LT(next, 4u << 20);
}

void ExpectVersion(const std::wstring& path, const wchar_t* text, DWORD ms, DWORD ls) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<std::byte> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
    EXPECT_STREQ(static_cast<const wchar_t*>(value), text);
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
}

TEST(SampleInstallerFile, CarriesItsBuildVersion) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(std::sscanf(SAMPLE_INSTALLER_VERSION, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    const std::string text = SAMPLE_INSTALLER_VERSION;
    ExpectVersion(kSample, std::wstring(text.begin(), text.end()).c_str(), (a << 16) | b, (c << 16) | d);
    ExpectVersion(kNext, L"2.53.0.0", (2u << 16) | 53u, 0);
}

// Launch tests: a folder of their own in the temp folder, environment restored afterwards.
class SampleInstallerLaunch : public testing::Test {
protected:
    void SetUp() override {
        log_ = dir_ + L"launches.log";
        SaveVariable(L"TALVIMORASTER_SAMPLE_LOG");
        SaveVariable(L"TMP");
        SaveVariable(L"TEMP");
        SetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", log_.c_str());
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            SetEnvironmentVariableW(name.c_str(), value.has_value ? value.text.c_str() : nullptr);
        }
    }

    // Starts the programs at once, waits for all of them; true when every one ended with exit code 0.
    [[nodiscard]] bool LaunchAll(const std::vector<std::wstring>& programs) {
        std::vector<HANDLE> processes;
        bool ok = true;
        for (const std::wstring& program : programs) {
            std::wstring commandLine = L"\"" + program + L"\"";
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info{};
            if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info)) {
                ADD_FAILURE() << "cannot start program, error " << GetLastError();
                ok = false;
                continue;
            }
            CloseHandle(info.hThread);
            processes.push_back(info.hProcess);
        }
        for (HANDLE process : processes) {
            // A sample installer must end by itself; a generous bound turns a hang into a failure.
            if (WaitForSingleObject(process, 60'000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << "sample installer did not end by itself";
                TerminateProcess(process, 1);
                ok = false;
            } else {
                DWORD code = 1;
                GetExitCodeProcess(process, &code);
                EXPECT_EQ(code, 0u);
                ok = ok && code == 0;
            }
            CloseHandle(process);
        }
        return ok;
    }

    [[nodiscard]] bool Launch(const std::wstring& program) { return LaunchAll({program}); }

    // Lines of a log; each must end in CR LF.
    static std::vector<std::string> Lines(const std::wstring& log) {
        const std::string text = ReadFileBytes(log);
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "log does not end in CR LF";
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    static std::vector<std::string> Fields(const std::string& line) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) return fields;
            start = tab + 1;
        }
    }

    static std::wstring FromUtf8(const std::string& text) {
        const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0);
        std::wstring out(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
        return out;
    }

    static bool SamePath(const std::string& utf8, const std::wstring& path) {
        return CompareStringOrdinal(FromUtf8(utf8).c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL;
    }

    static void ExpectLaunchLine(const std::string& line, const std::wstring& program, const char* affid,
                                 const char* affsid) {
        const std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 5u) << line;
        EXPECT_EQ(fields[0], "launch");
        EXPECT_TRUE(SamePath(fields[1], program)) << fields[1];
        EXPECT_EQ(fields[2], affid);
        EXPECT_EQ(fields[3], affsid);
        EXPECT_EQ(fields[4], std::to_string(FileSize(program)));
    }

    std::wstring CopyOf(const std::wstring& program, const wchar_t* name) {
        const std::wstring copy = dir_ + name;
        EXPECT_TRUE(CopyFileW(program.c_str(), copy.c_str(), FALSE));
        return copy;
    }

    const isetup::testing::ScratchFolder scratch_{isetup::testing::ScratchFolder::ForTest("sample_installer")};
    const std::wstring dir_ = scratch_.wstring() + L'\\';
    std::wstring log_;

private:
    struct Saved {
        bool has_value = false;
        std::wstring text;
    };

    void SaveVariable(const wchar_t* name) {
        Saved saved;
        std::vector<wchar_t> buffer(32767);
        const DWORD n = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n > 0 && n < buffer.size()) saved = {true, std::wstring(buffer.data(), n)};
        saved_.emplace_back(name, saved);
    }

    std::vector<std::pair<std::wstring, Saved>> saved_;
};

TEST_F(SampleInstallerLaunch, AppendsOneLineWithItsPathUntaggedValuesAndSize) {
    ASSERT_TRUE(Launch(kSample));
    const std::vector<std::string> lines = Lines(log_);
    ASSERT_EQ(lines.size(), 1u);
    ExpectLaunchLine(lines[0], kSample, "00000000", "00000000");

    // A second launch appends instead of replacing.
    ASSERT_TRUE(Launch(kNext));
    const std::vector<std::string> both = Lines(log_);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0], lines[0]);
    ExpectLaunchLine(both[1], kNext, "00000000", "00000000");
}

// The name is Cyrillic so that the path field shows it is written as UTF-8.
TEST_F(SampleInstallerLaunch, StampedCopyReportsTheStampedValues) {
    const std::wstring copy = CopyOf(kNext, L"Установка Talvimoraster.exe");
    std::string bytes = ReadFileBytes(copy);
    const std::size_t affid = bytes.find("affid=");
    const std::size_t affsid = bytes.find("affsid=");
    ASSERT_NE(affid, std::string::npos);
    ASSERT_NE(affsid, std::string::npos);
    bytes.replace(affid + 6, 8, "12345678");
    bytes.replace(affsid + 7, 8, "AB-CD_EF");
    ASSERT_TRUE(WriteFileBytes(copy, bytes));

    ASSERT_TRUE(Launch(copy));
    const std::vector<std::string> lines = Lines(log_);
    ASSERT_EQ(lines.size(), 1u);
    ExpectLaunchLine(lines[0], copy, "12345678", "AB-CD_EF");
}

TEST_F(SampleInstallerLaunch, WithoutTheLogVariableWritesIntoTheTempFolder) {
    SetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", nullptr);
    SetEnvironmentVariableW(L"TMP", dir_.c_str());
    SetEnvironmentVariableW(L"TEMP", dir_.c_str());
    const std::wstring log = dir_ + L"TalvimorasterSampleLaunches.log";
    DeleteFileW(log.c_str());

    ASSERT_TRUE(Launch(kNext));
    const std::vector<std::string> lines = Lines(log);
    ASSERT_EQ(lines.size(), 1u);
    ExpectLaunchLine(lines[0], kNext, "00000000", "00000000");
    EXPECT_EQ(GetFileAttributesW(log_.c_str()), INVALID_FILE_ATTRIBUTES) << "wrote the variable's log anyway";
}

TEST_F(SampleInstallerLaunch, ConcurrentLaunchesAppendWholeLines) {
    std::vector<std::wstring> programs;
    for (int i = 0; i < 8; ++i) {
        // Different path lengths give lines of different lengths, so an overlap would show.
        programs.push_back(CopyOf(kNext, (std::wstring(static_cast<std::size_t>(i) + 1, L'x') + L".exe").c_str()));
    }
    ASSERT_TRUE(LaunchAll(programs));
    const std::vector<std::string> lines = Lines(log_);
    ASSERT_EQ(lines.size(), programs.size());
    std::vector<bool> seen(programs.size(), false);
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 5u) << line;
        for (std::size_t i = 0; i < programs.size(); ++i) {
            if (SamePath(fields[1], programs[i])) {
                EXPECT_FALSE(seen[i]) << line;
                seen[i] = true;
                ExpectLaunchLine(line, programs[i], "00000000", "00000000");
            }
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(programs.size()));
}

}  // namespace
