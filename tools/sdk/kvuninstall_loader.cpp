// Linked into every program built on the SDK: it is how the program reaches kvUninstall.exe.
//
// The SDK's import library is a delay-load one: the first call of a toolkit function loads
// kvUninstall.exe, found beside the program, through the hook below. An executable loaded as a
// library must be relocated and have its own imports bound. Windows does both; Wine does
// neither, so where they were left undone the hook does them itself, as Windows would.
#include "tools/sdk/kvuninstall_loader.h"

#include <delayimp.h>

#include <string>

namespace {

void Patch(DWORD* slot, DWORD value) {
  DWORD old = 0;
  ::VirtualProtect(slot, sizeof(DWORD), PAGE_READWRITE, &old);
  *slot = value;
  ::VirtualProtect(slot, sizeof(DWORD), old, &old);
}

// The loader writes the address an image got into its header when it relocates it.
bool Relocate(BYTE* base, IMAGE_NT_HEADERS* nt) {
  const DWORD delta =
      static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base)) - nt->OptionalHeader.ImageBase;
  const IMAGE_DATA_DIRECTORY& relocs =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  if (delta == 0 || !relocs.VirtualAddress) return false;
  auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(base + relocs.VirtualAddress);
  for (const BYTE* end = base + relocs.VirtualAddress + relocs.Size;
       reinterpret_cast<BYTE*>(block) < end && block->SizeOfBlock;
       block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(reinterpret_cast<BYTE*>(block) +
                                                        block->SizeOfBlock)) {
    const auto* entries = reinterpret_cast<const WORD*>(block + 1);
    for (size_t i = 0; i < (block->SizeOfBlock - sizeof(*block)) / sizeof(WORD); ++i) {
      if ((entries[i] >> 12) != IMAGE_REL_BASED_HIGHLOW) continue;
      auto* slot = reinterpret_cast<DWORD*>(base + block->VirtualAddress + (entries[i] & 0xFFF));
      Patch(slot, *slot + delta);
    }
  }
  Patch(reinterpret_cast<DWORD*>(&nt->OptionalHeader.ImageBase),
        static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base)));
  return true;
}

bool BindImports(BYTE* base, IMAGE_NT_HEADERS* nt, bool* bound_here) {
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       dir.VirtualAddress && desc->Name; ++desc) {
    HMODULE dll = ::LoadLibraryA(reinterpret_cast<const char*>(base + desc->Name));
    if (!dll) return false;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      const FARPROC target =
          IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
              ? ::GetProcAddress(dll, MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal)))
              : ::GetProcAddress(
                    dll,
                    reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
      if (!target) return false;
      const DWORD value = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(target));
      if (slots->u1.Function == value) continue;  // the platform's loader did it already
      Patch(reinterpret_cast<DWORD*>(&slots->u1.Function), value);
      *bound_here = true;
    }
  }
  return true;
}

FARPROC WINAPI LoadToolkit(unsigned notify, PDelayLoadInfo info) {
  if (notify != dliNotePreLoadLibrary || ::lstrcmpiA(info->szDll, "kvUninstall.exe") != 0)
    return nullptr;
  wchar_t own[MAX_PATH] = {};
  const std::wstring path(own, ::GetModuleFileNameW(nullptr, own, MAX_PATH));
  bool fixed_here = false;
  return reinterpret_cast<FARPROC>(KvLoadToolkit(
      (path.substr(0, path.rfind(L'\\') + 1) + L"kvUninstall.exe").c_str(), &fixed_here));
}

}  // namespace

HMODULE KvLoadToolkit(const wchar_t* path, bool* fixed_here) {
  *fixed_here = false;
  HMODULE module = ::LoadLibraryW(path);
  if (!module) return nullptr;
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  *fixed_here = Relocate(base, nt);
  bool bound_here = false;
  if (!BindImports(base, nt, &bound_here)) return nullptr;
  *fixed_here = *fixed_here || bound_here;
  return module;
}

extern "C" {
extern PfnDliHook __pfnDliNotifyHook2;
PfnDliHook __pfnDliNotifyHook2 = LoadToolkit;
}
