// File names in the temp folder: the fixed names and the second name of the forced fall-back.
#pragma once

#include <string>
#include <string_view>

namespace isetup {

inline constexpr std::wstring_view kSetupFileName = L"TalvimorasterSetup.exe";
inline constexpr std::wstring_view kVersionInfoFileName = L"TalvimorasterLastVer.txt";

// Inserts `insert` before the last "." of the file name (the part after the last "\" or "/");
// appends it when the file name has no ".". Folder names are never touched.
void InsertBeforeDot(std::wstring& path, std::wstring_view insert);

// The temp folder to use: the long form when there is one, else the path as the system gave it,
// always ending with a backslash (a "/" at the end is kept as it is); ".\" (the current folder) when
// both are empty, so that file names appended to it still make a usable path.
std::wstring ChooseTempFolder(std::wstring_view longForm, std::wstring_view systemForm);

}  // namespace isetup
