// The clean-up after the file deletion, on a real product footprint in the test prefix: the
// uninstall key under HKLM, a Start Menu folder, links on both desktops and listed shortcuts.
#include "uninstall/uninstaller.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/handles.h"
#include "util/shell.h"

namespace {

using kvtest::CliInstall;
using kvtest::Entry;
using kvtest::Exists;
using kvtest::Put;
using kvtest::WriteText;
using Lines = std::vector<std::string>;

const std::wstring kUninstallRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

bool KeyExists(const std::wstring& subkey) { return kvtest::KeyExists(HKEY_LOCAL_MACHINE, subkey); }

void MakeKey(const std::wstring& subkey) {
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), L"DisplayName",
                                             REG_SZ, L"Prod", sizeof(L"Prod")));
}

std::wstring UserDesktop() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(::SHGetSpecialFolderPathW(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE));
  return path;
}

template <typename Getter>
std::wstring Folder(Getter get) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(0, get(path));
  return path;
}

void MakeLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target) {
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), name.c_str(), target.c_str(), nullptr, 0,
                              L"demo link", SW_SHOWNORMAL))
      << kvtest::Utf8(folder + L"\\" + name);
}

class Cleanup : public ::testing::Test {
 protected:
  kv::ComInit com_;
};

// In this process. An empty name would address the Uninstall key itself, which must stay.
TEST(ClearReg, DeletesOnlyTheProductKeyWithoutSubkeys) {
  CKvUninstaller engine;
  MakeKey(kUninstallRoot + L"KvClearRegPlain");
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegPlain"));
  EXPECT_FALSE(KeyExists(kUninstallRoot + L"KvClearRegPlain"));
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegPlain"));  // already gone: still 1

  const std::wstring nested = kUninstallRoot + L"KvClearRegNested";
  MakeKey(nested + L"\\Components");
  EXPECT_EQ(1, engine.ClearReg(L"KvClearRegNested"));
  EXPECT_TRUE(KeyExists(nested + L"\\Components"));
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, nested);

  EXPECT_EQ(1, engine.ClearReg(L""));
  EXPECT_EQ(1, engine.ClearReg(nullptr));
  EXPECT_TRUE(KeyExists(kUninstallRoot.substr(0, kUninstallRoot.size() - 1)));
}

TEST_F(Cleanup, RunRemovesKeyMenuFolderDesktopLinkAndListedShortcuts) {
  const std::wstring product = L"KvCleanupProd", key = kUninstallRoot + product;
  MakeKey(key);
  CliInstall install(L"cleanup_full");
  const std::wstring data = kvtest::FreshDir(L"cleanup_full_data"), target = data + L"app\\a.bin";
  WriteText(target, "x");
  WriteText(data + L"app\\b.bin", "x");
  install.removals = {Entry(0, data + L"app\\")};

  const std::wstring menu = Folder(GetProgramsPath) + L"\\KvCleanup Tools\\";
  const std::wstring all_users = Folder(GetDesktopPath) + L"\\", users = UserDesktop() + L"\\";
  kvtest::RemoveTree(menu);
  for (const wchar_t* f : {L"readme.txt", L"sub\\notes.txt", L".keep\\kept.txt"}) WriteText(menu + f, "x");
  for (const std::wstring& folder : {menu, all_users, users}) MakeLink(folder, product, target);
  const std::wstring links = kvtest::FreshDir(L"cleanup_full_links");
  for (const wchar_t* name : {L"listed1", L"listed2", L"unlisted"}) MakeLink(links, name, target);
  install.shortcuts = {Entry(1, links + L"listed1.lnk"), Entry(0, links + L"listed2.lnk"), Entry(1, L"")};
  Put(install.header.uninstallKey, product);
  Put(install.header.displayName, product);
  Put(install.header.menuFolder, L"KvCleanup Tools");
  // Two product files make the 100; the menu folder's three files go past it and are not sent.
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), install.WriteAndRun());

  EXPECT_FALSE(KeyExists(key));
  for (const std::wstring& gone : {menu + L"readme.txt", menu + L"sub", menu + product + L".lnk",
                                   all_users + product + L".lnk", links + L"listed1.lnk",
                                   links + L"listed2.lnk"})  // listed: deleted whatever isFile says
    EXPECT_FALSE(Exists(gone)) << kvtest::Utf8(gone);
  EXPECT_TRUE(Exists(menu + L".keep\\kept.txt"));  // full-stop folders are never entered
  EXPECT_TRUE(Exists(users + product + L".lnk"));  // the user's own stays
  EXPECT_TRUE(Exists(links + L"unlisted.lnk"));
  ::DeleteFileW((users + product + L".lnk").c_str());
  kvtest::RemoveTree(menu);
}

TEST_F(Cleanup, KeyWithSubkeyAndUsersDesktopLinkNamedInTheList) {
  const std::wstring product = L"KvCleanupNested", key = kUninstallRoot + product;
  MakeKey(key + L"\\Patches");
  const std::wstring users_link = UserDesktop() + L"\\" + product + L".lnk";
  MakeLink(UserDesktop(), product, L"C:\\windows\\notepad.exe");
  CliInstall install(L"cleanup_nested");
  Put(install.header.uninstallKey, product);
  Put(install.header.displayName, product);
  install.shortcuts = {Entry(1, users_link)};
  EXPECT_EQ((Lines{"posted 100"}), install.WriteAndRun());
  EXPECT_TRUE(KeyExists(key + L"\\Patches"));
  EXPECT_FALSE(Exists(users_link));
  kvtest::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
}

// A menu folder that climbs out of Programs is a broken record: nothing above Programs goes.
TEST_F(Cleanup, MenuFolderNeverLeavesPrograms) {
  const std::wstring canaries[] = {Folder(GetStartMenuPath) + L"\\kv_cleanup_canary.txt",
                                   Folder(GetProgramsPath) + L"\\kv_cleanup_canary.txt"};
  for (const std::wstring& canary : canaries) WriteText(canary, "must stay");
  for (const wchar_t* menu : {L"..", L".", L"KvX\\..\\..", L"C:\\kvtest"}) {
    CliInstall install(L"cleanup_escape");
    install.raw = true;
    Put(install.header.menuFolder, menu);
    EXPECT_EQ((Lines{"posted 100"}), install.WriteAndRun()) << kvtest::Utf8(menu);
  }
  for (const std::wstring& canary : canaries) {
    EXPECT_TRUE(Exists(canary));
    ::DeleteFileW(canary.c_str());
  }
}

}  // namespace
