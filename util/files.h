#pragma once
// Files, folders, versions and sizes.
#include <windows.h>

#include "util/kv_api.h"

// Folder of the running executable, ending with a backslash. room: characters at path.
KV_API void GetCurPath(LPWSTR path, int room = MAX_PATH + 1);
// Folder of the loaded module named module, or of the executable when no such module is loaded.
KV_API void GetCurPathEx(LPCWSTR module, LPWSTR path, int room = MAX_PATH + 1);
