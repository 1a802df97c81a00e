#include "uninstall/protected_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <userenv.h>

#include <vector>

namespace {

constexpr int kProtectedCsidls[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,          CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
    CSIDL_PROGRAM_FILES_COMMONX86,                 CSIDL_COMMON_APPDATA,
    CSIDL_PROFILE,          CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,         CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA,    CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
    CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,
};

// Full, long-name form without a trailing backslash, so that different spellings compare equal.
std::wstring Canonical(const std::wstring& path) {
  if (path.empty()) return path;
  wchar_t full[MAX_PATH * 2] = {};
  DWORD len = ::GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  std::wstring result = (len && len < MAX_PATH * 2) ? std::wstring(full, len) : path;
  wchar_t long_name[MAX_PATH * 2] = {};
  len = ::GetLongPathNameW(result.c_str(), long_name, MAX_PATH * 2);
  if (len && len < MAX_PATH * 2) result.assign(long_name, len);
  while (result.size() > 1 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
  return result;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// "C:", "\\server\share" and "\\?\C:" name roots.
bool IsRoot(const std::wstring& canonical) {
  std::wstring p = canonical;
  if (p.rfind(L"\\\\?\\", 0) == 0) p.erase(0, 4);
  if (p.size() == 2 && p[1] == L':') return true;
  if (p.rfind(L"\\\\", 0) == 0) {
    const size_t server_end = p.find(L'\\', 2);
    return server_end == std::wstring::npos || p.find(L'\\', server_end + 1) == std::wstring::npos;
  }
  return false;
}

std::vector<std::wstring> WellKnownFolders() {
  std::vector<std::wstring> folders;
  for (int csidl : kProtectedCsidls) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0])
      folders.push_back(Canonical(path));
  }
  wchar_t profiles[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (::GetProfilesDirectoryW(profiles, &size)) folders.push_back(Canonical(profiles));
  return folders;
}

}  // namespace

bool IsProtectedFolder(const std::wstring& folder) {
  const std::wstring canonical = Canonical(folder);
  if (canonical.empty() || IsRoot(canonical)) return true;
  for (const std::wstring& known : WellKnownFolders())
    if (SamePath(canonical, known)) return true;
  return false;
}
