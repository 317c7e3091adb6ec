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

// Writes the installer with `write` (true: it now stands there) at `path`, or, when that fails because
// the file there cannot be replaced (a still-running earlier installer holds it, it is read-only), at
// the second name (`path` with "2" before the dot). Returns the name written, or `path` when neither
// could be: nothing is held for the launch then, so nothing stale is started.
template <typename Write>
std::wstring WriteOrUseSecondName(const std::wstring& path, Write&& write) {
  if (write(path)) return path;
  std::wstring second = path;
  InsertBeforeDot(second, L"2");
  return write(second) ? second : path;
}

// Whether `leaf` is the name of a fresh file that a run of ours writes first and then moves over one of
// its names in the temp folder (see FreshSiblingName): left behind only by a run that was killed.
bool IsFreshFileOfOurs(std::wstring_view leaf);

// The search pattern that finds every such name (and others, which IsFreshFileOfOurs then tells apart).
inline constexpr std::wstring_view kFreshFilesPattern = L"Talvimoraster*.~*.tmp";

// The longest name the program gives a file in the temp folder ("TalvimorasterSetup22.exe").
inline constexpr std::size_t kLongestTempFileName = 24;
// The longest path that the shell and installers unaware of longer paths accept (MAX_PATH less its zero).
inline constexpr std::size_t kLongestPlainPath = 259;

// Whether each of the program's files in `folder` (ending with a separator) gets a plain path.
bool LeavesRoomForTheFileNames(std::wstring_view folder);

// The temp folder to use: the long form when there is one, else the path as the system gave it,
// always ending with a backslash (a "/" at the end is kept as it is); ".\" (the current folder) when
// both are empty, so that file names appended to it still make a usable path. When that folder leaves
// no room for the file names and the 8.3 `shortForm` is shorter, the short form, so that the installer
// can still be started.
std::wstring ChooseTempFolder(std::wstring_view longForm, std::wstring_view systemForm,
                              std::wstring_view shortForm = {});

}  // namespace isetup
