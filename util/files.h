#pragma once
// Files, folders, versions and sizes.
#include <windows.h>

#include <string>

#include "util/handles.h"
#include "util/kv_api.h"

// Output texts go to caller buffers without a size argument, each of the room stated beside it.

// Folder of the running executable, ending with a backslash. path: 260 characters.
KV_API void GetCurPath(LPWSTR path);
// Folder of the loaded module named module, or of the executable when no such module is loaded.
// path: 260 characters.
KV_API void GetCurPathEx(LPCWSTR module, LPWSTR path);

// Reads up to *length bytes of the file into buffer; *length receives the bytes read.
KV_API int KvReadFile(LPCWSTR path, LPVOID buffer, DWORD* length);
// Creates or truncates the file and writes length bytes.
KV_API int KvWriteFile(LPCWSTR path, LPCVOID data, DWORD length);
KV_API int isDir(LPCWSTR path);
KV_API long long FileSize(LPCWSTR path);
// Local creation, last-write and last-access times; each out argument may be null.
KV_API int FileTime(LPCWSTR path, SYSTEMTIME* creation, SYSTEMTIME* last_write,
                    SYSTEMTIME* last_access);
// File version "a.b.c.d" from the version resource: at most 24 characters with the terminator.
KV_API int GetFileVer(LPCWSTR path, LPWSTR version);
// 1 when a is newer, -1 when b is newer, 0 when equal, -2 when either is empty.
KV_API int CompVersion(LPCWSTR a, LPCWSTR b);
// Size as text ("1.00 KB", "1024 B"): at most 17 characters with the terminator.
KV_API void IntToStrSize(long long size, LPWSTR text);
// Size from text such as "3 GB"; a size beyond the 64-bit range gives the range's end.
KV_API long long StrToIntSize(LPCWSTR text);
KV_API unsigned long long GetPathUseSpace(LPCWSTR path);
// Whether an uninstall entry's display name begins with prefix; GetSoftVer also gives its
// display version, at most 50 characters with the terminator.
KV_API int CheckInstalled(LPCWSTR prefix);
KV_API int GetSoftVer(LPCWSTR prefix, LPWSTR version);

namespace kv {
// Whether the open file and the file named path are one file, however either is spelled (other
// case, short names, "..", a second link): both name the same file of the same volume.
bool IsSameFile(HANDLE open, LPCWSTR path);
// Closes a file written through the C runtime; false when its last bytes could not be written.
bool CloseWritten(UniqueStdioFile& file);
}  // namespace kv

namespace kv {
// The running program's full path, and its folder with a trailing backslash; empty when the
// path does not fit MAX_PATH.
std::wstring ProgramPath();
std::wstring ProgramFolder();
}  // namespace kv
