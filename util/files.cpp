#include "util/files.h"

#include <cwchar>

namespace {

void ModuleFolder(HMODULE module, LPWSTR path, int room) {
  if (!path || room <= 0) return;
  path[0] = L'\0';
  wchar_t full[MAX_PATH + 1] = {};
  const DWORD len = ::GetModuleFileNameW(module, full, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return;
  wchar_t* slash = std::wcsrchr(full, L'\\');
  if (!slash) return;
  slash[1] = L'\0';
  if (static_cast<int>(slash + 2 - full) > room) return;  // would not fit with its terminator
  std::wcscpy(path, full);
}

}  // namespace

void GetCurPath(LPWSTR path, int room) { ModuleFolder(nullptr, path, room); }

void GetCurPathEx(LPCWSTR module, LPWSTR path, int room) {
  HMODULE handle = module ? ::GetModuleHandleW(module) : nullptr;
  ModuleFolder(handle, path, room);
}
