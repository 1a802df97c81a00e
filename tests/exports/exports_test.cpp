// Another program binds the toolkit: loads kvUninstall.exe as the SDK's loader does and calls a
// function or two of each family, found by plain name, with the parameter lists of
// tools/sdk/kvuninstall_functions.inc; those lists are held against the toolkit's declarations.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

// Every header that declares an exported free function: the declarations the lists are held to.
#include "app/app.h"
#include "gfx/clipboard.h"
#include "gfx/dialogs.h"
#include "gfx/font.h"
#include "gfx/icons.h"
#include "gfx/image.h"
#include "gfx/media.h"
#include "gfx/resource_utils.h"
#include "gfx/skin.h"
#include "services/chinese_text.h"
#include "services/crash_dump.h"
#include "services/des.h"
#include "services/hashing.h"
#include "services/http_client.h"
#include "services/logger.h"
#include "services/registry.h"
#include "services/thread.h"
#include "services/xml_reader.h"
#include "tests/support/kvtest.h"
#include "tools/sdk/kvuninstall_loader.h"
#include "uninstall/record.h"
#include "uninstall/report.h"
#include "util/driver_service.h"
#include "util/files.h"
#include "util/identity.h"
#include "util/shared_memory.h"
#include "util/shell.h"
#include "util/system.h"

