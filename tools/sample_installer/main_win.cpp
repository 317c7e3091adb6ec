// Sample installer: a stand-in for the application's installer. It carries the two affiliate tags in the
// installer's own string layout and, when started, appends one line about its launch to a log and exits.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// One string constant as the installer stores it: a 12-byte header, the characters, a zero terminator,
// zero fill to a 4-byte boundary. N counts the characters, the terminator and the fill.
template <std::size_t N>
struct StoredString {
    std::uint16_t codePage;
    std::uint16_t charSize;
    std::int32_t refCount;
    std::int32_t length;
    char text[N];
};

struct AffiliateTags {
    StoredString<16> affid;   // 14 characters, terminator, one fill byte
    StoredString<16> affsid;  // 15 characters, terminator
};
static_assert(sizeof(AffiliateTags) == 56);
static_assert(offsetof(AffiliateTags, affid.text) == 12);
static_assert(offsetof(AffiliateTags, affsid) == 28);

// The only copy of each marker in the image: distributors find it in the file and overwrite the eight
// value characters. Kept even though the program reads its tags from the file, not from here.
[[gnu::used]] alignas(4) constexpr AffiliateTags kAffiliateTags = {
    {1251, 1, -1, 14, "affid=00000000"},
    {1251, 1, -1, 15, "affsid=00000000"},
};

constexpr std::size_t kTagValueLength = 8;

// Hides the pointer's target from the optimiser, so that no folded copy of a marker (an immediate
// operand, a merged string) lands in the code and the image keeps each marker exactly once.
const char* Opaque(const char* p) noexcept {
    asm("" : "+r"(p));
    return p;
}

// The marker is the start of the stored text up to and including its "=".
std::string_view Marker(const char* storedText, std::size_t length) noexcept {
    return {Opaque(storedText), length};
}

// Closes a handle from CreateFileW; both NULL and INVALID_HANDLE_VALUE mean none.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    [[nodiscard]] bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

// Full path of this program's file; empty on failure.
std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) return {};
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr) || got == 0) return {};
        done += got;
    }
    return bytes;
}

// The characters after the first occurrence of the marker (eight, fewer at the end); empty when absent.
std::string_view TagValue(std::string_view image, std::string_view marker) noexcept {
    const std::size_t at = image.find(marker);
    if (at == std::string_view::npos) return {};
    return image.substr(at + marker.size(), kTagValueLength);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// TALVIMORASTER_SAMPLE_LOG when set, else the log in the temp folder.
std::wstring LogPath() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", buffer, MAX_PATH + 1);
    if (n > MAX_PATH) {
        std::wstring long_path(n, L'\0');
        n = GetEnvironmentVariableW(L"TALVIMORASTER_SAMPLE_LOG", long_path.data(), n);
        long_path.resize(n);
        return long_path;
    }
    if (n > 0) return {buffer, n};
    n = GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, n) + L"TalvimorasterSampleLaunches.log";
}

// Appends the line with one write on a handle opened for appending only, so that lines of concurrent
// launches never interleave.
[[nodiscard]] bool AppendLine(const std::wstring& path, const std::string& line) noexcept {
    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring self = OwnPath();
    // The tags as they stand in the file on disk, so that a stamped copy reports its stamped values.
    const std::string image = ReadWholeFile(self);
    const std::string_view affid = TagValue(image, Marker(kAffiliateTags.affid.text, 6));
    const std::string_view affsid = TagValue(image, Marker(kAffiliateTags.affsid.text, 7));

    std::string line = "launch\t";
    line += ToUtf8(self);
    line += '\t';
    line += affid;
    line += '\t';
    line += affsid;
    line += '\t';
    line += std::to_string(image.size());
    line += "\r\n";
    return AppendLine(LogPath(), line) ? 0 : 1;
}
