// Names next to a file: its folder, its own name, the fresh names a safe write uses beside it, and the
// ".Local" folder that would redirect the DLLs of a program stored there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace isetup {

// The folder part of `path` without its trailing separator ("C:\\Temp" for "C:\\Temp\\a.exe"); empty
// when `path` has no separator.
std::wstring_view FolderOf(std::wstring_view path);

// The last component of `path` ("a.exe" for "C:\\Temp\\a.exe"); all of it when it has no separator.
std::wstring_view LeafOf(std::wstring_view path);

// A fresh name in the same folder as `path` for the copy that is written first and then moved over
// `path`: `path` + ".~" + 16 hexadecimal digits of `nonce` + ".tmp".
std::wstring FreshSiblingName(std::wstring_view path, std::uint64_t nonce);

// The folder whose presence beside a program makes Windows load that program's DLLs from it.
std::wstring DllRedirectionFolder(std::wstring_view programPath);

}  // namespace isetup
