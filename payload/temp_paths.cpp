// Path text routines for the files in the temp folder.
#include "payload/temp_paths.h"

namespace isetup {

void InsertBeforeDot(std::wstring& path, std::wstring_view insert) {
  // Only the file name counts: a folder such as C:\Users\john.doe\ must keep its name.
  const std::size_t separator = path.find_last_of(L"\\/");
  const std::size_t nameStart = separator == std::wstring::npos ? 0 : separator + 1;
  const std::size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot < nameStart) {
    path.append(insert);
  } else {
    path.insert(dot, insert);
  }
}

namespace {

std::wstring EndingWithASeparator(std::wstring_view path) {
  std::wstring folder(path);
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder.push_back(L'\\');
  return folder;
}

}  // namespace

bool IsFreshFileOfOurs(std::wstring_view leaf) {
  // NAME + ".~" + 16 lower-case hexadecimal digits + ".tmp"
  constexpr std::size_t kSuffix = 2 + 16 + 4;
  if (leaf.size() <= kSuffix || leaf.substr(leaf.size() - 4) != L".tmp") return false;
  const std::wstring_view suffix = leaf.substr(leaf.size() - kSuffix, kSuffix - 4);
  if (suffix.substr(0, 2) != L".~" ||
      suffix.substr(2).find_first_not_of(L"0123456789abcdef") != std::wstring_view::npos) {
    return false;
  }
  // The installer under its name and the second names of the fall-backs, and the reply file.
  const std::wstring_view name = leaf.substr(0, leaf.size() - kSuffix);
  std::wstring setup(kSetupFileName);
  for (int seconds = 0; seconds <= 2; ++seconds, InsertBeforeDot(setup, L"2")) {
    if (name == setup) return true;
  }
  return name == kVersionInfoFileName;
}

bool LeavesRoomForTheFileNames(std::wstring_view folder) {
  return folder.size() + kLongestTempFileName <= kLongestPlainPath;
}

std::wstring ChooseTempFolder(std::wstring_view longForm, std::wstring_view systemForm,
                              std::wstring_view shortForm) {
  std::wstring folder = EndingWithASeparator(longForm.empty() ? systemForm : longForm);
  // With no folder at all the files go to the current folder, named so that a file name can follow.
  if (folder.empty()) return L".\\";
  if (!LeavesRoomForTheFileNames(folder)) {
    std::wstring shorter = EndingWithASeparator(shortForm);
    if (!shorter.empty() && shorter.size() < folder.size()) return shorter;
  }
  return folder;
}

}  // namespace isetup
