#pragma once
// kvUninstall.dat: the fixed-size records an installer leaves beside the uninstaller.
//
//   offset 0    760 bytes  UninstallRecord (header)
//   760         4          removal count N     } only when installDir is empty
//   764         N x 524    UninstallEntry      }
//   next        4          shortcut count M (optional)
//   next        M x 524    UninstallEntry
//
// Integers little-endian, text UTF-16LE, each string NUL-terminated inside its slot.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "util/kv_api.h"

struct UninstallRecord {
  wchar_t uninstallKey[100];  // subkey of HKLM\...\CurrentVersion\Uninstall
  wchar_t displayName[50];
  wchar_t menuFolder[30];   // folder under the user's Start Menu "Programs"
  wchar_t installDir[200];  // empty: list mode; otherwise folder mode
};

struct UninstallEntry {
  int isFile;  // 0: path is a folder (ending with a backslash), deleted with its contents
  wchar_t path[260];
};

static_assert(sizeof(UninstallRecord) == 760, "header layout is fixed");
static_assert(sizeof(UninstallEntry) == 524, "entry layout is fixed");

constexpr wchar_t kRecordFileName[] = L"kvUninstall.dat";

// The text of a slot: up to its terminator, or the whole slot when a writer left none.
template <size_t N>
std::wstring SlotText(const wchar_t (&slot)[N]) {
  size_t len = 0;
  while (len < N && slot[len] != L'\0') ++len;
  return std::wstring(slot, len);
}

// Empties every text slot of a header the file ended inside before the slot's terminator:
// bytes_read is what was read of the header.
void DropCutSlots(UninstallRecord* header, size_t bytes_read);

// Reads the header only. False when the file cannot be opened; a short file leaves the unread
// tail zero, and a slot it cuts short empty.
bool ReadRecordHeader(const std::wstring& path, UninstallRecord* header);

// Reads the whole record from an open file: header, the removal list (list mode only; entries
// with an empty path are skipped) and the shortcut list, as an installer wrote them. What the
// file ends inside (a slot before its terminator, a count, an entry) is not taken.
void ReadRecordLists(FILE* file, UninstallRecord* header, std::vector<UninstallEntry>* removals,
                     std::vector<UninstallEntry>* shortcuts);

// For installers: writes a kvUninstall.dat at path. Returns 1 on success, 0 when any string
// fills its slot without a terminator, a folder entry of the removal list does not end with a
// backslash, a removal list is given together with an installation folder (folder mode sweeps
// the whole folder and its file has no room for one), a count is negative, a path or folder is
// one the uninstaller would refuse to delete (see uninstall/deletion_guard.h; in folder mode
// also the installation folder and the folder the record is written to), the menu folder is not
// made of plain names, or the file cannot be written.
KV_API int WriteUninstallRecord(LPCWSTR path, const UninstallRecord* header,
                                const UninstallEntry* removals, int removalCount,
                                const UninstallEntry* shortcuts, int shortcutCount);
