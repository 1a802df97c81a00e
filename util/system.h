#pragma once
// System and process facts: Windows version and WOW64, file-system redirection, privileges, UAC,
// the single-instance guard, starting programs, the processor fingerprint, battery and code page.
#include <windows.h>

#include "util/kv_api.h"

// Short name of the running Windows ("Win7", "XP", ...): at most 8 characters with the terminator.
KV_API int GetOsName(LPWSTR name);
KV_API int isWin7();
KV_API int isWin8();
KV_API int isWow64();
KV_API void DisableFsRedirection(PVOID* saved);
KV_API void RevertFsRedirection(PVOID saved);

KV_API int SetPrivilege(LPCWSTR privilege, int enable);
KV_API int isEnableUAC();

KV_API int CheckOneInstance(LPCWSTR name, LPCWSTR message);
KV_API int DoRun(LPCWSTR file, LPCWSTR parameters, int wait, int show);

// Vendor text and feature word of the processor, narrow: at most 24 bytes with the terminator.
KV_API void GetCPUID(char* id);
KV_API int isNotebook();
KV_API int isTraditional();
KV_API int isSimplified();
KV_API int isEnglish();

namespace kv {
// The name GetOsName gives for one version report; apart so that every row can be checked.
const wchar_t* OsNameFor(DWORD platform, DWORD major, DWORD minor);

// Starts file with parameters through the shell (quiet: no error box of the shell's own) and,
// with wait, returns when it has ended. False when it could not be started.
bool ShellRun(LPCWSTR file, LPCWSTR parameters, bool wait, int show, bool quiet);

// Restricts the libraries this process loads later by name to the system folder and the
// program's own folder, where the system can (not the current folder, not the PATH). True when a
// restriction took effect.
bool RestrictLibrarySearch();
}  // namespace kv
