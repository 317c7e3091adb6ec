// Checks the resources that is_resources puts into an exe: the embedded installer, its language, the
// stored skin, the version resource and the manifest. This test exe links is_resources, so it carries the same ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/test_files.h"
#include "resources/resource_ids.h"
#include "tests/support/wine_path.h"
#include "ui/skin_loader.h"

namespace {

constexpr WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA);  // 1049

// A build-tree file (a Unix path) read whole.
std::string ReadFileBytes(const std::string& path) {
    return isetup::testing::ReadText(isetup::testing::WindowsPath(path));
}

std::string_view ResourceBytes(HRSRC found) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const DWORD size = SizeofResource(self, found);
    const void* bytes = LockResource(LoadResource(self, found));
    return {static_cast<const char*>(bytes), bytes ? size : 0};
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return {path, n};
}

// The version block of this exe, as the program reads its own.
std::vector<std::byte> OwnVersionBlock() {
    const std::wstring path = OwnPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<std::byte> block(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) block.clear();
    return block;
}

std::wstring VersionString(std::vector<std::byte>& block, const wchar_t* key) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), key, &value, &length) || value == nullptr) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

std::wstring Widen(std::string_view text) {
    return {text.begin(), text.end()};
}

struct VersionNumbers {
    unsigned a = 0, b = 0, c = 0, d = 0;
};

VersionNumbers ParseExpectedVersion() {
    VersionNumbers v;
    EXPECT_EQ(std::sscanf(RESOURCES_EXPECTED_VERSION, "%u.%u.%u.%u", &v.a, &v.b, &v.c, &v.d), 4);
    return v;
}

TEST(EmbeddedInstaller, IsThePayloadByteForByte) {
    const std::string payload = ReadFileBytes(RESOURCES_PAYLOAD_PATH);
    ASSERT_FALSE(payload.empty()) << "cannot read " << RESOURCES_PAYLOAD_PATH;

    const HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(2), RT_RCDATA);
    ASSERT_NE(found, nullptr);
    const std::string_view bytes = ResourceBytes(found);
    ASSERT_EQ(bytes.size(), payload.size());
    EXPECT_TRUE(bytes == payload) << "resource bytes differ from the payload file";
}

TEST(EmbeddedInstaller, IsStoredOnlyUnderRussian) {
    const HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_NE(FindResourceExW(self, RT_RCDATA, MAKEINTRESOURCEW(2), kRussian), nullptr);

    std::vector<WORD> languages;
    EnumResourceLanguagesW(self, RT_RCDATA, MAKEINTRESOURCEW(2), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kRussian});
}

TEST(StoredSkin, IsTheCommittedSkinFileAndLoads) {
    const std::string committed = ReadFileBytes(RESOURCES_STORED_SKIN_PATH);
    ASSERT_FALSE(committed.empty()) << "cannot read " << RESOURCES_STORED_SKIN_PATH;

    const HRSRC found =
        FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(INTERNETSETUP_STORED_SKIN_ID), RT_RCDATA);
    ASSERT_NE(found, nullptr);
    const std::string_view bytes = ResourceBytes(found);
    ASSERT_EQ(bytes.size(), committed.size());
    EXPECT_TRUE(bytes == committed) << "resource bytes differ from resources/tlvm.skn";

    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto skin = isetup::ui::LoadStoredSkinChecked({data, bytes.size()});
    ASSERT_TRUE(skin.ok()) << skin.error();
    ASSERT_TRUE(skin.value().frame.has_value());
    EXPECT_EQ(skin.value().frame->size(), (isetup::ui::Size{629, 403}));
    EXPECT_TRUE(skin.value().mask.has_value());
    EXPECT_TRUE(skin.value().description.caption.has_value());
}

TEST(VersionResource, HasOneRussianTranslationWithTheBuildVersion) {
    std::vector<std::byte> block = OwnVersionBlock();
    ASSERT_FALSE(block.empty()) << "no version block";

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u) << "exactly one translation entry";
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0419);
    EXPECT_EQ(translation[1], 0x04E3);

    const std::wstring expected = Widen(RESOURCES_EXPECTED_VERSION);
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041904e3\\FileVersion"), expected);
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041904E3\\ProductVersion"), expected);
    // Cyrillic survives only when windres read the .rc as UTF-8.
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041904e3\\FileDescription"),
              L"Интернет установщик программы Талвиморастер");
    EXPECT_EQ(VersionString(block, L"\\StringFileInfo\\041904e3\\ProductName"), L"Talvimoraster");
}

TEST(VersionResource, FixedPartMatchesTheVersionText) {
    std::vector<std::byte> block = OwnVersionBlock();
    ASSERT_FALSE(block.empty()) << "no version block";
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);

    const VersionNumbers v = ParseExpectedVersion();
    const DWORD ms = (v.a << 16) | v.b;
    const DWORD ls = (v.c << 16) | v.d;
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
}

TEST(Manifest, RequestsAdministratorAndCommonControls6) {
    const HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest resource 24/1";
    const std::string_view text = ResourceBytes(found);
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string_view::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string_view::npos);
    const std::size_t controls = text.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string_view::npos);
    const std::string_view identity = text.substr(controls, text.find("/>", controls) - controls);
    EXPECT_NE(identity.find("version=\"6.0.0.0\""), std::string_view::npos);
    EXPECT_NE(identity.find("publicKeyToken=\"6595b64144ccf1df\""), std::string_view::npos);
    // Per-monitor DPI awareness, both the older and the newer way of saying it.
    EXPECT_NE(text.find(">true/pm</dpiAware>"), std::string_view::npos);
    EXPECT_NE(text.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string_view::npos);
    for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(text.find(os), std::string_view::npos) << "supportedOS " << os;
    }
}

}  // namespace
