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
