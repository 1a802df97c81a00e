// The clean-up after the file deletion, on a real product footprint in the test prefix: the
// uninstall key under HKLM, a Start Menu folder, links on both desktops and listed shortcuts.
// The runs go through kvUninstallCli placed in each installation folder, like the engine tests.
#include "uninstall/uninstaller.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "util/handles.h"
#include "util/shell.h"

namespace {

using kvtest::Exists;
using kvtest::WriteText;
using Lines = std::vector<std::string>;

constexpr wchar_t kCli[] = L"kvUninstallCli.exe";
constexpr wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), text.size() * sizeof(wchar_t));
}

UninstallEntry Entry(int is_file, const std::wstring& path) {
  UninstallEntry e = {};
  e.isFile = is_file;
  Put(e.path, path);
  return e;
}

bool KeyExists(const std::wstring& subkey) {
  kv::UniqueKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void MakeKey(const std::wstring& subkey) {
  kv::UniqueKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  const wchar_t name[] = L"Prod";
  ::RegSetValueExW(key.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                   sizeof(name));
}

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(::SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE));
  return path;
}

std::wstring UserDesktop() { return Folder(CSIDL_DESKTOPDIRECTORY); }

std::wstring AllUsersDesktop() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(0, GetDesktopPath(path));
  return path;
}

std::wstring Programs() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(0, GetProgramsPath(path));
  return path;
}

void MakeLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target) {
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), name.c_str(), target.c_str(), nullptr, 0,
                              L"demo link", SW_SHOWNORMAL))
      << kvtest::Utf8(folder + L"\\" + name);
}

struct Install {
  std::wstring dir;
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;

  explicit Install(const std::wstring& name) {
    dir = kvtest::FreshDir(name);
    EXPECT_TRUE(kvtest::CopyProgram(kCli, dir + kCli));
  }
  Lines Run() const {
    EXPECT_EQ(1, WriteUninstallRecord((dir + L"kvUninstall.dat").c_str(), &header,
                                      removals.data(), static_cast<int>(removals.size()),
                                      shortcuts.data(), static_cast<int>(shortcuts.size())));
    const kvtest::ProcessResult r = kvtest::Run(L"\"" + dir + kCli + L"\"", dir);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(0u, r.exit_code) << r.output;
    Lines lines = kvtest::Lines(r.output);
    if (!lines.empty() && lines.back() == "done") lines.pop_back();
    return lines;
  }
};

class Cleanup : public ::testing::Test {
 protected:
  kv::ComInit com_;
};

// ---- ClearReg, in this process ----

TEST(ClearReg, DeletesTheProductKey) {
  const std::wstring key = std::wstring(kUninstallRoot) + L"KvClearRegPlain";
  MakeKey(key);
  CKvUninstaller engine;
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegPlain"));
  EXPECT_FALSE(KeyExists(key));
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegPlain"));  // already gone: still 1
}

