#include "util/shell.h"

#include <intshcut.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <string>

#include "util/caller_text.h"
#include "util/files.h"
#include "util/format.h"
#include "util/handles.h"

namespace {

// Literal texts and identifiers of the shell helpers.
constexpr wchar_t kQuickLaunchTail[] = L"\\Microsoft\\Internet Explorer\\Quick Launch";
constexpr wchar_t kPinnedTail[] =
    L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";
constexpr wchar_t kWindowMetricsKey[] = L"Control Panel\\Desktop\\WindowMetrics";
constexpr wchar_t kShellIconSizeValue[] = L"Shell Icon Size";
constexpr UINT kBroadcastWaitMs = 5000;              // per window
constexpr DWORD kStorageRead = STGM_READ;            // 0
constexpr DWORD kStorageWrite = STGM_WRITE;          // 1
constexpr DWORD kStorageReadWrite = STGM_READWRITE;  // 2
constexpr CLSID kClsidInternetShortcut = {
    0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};
constexpr IID kIidUniformResourceLocatorW = {
    0xCABB0DA0, 0xDA57, 0x11CF, {0x99, 0x74, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x62}};

int SpecialFolder(int csidl, LPWSTR path) {
  wchar_t found[MAX_PATH] = {};
  const BOOL ok = ::SHGetSpecialFolderPathW(nullptr, found, csidl, FALSE);
  if (!kv::CopyToCaller(found, path, kv::kPathRoom)) return 0;
  return ok;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct LinkObjects {
  kv::ComPtr<IShellLinkW> link;
  kv::ComPtr<IPersistFile> file;
  HRESULT hr = E_FAIL;

  LinkObjects() {
    hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                            link.put_void());
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, file.put_void());
  }
  explicit operator bool() const { return link && file; }
};

void WriteIconSize(HKEY key, int size) {
  const std::wstring text = std::to_wstring(size);
  ::RegSetValueExW(key, kShellIconSizeValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  // Delivered synchronously like SendMessage, but a hung top-level window of some other program
  // must not freeze the caller for ever.
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, 0, SMTO_ABORTIFHUNG, kBroadcastWaitMs,
                        &ignored);
}

}  // namespace

int GetProgramFilePath(LPWSTR path) { return SpecialFolder(CSIDL_PROGRAM_FILES, path); }
int GetProgramsPath(LPWSTR path) { return SpecialFolder(CSIDL_PROGRAMS, path); }
int GetStartMenuPath(LPWSTR path) { return SpecialFolder(CSIDL_STARTMENU, path); }
int GetDesktopPath(LPWSTR path) { return SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, path); }

int GetQuickLaunchPath(LPWSTR path, int pinned) {
  wchar_t appdata[MAX_PATH] = {};
  ::SHGetSpecialFolderPathW(nullptr, appdata, CSIDL_APPDATA, FALSE);
  kv::CopyToCaller(std::wstring(appdata) + (pinned ? kPinnedTail : kQuickLaunchTail), path,
                   kv::kPathRoom);
  return 1;
}

int CreateFolder(LPCWSTR path) {
  if (!path) return 0;
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = FALSE;
  return ::CreateDirectoryW(path, &attributes) ? 1 : 0;
}

int CreateDirTree(LPCWSTR path) {
  if (!path) return 1;
  const std::wstring full = path;
  const size_t last = full.rfind(L'\\');
  const std::wstring dir = last == std::wstring::npos ? std::wstring() : full.substr(0, last);
  if (Exists(full)) return 1;

  std::wstring prefix;
  size_t pos = 0;
  // A share root (\\server\share) is not a folder anyone can create: start below it, so that
  // UNC paths keep their leading backslashes.
  if (dir.rfind(L"\\\\", 0) == 0) {
    const size_t server_end = dir.find(L'\\', 2);
    const size_t share_end =
        server_end == std::wstring::npos ? std::wstring::npos : dir.find(L'\\', server_end + 1);
    if (share_end == std::wstring::npos) return 1;
    prefix = dir.substr(0, share_end + 1);
    pos = share_end + 1;
  }
  while (pos <= dir.size()) {
    size_t next = dir.find(L'\\', pos);
    if (next == std::wstring::npos) next = dir.size();
    if (next > pos) {
      prefix += dir.substr(pos, next - pos);
      if (!Exists(prefix)) CreateFolder(prefix.c_str());
      prefix += L'\\';
    }
    pos = next + 1;
  }
  return 1;
}

void ExtractPath(LPWSTR path) {
  if (!path) return;
  wchar_t* slash = std::wcsrchr(path, L'\\');
  if (!slash || slash == path) return;
  slash[1] = L'\0';
  wchar_t* to = path;
  for (const wchar_t* from = path; *from; ++from)
    if (*from != L'"') *to++ = *from;
  *to = L'\0';
}

