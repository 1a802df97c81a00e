#pragma once
// Icons of files and internet shortcuts, and the notification-area (tray) icon. Out paths are
// caller buffers of 260 characters.
#include <windows.h>

#include <string>

#include "util/kv_api.h"

// Icon number index of file, size x size pixels, or null. The caller destroys it.
KV_API HICON GetFileIcon(LPCWSTR file, int index, int size);
// Finds the icon of an internet shortcut (.url) file and makes it a local file in the temporary
// folder, downloading it when download is non-zero and no local copy exists. 1 with the local
// path in outPath, else 0 with outPath untouched.
KV_API int GetUrlShortcutIcon(LPCWSTR urlFile, LPWSTR outPath, int download);
// Path of the browser cache's copy of the icon of a web address.
KV_API int GetUrlCacheIconPath(LPCWSTR url, LPWSTR outPath);
// That cached icon loaded at size x size pixels, or null. The caller destroys it.
KV_API HICON GetUrlCacheIcon(LPCWSTR url, int size);

// Tray icon number 0 of window. Each returns what Shell_NotifyIconW returned. Tips hold at most
// 127 characters, balloon titles 63 and balloon texts 255; longer texts are cut.
KV_API BOOL ShowTray(HWND window, HICON icon, LPCWSTR tip, UINT callbackMsg);
KV_API BOOL SetIcon(HWND window, HICON icon);
KV_API BOOL SetTip(HWND window, LPCWSTR tip);
KV_API BOOL ShowBalloon(HWND window, LPCWSTR title, LPCWSTR text, int timeoutMs);
KV_API BOOL DelTray(HWND window);

namespace kv {
// The local file GetUrlShortcutIcon uses for an icon address: lower case, without "http://" and
// "https://", every "/" turned into "_", behind the temporary folder. The address comes from a
// downloaded file: whatever else could lead out of that folder or name no plain file there (a
// backslash, a colon, the other characters no file name holds) becomes "_" as well, and trailing
// dots and blanks go, as Win32 would drop them. Empty when no plain file name is left (nothing,
// only dots, a device name such as "con") or the path would not fit 260 characters.
std::wstring UrlIconLocalPath(const std::wstring& iconLocation);
}  // namespace kv
