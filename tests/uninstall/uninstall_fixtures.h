#pragma once
// Records as bytes, written as they are (a hostile or broken writer checks nothing), and the
// shell's folders.
#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/kvtest.h"
#include "uninstall/record.h"

namespace kvtest {

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), std::min(text.size(), N) * sizeof(wchar_t));
}

inline UninstallEntry Entry(int is_file, const std::wstring& path) {
  UninstallEntry e = {};
  e.isFile = is_file;
  Put(e.path, path);
  return e;
}

template <typename T>
std::string Raw(const T& piece) {
  return std::string(reinterpret_cast<const char*>(&piece), sizeof(piece));
}

// The header, the removal list (list mode only), the shortcut list: each list after its count.
inline std::string RawRecord(const UninstallRecord& header, const std::vector<UninstallEntry>& removals,
                             const std::vector<UninstallEntry>& shortcuts) {
  std::string bytes = Raw(header);
  for (const std::vector<UninstallEntry>* list : {&removals, &shortcuts}) {
    if (list == &removals && header.installDir[0] != L'\0') continue;
    bytes += Raw(static_cast<int>(list->size()));
    for (const UninstallEntry& e : *list) bytes += Raw(e);
  }
  return bytes;
}

// A folder of the shell, with a trailing backslash.
inline std::wstring ShellDir(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return std::wstring(path) + L"\\";
}

}  // namespace kvtest
