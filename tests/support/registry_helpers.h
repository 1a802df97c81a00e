#pragma once
// Registry set-up for tests: values written and keys removed in a chosen view (0, KEY_WOW64_32KEY
// or KEY_WOW64_64KEY), and the check that a run got the prefix (32-bit or WOW64) it was meant for.
#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

namespace kvtest {

// Creates root\path in view and, when name is given, sets that value; true on success.
inline bool SetRegRaw(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name,
                      DWORD type, const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok = !name || ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                                            bytes) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return ok;
}

inline bool MakeRegKey(HKEY root, const std::wstring& path, REGSAM view) {
  return SetRegRaw(root, path, view, nullptr, 0, nullptr, 0);
}

inline bool SetRegText(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name,
                       const std::wstring& text) {
  return SetRegRaw(root, path, view, name, REG_SZ, text.c_str(),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline bool RegKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

inline void DeleteRegValue(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  ::RegDeleteValueW(key, name);
  ::RegCloseKey(key);
}

// Removes root\path with everything under it, in view.
inline void DeleteRegTree(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
  }
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// Root\Software\kvtest_<name>_<process>, made in the given views and removed in every view at the end.
struct TempRegKey {
  TempRegKey(HKEY r, const std::wstring& name, std::initializer_list<REGSAM> made = {0})
      : root(r), path(L"Software\\kvtest_" + name + L"_" + std::to_wstring(::GetCurrentProcessId())) {
    for (REGSAM view : made) MakeRegKey(root, path, view);
  }
  ~TempRegKey() {
    for (REGSAM view : {0, KEY_WOW64_32KEY, KEY_WOW64_64KEY}) DeleteRegTree(root, path, view);
  }
  TempRegKey(const TempRegKey&) = delete;
  TempRegKey& operator=(const TempRegKey&) = delete;
  void Add(const std::wstring& sub, REGSAM view = 0) const { MakeRegKey(root, path + L"\\" + sub, view); }
  HKEY root;
  std::wstring path;
};

// KV_EXPECT_WOW64 as set by ctest for a run: 1 under WOW64, 0 in the 32-bit prefix, -1 unset.
inline int ExpectedWow64() {
  const char* expect = std::getenv("KV_EXPECT_WOW64");
  return expect ? std::atoi(expect) : -1;
}

}  // namespace kvtest
