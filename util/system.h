#pragma once
// System and process facts: Windows version and WOW64, file-system redirection, privileges, UAC,
// the single-instance guard, starting programs, the processor fingerprint, battery and code page.
#include <windows.h>

#include "util/kv_api.h"

// Short name of the running Windows ("Win7", "XP", ...). room: characters at name.
KV_API int GetOsName(LPWSTR name, int room = 16);
KV_API int isWin7();
KV_API int isWin8();
KV_API int isWow64();
KV_API void DisableFsRedirection(PVOID* saved);
KV_API void RevertFsRedirection(PVOID saved);

KV_API int SetPrivilege(LPCWSTR privilege, int enable);
KV_API int isEnableUAC();

KV_API int CheckOneInstance(LPCWSTR name, LPCWSTR message);
KV_API int DoRun(LPCWSTR file, LPCWSTR parameters, int wait, int show);

// Vendor text and feature word of the processor, narrow. room: bytes at id.
KV_API void GetCPUID(char* id, int room = 64);
KV_API int isNotebook();
KV_API int isTraditional();
KV_API int isSimplified();
KV_API int isEnglish();

namespace kv {
// The name GetOsName gives for one version report; apart so that every row can be checked.
const wchar_t* OsNameFor(DWORD platform, DWORD major, DWORD minor);
}  // namespace kv
