// Another program binds the toolkit by plain name: loads kvUninstall.exe as the SDK's loader does,
// finds the free functions with GetProcAddress and calls them, as a program in any language would, with the
// parameter lists of tools/sdk/kvuninstall_functions.inc. Those lists are also held against the toolkit's declarations.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

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
#include "util/handles.h"
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

// Every exported free function is declared with exactly the listed result and parameters (an
// added trailing size would make a caller that binds the listed form push one argument fewer).
TEST(Prototypes, DeclarationsMatchTheListedParameterLists) {
  struct Row {
    const char* name;
    bool same;
  };
  const Row rows[] = {
#define KV_PROTOTYPE(result, name, params) {#name, std::is_same_v<decltype(&::name), documented::name>},
#include "tools/sdk/kvuninstall_functions.inc"
#undef KV_PROTOTYPE
  };
  for (const Row& r : rows) EXPECT_TRUE(r.same) << r.name << " is declared with another parameter list";
}

class BindByName : public ::testing::Test {
 protected:
  // Loaded once, from a copy that keeps the image apart from any running uninstaller, and never
  // freed: functions that made process-wide objects left their destructors to run at exit.
  static void SetUpTestSuite() {
    const std::wstring dir = kvtest::FreshDir(L"bind_by_name");
    if (!kvtest::CopyProgram(L"kvUninstall.exe", dir + L"kvUninstall.exe")) return;
    bool done_here = false;
    module_ = KvLoadToolkit((dir + L"kvUninstall.exe").c_str(), &done_here);
    if (done_here)
      std::printf(
          "NOTE: this platform's loader leaves a loaded executable unrelocated and "
          "unbound; the test relocated and bound it as Windows does\n");
  }
  void SetUp() override {
    ASSERT_NE(nullptr, module_) << "kvUninstall.exe could not be loaded and bound";
    dir_ = kvtest::FreshDir(L"bind_by_name_files");
  }

  // The function exported under name, as the listed type (documented::Name).
  template <typename Fn>
  Fn Bind(const char* name) {
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    EXPECT_NE(nullptr, fn) << name;
    return fn;
  }

  static HMODULE module_;
  std::wstring dir_;
};
HMODULE BindByName::module_ = nullptr;

#define BIND(name) Bind<documented::name>(#name)

// Texts the caller's buffers receive are compared with guards behind the documented room.
constexpr wchar_t kGuard = L'#';

TEST_F(BindByName, FilesAndSizes) {
  wchar_t path[MAX_PATH + 4];
  std::fill(std::begin(path), std::end(path), kGuard);
  BIND(GetCurPath)(path);
  EXPECT_EQ(kvtest::BinDir(), path) << "the running program's folder";
  EXPECT_EQ(std::wstring(4, kGuard), std::wstring(path + MAX_PATH, 4));
  BIND(GetCurPathEx)(L"no_such_module.dll", path);
  EXPECT_EQ(kvtest::BinDir(), path);
  wchar_t text[64] = L"garbage";
  EXPECT_EQ(1, BIND(GetFileVer)((kvtest::BinDir() + L"kvtesthelper.exe").c_str(), text));
  EXPECT_STREQ(L"3.14.15.65000", text);
  BIND(IntToStrSize)(1025, text);
  EXPECT_STREQ(L"1.00 KB", text);
  EXPECT_EQ(LLONG_MAX, BIND(StrToIntSize)(L"9000000000 GB"));
  EXPECT_EQ(1, BIND(CompVersion)(L"1.2.10", L"1.2.9"));
  EXPECT_EQ(-2, BIND(CompVersion)(L"1.0", L""));
}