namespace {

// The function types other programs bind with, one per exported name.
namespace documented {
#define KV_PROTOTYPE(result, name, params) using name = result(*) params;
#include "tools/sdk/kvuninstall_functions.inc"
#undef KV_PROTOTYPE
}  // namespace documented

// Every exported free function is declared with exactly the listed result and parameters: an added
// trailing size would make a caller that binds the listed form push one argument fewer.
TEST(Prototypes, DeclarationsMatchTheListedParameterLists) {
#define KV_PROTOTYPE(result, name, params) \
  EXPECT_TRUE((std::is_same_v<decltype(&::name), documented::name>)) << #name " has another parameter list";
#include "tools/sdk/kvuninstall_functions.inc"
#undef KV_PROTOTYPE
}

// Loaded once, from a copy that keeps the image apart from any running uninstaller, and never
// freed: functions that made process-wide objects leave their destructors to run at exit.
HMODULE Toolkit() {
  static const HMODULE module = [] {
    const std::wstring exe = kvtest::FreshDir(L"bind_by_name") + L"kvUninstall.exe";
    bool fixed_here = false;
    return kvtest::CopyProgram(L"kvUninstall.exe", exe) ? KvLoadToolkit(exe.c_str(), &fixed_here) : nullptr;
  }();
  return module;
}
template <typename Fn>
Fn Bind(const char* name) {
  if (FARPROC fn = ::GetProcAddress(Toolkit(), name)) return reinterpret_cast<Fn>(reinterpret_cast<void*>(fn));
  throw std::runtime_error(std::string("not exported: ") + name);
}
#define BIND(name) Bind<documented::name>(#name)

// Texts land in buffers of the documented room, followed by guards that must stay.
TEST(BindByName, OneOfEachFamily) {
  kv::ComInit com;
  const std::wstring dir = kvtest::FreshDir(L"bind_by_name_files"), bin = kvtest::BinDir(), link = dir + L"P.lnk";
  const std::wstring folder = dir.substr(0, dir.size() - 1);
  std::wstring out(MAX_PATH + 4, L'#'), uid(kUidRoom + 4, L'#');
  auto text = [&] { return std::wstring(out.c_str()) + L"|" + out.substr(MAX_PATH); };
  BIND(GetCurPath)(out.data());
  EXPECT_EQ(bin + L"|####", text());
  EXPECT_EQ(1, BIND(GetFileVer)((bin + L"kvtesthelper.exe").c_str(), out.data()));
  EXPECT_EQ(L"3.14.15.65000|####", text());
  // The save dialog opens on the buffer it was given and empties it; cancelled, it gives 0.
  int saved = -1;
  ASSERT_TRUE(kvtest::Drive([&] { saved = BIND(ShowSaveFileDlg)(out.data(), nullptr, L"txt", L"Text\0*.txt\0"); },
                            [](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); }));
  EXPECT_EQ(L"0|####", std::to_wstring(saved) + text());
  EXPECT_EQ(9223372036854775807LL, BIND(StrToIntSize)(L"9000000000 GB"));
  ASSERT_EQ(1, BIND(CreateShortcut)(folder.c_str(), L"P", L"C:\\P\\p.exe", nullptr, 0, nullptr, 1));
  EXPECT_EQ(S_OK, BIND(LnkToRealPath)(link.c_str(), out.data()));
  EXPECT_EQ(L"C:\\P\\p.exe|####", text());
  BIND(CreateUID)(uid.data(), 0);
  EXPECT_EQ(L"KV|####", uid.substr(0, 2) + L"|" + uid.substr(kUidRoom));
  wchar_t url[64] = L"卸载 a&b";
  EXPECT_EQ(1, BIND(URLEncode)(url));
  EXPECT_STREQ(L"%e5%8d%b8%e8%bd%bd%20a%26b", url);
  // RFC 1321 and RFC 2104 (test case 2); DES with the classic key and block.
  char md5[40] = "abc", hmac[64] = "what do ya want for nothing?", des[17] = "\x01\x23\x45\x67\x89\xab\xcd\xef";
  EXPECT_EQ((std::pair{1, 1}), (std::pair{BIND(MD5Go)(md5, nullptr), BIND(MD5Go)(hmac, "Jefe")}));
  BIND(KvEncode)("\x13\x34\x57\x79\x9b\xbc\xdf\xf1", des, 8, 1);
  EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72 750C783E6AB0B503EAA86E310A5DB738 8DE1195F0307BA0A",
            std::string(md5) + " " + hmac + " " + des);
  // Resources of the running program: this test's, which carries the program's pictures.
  const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(60026), L"IMG");
  const int size = BIND(KvResSize)(60026, L"IMG");
  std::string bytes(size + 4, '#');
  ASSERT_EQ((std::pair{int(::SizeofResource(nullptr, found)), 1}),
            (std::pair{size, BIND(KvResGetBuff)(60026, L"IMG", bytes.data())}));
  EXPECT_EQ(std::string(static_cast<const char*>(::LockResource(::LoadResource(nullptr, found))), size) + "####",
            bytes);
  // A value longer than a path: the caller gives the room.
  const std::wstring long_value(400, L'w');
  wchar_t value[512];
  ASSERT_EQ(1, BIND(Parse)((L"<a>1</a><a>2</a><w>" + long_value + L"</w>").c_str()));
  EXPECT_EQ((std::pair{2, 1}), (std::pair{BIND(GetXmlNodeCount)(L"a"), BIND(GetXmlNodeValue)(L"w", value)}));
  EXPECT_EQ(long_value, value);
  const kvtest::TempRegKey key(HKEY_CURRENT_USER, L"bind");
  EXPECT_EQ(1, BIND(SetRegInfo)(HKEY_CURRENT_USER, key.path.c_str(), L"v", 0, L"注册表"));
  EXPECT_EQ(1, BIND(GetRegInfo)(HKEY_CURRENT_USER, key.path.c_str(), L"v", 0, out.data()));
  EXPECT_EQ(L"注册表|####", text());
  // A text longer than the reader's 260 characters is cut to them.
  const std::wstring name = L"kvtest_bind_" + std::to_wstring(::GetCurrentProcessId());
  kv::UniqueHandleKernel block(BIND(CreateShareMem)(name.c_str(), 8192));
  EXPECT_EQ(8192, BIND(GetShareMemSize)(name.c_str()));
  ASSERT_EQ(1, BIND(WriteShareMem)(name.c_str(), std::wstring(1000, L't').c_str(), 0));
  ASSERT_EQ(1, BIND(ReadShareMem)(name.c_str(), out.data()));
  EXPECT_EQ(std::wstring(MAX_PATH - 1, L't') + L"|####", text());
}

}  // namespace
