#include "gfx/icons.h"

#include <intshcut.h>
#include <isguids.h>
#include <shellapi.h>
#include <shlguid.h>
#include <shlobj.h>
#include <urlmon.h>
#include <wininet.h>

#include <cwchar>
#include <string_view>
#include <vector>

#include "gfx/fill_in.h"
#include "gfx/gfx_texts.h"
#include "util/caller_text.h"
#include "util/handles.h"

namespace {

namespace texts = kv::gfx;

// The structure as it stood up to and including the item GUID: the size every caller passes.
constexpr DWORD kNotifyIconDataSize = NOTIFYICONDATAW_V3_SIZE;
static_assert(kNotifyIconDataSize == 952, "tray record size");
constexpr UINT kTrayIconId = 0;

NOTIFYICONDATAW TrayRecord(HWND window, UINT flags) {
  NOTIFYICONDATAW data = {};
  data.cbSize = kNotifyIconDataSize;
  data.hWnd = window;
  data.uID = kTrayIconId;
  data.uFlags = flags;
  return data;
}

void ReplaceAll(std::wstring& text, std::wstring_view what, std::wstring_view with) {
  for (size_t at = text.find(what); at != std::wstring::npos;
       at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

HRESULT CreateInternetShortcut(kv::ComPtr<IUniformResourceLocatorW>* shortcut) {
  return ::CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IUniformResourceLocatorW, shortcut->put_void());
}

// Characters no file name of the temporary folder may hold: separators, the drive and stream
// colon, the wildcards and the rest that Win32 refuses in names.
bool IsNameBreaker(wchar_t c) {
  return c < 0x20 || std::wstring_view(texts::kNameBreakers).find(c) != std::wstring_view::npos;
}

// "con", "nul.ico", "com1.x": names of devices rather than files, whatever their extension.
bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (const wchar_t* device : texts::kDeviceNames)
    if (::lstrcmpiW(base.c_str(), device) == 0) return true;
  return false;
}

}  // namespace

std::wstring kv::UrlIconLocalPath(const std::wstring& iconLocation) {
  std::wstring name = iconLocation;
  if (!name.empty()) ::CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  ReplaceAll(name, texts::kHttpPrefix, L"");
  ReplaceAll(name, texts::kHttpsPrefix, L"");
  for (wchar_t& c : name)
    if (IsNameBreaker(c)) c = L'_';
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  if (name.empty() || IsDeviceName(name)) return L"";
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  std::wstring path = kv::FillIn(texts::kLocalIconFormat, temp, name);
  return path.size() < kv::kPathRoom ? path : L"";
}

HICON GetFileIcon(LPCWSTR file, int index, int size) {
  if (!file) return nullptr;
  HICON icon = nullptr;
  UINT id = 0;
  const UINT got = ::PrivateExtractIconsW(file, index, size, size, &icon, &id, 1, LR_LOADFROMFILE);
  // 0xFFFFFFFF: the file was not found or holds no icons.
  if (got == 0 || got == 0xFFFFFFFF) return nullptr;
  return icon;
}

int GetUrlShortcutIcon(LPCWSTR urlFile, LPWSTR outPath, int download) {
  if (!urlFile || !outPath) return 0;
  kv::ComInit com;
  if (!com.usable()) return 0;
  kv::ComPtr<IUniformResourceLocatorW> shortcut;
  if (FAILED(CreateInternetShortcut(&shortcut))) return 0;
  kv::ComPtr<IPersistFile> file;
  if (FAILED(shortcut->QueryInterface(IID_IPersistFile, file.put_void()))) return 0;
  if (FAILED(file->Load(urlFile, STGM_READ))) return 0;
  kv::ComPtr<IShellLinkW> link;
  if (FAILED(shortcut->QueryInterface(IID_IShellLinkW, link.put_void()))) return 0;
  wchar_t location[MAX_PATH] = {};
  int icon_index = 0;
  if (FAILED(link->GetIconLocation(location, MAX_PATH, &icon_index))) return 0;
  if (!location[0]) return 0;

  const std::wstring local = kv::UrlIconLocalPath(location);
  if (local.empty()) return 0;
  int result = ::GetFileAttributesW(local.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!result && download)
    result = ::URLDownloadToFileW(nullptr, location, local.c_str(), 0, nullptr) == S_OK;
  return result && kv::CopyToCaller(local, outPath, kv::kPathRoom) ? 1 : 0;
}