TEST_F(BindByName, ShellFoldersAndShortcuts) {
  kv::ComInit com;
  wchar_t path[MAX_PATH] = {}, shell[MAX_PATH] = {};
  ASSERT_NE(0, BIND(GetDesktopPath)(path));
  ::SHGetSpecialFolderPathW(nullptr, shell, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
  EXPECT_STREQ(shell, path);
  EXPECT_EQ(1, BIND(GetQuickLaunchPath)(path, 1));
  EXPECT_NE(std::wstring::npos, std::wstring(path).find(L"\\User Pinned\\TaskBar"));
  const std::wstring folder = dir_.substr(0, dir_.size() - 1);
  ASSERT_EQ(1,
            BIND(CreateShortcut)(folder.c_str(), L"Prod", L"C:\\Prod\\prod.exe", nullptr, 0, nullptr, SW_SHOWNORMAL));
  const std::wstring link = dir_ + L"Prod.lnk";
  int index = -1;
  EXPECT_EQ(1, BIND(GetShortcutIcon)(link.c_str(), path, &index));
  EXPECT_EQ(L"C:\\Prod\\prod.exe|0", std::wstring(path) + L"|" + std::to_wstring(index));
  EXPECT_EQ(S_OK, BIND(LnkToRealPath)(link.c_str(), path));
  EXPECT_STREQ(L"C:\\Prod\\prod.exe", path);
  ASSERT_EQ(1, BIND(CreateUrlShortcut)((dir_ + L"site.url").c_str(), L"http://kvtest.invalid/a"));
  EXPECT_EQ(1, BIND(GetShortcutUrl)((dir_ + L"site.url").c_str(), path));
  EXPECT_STREQ(L"http://kvtest.invalid/a", path);
}

TEST_F(BindByName, IdentifierAndUrlText) {
  wchar_t uid[kUidRoom + 4];
  std::fill(std::begin(uid), std::end(uid), kGuard);
  BIND(CreateUID)(uid, 0);
  EXPECT_TRUE(std::regex_match(std::wstring(uid), std::wregex(L"KV-?[0-9]{18,21}"))) << kvtest::Utf8(uid);
  EXPECT_EQ(std::wstring(4, kGuard), std::wstring(uid + kUidRoom, 4));
  wchar_t text[64] = L"卸载 a&b";
  ASSERT_EQ(1, BIND(URLEncode)(text));
  EXPECT_STREQ(L"%e5%8d%b8%e8%bd%bd%20a%26b", text);
}

TEST_F(BindByName, DigestsAndHexadecimalText) {
  char text[kMd5HexRoom + 1] = "abc";  // RFC 1321 test suite
  text[kMd5HexRoom] = '#';
  ASSERT_EQ(1, BIND(MD5Go)(text, nullptr));
  EXPECT_STREQ("900150983CD24FB0D6963F7D28E17F72", text);
  EXPECT_EQ('#', text[kMd5HexRoom]);
  char hmac[64] = "what do ya want for nothing?";  // RFC 2104 test case 2
  ASSERT_EQ(1, BIND(MD5Go)(hmac, "Jefe"));
  EXPECT_STREQ("750C783E6AB0B503EAA86E310A5DB738", hmac);
  char bytes[6] = {'\x0a', '\xff', 0, 0, 0, '#'};
  BIND(ToHex)(bytes, 2);
  EXPECT_STREQ("0AFF", bytes);
  char cipher[18] = "\x01\x23\x45\x67\x89\xab\xcd\xef";
  cipher[17] = '#';
  BIND(KvEncode)("\x13\x34\x57\x79\x9b\xbc\xdf\xf1", cipher, 8, 1);
  EXPECT_STREQ("8DE1195F0307BA0A", cipher);
  EXPECT_EQ('#', cipher[17]);
}

// Resources of the running program: this test's, which carries the program's pictures.
TEST_F(BindByName, ResourceBytes) {
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(60026), L"IMG");
  ASSERT_NE(nullptr, found);
  const int size = BIND(KvResSize)(60026, L"IMG");
  ASSERT_EQ(static_cast<int>(::SizeofResource(nullptr, found)), size);
  std::vector<char> buffer(static_cast<size_t>(size) + 4, '#');
  ASSERT_EQ(1, BIND(KvResGetBuff)(60026, L"IMG", buffer.data()));
  const char* own = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
  EXPECT_EQ(std::string(own, static_cast<size_t>(size)) + "####", std::string(buffer.begin(), buffer.end()));
  EXPECT_EQ(0, BIND(KvResGetBuff)(4242, L"IMG", buffer.data()));
}

TEST_F(BindByName, IconsOfWebAddresses) {
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_EQ(0, BIND(GetUrlCacheIconPath)(L"http://kvtest.invalid/never/visited", out));
  EXPECT_EQ(0, BIND(GetUrlShortcutIcon)((dir_ + L"absent.url").c_str(), out, 0));
  EXPECT_STREQ(L"untouched", out);
}

// The save dialog opens on the buffer it was given and empties it; cancelled, it gives 0.
TEST_F(BindByName, SaveDialog) {
  wchar_t buffer[MAX_PATH] = L"left over";
  int result = -1;
  const auto show = BIND(ShowSaveFileDlg);
  ASSERT_TRUE(kvtest::Drive([&] { result = show(buffer, nullptr, L"txt", L"Text\0*.txt\0"); },
                            [](HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); }))
      << "no dialog opened";
  EXPECT_EQ(0, result);
  EXPECT_STREQ(L"", buffer);
}

TEST_F(BindByName, XmlQueries) {
  const std::wstring long_value(400, L'w');  // longer than a path: the caller gives the room
  ASSERT_EQ(1, BIND(Parse)((L"<a>1</a><a>2</a><w>" + long_value + L"</w>").c_str()));
  EXPECT_EQ(2, BIND(GetXmlNodeCount)(L"a"));
  wchar_t out[512];
  EXPECT_EQ(1, BIND(GetXmlNodeValue)(L"w", out));
  EXPECT_EQ(long_value, out);
  EXPECT_EQ(1, BIND(GetXmlNodeValue2)(L"a", out, 1));
  EXPECT_STREQ(L"2", out);
  int position = 0;
  EXPECT_EQ(1, BIND(GetXmlNodeValue3)(L"a", out, &position));
  EXPECT_EQ(L"1@4", std::wstring(out) + L"@" + std::to_wstring(position));
}

TEST_F(BindByName, SharedMemoryText) {
  const std::wstring name = L"kvtest_bind_" + std::to_wstring(::GetCurrentProcessId());
  kv::UniqueHandleKernel block(BIND(CreateShareMem)(name.c_str(), 8192));
  ASSERT_TRUE(block);
  EXPECT_EQ(8192, BIND(GetShareMemSize)(name.c_str()));
  const std::wstring text(1000, L't');
  ASSERT_EQ(1, BIND(WriteShareMem)(name.c_str(), text.c_str(), 0));
  std::vector<wchar_t> out(1100, kGuard);
  ASSERT_EQ(1, BIND(ReadShareMem)(name.c_str(), out.data()));
  EXPECT_EQ(text.substr(0, MAX_PATH - 1), out.data()) << "cut to the 260 characters of the buffer";
  EXPECT_EQ(kGuard, out[MAX_PATH]);
  ASSERT_EQ(1, BIND(ReadShareMemN)(name.c_str(), out.data(), static_cast<int>(out.size())));
  EXPECT_EQ(text, out.data());
}

}  // namespace
