// Another program binds the toolkit by plain name: loads kvUninstall.exe, finds the free
// functions with GetProcAddress and calls them, as a program in any language would.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

IMAGE_NT_HEADERS* Headers(BYTE* base) {
  return reinterpret_cast<IMAGE_NT_HEADERS*>(base +
                                             reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

void Patch(DWORD* slot, DWORD value) {
  DWORD old = 0;
  ::VirtualProtect(slot, sizeof(DWORD), PAGE_READWRITE, &old);
  *slot = value;
  ::VirtualProtect(slot, sizeof(DWORD), old, &old);
}

// Windows relocates and binds an executable that another program loads with LoadLibrary; Wine
// does both only for DLLs. Where the platform left them undone, this does what its loader would:
// applies the base relocations for the address the image got, then fills each import address slot
// with what its DLL exports under that name or ordinal.
bool LoadLikeWindows(HMODULE module, bool* done_here) {
  auto* base = reinterpret_cast<BYTE*>(module);
  IMAGE_NT_HEADERS* nt = Headers(base);
  *done_here = false;
  const DWORD delta = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base)) - nt->OptionalHeader.ImageBase;
  const IMAGE_DATA_DIRECTORY& relocs = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  if (delta != 0 && relocs.VirtualAddress) {
    auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(base + relocs.VirtualAddress);
    const BYTE* end = base + relocs.VirtualAddress + relocs.Size;
    while (reinterpret_cast<BYTE*>(block) < end && block->SizeOfBlock) {
      const auto* entries = reinterpret_cast<const WORD*>(block + 1);
      const size_t count = (block->SizeOfBlock - sizeof(*block)) / sizeof(WORD);
      for (size_t i = 0; i < count; ++i) {
        if ((entries[i] >> 12) != IMAGE_REL_BASED_HIGHLOW) continue;
        auto* slot = reinterpret_cast<DWORD*>(base + block->VirtualAddress + (entries[i] & 0xFFF));
        Patch(slot, *slot + delta);
      }
      block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(reinterpret_cast<BYTE*>(block) + block->SizeOfBlock);
    }
    Patch(reinterpret_cast<DWORD*>(&nt->OptionalHeader.ImageBase),
          static_cast<DWORD>(reinterpret_cast<UINT_PTR>(base)));
    *done_here = true;
  }
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       dir.VirtualAddress && desc->Name; ++desc) {
    HMODULE dll = ::LoadLibraryA(reinterpret_cast<const char*>(base + desc->Name));
    if (!dll) return false;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      FARPROC target = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
          ? ::GetProcAddress(dll, MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal)))
          : ::GetProcAddress(dll, reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(
                                      base + names->u1.AddressOfData)->Name);
      if (!target) return false;
      const DWORD value = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(target));
      if (slots->u1.Function == value) continue;  // the platform's loader did it already
      Patch(reinterpret_cast<DWORD*>(&slots->u1.Function), value);
      *done_here = true;
    }
  }
  return true;
}

using UrlEncodeFn = int (*)(LPWSTR text, int room);
using Md5GoFn = int (*)(LPSTR text, LPCSTR key, int room);
using CompVersionFn = int (*)(LPCWSTR a, LPCWSTR b);

class BindByName : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy keeps the loaded image apart from any running uninstaller.
    const std::wstring dir = kvtest::FreshDir(L"bind_by_name");
    ASSERT_TRUE(kvtest::CopyProgram(L"kvUninstall.exe", dir + L"kvUninstall.exe"));
    module_.reset(::LoadLibraryW((dir + L"kvUninstall.exe").c_str()));
    ASSERT_TRUE(module_) << "LoadLibrary failed: " << ::GetLastError();
    bool done_here = false;
    ASSERT_TRUE(LoadLikeWindows(module_.get(), &done_here));
    if (done_here)
      std::printf("NOTE: this platform's loader leaves a loaded executable unrelocated and "
                  "unbound; the test relocated and bound it as Windows does\n");
  }

  template <typename Fn>
  Fn Find(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_.get(), name)));
  }

  kv::UniqueModule module_;
};

TEST_F(BindByName, UrlEncodePercentEncodesUtf8) {
  auto encode = Find<UrlEncodeFn>("URLEncode");
  ASSERT_NE(nullptr, encode);
  wchar_t text[64] = L"卸载 a&b";
  ASSERT_EQ(1, encode(text, 64));
  EXPECT_STREQ(L"%e5%8d%b8%e8%bd%bd%20a%26b", text);
}

TEST_F(BindByName, Md5GoHashesAndSignsInPlace) {
  auto md5 = Find<Md5GoFn>("MD5Go");
  ASSERT_NE(nullptr, md5);
  char text[64] = "abc";  // RFC 1321 test suite
  ASSERT_EQ(1, md5(text, nullptr, sizeof(text)));
  EXPECT_STREQ("900150983CD24FB0D6963F7D28E17F72", text);
  char hmac[64] = "what do ya want for nothing?";  // RFC 2104 test case 2
  ASSERT_EQ(1, md5(hmac, "Jefe", sizeof(hmac)));
  EXPECT_STREQ("750C783E6AB0B503EAA86E310A5DB738", hmac);
}

TEST_F(BindByName, CompVersionComparesFieldByField) {
  auto compare = Find<CompVersionFn>("CompVersion");
  ASSERT_NE(nullptr, compare);
  EXPECT_EQ(1, compare(L"1.2.10", L"1.2.9"));
  EXPECT_EQ(-1, compare(L"1.2", L"1.10"));
  EXPECT_EQ(0, compare(L"1.2", L"1.2.0.0"));
  EXPECT_EQ(-2, compare(L"1.0", L""));
}

TEST_F(BindByName, ClassMembersAreNotPlainNames) {
  // Classes are exported as C++ classes: their members carry mangled names only.
  EXPECT_EQ(nullptr, Find<void (*)()>("StartUninstall"));
  EXPECT_NE(nullptr, Find<void (*)()>("_ZN14CKvUninstaller14StartUninstallEP6HWND__i"));
}

}  // namespace