int CreateShortcut(LPCWSTR folder, LPCWSTR name, LPCWSTR target, LPCWSTR icon, WORD hotkey,
                   LPCWSTR description, int showCmd) {
  if (!folder) return 0;
  LinkObjects shell;
  if (!shell) return 0;

  std::wstring working;
  if (target) {
    working = target;
    const size_t last = working.rfind(L'\\');
    working.resize(last == std::wstring::npos ? 0 : last);
    shell.link->SetPath(target);
  } else {
    working = kv::ProgramFolder();
    shell.link->SetPath(kv::ProgramPath().c_str());
  }
  shell.link->SetWorkingDirectory(working.c_str());
  if (icon) shell.link->SetIconLocation(icon, 0);
  if (hotkey) shell.link->SetHotkey(hotkey);
  if (description) shell.link->SetDescription(description);
  shell.link->SetShowCmd(showCmd);

  const std::wstring link_path = kv::FormatText(kv::kLinkPathFormat, {folder, name ? name : L""});
  return SUCCEEDED(shell.file->Save(link_path.c_str(), TRUE)) ? 1 : 0;
}

int SetShortcutIcon(LPCWSTR link, LPCWSTR icon) {
  if (!link) return 0;
  LinkObjects shell;
  if (!shell) return 0;
  // Saving after a failed load would put a bare link in place of whatever file that was.
  if (FAILED(shell.file->Load(link, kStorageReadWrite))) return 0;
  if (icon) shell.link->SetIconLocation(icon, 0);
  return SUCCEEDED(shell.file->Save(link, TRUE)) ? 1 : 0;
}

int GetShortcutIcon(LPCWSTR link, LPWSTR iconOut, int* indexOut) {
  if (!link || !iconOut) return 0;
  LinkObjects shell;
  if (!shell) return 0;
  int index = 0;
  shell.file->Load(link, kStorageRead);
  shell.link->GetIconLocation(iconOut, kv::kPathRoom, &index);
  if (iconOut[0] == L'\0') {
    shell.link->GetPath(iconOut, kv::kPathRoom, nullptr, SLGP_RAWPATH);
    index = 0;
  }
  if (indexOut) *indexOut = index;
  return 1;
}

long LnkToRealPath(LPCWSTR link, LPWSTR out) {
  HRESULT hr = E_FAIL;
  kv::ComInit com;
  kv::ComPtr<IShellLinkW> shell;
  kv::ComPtr<IPersistFile> file;
  hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                          shell.put_void());
  if (FAILED(hr)) return hr;
  hr = shell->QueryInterface(IID_IPersistFile, file.put_void());
  if (FAILED(hr)) return hr;
  hr = file->Load(link, kStorageRead);
  if (FAILED(hr)) return hr;
  if (!out) return E_POINTER;
  hr = shell->GetPath(out, kv::kPathRoom, nullptr, SLGP_RAWPATH);
  return hr;
}

int CreateUrlShortcut(LPCWSTR path, LPCWSTR url) {
  if (!path || !url) return 0;
  kv::ComPtr<IUniformResourceLocatorW> locator;
  if (FAILED(::CoCreateInstance(kClsidInternetShortcut, nullptr, CLSCTX_INPROC_SERVER,
                                kIidUniformResourceLocatorW, locator.put_void())))
    return 0;
  if (FAILED(locator->SetURL(url, 0))) return 0;
  kv::ComPtr<IPersistFile> file;
  if (FAILED(locator->QueryInterface(IID_IPersistFile, file.put_void()))) return 0;
  file->Save(path, TRUE);
  return 1;
}

int GetShortcutUrl(LPCWSTR path, LPWSTR out) {
  if (!path || !out) return 0;
  kv::ComPtr<IUniformResourceLocatorW> locator;
  if (FAILED(::CoCreateInstance(kClsidInternetShortcut, nullptr, CLSCTX_INPROC_SERVER,
                                kIidUniformResourceLocatorW, locator.put_void())))
    return 0;
  kv::ComPtr<IPersistFile> file;
  if (FAILED(locator->QueryInterface(IID_IPersistFile, file.put_void()))) return 0;
  if (FAILED(file->Load(path, kStorageWrite))) return 0;
  // The shell allocates the text with the task allocator: it goes back there.
  kv::UniqueCoTaskMem url;
  if (FAILED(locator->GetURL(reinterpret_cast<LPWSTR*>(url.put()))) || !url) return 0;
  return kv::CopyToCaller(static_cast<const wchar_t*>(url.get()), out, kv::kPathRoom) ? 1 : 0;
}

void RefreshIconCache() {
  const int size = ::GetSystemMetrics(SM_CXICON);
  kv::UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kWindowMetricsKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return;
  WriteIconSize(key.get(), size - 1);
  WriteIconSize(key.get(), size);
}
