#pragma once
// Shell folders and shortcuts: special-folder lookups, folder chains, shell links (.lnk),
// Internet shortcuts (.url) and the icon-cache refresh.
//
// Output buffers belong to the caller and hold 260 characters, the system's path limit; a text
// that does not fit them is not written. The shortcut functions, except LnkToRealPath, expect the
// calling thread to have initialised COM already.
#include <windows.h>

#include "util/kv_api.h"

// Special folders, without a trailing backslash. Each returns the shell lookup's result
// (non-zero on success); a folder that does not fit 260 characters leaves an empty buffer and 0.
KV_API int GetProgramFilePath(LPWSTR path);
KV_API int GetProgramsPath(LPWSTR path);   // the user's Start Menu\Programs
KV_API int GetStartMenuPath(LPWSTR path);  // the user's Start Menu
KV_API int GetDesktopPath(LPWSTR path);    // the desktop of all users
// The user's Quick Launch folder, or with pinned set its taskbar pins folder. Always returns 1.
KV_API int GetQuickLaunchPath(LPWSTR path, int pinned);

// One folder; 0 when it cannot be made or already exists.
KV_API int CreateFolder(LPCWSTR path);
// Every missing folder on the way to path; the part after the last backslash is a file name and
// is not created. Always returns 1.
KV_API int CreateDirTree(LPCWSTR path);
// Cuts a path or a (possibly quoted) command line to its folder, keeping the last backslash and
// dropping the quotes. A string without a backslash past its first character stays as it is.
KV_API void ExtractPath(LPWSTR path);

// Makes folder\name.lnk. A null target links to the running executable; the working folder is
// the target's folder. hotkey 0 and null icon or description leave those unset.
KV_API int CreateShortcut(LPCWSTR folder, LPCWSTR name, LPCWSTR target, LPCWSTR icon, WORD hotkey,
                          LPCWSTR description, int showCmd);
// Sets the icon of an existing link; anything that does not load as a link stays as it is (0).
KV_API int SetShortcutIcon(LPCWSTR link, LPCWSTR icon);
// The link's icon location, or its raw target with index 0 when it has none.
KV_API int GetShortcutIcon(LPCWSTR link, LPWSTR iconOut, int* indexOut);
// The link's raw target. Initialises COM itself; returns the last COM result.
KV_API long LnkToRealPath(LPCWSTR link, LPWSTR out);

// Writes an Internet shortcut. 1 once the save was attempted, 0 if the object refused the URL.
KV_API int CreateUrlShortcut(LPCWSTR path, LPCWSTR url);
KV_API int GetShortcutUrl(LPCWSTR path, LPWSTR out);

// Makes the shell rebuild its icon cache by nudging the icon size and putting it back.
KV_API void RefreshIconCache();

namespace kv {
// A link's path: its folder and its name with ".lnk".
inline constexpr wchar_t kLinkPathFormat[] = L"%s\\%s.lnk";
}  // namespace kv