int GetUrlCacheIconPath(LPCWSTR url, LPWSTR outPath) {
  if (!url || !outPath) return 0;
  kv::ComInit com;
  if (!com.usable()) return 0;
  kv::ComPtr<IUniformResourceLocatorW> shortcut;
  if (FAILED(CreateInternetShortcut(&shortcut))) return 0;
  if (FAILED(shortcut->SetURL(url, IURL_SETURL_FL_GUESS_PROTOCOL))) return 0;
  kv::ComPtr<IPropertySetStorage> sets;
  if (FAILED(shortcut->QueryInterface(IID_IPropertySetStorage, sets.put_void()))) return 0;
  kv::ComPtr<IPropertyStorage> site;
  if (FAILED(sets->Open(FMTID_InternetSite, STGM_READ | STGM_SHARE_EXCLUSIVE, site.put())))
    return 0;

  PROPSPEC property = {};
  property.ulKind = PRSPEC_PROPID;
  property.propid = PID_INTSITE_ICONFILE;
  kv::ScopedPropVariant value;
  if (FAILED(site->ReadMultiple(1, &property, value.get()))) return 0;
  const std::wstring icon_url = value->vt == VT_LPWSTR && value->pwszVal ? value->pwszVal : L"";
  if (icon_url.empty()) return 0;

  DWORD size = 0;
  if (::GetUrlCacheEntryInfoW(icon_url.c_str(), nullptr, &size) ||
      ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return 0;
  // DWORD elements keep the entry record aligned.
  std::vector<DWORD> storage(size / sizeof(DWORD) + 1);
  auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(storage.data());
  if (!::GetUrlCacheEntryInfoW(icon_url.c_str(), entry, &size) || !entry->lpszLocalFileName)
    return 0;
  return kv::CopyToCaller(entry->lpszLocalFileName, outPath, kv::kPathRoom) ? 1 : 0;
}

HICON GetUrlCacheIcon(LPCWSTR url, int size) {
  wchar_t path[MAX_PATH] = {};
  if (!GetUrlCacheIconPath(url, path)) return nullptr;
  return static_cast<HICON>(::LoadImageW(nullptr, path, IMAGE_ICON, size, size, LR_LOADFROMFILE));
}

BOOL ShowTray(HWND window, HICON icon, LPCWSTR tip, UINT callbackMsg) {
  NOTIFYICONDATAW data = TrayRecord(window, NIF_MESSAGE | NIF_ICON | NIF_TIP);
  data.uCallbackMessage = callbackMsg;
  data.hIcon = icon;
  kv::CopyToField(data.szTip, tip);
  return ::Shell_NotifyIconW(NIM_ADD, &data);
}

BOOL SetIcon(HWND window, HICON icon) {
  NOTIFYICONDATAW data = TrayRecord(window, NIF_ICON);
  data.hIcon = icon;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL SetTip(HWND window, LPCWSTR tip) {
  NOTIFYICONDATAW data = TrayRecord(window, NIF_TIP);
  kv::CopyToField(data.szTip, tip);
  return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL ShowBalloon(HWND window, LPCWSTR title, LPCWSTR text, int timeoutMs) {
  NOTIFYICONDATAW data = TrayRecord(window, NIF_INFO);
  kv::CopyToField(data.szInfoTitle, title);
  kv::CopyToField(data.szInfo, text);
  data.uTimeout = static_cast<UINT>(timeoutMs);
  data.dwInfoFlags = NIIF_INFO;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

BOOL DelTray(HWND window) {
  NOTIFYICONDATAW data = TrayRecord(window, 0);
  return ::Shell_NotifyIconW(NIM_DELETE, &data);
}
