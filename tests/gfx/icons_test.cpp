#include "gfx/icons.h"

#include <gtest/gtest.h>

#include <isguids.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"
#include "util/handles.h"

namespace {

std::wstring TempDir() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  return temp;
}

std::wstring Shell32() {
  wchar_t dir[MAX_PATH] = {};
  ::GetSystemDirectoryW(dir, MAX_PATH);
  return std::wstring(dir) + L"\\shell32.dll";
}

TEST(FileIcons, ExtractsAtTheSizeAskedNullWithoutIcons) {
  for (int size : {16, 32, 48}) {
    kv::UniqueIcon icon(GetFileIcon(Shell32().c_str(), 0, size));
    ASSERT_TRUE(icon) << "size " << size;
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(icon.get(), &info));
    kv::UniqueBitmap color(info.hbmColor), mask(info.hbmMask);
    BITMAP bm = {};
    ::GetObjectW(info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(size, bm.bmWidth);
    EXPECT_EQ(size, info.hbmColor ? bm.bmHeight : bm.bmHeight / 2);  // a monochrome mask holds AND and XOR
  }
  EXPECT_TRUE(kv::UniqueIcon(GetFileIcon(Shell32().c_str(), 3, 32)));
  EXPECT_EQ(nullptr, GetFileIcon(L"C:\\kvtest\\no_such_file.exe", 0, 32));
  EXPECT_EQ(nullptr, GetFileIcon(nullptr, 0, 32));
  const std::wstring dir = kvtest::FreshDir(L"icons_plain");
  kvtest::WriteText(dir + L"plain.txt", "no icons in here");
  EXPECT_EQ(nullptr, GetFileIcon((dir + L"plain.txt").c_str(), 0, 32));
}

TEST(UrlIcons, LocalNameOfAnIconAddress) {
  const std::wstring temp = TempDir();
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"HTTP://Host/A/b.ico", temp + L"host_a_b.ico"},
      {L"https://www.Example.test/favicon.ico", temp + L"www.example.test_favicon.ico"},
      {L"http://a/http://b/c.ico", temp + L"a_b_c.ico"},  // every occurrence goes
      // The address comes from a downloaded file: nothing in it may lead out of the folder.
      {L"http://h/..\\..\\Start Menu\\Programs\\Startup\\evil.exe", temp + L"h_.._.._start menu_programs_startup_evil.exe"},
      {L"C:\\Windows\\x.ico", temp + L"c__windows_x.ico"},
      {L"http://h/a.ico:stream", temp + L"h_a.ico_stream"},
      {L"http://h/q?a=<b>|*\"", temp + L"h_q_a=_b____"},
      {L"http://h/trailing. . ", temp + L"h_trailing"},  // as Win32 would name it
      // No plain file name at all: the folder itself, its parent, devices, or a path too long.
      {L"..", L""}, {L"http://...", L""}, {L"https://", L""}, {L"http://con", L""}, {L"http://NUL.ico", L""},
      {L"http://com1.x.ico", L""}, {L"http://" + std::wstring(300, L'a'), L""},
  };
  for (const auto& [location, local] : rows)
    EXPECT_EQ(local, kv::UrlIconLocalPath(location)) << kvtest::Utf8(location);
  // A fresh address has no site icon on record: no path and no icon.
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_EQ(0, GetUrlCacheIconPath(L"http://kvtest.invalid/never/visited", out));
  EXPECT_EQ(nullptr, GetUrlCacheIcon(L"http://kvtest.invalid/never/visited", 16));
  EXPECT_EQ(0, GetUrlCacheIconPath(nullptr, out));
}

TEST(UrlIcons, ShortcutIcon) {
  const std::wstring dir = kvtest::FreshDir(L"icons_url");
  kvtest::WriteText(dir + L"site.url", "[InternetShortcut]\r\nURL=http://kvtest.invalid/\r\n"
                                       "IconFile=HTTP://KvTest.invalid/Icons/Site.ico\r\nIconIndex=0\r\n");
  const std::wstring local = kv::UrlIconLocalPath(L"HTTP://KvTest.invalid/Icons/Site.ico");
  ::DeleteFileW(local.c_str());
  // No local copy and no download: 0, and the caller's buffer is left as it was.
  wchar_t out[MAX_PATH] = L"untouched";
  EXPECT_EQ(0, GetUrlShortcutIcon((dir + L"site.url").c_str(), out, 0));
  EXPECT_EQ(0, GetUrlShortcutIcon((dir + L"absent.url").c_str(), out, 0));
  EXPECT_STREQ(L"untouched", out);
  kvtest::WriteText(local, "icon bytes");  // with a local copy in place, found without a download
  const int found = GetUrlShortcutIcon((dir + L"site.url").c_str(), out, 0);
  ::DeleteFileW(local.c_str());
  if (!found) {
    kv::ComInit com;
    kv::ComPtr<IUnknown> shortcut;
    ::CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, shortcut.put_void());
    kv::ComPtr<IShellLinkW> link;
    if (!shortcut || FAILED(shortcut->QueryInterface(IID_IShellLinkW, link.put_void()))) {
      std::printf("SKIPPED: this system's internet shortcut has no shell-link face to read its icon "
                  "location; the local name is checked in UrlIcons.LocalNameOfAnIconAddress\n");
      GTEST_SKIP();
    }
  }
  ASSERT_EQ(1, found);
  EXPECT_EQ(local, std::wstring(out));
}

TEST(Tray, AddModifyDelete) {
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"kv tray owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, owner);
  kv::UniqueIcon icon(GetFileIcon(Shell32().c_str(), 0, 16)), other(GetFileIcon(Shell32().c_str(), 3, 16));
  ASSERT_TRUE(icon && other);
  if (!ShowTray(owner, icon.get(), L"栎禾软件", WM_APP + 1)) {
    ::DestroyWindow(owner);
    std::printf("SKIPPED: no notification area answers on this display\n");
    GTEST_SKIP();
  }
  EXPECT_TRUE(SetIcon(owner, other.get()));
  EXPECT_TRUE(SetTip(owner, std::wstring(300, L'x').c_str()));  // cut to the field
  EXPECT_TRUE(ShowBalloon(owner, L"标题", L"正文", 3000));
  EXPECT_FALSE(ShowTray(owner, icon.get(), L"again", WM_APP + 1));  // not added twice
  EXPECT_TRUE(DelTray(owner));
  EXPECT_FALSE(SetTip(owner, L"after"));  // gone: neither changed nor deleted again
  EXPECT_FALSE(DelTray(owner));
  ::DestroyWindow(owner);
}

}  // namespace