TEST(ClearReg, KeyWithSubkeysStays) {
  const std::wstring key = std::wstring(kUninstallRoot) + L"KvClearRegNested";
  MakeKey(key + L"\\Components");
  CKvUninstaller engine;
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegNested"));
  EXPECT_TRUE(KeyExists(key));
  EXPECT_TRUE(KeyExists(key + L"\\Components"));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

// An empty name would address the Uninstall key itself; an empty key must not lose it.
TEST(ClearReg, EmptyNameDeletesNothing) {
  ASSERT_TRUE(KeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
  CKvUninstaller engine;
  EXPECT_EQ(1, engine.ClearReg(L""));
  EXPECT_EQ(1, engine.ClearReg(nullptr));
  EXPECT_TRUE(KeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
}

// ---- whole runs ----

TEST_F(Cleanup, RunRemovesKeyMenuFolderDesktopLinkAndListedShortcuts) {
  const std::wstring product = L"KvCleanupProd";
  const std::wstring key = std::wstring(kUninstallRoot) + product;
  MakeKey(key);

  Install install(L"cleanup_full");
  const std::wstring data = kvtest::FreshDir(L"cleanup_full_data");
  WriteText(data + L"app\\a.bin", "x");
  WriteText(data + L"app\\b.bin", "x");
  install.removals = {Entry(0, data + L"app\\")};

  const std::wstring menu = Programs() + L"\\KvCleanup Tools\\";
  kvtest::RemoveTree(menu);
  WriteText(menu + L"readme.txt", "x");
  WriteText(menu + L"sub\\notes.txt", "x");
  WriteText(menu + L".keep\\kept.txt", "x");
  MakeLink(menu, product, data + L"app\\a.bin");

  MakeLink(AllUsersDesktop(), product, data + L"app\\a.bin");
  MakeLink(UserDesktop(), product, data + L"app\\a.bin");

  const std::wstring links = kvtest::FreshDir(L"cleanup_full_links");
  MakeLink(links, L"listed1", data + L"app\\a.bin");
  MakeLink(links, L"listed2", data + L"app\\a.bin");
  MakeLink(links, L"unlisted", data + L"app\\a.bin");
  install.shortcuts = {Entry(1, links + L"listed1.lnk"), Entry(0, links + L"listed2.lnk"),
                       Entry(1, L"")};

  Put(install.header.uninstallKey, product);
  Put(install.header.displayName, product);
  Put(install.header.menuFolder, L"KvCleanup Tools");
  // Two product files make the 100; the menu folder's three files go past it and are not sent.
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), install.Run());

  EXPECT_FALSE(KeyExists(key));
  EXPECT_FALSE(Exists(menu + L"readme.txt"));
  EXPECT_FALSE(Exists(menu + L"sub"));
  EXPECT_FALSE(Exists(menu + product + L".lnk"));
  EXPECT_TRUE(Exists(menu + L".keep\\kept.txt"));  // full-stop folders are never entered
  EXPECT_FALSE(Exists(AllUsersDesktop() + L"\\" + product + L".lnk"));
  EXPECT_TRUE(Exists(UserDesktop() + L"\\" + product + L".lnk"));  // the user's own stays
  EXPECT_FALSE(Exists(links + L"listed1.lnk"));
  EXPECT_FALSE(Exists(links + L"listed2.lnk"));  // listed: deleted whatever isFile says
  EXPECT_TRUE(Exists(links + L"unlisted.lnk"));

  ::DeleteFileW((UserDesktop() + L"\\" + product + L".lnk").c_str());
  kvtest::RemoveTree(menu);
}

TEST_F(Cleanup, KeyWithSubkeyAndUsersDesktopLinkNamedInTheList) {
  const std::wstring product = L"KvCleanupNested";
  const std::wstring key = std::wstring(kUninstallRoot) + product;
  MakeKey(key + L"\\Patches");
  const std::wstring users_link = UserDesktop() + L"\\" + product + L".lnk";
  MakeLink(UserDesktop(), product, L"C:\\windows\\notepad.exe");

  Install install(L"cleanup_nested");
  Put(install.header.uninstallKey, product);
  Put(install.header.displayName, product);
  install.shortcuts = {Entry(1, users_link)};
  EXPECT_EQ((Lines{"posted 100"}), install.Run());

  EXPECT_TRUE(KeyExists(key + L"\\Patches"));
  EXPECT_FALSE(Exists(users_link));
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

// A menu folder that climbs out of Programs is a broken record: nothing above Programs goes.
TEST_F(Cleanup, MenuFolderNeverLeavesPrograms) {
  wchar_t start_menu[MAX_PATH] = {};
  ASSERT_NE(0, GetStartMenuPath(start_menu));
  const std::wstring canary = std::wstring(start_menu) + L"\\kv_cleanup_canary.txt";
  const std::wstring programs_canary = Programs() + L"\\kv_cleanup_canary.txt";
  WriteText(canary, "must stay");
  WriteText(programs_canary, "must stay");
  for (const wchar_t* menu : {L"..", L".", L"KvX\\..\\..", L"C:\\kvtest"}) {
    Install install(L"cleanup_escape");
    Put(install.header.menuFolder, menu);
    EXPECT_EQ((Lines{"posted 100"}), install.Run()) << kvtest::Utf8(menu);
  }
  EXPECT_TRUE(Exists(canary));
  EXPECT_TRUE(Exists(programs_canary));
  ::DeleteFileW(canary.c_str());
  ::DeleteFileW(programs_canary.c_str());
}

}  // namespace
